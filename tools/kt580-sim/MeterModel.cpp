#include "MeterModel.h"

#include "LiveValues.h"
#include "Registers.h"
#include "VersionRules.h"

#include <algorithm>
#include <optional>

namespace kt580sim {

namespace {

bool InRange(uint32_t reg, uint32_t start, uint32_t count) {
    return reg >= start && reg < start + count;
}

std::string Padded(const std::string& text, std::size_t size) {
    std::string out = text.substr(0, size);
    out.resize(size, '\0');
    return out;
}

} // namespace

std::vector<uint16_t> TextRegisters(const std::string& text, std::size_t registers) {
    const std::string bytes = Padded(text, registers * 2);
    std::vector<uint16_t> out(registers);
    for (std::size_t i = 0; i < registers; ++i) {
        out[i] = static_cast<uint16_t>((static_cast<uint8_t>(bytes[2 * i]) << 8) |
                                       static_cast<uint8_t>(bytes[2 * i + 1]));
    }
    return out;
}

TMeterModel::TMeterModel(TIdentity identity, uint8_t address, uint32_t baudrate,
                         TMeterParity parity)
    : FIdentity(std::move(identity)) {
    FLayout.Extended = HasExtendedLayout(FIdentity.SoftwareVersion);
    FLayout.RelayAlarm = HasRelayAlarmLayout(FIdentity.SoftwareVersion);
    FSettings = DefaultSettings(FLayout, address, baudrate, parity);
}

int TMeterModel::EnergyRegisters() const {
    return 2 * (FLayout.Extended ? reg::EnergyCounters : reg::BasicEnergyCounters);
}

bool TMeterModel::Readable(uint16_t r) const {
    return FSettings.count(r) != 0 || (FLayout.Extended && r == reg::EnergyReset) ||
           InRange(r, reg::Energy, EnergyRegisters()) ||
           InRange(r, reg::Measurement, reg::MeasurementCount) ||
           InRange(r, reg::Identity, reg::IdentityCount) ||
           InRange(r, reg::SerialNumber, reg::SerialNumberCount) || r == reg::AOType;
}

uint16_t TMeterModel::Value(uint16_t r) const {
    if (const auto it = FSettings.find(r); it != FSettings.end()) {
        return it->second;
    }
    if (InRange(r, reg::Energy, EnergyRegisters())) {
        const int offset = r - reg::Energy;
        const uint32_t tenths = FEnergy.Tenths(offset / 2);
        return static_cast<uint16_t>(offset % 2 == 0 ? tenths & 0xFFFF : tenths >> 16);
    }
    if (InRange(r, reg::Identity, reg::IdentityCount)) {
        const std::string text =
            Padded(FIdentity.DeviceType, 4) + Padded(FIdentity.HardwareVersion, 4) +
            Padded(FIdentity.SoftwareVersion, 4) + Padded(FIdentity.ReleaseDate, 6);
        return TextRegisters(text, reg::IdentityCount)[r - reg::Identity];
    }
    if (InRange(r, reg::SerialNumber, reg::SerialNumberCount)) {
        return TextRegisters(FIdentity.SerialNumber, reg::SerialNumberCount)[r - reg::SerialNumber];
    }
    if (r == reg::AOType) {
        return FIdentity.AOType;
    }
    return 0; // the energy reset command register reads as 0
}

TException TMeterModel::ReadRegisters(uint16_t start, uint16_t count,
                                      std::vector<uint16_t>& out) const {
    out.clear();
    for (uint32_t r = start; r < uint32_t(start) + count; ++r) {
        if (r > 0xFFFF || !Readable(static_cast<uint16_t>(r))) {
            out.clear();
            return TException::IllegalAddress;
        }
    }
    // One snapshot of the live values, so a block is consistent within itself; taken only
    // when the block reaches into the measurements.
    std::optional<TLiveValues> live;
    for (uint32_t r = start; r < uint32_t(start) + count; ++r) {
        if (InRange(r, reg::Measurement, reg::MeasurementCount)) {
            if (!live) {
                live = ComputeLiveValues(FSettings, FIdentity.AOType, FSeconds, FWiring);
            }
            out.push_back(live->Registers[r - reg::Measurement]);
        } else {
            out.push_back(Value(static_cast<uint16_t>(r)));
        }
    }
    return TException::None;
}

TException TMeterModel::WriteRegisters(uint16_t start, const std::vector<uint16_t>& values) {
    TSettingsImage settings = FSettings;
    TEnergyCounters energy = FEnergy;
    std::vector<uint16_t> touched;
    bool energyTouched = false;
    bool resetRequested = false;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const uint32_t r = start + i;
        const uint16_t value = values[i];
        if (r <= 0xFFFF && settings.count(static_cast<uint16_t>(r)) != 0) {
            settings[static_cast<uint16_t>(r)] = value;
            touched.push_back(static_cast<uint16_t>(r));
        } else if (InRange(r, reg::Energy, EnergyRegisters())) {
            const int offset = static_cast<int>(r - reg::Energy);
            const int counter = offset / 2;
            uint32_t tenths = energy.Tenths(counter);
            tenths = offset % 2 == 0 ? (tenths & 0xFFFF0000U) | value
                                     : (tenths & 0xFFFFU) | (uint32_t(value) << 16);
            energy.Set(counter, tenths);
            energyTouched = true;
        } else if (FLayout.Extended && r == reg::EnergyReset) {
            if (value != reg::EnergyResetValue) {
                return TException::Refused;
            }
            resetRequested = true;
        } else {
            return TException::IllegalAddress;
        }
    }
    if (!CheckSettings(settings, touched, FLayout).empty()) {
        return TException::Refused;
    }
    FSettings = std::move(settings);
    if (energyTouched) {
        FEnergy = energy;
    }
    if (resetRequested) {
        FEnergy.Reset();
    }
    ++FGeneration;
    return TException::None;
}

