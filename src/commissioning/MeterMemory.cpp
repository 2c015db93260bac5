#include "commissioning/MeterMemory.h"

#include "meter/VersionRules.h"
#include "meter/SettingsBlocks.h"

#include <algorithm>

TMeterMemory::TMeterMemory(std::function<std::int64_t()> nowMs) : FNowMs(std::move(nowMs)) {}

void TMeterMemory::Clear() {
    FIdentity.reset();
    FSerial.reset();
    FScaling = TScaling{};
    FRatios = TRatioState{};
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

void TMeterMemory::MeterChanged() {
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

void TMeterMemory::RegistersRead(std::uint16_t start, std::span<const std::uint16_t> values) {
    switch (start) {
    case rbIdentity:
        FIdentity = DecodeIdentity(values);
        Arrived(start);
        break;
    case rbSerialNumber:
        FSerial = DecodeSerialNumber(values);
        Arrived(start);
        break;
    case rbAOType:
        if (!values.empty())
            FScaling.AOType = values[0];
        break;
    case rbEnergy:
        for (std::size_t k = 0; k + 1 < values.size() && k / 2 < FEnergy.size(); k += 2)
            FEnergy[k / 2] = static_cast<std::uint32_t>(values[k]) |
                             static_cast<std::uint32_t>(values[k + 1]) << 16;
        if (values.size() >= 4)
            Arrived(start);
        break;
    case rbMeasurement: {
        TMeasurement m;
        if (ScaleMeasurement(FScaling, values, m)) {
            FMeasurement = m;
            FWindow.Add(FNowMs ? FNowMs() : 0, m);
            Arrived(start);
            const auto callbacks = OnMeasurement;
            for (const auto& callback : callbacks)
                callback();
        }
        break;
    }
    default:
        ReadSettingsBlock(start, values);
        break;
    }
}

void TMeterMemory::ReadSettingsBlock(std::uint16_t start, std::span<const std::uint16_t> values) {
    // Decoded as the link decodes them for the page: setpoints with the ratios in force, block
    // 0x1100 updating the ratios after its own fields.
    if (!DecodeSettingsBlock(start, values, FSettings, FScaling))
        return;
    if (!BlockRead(start))
        FBlocksRead.push_back(start);
    // A report takes only a whole block for read.
    const TSettingsBlock* block = FindSettingsBlock(start);
    if (block && values.size() >= block->Count)
        Arrived(start);
    if (start == sbGeneral)
        UpdateRatios(values, FRatios, FScaling);
}

void TMeterMemory::CoilsRead(std::span<const bool> values) {
    if (values.size() < RelayCount)
        return;
    FRelays = std::array<bool, RelayCount>{values[0], values[1]};
}
