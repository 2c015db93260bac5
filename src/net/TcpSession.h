// The thread of one open period of a TTcpPort: it resolves the host name (on a helper thread of
// its own, so that closing never waits for a slow name server), connects, then reads and writes
// the socket until the port is closed or the connection is lost, and reports everything through
// the notifier as TComm's threads do.
#pragma once

#include "serial/NotifyQueue.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TEvent;
class THangup;
struct TResolveJob;
struct TTcpAddress;

// The notice that ends the connecting: Param is a TTcpState, Data its sentence (empty for
// Connected). Beside the serial codes of TNotifyCode.
inline constexpr int NotifyConnect = 1040;

struct TTcpTarget {
    std::string Host;
    std::uint16_t Port = 0;
    int ConnectTimeoutMs = 0;
};

class TTcpSession {
public:
    // Null when the wake-up event cannot be created.
    static std::unique_ptr<TTcpSession> Create(const TTcpTarget& target, const TEvent& closeEvent,
                                               THangup& hangup, TNotifier notifier,
                                               std::atomic<bool>& sendIdleFlag);
    TTcpSession(const TTcpTarget& target, const TEvent& closeEvent, THangup& hangup,
                TNotifier notifier, std::atomic<bool>& sendIdleFlag, std::unique_ptr<TEvent> wake);
    ~TTcpSession();
    TTcpSession(const TTcpSession&) = delete;
    TTcpSession& operator=(const TTcpSession&) = delete;

    // Throws std::system_error when no thread can be created.
    void Start();
    // Returns once the body has ended; the close event must be set first.
    void Join();
    // Any thread. Takes the block, sent once connected; false once the session has ended.
    bool Post(std::string block);

private:
    void Execute();
    // Each returns false when the session is to end (closed, or a failure reported).
    bool Resolve(std::vector<TTcpAddress>& addresses);
    bool Connect(const std::vector<TTcpAddress>& addresses, int& fd);
    int TryConnect(const TTcpAddress& address, int& error) const;
    // Waits for a connect in progress; its errno, 0 once connected, ECANCELED when closed.
    int AwaitConnect(int fd) const;
    void Serve(int fd);
    bool ReadSome(int fd);
    bool TakeQueued(std::string& pending);
    bool Flush(int fd, std::string& pending);
    void ReportConnect(int state, std::string text);
    void ReportDrop(int error);

    TTcpTarget FTarget;
    const TEvent& FCloseEvent;
    THangup& FHangup;
    TNotifier FNotifyTarget;
    std::atomic<bool>& FSendIdleFlag;
    std::unique_ptr<TEvent> FWake;

    std::mutex FLock;
    std::deque<std::string> FQueue;
    bool FEnded = false;
    std::thread FThread;
};
