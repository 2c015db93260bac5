// The one stream of events that follows the meter: what the link does on the line (each query
// and its end, a line change it adopted, writes it dropped, the end of the cycle) and what the
// meter model learnt from the answers (a new meter, its identity and ratios, each metering read
// or its loss, each settings block). Pages, the chart, the recorder, the journal and the
// commissioning tools follow it; they never decode a register themselves.
#pragma once

#include "meter/MeterReading.h"
#include "platform/SerialLine.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

class TMeterModel;

// The addresses a meter may have; 0 is the broadcast address, which no meter answers.
inline constexpr int MinMeterAddress = 1;
inline constexpr int MaxMeterAddress = 247;
constexpr bool IsMeterAddress(int address) {
    return address >= MinMeterAddress && address <= MaxMeterAddress;
}

// The line a query went out on, with the address of the meter it asked.
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

class IMeterEvents {
public:
    virtual ~IMeterEvents() = default;

    // --- The link.
    // A query text as queued ("00" in place of the address) and the line it is about to go out
    // on: raised before its frame is sent, so a record of it can reach the disk first.
    virtual void QueryStarting(const std::string& /*text*/, const TLinkLine& /*line*/) {}
    // A query text as queued, the line it went out on, and its end. Raised after the events of
    // its answer.
    virtual void QueryFinished(const std::string& /*text*/, const TLinkLine& /*line*/,
                               const TQueryOutcome& /*outcome*/) {}
    // The link switched address or line settings after the meter confirmed them; raised after
    // QueryFinished of the write that carried them. The meter model stays: it is the same meter.
    virtual void LineAdopted(const TLinkLine& /*before*/, const TLinkLine& /*after*/) {}
    // Queued writes the link will not send: their values were computed from a write that the
    // meter refused or did not answer. Raised after QueryFinished of that write.
    virtual void QueriesDropped(const std::vector<std::string>& /*texts*/) {}
    // The query cycle has stopped (disconnect, or the port went away).
    virtual void CycleEnded() {}

    // --- The meter model.
    // Another meter may answer from now on (another address, port or line settings, or a new
    // connection): a new model, which knows nothing yet.
    virtual void MeterChanged(const TMeterModel& /*meter*/) {}
    // A valid answer to a register read (function 03), after the model has taken it in.
    virtual void BlockRead(const TMeterModel& /*meter*/, std::uint16_t /*start*/,
                           std::span<const std::uint16_t> /*values*/) {}
    // The identity block (and with it the software version), the serial number and the
    // analog output type were read.
    virtual void IdentityRead(const TMeterModel& /*meter*/) {}
    virtual void SerialNumberRead(const TMeterModel& /*meter*/) {}
    virtual void AnalogOutputTypeRead(const TMeterModel& /*meter*/) {}
    // Settings block `start` was read; the model's settings record holds its fields.
    virtual void SettingsRead(const TMeterModel& /*meter*/, std::uint16_t /*start*/,
                              std::span<const std::uint16_t> /*values*/) {}
    // A metering block was read (its values in physical units), or a read of it ended without
    // a valid answer: a gap for those who follow, never a repeated value.
    virtual void MeteringRead(const TMeterModel& /*meter*/, const TMeterReading& /*reading*/) {}
    virtual void MeteringLost(const TMeterModel& /*meter*/, TMeteringBlock /*block*/) {}
};

// The followers of the stream, told in the order they were added; each stays until removed.
class TMeterEventStream {
public:
    void Follow(IMeterEvents* follower) {
        if (follower &&
            std::find(FFollowers.begin(), FFollowers.end(), follower) == FFollowers.end())
            FFollowers.push_back(follower);
    }
    void Unfollow(IMeterEvents* follower) { std::erase(FFollowers, follower); }

    template <typename F> void Raise(F&& call) const {
        // A copy: a follower may remove itself while it is told.
        const std::vector<IMeterEvents*> followers = FFollowers;
        for (IMeterEvents* f : followers)
            call(*f);
    }

private:
    std::vector<IMeterEvents*> FFollowers;
};
