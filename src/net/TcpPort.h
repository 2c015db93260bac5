// TTcpPort is TComm's counterpart for a Modbus gateway on the network: one TCP connection to a
// host and port, opened without blocking the caller, with the same data path as a serial port
// (received bytes, the loss of the connection and the drained send queue raised as events on
// the thread that created it, in the order the port's thread reported them).
#pragma once

#include "net/TcpFailure.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TEvent;
class THangup;
class TNotifyQueue;
class TTcpSession;

class TTcpPort {
public:
    static constexpr std::uint16_t DefaultPort = 502;
    static constexpr int DefaultConnectTimeout = 3000;

    // Buffer holds BufferLength bytes (1 to 2048) followed by one zero byte; it is valid only
    // during the call.
    using TReceiveDataEvent =
        std::function<void(TTcpPort& Sender, const char* Buffer, std::uint16_t BufferLength)>;
    // State is Connected, or why no connection was made; Text is the operator's sentence for
    // it (empty for Connected).
    using TConnectEvent =
        std::function<void(TTcpPort& Sender, TTcpState State, const std::string& Text)>;
    using TNotifyEvent = std::function<void(TTcpPort& Sender)>;
    using TSendDataEmptyEvent = std::function<void(TTcpPort& Sender)>;

    // Must be created on the thread that runs the Qt event loop delivering the events.
    TTcpPort();
    // Closes the port if the owner has not. Not to be destroyed from inside one of its events.
    ~TTcpPort();
    TTcpPort(const TTcpPort&) = delete;
    TTcpPort& operator=(const TTcpPort&) = delete;

    // Starts connecting and returns at once: the name is resolved and the connection made on
    // the port's thread, and OnConnect tells how that ended. Throws ECommsError when the port is
    // already open or the system refuses the thread or its events.
    void OpenPort();
    // Ends the connection (or the attempt) at once; nothing is raised for it.
    void ClosePort();
    // Queues a copy, sent once connected; false when closed, when the connection failed or was
    // lost (OnConnect with a failure, OnRequestHangup), or Length is 0.
    bool WriteData(const char* Buffer, std::uint16_t Length);

    // From OpenPort to ClosePort, whether connected or not.
    bool IsOpen() const;
    // OnConnect reported Connected and OnRequestHangup has not followed.
    bool Connected() const { return FConnected; }
    // True while nothing waits to be sent (and whenever the port is closed).
    bool SendIdle() const { return FSendIdle.load(); }

    const std::string& HostName() const { return FHostName; }
    // Take effect at the next OpenPort.
    void SetHostName(const std::string& value) { FHostName = value; }
    std::uint16_t PortNumber() const { return FPortNumber; }
    void SetPortNumber(std::uint16_t value) { FPortNumber = value; }
    // How long a connection request may go unanswered, in ms.
    int ConnectTimeout() const { return FConnectTimeout; }
    void SetConnectTimeout(int value) { FConnectTimeout = value; }
    // "host:port", as the sentences name the gateway.
    std::string Endpoint() const { return TcpEndpointText(FHostName, FPortNumber); }

    // The sentence for the last failed connect or lost connection of this open period; empty
    // while none.
    const std::string& LastErrorText() const { return FLastErrorText; }

    // Raised on the creating thread, in the order the port's thread reported; unbound ones are
    // skipped. OnConnect comes once per OpenPort (unless it is closed first); OnRequestHangup
    // at most once, after a Connected, with LastErrorText saying what happened.
    TConnectEvent OnConnect;
    TReceiveDataEvent OnReceiveData;
    TNotifyEvent OnRequestHangup;
    TSendDataEmptyEvent OnSendDataEmpty;

private:
    void Dispatch(int code, std::uint32_t param, const std::string& data);
    void Release();

    std::string FHostName;
    std::uint16_t FPortNumber = DefaultPort;
    int FConnectTimeout = DefaultConnectTimeout;

    std::unique_ptr<TEvent> FCloseEvent; // set exactly while the port is open
    std::unique_ptr<THangup> FHangup;    // the connection failed or lost in this open period
    std::unique_ptr<TTcpSession> FSession;
    std::unique_ptr<TNotifyQueue> FNotifyWindow;
    std::atomic<bool> FSendIdle{true};
    bool FConnected = false;
    std::string FLastErrorText;
};
