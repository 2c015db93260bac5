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
    // A frame went out: counts it, and the transmit display shows its first 8 bytes.
    void FrameSent(std::string_view frame);
    // A piece of the answer arrived: appended to the receive display until a piece longer
    // than 8 bytes has been cut short.
    void DataReceived(std::string_view data);
    void ResponseError();
    // The statistics text after a query, or nothing while no frame has been sent (which also
    // restarts the error count).
    std::optional<QString> AfterResponse();
    // Both counts back to 0 (a new device address).
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
};
