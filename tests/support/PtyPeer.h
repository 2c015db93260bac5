// The far end of a pseudo-terminal for the master's tests: collects each request the master
// writes and answers it with a scripted reply, in pieces and after delays, on the test's own
// event loop.
#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// One reply: pieces written one after the other, each after its delay (ms, counted from the
// request or the piece before). No pieces: the peer stays silent.
struct TPeerReply {
    struct TPiece {
        int DelayMs = 0;
        std::string Bytes;
    };
    std::vector<TPiece> Pieces;

    static TPeerReply Silent() { return {}; }
    static TPeerReply After(int delayMs, std::string bytes) {
        TPeerReply r;
        r.Pieces.push_back({delayMs, std::move(bytes)});
        return r;
    }
};

class TPtyPeer {
public:
    TPtyPeer();
    ~TPtyPeer();
    TPtyPeer(const TPtyPeer&) = delete;
    TPtyPeer& operator=(const TPtyPeer&) = delete;

    bool Valid() const { return FMaster >= 0; }
    // The path the master under test opens.
    const std::string& Path() const { return FPath; }

    // Decides the reply to each complete request; unset: silence.
    std::function<TPeerReply(const std::string& request)> Responder;

    // Every complete request received, in order, and the time (ms since creation) it arrived.
    const std::vector<std::string>& Requests() const { return FRequests; }
    const std::vector<qint64>& RequestTimes() const { return FRequestTimes; }
    qint64 Elapsed() const;
    // Writes bytes to the master at once, outside any scripted reply.
    void Send(const std::string& bytes);

private:
    void OnReadable();
    void SendPieces(std::shared_ptr<std::deque<TPeerReply::TPiece>> pieces);

    int FMaster = -1;
    int FSlaveKeep = -1; // keeps the line up while the master under test closes and reopens
    std::string FPath;
    std::string FPending;
    std::vector<std::string> FRequests;
    std::vector<qint64> FRequestTimes;
    std::unique_ptr<QSocketNotifier> FNotifier;
    QObject FContext; // owns the reply timers, so none fires after the peer is gone
    qint64 FStart = 0;
};

// A request frame is complete when its check field fits: the CRC over the whole RTU frame is 0,
// or the ASCII frame ends in CR LF.
bool RequestComplete(const std::string& bytes);
// The RTU frame of a request or response given without its CRC.
std::string WithCrc(const std::string& body);
// Bytes from hex digit pairs, for readable tables ("01 03 02 00 0A").
std::string Hex(const char* text);
