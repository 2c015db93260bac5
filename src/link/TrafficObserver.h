// What the link tells an observer of the line's traffic: each frame sent with the line it went
// out on, each piece received, each line-error report, and how each query ended. The observer
// keeps its own statistics; the link only reports.
#pragma once

#include <cstdint>
#include <string>

class ITrafficObserver {
public:
    // The line as it stood when a frame went out.
    struct TLineShape {
        int Baudrate = 0;
        // Start, data, parity and stop bits of one character.
        int BitsPerCharacter = 10;
        int QueryInterval = 0;
    };
    // How a query ended, as the master judged it.
    struct TQueryEnd {
        std::uint8_t ErrorKind = 0; // 0 none, 1 no response, 2 bad frame, 3 mismatch, 4 exception
        int ExceptionCode = -1;
        bool Broadcast = false;
        // The request without its check field, and every byte received since it was sent.
        const std::string& Request;
        const std::string& Received;
    };

    virtual ~ITrafficObserver() = default;
    virtual void FrameSent(const std::string& frame, const TLineShape& line) = 0;
    virtual void DataReceived(const std::string& data) = 0;
    virtual void LineErrors(std::uint32_t flags) = 0;
    // Raised once per query that sent a frame, and also after a query that sent nothing.
    virtual void QueryEnded(const TQueryEnd& end) = 0;
    // Polling has stopped (a disconnect): the next frame begins a new connection.
    virtual void PollingEnded() = 0;
};
