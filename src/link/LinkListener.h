// What the link tells the parts that follow the meter's traffic without taking part in it (the
// write journal, the meter memory of the commissioning tools): each query that went out and how
// it ended, the blocks read, and a change of line settings the link adopted.
#pragma once

#include "platform/SerialLine.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The line a query went out on.
struct TLinkLine {
    int PortNum = 0;
    int Baudrate = 0;
    TParity Parity = TParity::None;
    TStopBits StopBits = TStopBits::_1;
    std::uint8_t Address = 0;
    bool operator==(const TLinkLine&) const = default;
};

// How a query ended: a valid answer, an exception answer (with its code), no answer within the
// time-out, or an answer that did not check out (bad frame, another request's answer).
enum class TQueryResult : std::uint8_t { Answered, Exception, NoAnswer, BadAnswer };

struct TQueryOutcome {
    TQueryResult Result = TQueryResult::Answered;
    int ExceptionCode = 0;
};

class ILinkListener {
public:
    virtual ~ILinkListener() = default;
    // A query text as queued ("00" in place of the address) and the line it is about to go out
    // on: raised before its frame is sent, so a record of it can reach the disk first.
    virtual void QueryStarting(const std::string& /*text*/, const TLinkLine& /*line*/) {}
    // A query text as queued ("00" in place of the address), the line it went out on, and its
    // end. Raised after the events of its answer.
    virtual void QueryFinished(const std::string& /*text*/, const TLinkLine& /*line*/,
                               const TQueryOutcome& /*outcome*/) {}
    // A valid answer to a function 03 read, and to the relay read (function 01).
    virtual void RegistersRead(std::uint16_t /*start*/, std::span<const std::uint16_t> /*values*/) {
    }
    virtual void CoilsRead(std::span<const bool> /*values*/) {}
    // The link switched address or line settings after the meter confirmed them; raised after
    // QueryFinished of the write that carried them.
    virtual void LineAdopted(const TLinkLine& /*before*/, const TLinkLine& /*after*/) {}
    // Queued writes the link will not send: their values were computed from a write that the
    // meter refused or did not answer. Raised after QueryFinished of that write.
    virtual void QueriesDropped(const std::vector<std::string>& /*texts*/) {}
    // Another meter may answer from now on (another address, port or line settings): what was
    // read from the one before no longer holds.
    virtual void MeterChanged() {}
    // The query cycle has stopped (disconnect, or the port went away).
    virtual void CycleEnded() {}
};
