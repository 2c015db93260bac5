// What the commissioning tools keep of the meter connected now, taken from the meter model as
// it learns it: identity and serial number, the settings blocks, relays, energy counters, the
// recent measurements, and when each block arrived. The journal takes the values before a write
// from here, the installation check and the report what they show. It decodes nothing itself.
#pragma once

#include "commissioning/Measurements.h"
#include "meter/MeterEvents.h"
#include "meter/MeterSettings.h"
#include "meter/RegisterDecode.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class TMeterMemory : public IMeterEvents {
public:
    // The clock of the measurement window, in milliseconds.
    explicit TMeterMemory(std::function<std::int64_t()> nowMs);

    // IMeterEvents
    void BlockRead(const TMeterModel& meter, std::uint16_t start,
                   std::span<const std::uint16_t> values) override;
    void MeteringRead(const TMeterModel& meter, const TMeterReading& reading) override;
    void CycleEnded() override;
    void MeterChanged(const TMeterModel& meter) override;

    // Forgets the meter (another one may be connected next).
    void Clear();

    const std::optional<TIdentity>& Identity() const { return FIdentity; }
    QString SoftwareVersion() const { return FIdentity ? FIdentity->SoftVersion : QString(); }
    const std::optional<QString>& SerialNumber() const { return FSerial; }
    std::int32_t AOType() const { return FScaling.AOType; }
    const TScaling& Scaling() const { return FScaling; }

    // The settings as last read, and whether a block has been read since the meter was
    // connected.
    const TMeterSettings& Settings() const { return FSettings; }
    bool BlockRead(std::uint16_t start) const;
    // Every block the meter's layout has, read.
    bool SettingsComplete() const;

    const std::optional<std::array<bool, RelayCount>>& Relays() const { return FRelays; }
    // Counters in tenths of kWh or kvarh, Ep_total first; unknown until read.
    const std::array<std::optional<std::uint32_t>, EnergyCount>& Energy() const { return FEnergy; }

    const std::optional<TMeasurement>& LastMeasurement() const { return FMeasurement; }

    // A mark that grows with every block that arrives, and whether the block at `start`
    // (a settings block, rbIdentity, rbSerialNumber, rbEnergy, rbMeasurement) has arrived
    // since a mark: what a report asked for and what came back.
    std::uint64_t Mark() const { return FMark; }
    bool ReadSince(std::uint16_t start, std::uint64_t mark) const;
    const TMeasurementWindow& Window() const { return FWindow; }

    // Called after each measurement block that arrives.
    std::vector<std::function<void()>> OnMeasurement;

private:
    void Arrived(std::uint16_t start);
    void ReadSettingsBlock(const TMeterModel& meter, std::uint16_t start, std::size_t registers);
    void ReadMeasurement(const TMeterReading& reading);
    void ReadEnergy(const TMeterReading& reading);

    std::function<std::int64_t()> FNowMs;
    std::optional<TIdentity> FIdentity;
    std::optional<QString> FSerial;
    TScaling FScaling;
    TMeterSettings FSettings;
    std::vector<std::uint16_t> FBlocksRead;
    std::uint64_t FMark = 0;
    std::vector<std::pair<std::uint16_t, std::uint64_t>> FArrived; // start, mark when it came
    std::optional<std::array<bool, RelayCount>> FRelays;
    std::array<std::optional<std::uint32_t>, EnergyCount> FEnergy{};
    std::optional<TMeasurement> FMeasurement;
    TMeasurementWindow FWindow;
};
