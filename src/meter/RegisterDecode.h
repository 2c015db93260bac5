// The meter's read blocks turned into what the pages show: register values in, texts and
// values out. Nothing here touches a widget.
#pragma once

#include "meter/MeterReading.h"
#include "meter/Scaling.h"

#include <QString>

#include <array>
#include <cstdint>
#include <span>

// Register blocks the link recognises by their start address.
enum TReadBlockStart : std::uint16_t {
    rbMeasurement = 0x1400,
    rbEnergy = 0x1180,
    rbIdentity = 0xF000,
    rbSerialNumber = 0xF040,
    rbAOType = 0xF106,
    rbSettings = 0x1100,
};

inline constexpr int MeasurementCount = 21;
inline constexpr int EnergyCount = 6; // counters, two registers each
inline constexpr int RelayCount = 2;
inline constexpr int InputCount = 6;

// The 21 label texts of the measurement block, in register order (0x1400 to 0x1414).
// Missing registers give empty texts, and so do the voltages, currents and powers while the
// ratios that scale them are not known: no value is better than a wrong one.
std::array<QString, MeasurementCount> MeasurementTexts(const TMeterReading& reading);
// The same for register values read with `scale`.
std::array<QString, MeasurementCount> MeasurementTexts(const TScaling& scale,
                                                       std::span<const std::uint16_t> values,
                                                       bool ratiosKnown = true);

// The energy counters present in a response of the energy block: 2 for 4 registers, all 6
// for 12; the count returned says how many were filled.
int EnergyTexts(const TMeterReading& reading, std::array<QString, EnergyCount>& texts);
int EnergyTexts(std::span<const std::uint16_t> values, std::array<QString, EnergyCount>& texts);

// The meter's identity block (9 registers, 18 characters).
struct TIdentity {
    QString DevType;     // cleaned code + " (" + model + ")"
    QString HardVersion; // cleaned
    QString SoftVersion; // cleaned; becomes the link's SoftwareVersion
    QString ReleaseDate; // "20YY-MM-DD", not cleaned
    bool operator==(const TIdentity&) const = default;
};
TIdentity DecodeIdentity(std::span<const std::uint16_t> values);

// The serial number block: its text up to the first character of code 0.
QString DecodeSerialNumber(std::span<const std::uint16_t> values);

// "Current" for 1, "Voltage" for 2, "--" for anything else.
QString AOTypeText(std::int32_t aoType);

// The transformer ratios kept from the settings block 0x1100.
struct TRatioState {
    double LastPT2 = 0.0;
    double LastCT2 = 0.0;
};
// Takes PT1 (0x1105 low, 0x1106 high, signed), PT2 (0x1107), CT1 (0x1108) and CT2 (0x1109)
// from a response of block 0x1100; a divisor of 0 leaves its ratio as it was.
void UpdateRatios(std::span<const std::uint16_t> values, TRatioState& state, TScaling& scale);

// What the pages leave out for a meter whose version lacks a layout; what is not left out is
// shown, so a newer meter gets back what an older one hid.
struct TPageAdaptation {
    bool ShortenLists = false;        // baud rates to 5 entries, wiring to 3
    bool HideDOEnergyOutputs = false; // DO1/DO2 energy output choices and captions
    bool HideRelayAlarmGroup = false; // the relay alarm limits
    bool HideExtendedEnergy = false;  // import/export energy labels and captions
};
TPageAdaptation AdaptationFor(const QString& version);
