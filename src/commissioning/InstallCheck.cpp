#include "commissioning/InstallCheck.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace {

using namespace installcheck;

const char* const WiringNames[] = {"3LN", "3LL", "2LL", "1LL", "1LN"};
const char* const PhaseNames[] = {"A", "B", "C"};

QString Number(double x, int decimals) {
    return QLocale().toString(x, 'f', decimals);
}

QString Value(const TMeasurement& m, int q) {
    const TQuantityInfo& info = QuantityInfo(q);
    QString text =
        QString::fromLatin1(info.Name) + QStringLiteral(" ") + Number(m.Values[q], info.Decimals);
    if (*info.Unit)
        text += QLatin1Char(' ') + QString::fromLatin1(info.Unit);
    return text;
}

QString Values(const TMeasurement& m, std::initializer_list<int> quantities) {
    QStringList parts;
    for (int q : quantities)
        parts << Value(m, q);
    return parts.join(QStringLiteral(", "));
}

TCheckResult CannotJudge(const char* check, const QString& why) {
    return {QString::fromLatin1(check), TVerdict::CannotJudge, QString(), why};
}

bool ThreePhase(int wiring) {
    return wiring >= 0 && wiring <= 2;
}

bool HasNeutral(int wiring) {
    return wiring == 0 || wiring == 4;
}

// The voltages the wiring measures: phase-to-neutral for 3LN and 1LN, line-to-line otherwise.
std::vector<int> MeasuredVoltages(int wiring) {
    switch (wiring) {
    case 0:
        return {qVa, qVb, qVc};
    case 1:
    case 2:
        return {qVab, qVbc, qVca};
    case 3:
        return {qVab};
    case 4:
        return {qVa};
    default:
        return {};
    }
}

TCheckResult VoltagesPresent(const TMeasurement& m, int wiring) {
    const char* check = "Voltages present";
    const std::vector<int> qs = MeasuredVoltages(wiring);
    if (qs.empty())
        return CannotJudge(check, QStringLiteral("The wiring setting has not been read."));
    double highest = 0;
    for (int q : qs)
        highest = std::max(highest, m.Values[q]);
    QStringList values;
    QStringList missing;
    for (int q : qs) {
        values << Value(m, q);
        if (highest <= 0 || m.Values[q] < PresentFraction * highest)
            missing << QString::fromLatin1(QuantityInfo(q).Name);
    }
    if (missing.isEmpty())
        return {QString::fromLatin1(check), TVerdict::Good, values.join(QStringLiteral(", ")),
                QStringLiteral("Every voltage the wiring measures is present.")};
    return {QString::fromLatin1(check), TVerdict::Fault, values.join(QStringLiteral(", ")),
            QStringLiteral("No voltage on %1: check the fuses and the voltage connections.")
                .arg(missing.join(QStringLiteral(", ")))};
}

TCheckResult VoltageBalance(const TMeasurement& m, int wiring) {
    const char* check = "Voltage balance";
    const std::vector<int> qs = MeasuredVoltages(wiring);
    if (qs.size() < 3)
        return CannotJudge(
            check, qs.empty() ? QStringLiteral("The wiring setting has not been read.")
                              : QStringLiteral("A single-phase wiring has nothing to balance."));
    // A missing voltage (as "Voltages present" finds it) is named alone: it would drag the
    // average down and make the phases that are there look off too.
    double highest = 0;
    for (int q : qs)
        highest = std::max(highest, m.Values[q]);
    QStringList missing;
    double sum = 0;
    int present = 0;
    for (int q : qs) {
        if (highest <= 0 || m.Values[q] < PresentFraction * highest) {
            missing << QString::fromLatin1(QuantityInfo(q).Name);
            continue;
        }
        sum += m.Values[q];
        ++present;
    }
    const double average = present > 0 ? sum / present : 0;
    QStringList values;
    for (int q : qs)
        values << Value(m, q);
    values << QStringLiteral("average %1 V").arg(Number(average, 1));
    if (!missing.isEmpty())
        return {QString::fromLatin1(check), TVerdict::Warning, values.join(QStringLiteral(", ")),
                QStringLiteral("No voltage on %1: the voltages that are there cannot balance; "
                               "see Voltages present.")
                    .arg(missing.join(QStringLiteral(", ")))};
    QStringList off;
    for (int q : qs)
        if (std::abs(m.Values[q] - average) > VoltageSpread * average)
            off << QString::fromLatin1(QuantityInfo(q).Name);
    if (off.isEmpty())
        return {QString::fromLatin1(check), TVerdict::Good, values.join(QStringLiteral(", ")),
                QStringLiteral("All within 10 % of their average.")};
    return {QString::fromLatin1(check), TVerdict::Warning, values.join(QStringLiteral(", ")),
            QStringLiteral("%1 more than 10 % from the average: check the supply and the voltage "
                           "connections.")
                .arg(off.join(QStringLiteral(", ")))};
}

