#include "scan/ScanPlan.h"

#include <algorithm>
#include <cmath>

namespace {

// The meter leaves the factory at 19200 baud, no parity, one stop bit.
constexpr TScanSetting FactorySetting{19200, TScanSetting::None1};
// Rates in the order they are met in the field; parities likewise.
constexpr std::uint32_t CommonRates[] = {9600, 19200, 38400, 57600, 4800, 2400, 1200};
constexpr int CommonParities[] = {TScanSetting::None1, TScanSetting::Even, TScanSetting::Odd,
                                  TScanSetting::None2};
// Bits of one character on the wire, start and stop bits included (with parity or a second
// stop bit; one bit less without, which the estimate does not need to know).
constexpr double BitsPerCharacter = 11;
// The correction of the time estimate waits for this much evidence.
constexpr double CalibrationSeconds = 2.0;
// A USB adapter passes received bytes on when its latency timer runs out, 16 ms by default.
constexpr double DeliverySlackSeconds = 0.020;

} // namespace

TParity ParityOf(const TScanSetting& setting) {
    switch (setting.Parity) {
    case TScanSetting::Even:
        return TParity::Even;
    case TScanSetting::Odd:
        return TParity::Odd;
    default:
        return TParity::None;
    }
}

TStopBits StopBitsOf(const TScanSetting& setting) {
    return setting.Parity == TScanSetting::None2 ? TStopBits::_2 : TStopBits::_1;
}

QString ParityText(int entry) {
    switch (entry) {
    case TScanSetting::Even:
        return QStringLiteral("Even");
    case TScanSetting::Odd:
        return QStringLiteral("Odd");
    case TScanSetting::None2:
        return QStringLiteral("None2");
    default:
        return QStringLiteral("None1");
    }
}

QString SettingText(const TScanSetting& setting) {
    return QString::number(setting.Baud) + QLatin1Char(' ') + ParityText(setting.Parity);
}

const std::vector<std::uint32_t>& OfferedBaudRates() {
    static const std::vector<std::uint32_t> rates{1200, 2400, 4800, 9600, 19200, 38400, 57600};
    return rates;
}

std::vector<TScanSetting> ScanSettingOrder(const TScanSetting& dialog) {
    std::vector<TScanSetting> order;
    const auto add = [&order](const TScanSetting& s) {
        const auto& offered = OfferedBaudRates();
        if (std::find(offered.begin(), offered.end(), s.Baud) == offered.end() || s.Parity < 0 ||
            s.Parity > TScanSetting::None1)
            return;
        if (std::find(order.begin(), order.end(), s) == order.end())
            order.push_back(s);
    };
    add(dialog);
    add(FactorySetting);
    for (std::uint32_t baud : CommonRates)
        for (int parity : CommonParities)
            add({baud, parity});
    return order;
}

double ProbeSeconds(std::uint32_t baud, double turnaroundSeconds) {
    const double character = BitsPerCharacter / baud;
    // The eight request bytes, the 3.5-character silence that ends a frame, the turnaround.
    return 8 * character + 3.5 * character + turnaroundSeconds;
}

TProbeWindow ProbeWindowFor(std::uint32_t baud, double turnaroundSeconds, std::size_t requestBytes,
                            std::size_t answerBytes) {
    const double character = BitsPerCharacter / baud;
    TProbeWindow w;
    w.BeginBy = static_cast<double>(requestBytes) * character + turnaroundSeconds;
    w.Answer = static_cast<double>(answerBytes) * character;
    w.Silence = 3.5 * character;
    w.Slack = std::max(DeliverySlackSeconds, w.Silence);
    return w;
}

double ExchangeEnd(const TProbeWindow& window, std::optional<double> firstByte) {
    if (!firstByte)
        return window.BeginBy;
    return std::max(window.BeginBy, *firstByte + window.Answer) + window.Slack;
}

double QuietSeconds(const TProbeWindow& window, bool bytesCame) {
    return bytesCame ? window.Slack : window.Silence;
}

QString RemainingText(double seconds) {
    const long whole = std::lround(seconds);
    if (whole < 1)
        return QStringLiteral("less than a second left");
    if (whole < 60)
        return QStringLiteral("about %1 s left").arg(whole);
    return QStringLiteral("about %1 min %2 s left").arg(whole / 60).arg(whole % 60);
}

