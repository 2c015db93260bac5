// What a page, window or tool may ask of the link: the meter now reached (its model), the
// stream of events, and queries to send. The link session implements it; nothing that takes
// a port reaches the Modbus master.
#pragma once

#include "link/TrafficObserver.h"
#include "meter/MeterEvents.h"
#include "meter/MeterModel.h"
#include "platform/SerialLine.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

class ILinkPort {
public:
    virtual ~ILinkPort() = default;

    // The model of the meter the next query reaches; a new one after another address, port,
    // line setting or connection.
    virtual const TMeterModel& Meter() const = 0;
    // Followers of the stream, told in the order they were added; each stays until removed.
    virtual void Follow(IMeterEvents* follower) = 0;
    virtual void Unfollow(IMeterEvents* follower) = 0;

    // One-shot queries, sent first in first out before any polling query. A write that was
    // computed from an earlier queued write names it in `needs`.
    virtual void AppendQuery(std::string text, std::string needs) = 0;
    void AppendQuery(std::string text) { AppendQuery(std::move(text), {}); }
    // The settings page's pending line settings: they travel with the 0x1100 write queued last
    // (parity and stop bits left out keep the values asked for before); without such a write in
    // the queue they become the pending values at once.
    virtual void SetNewLineSettings(std::uint8_t deviceAddress, int baudrate,
                                    std::optional<TParity> parity,
                                    std::optional<TStopBits> stopBits) = 0;
    // Queries queued or on the line.
    virtual std::size_t QueriesLeft() const = 0;
    // The program is closing: only the confirmed writes still go out.
    virtual bool Closing() const = 0;
    // The line the next query goes out on.
    virtual TLinkLine Line() const = 0;
    virtual std::uint64_t SentCount() const = 0;
    virtual std::uint64_t ErrorCount() const = 0;
    // The frame tap of the Communication window; none by default.
    virtual void SetTrafficObserver(ITrafficObserver* observer) = 0;

    // What the pages ask most, of the meter now reached.
    QString SoftwareVersion() const { return Meter().SoftwareVersion(); }
    const QString& SerialNumber() const { return Meter().SerialNumber(); }
    const TScaling& Scaling() const { return Meter().Scaling(); }
    bool IdentityKnown() const { return Meter().IdentityKnown(); }
    bool RatiosKnown() const { return Meter().RatiosKnown(); }
};
