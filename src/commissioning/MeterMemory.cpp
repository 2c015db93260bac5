#include "commissioning/MeterMemory.h"

#include "meter/MeterModel.h"

#include "meter/SettingsBlocks.h"
#include "meter/VersionRules.h"

#include <algorithm>
#include <cmath>

TMeterMemory::TMeterMemory(std::function<std::int64_t()> nowMs) : FNowMs(std::move(nowMs)) {}

void TMeterMemory::Clear() {
    FIdentity.reset();
    FSerial.reset();
    FScaling = TScaling{};
    FSettings = TMeterSettings{};
    FBlocksRead.clear();
    FArrived.clear();
    FRelays.reset();
    FEnergy = {};
    FMeasurement.reset();
    FWindow.Clear();
}

void TMeterMemory::CycleEnded() {
    Clear();
}

void TMeterMemory::MeterChanged(const TMeterModel& /*meter*/) {
    Clear();
}

bool TMeterMemory::BlockRead(std::uint16_t start) const {
    return std::find(FBlocksRead.begin(), FBlocksRead.end(), start) != FBlocksRead.end();
}

bool TMeterMemory::ReadSince(std::uint16_t start, std::uint64_t mark) const {
    return std::any_of(FArrived.begin(), FArrived.end(), [&](const auto& arrived) {
        return arrived.first == start && arrived.second > mark;
    });
}

void TMeterMemory::Arrived(std::uint16_t start) {
    ++FMark;
    const auto known = std::find_if(FArrived.begin(), FArrived.end(),
                                    [&](const auto& arrived) { return arrived.first == start; });
    if (known != FArrived.end())
        known->second = FMark;
    else
        FArrived.emplace_back(start, FMark);
}

bool TMeterMemory::SettingsComplete() const {
    const QString version = SoftwareVersion();
    return FIdentity && BlockRead(sbGeneral) && BlockRead(sbAlarm) && BlockRead(sbAnalogOutput) &&
           (!ExtendedLayout(version) || BlockRead(sbDigitalOutput)) &&
           (!RelayAlarmLayout(version) || BlockRead(sbRelay2Alarm));
}

void TMeterMemory::BlockRead(const TMeterModel& meter, std::uint16_t start,
                             std::span<const std::uint16_t> values) {
    FScaling = meter.Scaling();
    switch (start) {
    case rbIdentity:
        FIdentity = meter.Identity();
        Arrived(start);
        break;
    case rbSerialNumber:
        FSerial = meter.SerialNumber();
        Arrived(start);
        break;
    case rbAOType:
    case rbMeasurement:
    case rbEnergy:
        break;
    default:
        ReadSettingsBlock(meter, start, values.size());
        break;
    }
}

void TMeterMemory::MeteringRead(const TMeterModel& /*meter*/, const TMeterReading& reading) {
    if (reading.Block == TMeteringBlock::Measurement)
        ReadMeasurement(reading);
    else if (reading.Block == TMeteringBlock::Energy)
        ReadEnergy(reading);
    else if (reading.Block == TMeteringBlock::Relays && reading.Raw.size() >= RelayCount)
        FRelays = std::array<bool, RelayCount>{reading.Raw[0] != 0, reading.Raw[1] != 0};
}

void TMeterMemory::ReadEnergy(const TMeterReading& reading) {
    // The reading holds each counter in kWh or kvarh at the offset of its low word; tenths are
    // whole numbers below 2^32, so a double carries them exactly.
    for (int k = 0; k < EnergyCount; ++k)
        if (const auto value = reading.Value(2 * k))
            FEnergy[static_cast<std::size_t>(k)] =
                static_cast<std::uint32_t>(std::llround(*value * 10));
    if (reading.Raw.size() >= 4)
        Arrived(rbEnergy);
}

void TMeterMemory::ReadMeasurement(const TMeterReading& reading) {
    TMeasurement m;
    if (!MeasurementFrom(reading, m))
        return;
    FMeasurement = m;
    FWindow.Add(FNowMs ? FNowMs() : 0, m);
    Arrived(rbMeasurement);
    const auto callbacks = OnMeasurement;
    for (const auto& callback : callbacks)
        callback();
}

void TMeterMemory::ReadSettingsBlock(const TMeterModel& meter, std::uint16_t start,
                                     std::size_t registers) {
    const TSettingsBlock* block = FindSettingsBlock(start);
    if (!block || !meter.SettingsBlockRead(start))
        return;
    FSettings = meter.Settings();
    if (!BlockRead(start))
        FBlocksRead.push_back(start);
    // A report takes only a whole block for read.
    if (registers >= block->Count)
        Arrived(start);
}