TCheckResult LineToNeutral(const TMeasurement& m, int wiring) {
    const char* check = "Line-to-line against line-to-neutral";
    if (wiring < 0)
        return CannotJudge(check, QStringLiteral("The wiring setting has not been read."));
    const double ln = (m.Values[qVa] + m.Values[qVb] + m.Values[qVc]) / 3;
    const double ll = (m.Values[qVab] + m.Values[qVbc] + m.Values[qVca]) / 3;
    const QString values = Values(m, {qVa, qVb, qVc, qVab, qVbc, qVca});
    if (ln <= 0 || ll <= 0)
        return {QString::fromLatin1(check), TVerdict::CannotJudge, values,
                QStringLiteral("No voltage to compare.")};
    const double ratio = ll / ln;
    const QString ratioText = values + QStringLiteral(", ratio %1").arg(Number(ratio, 3));
    const bool root3 = std::abs(ratio / std::sqrt(3.0) - 1) <= RatioTolerance;
    if (wiring == 0) {
        if (root3)
            return {QString::fromLatin1(check), TVerdict::Good, ratioText,
                    QStringLiteral("Line-to-line voltages are the square root of 3 times the "
                                   "line-to-neutral ones, as a 3LN wiring gives.")};
        // Per phase: a pair sharing the missing phase shows only the other phase's voltage.
        return {QString::fromLatin1(check), TVerdict::Fault, ratioText,
                QStringLiteral("Expected a ratio of 1.732: a missing phase, a phase connected "
                               "twice, or a wiring that is not 3LN.")};
    }
    if (ThreePhase(wiring) && root3 && m.Values[qVa] > 0 && m.Values[qVb] > 0 && m.Values[qVc] > 0)
        return {QString::fromLatin1(check), TVerdict::Warning, ratioText,
                QStringLiteral("The voltages show a four-wire connection with neutral, but the "
                               "wiring setting is %1: check the Voltage setting (3LN?).")
                    .arg(QLatin1String(WiringNames[wiring]))};
    return {QString::fromLatin1(check), TVerdict::CannotJudge, ratioText,
            QStringLiteral("Only a 3LN wiring is judged by this rule (the setting is %1).")
                .arg(QLatin1String(WiringNames[std::clamp(wiring, 0, 4)]))};
}

// The load is too small to judge when every current is under 5 % of the CT primary.
std::optional<QString> TooSmall(const TMeasurement& m, double ctPrimary) {
    if (ctPrimary <= 0)
        return QStringLiteral("The CT primary has not been read.");
    const double highest = std::max({m.Values[qIa], m.Values[qIb], m.Values[qIc]});
    if (highest < SmallLoad * ctPrimary)
        return QStringLiteral("The load is too small to judge: every current is under 5 % of "
                              "the CT primary (%1 A).")
            .arg(Number(ctPrimary, 0));
    return std::nullopt;
}

