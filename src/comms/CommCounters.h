// The communication counters since a connect: one outcome per query, the bytes each way and
// the line errors the port reported. A plain value, so any part of the program (a report, a
// window) can take a copy.
#pragma once

#include <cstdint>
#include <map>

// How one query ended, as far as the line is concerned.
enum class TFrameOutcome : std::uint8_t {
    Answered,     // a valid answer
    NoResponse,   // nothing at all came back
    BadFrame,     // bytes came back, but no frame with a good check field and length
    Mismatch,     // a valid frame that does not answer the request
    OtherAddress, // a valid answer, but from another device address
    Exception,    // the meter refused the request with an exception code
    Broadcast,    // no answer is expected
};

struct TCommCounters {
    std::uint64_t Sent = 0;
    std::uint64_t Answered = 0;
    std::uint64_t NoResponse = 0;
    std::uint64_t BadFrame = 0;
    std::uint64_t Mismatch = 0;
    std::uint64_t OtherAddress = 0;
    std::uint64_t Broadcasts = 0;
    // Exception responses by exception code.
    std::map<int, std::uint64_t> Exceptions;
    std::uint64_t BytesSent = 0;
    std::uint64_t BytesReceived = 0;
    // Line-error reports of the serial port, by kind.
    std::uint64_t FramingErrors = 0;
    std::uint64_t ParityErrors = 0;
    std::uint64_t OverrunErrors = 0;

    std::uint64_t ExceptionCount() const;
    // Queries that did not end with a valid answer (exceptions included).
    std::uint64_t Failed() const;
    void Count(TFrameOutcome outcome, int exceptionCode);
    void CountLineErrors(std::uint32_t flags);
};
