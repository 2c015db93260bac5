// The line traffic and error statistics shown in the status bar: the start of the last frame
// sent, the start of what came back for it, and failed queries against frames sent.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>

// Two upper-case hex digits and one blank per byte ("01 03 F0 ").
QString BytesToHex(std::string_view bytes);

class TTrafficStats {
public:
    // A query begins (it also begins after the outcome of the one before).
    void QueryStarted();
    // A frame went out: counts it, and the transmit display shows its first 8 bytes.
    void FrameSent(std::string_view frame);
    // A piece of the answer arrived: appended to the receive display until a piece longer
    // than 8 bytes has been cut short.
    void DataReceived(std::string_view data);
    // The query in progress failed. It counts as one error however often this is reported,
    // and as one query even when its frame never went out (a port that refused it), so the
    // errors can never outnumber the queries.
    void ResponseError();
    // The query in progress was given up without an outcome (its port was closed under it):
    // a query whose frame went out and whose answer was never handled counts as failed.
    void QueryAbandoned();
    // The statistics text after a query, or nothing while no frame has been sent (which also
    // restarts the error count). Ends the query in progress.
    std::optional<QString> AfterResponse();
    // Both counts back to 0 (a new device address); the outcome of a query already on its
    // way is left out.
    void Reset();
    void ClearTraffic();

    const QString& TxText() const { return FTx; }
    const QString& RxText() const { return FRx; }
    // Wide enough never to wrap, however long the program polls.
    std::uint64_t SentCount() const { return FSent; }
    std::uint64_t ErrorCount() const { return FErrors; }
    void SetCounts(std::uint64_t sent, std::uint64_t errors) {
        FSent = sent;
        FErrors = errors;
    }

    static QString StatisticsText(std::uint64_t errors, std::uint64_t sent);

private:
    QString FTx;
    QString FRx;
    std::uint64_t FSent = 0;
    std::uint64_t FErrors = 0;
    // What has been counted for the query in progress, and whether it counts at all.
    bool FQuerySent = false;
    bool FQueryFailed = false;
    bool FCountQuery = true;
};
