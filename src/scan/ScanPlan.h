// The order in which Find Meter tries line settings and device addresses, what each answer
// means for the rest of the search, and how long the rest will take. Pure: the runner feeds
// it the answers and the elapsed time.
#pragma once

#include "platform/SerialLine.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// A line setting as the Connection Settings dialog offers it: a baud rate and an entry of its
// parity list.
struct TScanSetting {
    enum TParityEntry { Even, Odd, None2, None1 }; // the dialog's entries, in its order
    std::uint32_t Baud = 19200;
    int Parity = None1;
    bool operator==(const TScanSetting&) const = default;
};

TParity ParityOf(const TScanSetting& setting);
TStopBits StopBitsOf(const TScanSetting& setting);
QString ParityText(int entry);                    // "Even", "Odd", "None2", "None1"
QString SettingText(const TScanSetting& setting); // "9600 Even"

// The baud rates the dialog offers.
const std::vector<std::uint32_t>& OfferedBaudRates();

// Every line setting the dialog offers, most likely first: the dialog's own, the meter's
// factory setting, then the common rates with the common parities.
std::vector<TScanSetting> ScanSettingOrder(const TScanSetting& dialog);

// Seconds one unanswered probe costs at `baud`: the request on the wire, the silence that
// ends it, and the time a meter may take to begin its answer. Summed over a scan's probes,
// this is the least the scan can take.
double ProbeSeconds(std::uint32_t baud, double turnaroundSeconds);

// The times of one exchange at a baud rate, in seconds from the moment the request is handed
// to the port.
struct TProbeWindow {
    double BeginBy = 0; // the request on the wire and the turnaround: the answer has begun
    double Answer = 0;  // the whole answer on the wire at this rate
    double Slack = 0;   // how late an adapter may pass bytes on (its latency timer)
    double Silence = 0; // 3.5 characters: the end of a frame
};
TProbeWindow ProbeWindowFor(std::uint32_t baud, double turnaroundSeconds, std::size_t requestBytes,
                            std::size_t answerBytes);
// When an exchange stops waiting for its answer: at BeginBy when nothing came; once the first
// byte came at `firstByte`, when the whole answer could have followed it, passed on late.
double ExchangeEnd(const TProbeWindow& window, std::optional<double> firstByte);
// How long the line must stay quiet before the next request: 3.5 characters after a silent
// exchange; after bytes, long enough for an adapter to pass on what it still holds.
double QuietSeconds(const TProbeWindow& window, bool bytesCame);

// "about 2 min 10 s left", "about 40 s left", "less than a second left".
QString RemainingText(double seconds);

enum class TScanMode { FirstMeter, EveryMeter };

// What one probe brought back.
enum class TAnswerKind {
    Silent,      // nothing: nobody at this address, or a line setting the meter does not hear
    Meter,       // a clean identity block that decodes as a KT580
    Garbled,     // bytes that make no frame, or line errors: most likely a wrong setting
    OtherDevice, // a clean frame, but not a KT580's identity (or an exception)
};

struct TProbe {
    int Setting = 0; // index into the plan's settings
    std::uint8_t Address = 1;
    int Attempt = 0; // 1 (or 2 where clean frames came) when a garbled answer is asked again
    bool operator==(const TProbe&) const = default;
};

class TScanPlan {
public:
    static constexpr int MaxAddress = 247;
    // Meters commonly begin their answer 20-200 ms after a request: a probe gives them at
    // least this much, the window more.
    static constexpr double DefaultTurnaround = 0.100;
    static constexpr double DialogTurnaround = 0.150;

    // `likelyAddress` (the dialog's) and address 1 are tried at every setting before the
    // other addresses are.
    TScanPlan(std::vector<TScanSetting> settings, std::uint8_t likelyAddress, TScanMode mode,
              double turnaroundSeconds = DefaultTurnaround);

    const std::vector<TScanSetting>& Settings() const { return FSettings; }
    // How long a probe at `setting` waits for an answer to begin.
    double WaitSeconds(int setting) const {
        return ProbeSeconds(FSettings.at(setting).Baud, FTurnaround);
    }
    // The probe to send now; nothing when the scan is over.
    std::optional<TProbe> Current() const;
    // The answer to the current probe; moves to the next one.
    void Report(TAnswerKind answer);

    bool Done() const { return !Current().has_value(); }
    // How much of the planned work is behind, 0..1.
    double Fraction() const;
    // Seconds the rest will take. Once a few seconds have run, the model is corrected by the
    // ratio of the time really spent to the time it planned for the probes behind.
    double RemainingSeconds(double elapsedSeconds) const;
    // The planned cost of the whole scan, as estimated before it began.
    double PlannedSeconds() const { return FPlannedTotal; }
    // The least the probes answered so far could have taken (the sum of their ProbeSeconds).
    double FloorSeconds() const { return FPlannedDone; }
    double TurnaroundSeconds() const { return FTurnaround; }

    // Settings at which bytes came but never a clean frame, in the order they were seen.
    const std::vector<int>& GarbledSettings() const { return FGarbled; }
    // Settings abandoned after garbled answers: no more probes there.
    bool Abandoned(int setting) const { return FAbandoned.at(setting); }

private:
    struct TPosition {
        int Phase = 0; // 0: the likely addresses at every setting; 1: the others
        int Setting = 0;
        int Index = 0; // into the phase's address list
    };
    const std::vector<std::uint8_t>& Addresses(int phase) const;
    bool Skipped(int setting) const;
    void Advance();
    void SkipToUsable();
    int RemainingAt(int setting) const;

    std::vector<TScanSetting> FSettings;
    std::vector<std::uint8_t> FLikely;
    std::vector<std::uint8_t> FOthers;
    TScanMode FMode;
    double FTurnaround;
    TPosition FPos;
    int FAttempt = 0;
    bool FFinished = false;
    std::optional<int> FFoundAt; // every-meter mode: the setting the meters answer at
    std::vector<bool> FAbandoned;
    std::vector<bool> FClean; // a clean frame came at this setting
    std::vector<int> FGarbled;
    double FPlannedTotal = 0;
    double FPlannedDone = 0;
};
