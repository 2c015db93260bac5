// What the program knows about one meter: the one at an address on a line, for one connection.
// Every register block read from it is decoded here, once: its identity and software version,
// its serial number, its ratios, its settings record and its latest measurements in physical
// units. Each time it learns something it raises an event on the link's stream. Another
// address, port, line setting or connection is another model, which knows nothing until it is
// read; the link keeps the model of the meter it reaches now.
#pragma once

#include "meter/MeterEvents.h"
#include "meter/MeterFacts.h"
#include "meter/MeterReading.h"
#include "meter/MeterSettings.h"
#include "meter/RegisterDecode.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

class TMeterModel {
public:
    // `ask`: the link is connected, so the identity and the ratios are asked for at once.
    TMeterModel(const TLinkLine& line, TMeterEventStream& events, bool ask,
                std::function<std::int64_t()> nowMs = {});
    TMeterModel(const TMeterModel&) = delete;
    TMeterModel& operator=(const TMeterModel&) = delete;

    // The line and address the meter was reached on; a settings write that moved it moves
    // the model with it.
    const TLinkLine& Line() const { return FLine; }
    void MovedTo(const TLinkLine& line) { FLine = line; }
    // Its events go to `events` from now on: a meter on a shared line whose values the pages
    // show raises on theirs, the others on a stream of their own.
    void RaiseOn(TMeterEventStream& events) { FEvents = &events; }

    // --- What is known.
    const std::optional<TIdentity>& Identity() const { return FIdentity; }
    bool IdentityKnown() const { return FFacts.IdentityKnown(); }
    // Empty until the identity is read.
    QString SoftwareVersion() const { return FIdentity ? FIdentity->SoftVersion : QString(); }
    // Empty until read.
    const QString& SerialNumber() const { return FSerial; }
    bool SerialNumberKnown() const { return FSerialKnown; }
    // The ratios, with RatiosKnown false until block 0x1100 of this meter is read (and again
    // after a write of it, until it is read back).
    const TScaling& Scaling() const { return FScaling; }
    bool RatiosKnown() const { return FScaling.RatiosKnown; }
    double LastPT2() const { return FRatios.LastPT2; }
    double LastCT2() const { return FRatios.LastCT2; }
    std::optional<std::int32_t> AOType() const { return FAOType; }
    // The settings as read, block by block.
    const TMeterSettings& Settings() const { return FSettings; }
    bool SettingsBlockRead(std::uint16_t start) const;
    // The latest reading of a metering block, if one came.
    const std::optional<TMeterReading>& Latest(TMeteringBlock block) const;

    // --- From the link.
    // The query of this turn (placeholder address), empty for none: a read of the identity or
    // the ratios whose answer is lost is asked again (`MissingRead`).
    void QueryStarted(const std::string& query);
    void QueryEnded();
    const char* MissingRead() const { return FFacts.MissingRead(); }
    // The connection has ended: nothing more is asked.
    void StopAsking() { FFacts.Forget(); }
    // A valid answer to a register read, to a relay read (function 01) or an input read (02).
    void RegistersRead(std::uint16_t start, std::span<const std::uint16_t> values);
    void BitsRead(TMeteringBlock block, std::span<const bool> bits);
    // A metering read that ended without a valid answer.
    void MeteringLost(TMeteringBlock block);
    // The meter confirmed a write of block 0x1100: its ratios may have changed.
    void RatiosWritten();

private:
    void Metering(TMeteringBlock block, std::span<const std::uint16_t> values);
    void SettingsBlock(std::uint16_t start, std::span<const std::uint16_t> values);

    TLinkLine FLine;
    TMeterEventStream* FEvents;
    std::function<std::int64_t()> FNowMs;
    TMeterFacts FFacts;
    std::optional<TIdentity> FIdentity;
    QString FSerial;
    bool FSerialKnown = false;
    TScaling FScaling;
    TRatioState FRatios;
    std::optional<std::int32_t> FAOType;
    TMeterSettings FSettings;
    std::vector<std::uint16_t> FBlocksRead;
    std::array<std::optional<TMeterReading>, 4> FLatest;
};