TScanPlan::TScanPlan(std::vector<TScanSetting> settings, std::uint8_t likelyAddress, TScanMode mode,
                     double turnaroundSeconds)
    : FSettings(std::move(settings)), FMode(mode), FTurnaround(turnaroundSeconds),
      FAbandoned(FSettings.size(), false), FClean(FSettings.size(), false) {
    if (likelyAddress >= 1 && likelyAddress <= MaxAddress)
        FLikely.push_back(likelyAddress);
    if (likelyAddress != 1)
        FLikely.push_back(1);
    for (int a = 1; a <= MaxAddress; ++a)
        if (std::find(FLikely.begin(), FLikely.end(), a) == FLikely.end())
            FOthers.push_back(static_cast<std::uint8_t>(a));
    for (const TScanSetting& s : FSettings)
        FPlannedTotal += MaxAddress * ProbeSeconds(s.Baud, FTurnaround);
    FFinished = FSettings.empty();
}

const std::vector<std::uint8_t>& TScanPlan::Addresses(int phase) const {
    return phase == 0 ? FLikely : FOthers;
}

bool TScanPlan::Skipped(int setting) const {
    return FAbandoned[setting] || (FFoundAt && *FFoundAt != setting);
}

std::optional<TProbe> TScanPlan::Current() const {
    if (FFinished)
        return std::nullopt;
    return TProbe{FPos.Setting, Addresses(FPos.Phase)[FPos.Index], FAttempt};
}

void TScanPlan::SkipToUsable() {
    while (!FFinished) {
        if (FPos.Index >= static_cast<int>(Addresses(FPos.Phase).size()) || Skipped(FPos.Setting)) {
            FPos.Index = 0;
            if (++FPos.Setting >= static_cast<int>(FSettings.size())) {
                FPos.Setting = 0;
                if (++FPos.Phase > 1)
                    FFinished = true;
            }
            continue;
        }
        return;
    }
}

void TScanPlan::Advance() {
    FAttempt = 0;
    ++FPos.Index;
    SkipToUsable();
}

void TScanPlan::Report(TAnswerKind answer) {
    const auto probe = Current();
    if (!probe)
        return;
    const int s = probe->Setting;
    FPlannedDone += ProbeSeconds(FSettings[s].Baud, FTurnaround);
    switch (answer) {
    case TAnswerKind::Meter:
        FClean[s] = true;
        if (FMode == TScanMode::FirstMeter) {
            FFinished = true;
            return;
        }
        // Meters on one pair of wires share its line setting: the rest is swept at this one.
        FFoundAt = s;
        break;
    case TAnswerKind::OtherDevice:
        FClean[s] = true;
        break;
    case TAnswerKind::Garbled:
        if (std::find(FGarbled.begin(), FGarbled.end(), s) == FGarbled.end() && !FClean[s])
            FGarbled.push_back(s);
        // Once more, so a burst of noise at the right setting does not lose the meter; twice
        // garbled where nothing clean ever came is a setting the line does not use. Where clean
        // frames came, a garbled answer is most likely a meter's, spoilt: a third try.
        if (probe->Attempt == 0 || (FClean[s] && probe->Attempt < 2)) {
            FAttempt = probe->Attempt + 1;
            return;
        }
        if (!FClean[s])
            FAbandoned[s] = true;
        break;
    case TAnswerKind::Silent:
        break;
    }
    if (FClean[s])
        std::erase(FGarbled, s);
    Advance();
}

int TScanPlan::RemainingAt(int setting) const {
    if (FFinished || Skipped(setting))
        return 0;
    const int likely = static_cast<int>(FLikely.size());
    const int others = static_cast<int>(FOthers.size());
    if (FPos.Phase == 0) {
        const int inLikely = setting > FPos.Setting    ? likely
                             : setting == FPos.Setting ? likely - FPos.Index
                                                       : 0;
        return inLikely + others;
    }
    return setting > FPos.Setting ? others : setting == FPos.Setting ? others - FPos.Index : 0;
}

double TScanPlan::Fraction() const {
    if (FFinished)
        return 1.0;
    double left = 0;
    for (std::size_t s = 0; s < FSettings.size(); ++s)
        left += RemainingAt(static_cast<int>(s)) * ProbeSeconds(FSettings[s].Baud, FTurnaround);
    // Against what is behind plus what is left: settings dropped on the way shrink the whole.
    return FPlannedDone + left > 0 ? std::clamp(FPlannedDone / (FPlannedDone + left), 0.0, 1.0)
                                   : 1.0;
}

double TScanPlan::RemainingSeconds(double elapsedSeconds) const {
    double left = 0;
    for (std::size_t s = 0; s < FSettings.size(); ++s)
        left += RemainingAt(static_cast<int>(s)) * ProbeSeconds(FSettings[s].Baud, FTurnaround);
    if (elapsedSeconds >= CalibrationSeconds && FPlannedDone > 0)
        left *= std::clamp(elapsedSeconds / FPlannedDone, 0.5, 2.0);
    return left;
}