TCheckResult CurrentBalance(const TMeasurement& m, const TInstallInputs& in) {
    const char* check = "Current balance";
    if (!ThreePhase(in.VoltageWiring))
        return CannotJudge(check,
                           in.VoltageWiring < 0
                               ? QStringLiteral("The wiring setting has not been read.")
                               : QStringLiteral("A single-phase wiring has nothing to balance."));
    if (const auto why = TooSmall(m, in.CTPrimary))
        return {QString::fromLatin1(check), TVerdict::CannotJudge, Values(m, {qIa, qIb, qIc}),
                *why};
    const double average = (m.Values[qIa] + m.Values[qIb] + m.Values[qIc]) / 3;
    QStringList off;
    QStringList none;
    for (int k = 0; k < 3; ++k) {
        const double i = m.Values[qIa + k];
        if (i < SmallLoad * in.CTPrimary / 5)
            none << QString::fromLatin1(PhaseNames[k]);
        else if (std::abs(i - average) > CurrentSpread * average)
            off << QString::fromLatin1(QuantityInfo(qIa + k).Name);
    }
    const QString values =
        Values(m, {qIa, qIb, qIc}) + QStringLiteral(", average %1 A").arg(Number(average, 3));
    if (!none.isEmpty())
        return {QString::fromLatin1(check), TVerdict::Fault, values,
                QStringLiteral("No current on phase %1 while the others carry load: check that "
                               "CT's connection and its shorting link.")
                    .arg(none.join(QStringLiteral(", ")))};
    if (!off.isEmpty())
        return {QString::fromLatin1(check), TVerdict::Warning, values,
                QStringLiteral("%1 more than 20 % from the average: an unbalanced load, or a CT of "
                               "another ratio on that phase.")
                    .arg(off.join(QStringLiteral(", ")))};
    return {QString::fromLatin1(check), TVerdict::Good, values,
            QStringLiteral("All within 20 % of their average.")};
}

TCheckResult NeutralCurrent(const TMeasurement& m, const TInstallInputs& in) {
    const char* check = "Neutral current";
    if (!HasNeutral(in.VoltageWiring) || in.VoltageWiring == 4)
        return CannotJudge(check, in.VoltageWiring < 0
                                      ? QStringLiteral("The wiring setting has not been read.")
                                      : QStringLiteral("Judged only for a 3LN wiring."));
    const QString values = Values(m, {qIn, qIAvg});
    if (const auto why = TooSmall(m, in.CTPrimary))
        return {QString::fromLatin1(check), TVerdict::CannotJudge, values, *why};
    const double average = m.Values[qIAvg];
    if (m.Values[qIn] > NeutralHigh * average)
        return {QString::fromLatin1(check), TVerdict::Fault, values,
                QStringLiteral("The neutral current exceeds the average phase current: a reversed "
                               "current transformer, or the CTs on the wrong phases.")};
    if (m.Values[qIn] > NeutralWarning * average)
        return {QString::fromLatin1(check), TVerdict::Warning, values,
                QStringLiteral("A high neutral current: an unbalanced or non-linear load; check "
                               "the CT polarity if the load should be balanced.")};
    return {QString::fromLatin1(check), TVerdict::Good, values,
            QStringLiteral("Small against the phase currents.")};
}

TCheckResult PowerDirection(const TMeasurement& m, const TInstallInputs& in) {
    const char* check = "Active power direction";
    QString values = Values(m, {qP, qQ});
    if (in.LoadConvention >= 0)
        values += in.LoadConvention == 0 ? QStringLiteral(", convention IEC")
                                         : QStringLiteral(", convention IEEE");
    if (const auto why = TooSmall(m, in.CTPrimary))
        return {QString::fromLatin1(check), TVerdict::CannotJudge, values, *why};
    if (m.Values[qP] < 0)
        return {QString::fromLatin1(check), TVerdict::Warning, values,
                QStringLiteral("Power flows towards the supply: a reversed current transformer "
                               "set (P1/P2 or S1/S2 swapped), unless the site exports.")};
    return {QString::fromLatin1(check), TVerdict::Good, values,
            QStringLiteral("Power flows into the load (import).")};
}

TCheckResult PowerFactor(const TMeasurement& m, const TInstallInputs& in) {
    const char* check = "Power factor";
    const QString values = Values(m, {qPF}) + QStringLiteral(", load type ") +
                           (m.LoadType >= 32 && m.LoadType < 127 ? QString(QLatin1Char(m.LoadType))
                                                                 : QStringLiteral("--"));
    if (const auto why = TooSmall(m, in.CTPrimary))
        return {QString::fromLatin1(check), TVerdict::CannotJudge, values, *why};
    if (std::abs(m.Values[qPF]) < LowPowerFactor)
        return {QString::fromLatin1(check), TVerdict::Warning, values,
                QStringLiteral("Below 0.55: a CT on another phase than its voltage, or a largely "
                               "reactive load.")};
    return {QString::fromLatin1(check), TVerdict::Good, values,
            QStringLiteral("At or above 0.55.")};
}

