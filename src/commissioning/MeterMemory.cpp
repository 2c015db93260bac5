#include "commissioning/MeterMemory.h"

#include "link/VersionRules.h"
#include "settings/SettingsBlocks.h"

#include <algorithm>

TMeterMemory::TMeterMemory(std::function<std::int64_t()> nowMs) : FNowMs(std::move(nowMs)) {}

void TMeterMemory::Clear() {
    FIdentity.reset();
    FSerial.reset();
    FScaling = TScaling{};
    FRatios = TRatioState{};
    FSettings = TMeterSettings{};
    FBlocksRead.clear();
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
        break;
    case rbSerialNumber:
        FSerial = DecodeSerialNumber(values);
        break;
    case rbAOType:
        if (!values.empty())
            FScaling.AOType = values[0];
        break;
    case rbEnergy:
        for (std::size_t k = 0; k + 1 < values.size() && k / 2 < FEnergy.size(); k += 2)
            FEnergy[k / 2] = static_cast<std::uint32_t>(values[k]) |
                             static_cast<std::uint32_t>(values[k + 1]) << 16;
        break;
    case rbMeasurement: {
        TMeasurement m;
        if (ScaleMeasurement(FScaling, values, m)) {
            FMeasurement = m;
            FWindow.Add(FNowMs ? FNowMs() : 0, m);
            const auto callbacks = OnMeasurement;
            for (const auto& callback : callbacks)
                callback();
        }
        break;
    }
    default:
        // The settings blocks, decoded as the link decodes them for the page: setpoints with
        // the ratios in force, block 0x1100 updating the ratios after its own fields.
        if (DecodeSettingsBlock(start, values, FSettings, FScaling)) {
            if (!BlockRead(start))
                FBlocksRead.push_back(start);
            if (start == sbGeneral)
                UpdateRatios(values, FRatios, FScaling);
        }
        break;
    }
}

void TMeterMemory::CoilsRead(std::span<const bool> values) {
    if (values.size() < RelayCount)
        return;
    FRelays = std::array<bool, RelayCount>{values[0], values[1]};
}