TException TMeterModel::ReadCoils(uint16_t start, uint16_t count, std::vector<bool>& out) const {
    out.clear();
    if (uint32_t(start) + count > reg::RelayCoils) {
        return TException::IllegalAddress;
    }
    for (uint32_t i = start; i < uint32_t(start) + count; ++i) {
        out.push_back(FRelays[i]);
    }
    return TException::None;
}

TException TMeterModel::ReadInputs(uint16_t start, uint16_t count, std::vector<bool>& out) const {
    out.clear();
    if (uint32_t(start) + count > reg::DigitalInputs) {
        return TException::IllegalAddress;
    }
    const TLiveValues live = ComputeLiveValues(FSettings, FIdentity.AOType, FSeconds, FWiring);
    for (uint32_t i = start; i < uint32_t(start) + count; ++i) {
        out.push_back(live.Inputs[i]);
    }
    return TException::None;
}

TException TMeterModel::WriteCoil(uint16_t coil, uint16_t value) {
    if (value != 0x0000 && value != 0xFF00) {
        return TException::IllegalValue;
    }
    if (coil >= reg::RelayCoils) {
        return TException::IllegalAddress;
    }
    FRelays[coil] = value == 0xFF00;
    ++FGeneration;
    return TException::None;
}

void TMeterModel::Advance(double seconds) {
    const double pt2 = std::max<double>(FSettings.at(reg::PT2), 1);
    const double ct2 = std::max<double>(FSettings.at(reg::CT2), 1);
    const double ratio = (PT1Of(FSettings) / pt2) * (FSettings.at(reg::CT1) / ct2);
    // Integrate in steps of at most one second so the drifting power is followed closely.
    while (seconds > 0) {
        const double step = std::min(seconds, 1.0);
        const TPower power = ComputePower(FSettings, FSeconds + step / 2, FWiring);
        FEnergy.Integrate(power.ActiveW * ratio / 1000, power.ReactiveVar * ratio / 1000,
                          step / 3600);
        FSeconds += step;
        seconds -= step;
    }
}

uint8_t TMeterModel::Address() const {
    return static_cast<uint8_t>(FSettings.at(reg::Address));
}

uint32_t TMeterModel::Baudrate() const {
    return FSettings.at(reg::Baudrate);
}

TMeterParity TMeterModel::Parity() const {
    return static_cast<TMeterParity>(FSettings.at(reg::Parity));
}

bool TMeterModel::RestoreSettings(const TSettingsImage& image, std::string& why) {
    TSettingsImage settings = FSettings;
    std::vector<uint16_t> touched;
    for (const auto& [r, value] : image) {
        if (settings.count(r) != 0) {
            settings[r] = value;
            touched.push_back(r);
        }
    }
    why = CheckSettings(settings, touched, FLayout);
    if (!why.empty()) {
        return false;
    }
    FSettings = std::move(settings);
    return true;
}

} // namespace kt580sim