TCheckResult Frequency(const TMeasurement& m) {
    const double f = m.Values[qF];
    const QString values = Values(m, {qF});
    if (f >= MinFrequency && f <= MaxFrequency)
        return {QStringLiteral("Frequency"), TVerdict::Good, values,
                QStringLiteral("Within 45-65 Hz.")};
    return {QStringLiteral("Frequency"), TVerdict::Fault, values,
            QStringLiteral("Outside 45-65 Hz: no voltage on the reference phase, or a disturbed "
                           "supply.")};
}

} // namespace

QString VerdictText(TVerdict verdict) {
    switch (verdict) {
    case TVerdict::Good:
        return QStringLiteral("good");
    case TVerdict::Warning:
        return QStringLiteral("warning");
    case TVerdict::Fault:
        return QStringLiteral("fault");
    case TVerdict::CannotJudge:
        break;
    }
    return QStringLiteral("cannot judge");
}

TRgb VerdictColourOn(TVerdict verdict, const TRgb& background) {
    TRgb hue{96, 96, 96};
    switch (verdict) {
    case TVerdict::Good:
        hue = {0, 128, 0};
        break;
    case TVerdict::Warning:
        hue = {168, 100, 0};
        break;
    case TVerdict::Fault:
        hue = {192, 0, 0};
        break;
    case TVerdict::CannotJudge:
        break;
    }
    return ReadableOn(hue, background);
}

TChecksSummary ChecksSummary(const std::vector<TCheckResult>& results) {
    // From the worst down; a check not judged still leaves the installation unproven.
    struct TKind {
        TVerdict Verdict;
        const char* One;
        const char* Many;
    };
    static constexpr TKind Kinds[] = {{TVerdict::Fault, "fault", "faults"},
                                      {TVerdict::Warning, "warning", "warnings"},
                                      {TVerdict::CannotJudge, "not judged", "not judged"}};
    TChecksSummary overall;
    QStringList counts;
    QString first;
    for (const TKind& kind : Kinds) {
        const auto same = [&kind](const TCheckResult& r) { return r.Verdict == kind.Verdict; };
        const auto n = std::count_if(results.begin(), results.end(), same);
        if (n == 0)
            continue;
        counts << QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? kind.One : kind.Many));
        if (first.isEmpty()) {
            overall.Worst = kind.Verdict;
            first = std::find_if(results.begin(), results.end(), same)->Check;
        }
    }
    if (results.empty())
        overall = {TVerdict::CannotJudge, QStringLiteral("No checks yet.")};
    else if (counts.isEmpty())
        overall.Text = QStringLiteral("All checks passed.");
    else
        overall.Text = counts.join(QStringLiteral(", ")) + QStringLiteral(": ") + first;
    // A meter that cannot show a rule's values leaves it unjudged on every visit: say what did
    // pass before what could not be judged.
    if (overall.Worst == TVerdict::CannotJudge && !results.empty())
        overall.Text.prepend(QStringLiteral("All judged checks passed; "));
    return overall;
}

std::vector<TCheckResult> CheckInstallation(const TInstallInputs& in) {
    std::vector<TCheckResult> results;
    if (!in.Measurement) {
        results.push_back(CannotJudge("Measurements", QStringLiteral("No measurements yet.")));
    } else {
        const TMeasurement& m = *in.Measurement;
        results.push_back(VoltagesPresent(m, in.VoltageWiring));
        results.push_back(VoltageBalance(m, in.VoltageWiring));
        results.push_back(LineToNeutral(m, in.VoltageWiring));
        results.push_back(CurrentBalance(m, in));
        results.push_back(NeutralCurrent(m, in));
        results.push_back(PowerDirection(m, in));
        results.push_back(PowerFactor(m, in));
        results.push_back(Frequency(m));
    }
    results.push_back(CannotJudge(
        "Phase rotation and per-phase power",
        QStringLiteral("This meter's registers give no per-phase power and no phase angles, so "
                       "the phase rotation and the direction of each phase's power cannot be "
                       "shown. Check the rotation with a rotation tester.")));
    return results;
}
