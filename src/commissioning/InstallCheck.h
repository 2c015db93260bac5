// The installation check: judges the wiring of a meter from its live values and settings, one
// verdict per rule, with the values behind it and what to check. Pure: values in, verdicts out.
#pragma once

#include "commissioning/Measurements.h"
#include "meter/ValueColours.h"

#include <QString>

#include <optional>
#include <vector>

enum class TVerdict : std::uint8_t { Good, Warning, Fault, CannotJudge };

// "good", "warning", "fault", "cannot judge".
QString VerdictText(TVerdict verdict);

// The colour a verdict is shown in on a background: green, amber, red and grey, lightened on a
// dark background and darkened on a light one as far as a contrast of 4.5:1 needs.
TRgb VerdictColourOn(TVerdict verdict, const TRgb& background);

struct TCheckResult {
    QString Check; // what is judged
    TVerdict Verdict = TVerdict::CannotJudge;
    QString Values; // the values behind the verdict
    QString Advice; // what to check; for a good verdict what was found
    bool operator==(const TCheckResult&) const = default;
};

struct TInstallInputs {
    std::optional<TMeasurement> Measurement;
    int VoltageWiring = -1;  // 0 3LN, 1 3LL, 2 2LL, 3 1LL, 4 1LN; -1 not read
    double CTPrimary = 0;    // A; 0 not read
    int LoadConvention = -1; // 0 IEC, 1 IEEE; -1 not read
};

// The checks in a fixed order, the same rules every time.
std::vector<TCheckResult> CheckInstallation(const TInstallInputs& in);

// The verdict over all checks, for the top of the page: the worst verdict found and a line that
// counts faults, warnings and checks not judged and names the first check of the worst kind,
// "1 fault, 2 warnings: Voltages present"; "All checks passed." when every check is good, "All
// judged checks passed; 1 not judged: ..." when the rest are.
struct TChecksSummary {
    TVerdict Worst = TVerdict::Good;
    QString Text;
    bool operator==(const TChecksSummary&) const = default;
};
TChecksSummary ChecksSummary(const std::vector<TCheckResult>& results);

// The limits of the rules.
namespace installcheck {
inline constexpr double PresentFraction = 0.2; // of the highest phase voltage
inline constexpr double VoltageSpread = 0.10;  // from the average
inline constexpr double RatioTolerance = 0.05; // line-to-line against sqrt(3) x line-to-neutral
inline constexpr double SmallLoad = 0.05;      // of the CT primary
inline constexpr double CurrentSpread = 0.20;  // from the average
inline constexpr double NeutralHigh = 1.0;     // neutral current against the phase average
inline constexpr double NeutralWarning = 0.5;
inline constexpr double LowPowerFactor = 0.55;
inline constexpr double MinFrequency = 45;
inline constexpr double MaxFrequency = 65;
} // namespace installcheck
