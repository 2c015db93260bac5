#include "scan/ScanRunner.h"

#include "platform/Event.h"
#include "platform/SerialDevice.h"
#include "scan/ProbeAnswer.h"
#include "serial/OpenFailure.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

namespace {

using TClock = std::chrono::steady_clock;

// The longest a probe waits for the port to take its request.
constexpr int WriteWaitMs = 1000;

int MillisecondsUntil(TClock::time_point when) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - TClock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

enum class TExchange { Done, Stopped, Vanished, Stuck };

struct TProbeResult {
    std::string Received;
    bool LineErrors = false;
    bool LateBytes = false; // bytes came after the exchange's window: dropped, never credited
};

TClock::duration Span(double seconds) {
    return std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(seconds));
}

// The longest the line may chatter after an exchange before the scan goes on regardless.
constexpr double LongestChatterSeconds = 1.0;

TLineSettings LineFor(const TScanSetting& s) {
    TLineSettings line;
    line.BaudRate = s.Baud;
    line.Parity = ParityOf(s);
    line.ParityCheck = line.Parity != TParity::None;
    line.StopBits = StopBitsOf(s);
    line.ByteSize = TByteSize::_8;
    // Binary frames: software flow control would swallow 0x11 and 0x13.
    line.Outx_XonXoffFlow = false;
    line.Inx_XonXoffFlow = false;
    return line;
}

bool ErrorsBetween(const TLineCounters& before, const TLineCounters& after) {
    return after.Frame != before.Frame || after.Parity != before.Parity ||
           after.Overrun != before.Overrun || after.BufOverrun != before.BufOverrun;
}

// The part of `received` after an echo of `request` (adapters that hear themselves).
std::string_view AfterEcho(std::string_view received, const std::string& request) {
    return received.substr(received.rfind(request, 0) == 0 ? request.size() : 0);
}

// True once `received` holds more than an echo of `request`, or all of it.
bool AnswerBegun(std::string_view received, const std::string& request) {
    if (received.size() <= request.size())
        return !received.empty() &&
               std::string_view(request).substr(0, received.size()) != received;
    return true;
}

// Writes the whole of `request`, waiting for the port to take each part.
TExchange SendRequest(TSerialDevice& device, const TEvent& stop, const std::string& request) {
    std::size_t sent = 0;
    while (sent < request.size()) {
        const TIoResult w = device.Write(request.data() + sent, request.size() - sent);
        if (w.Status == TIoStatus::Ok) {
            sent += w.Count;
            continue;
        }
        if (w.Status != TIoStatus::WouldBlock)
            return TExchange::Vanished;
        const TWaitStatus ws = device.Wait(TWaitFor::Writable, stop, WriteWaitMs);
        if (ws == TWaitStatus::Stopped)
            return TExchange::Stopped;
        // A port that takes nothing for a whole second sends nothing at all: flow control
        // held, or nobody drains the line. Waiting on would hang the scan.
        if (ws == TWaitStatus::TimedOut)
            return TExchange::Stuck;
        if (ws != TWaitStatus::Ready)
            return TExchange::Vanished;
    }
    return TExchange::Done;
}

// What one exchange asks for and the times it keeps.
struct TAsk {
    const std::string& Request;
    TProbeWindow Window;
    std::uint8_t Address;
    int Registers;
};

// Reads what the port holds into `received`; false when the device is gone.
bool ReadInto(TSerialDevice& device, std::string& received) {
    char buffer[256];
    const TIoResult r = device.Read(buffer, sizeof buffer);
    if (r.Status == TIoStatus::Fatal || r.Status == TIoStatus::Invalid)
        return false;
    if (r.Status == TIoStatus::Ok)
        received.append(buffer, r.Count);
    return true;
}

// Collects the answer to a request handed to the port at `sent` into `received`: until it is
// complete, or until its window ends (see ExchangeEnd).
// How a wait for bytes ends the exchange, if it does: stopped, the device gone, or time up.
std::optional<TExchange> EndOfWait(TWaitStatus ws) {
    if (ws == TWaitStatus::Stopped)
        return TExchange::Stopped;
    if (ws == TWaitStatus::Fatal || ws == TWaitStatus::Invalid)
        return TExchange::Vanished;
    if (ws == TWaitStatus::TimedOut)
        return TExchange::Done;
    return std::nullopt;
}

TExchange CollectAnswer(TSerialDevice& device, const TEvent& stop, const TAsk& ask,
                        TClock::time_point sent, std::string& received) {
    auto end = sent + Span(ExchangeEnd(ask.Window, std::nullopt));
    for (;;) {
        const TWaitStatus ws = device.Wait(TWaitFor::Readable, stop, MillisecondsUntil(end));
        if (const auto ended = EndOfWait(ws))
            return *ended;
        const bool first = !AnswerBegun(received, ask.Request);
        if (!ReadInto(device, received))
            return TExchange::Vanished;
        if (first && AnswerBegun(received, ask.Request))
            end = sent +
                  Span(ExchangeEnd(ask.Window,
                                   std::chrono::duration<double>(TClock::now() - sent).count()));
        if (AnswerComplete(AfterEcho(received, ask.Request), ask.Address, ask.Registers))
            return TExchange::Done;
        if (TClock::now() >= end)
            return TExchange::Done;
    }
}

// Reads and drops what still comes until the line has been quiet for `quiet` seconds, so that a
// late answer is never taken for the next request's. A line that never falls quiet is left
// after a second; the next request purges what it holds.
TExchange AwaitQuiet(TSerialDevice& device, const TEvent& stop, double quiet, bool& lateBytes) {
    const auto giveUp = TClock::now() + Span(LongestChatterSeconds);
    auto quietUntil = TClock::now() + Span(quiet);
    std::string dropped;
    for (;;) {
        const TWaitStatus ws =
            device.Wait(TWaitFor::Readable, stop, MillisecondsUntil(std::min(quietUntil, giveUp)));
        if (const auto ended = EndOfWait(ws))
            return *ended;
        dropped.clear();
        if (!ReadInto(device, dropped))
            return TExchange::Vanished;
        if (!dropped.empty()) {
            lateBytes = true;
            quietUntil = TClock::now() + Span(quiet);
        }
        if (TClock::now() >= giveUp)
            return TExchange::Done;
    }
}

// Sends the request, collects its answer and waits for the line to fall quiet, noting whether
// the driver saw line errors meanwhile.
TExchange Exchange(TSerialDevice& device, const TEvent& stop, const TAsk& ask,
                   TProbeResult& result) {
    result = {};
    device.Purge(TPurge::Rx);
    TLineCounters before;
    const bool counters = device.LineCounters(before) == TCounterStatus::Ok;
    TExchange exchange = SendRequest(device, stop, ask.Request);
    if (exchange == TExchange::Done)
        exchange = CollectAnswer(device, stop, ask, TClock::now(), result.Received);
    if (exchange == TExchange::Done)
        exchange = AwaitQuiet(device, stop, QuietSeconds(ask.Window, !result.Received.empty()),
                              result.LateBytes);
    if (exchange != TExchange::Done)
        return exchange;
    TLineCounters after;
    if (counters && device.LineCounters(after) == TCounterStatus::Ok)
        result.LineErrors = ErrorsBetween(before, after);
    return TExchange::Done;
}

// One scan on an open device: the plan, the status it builds and the notes already made.
class TScanSession {
public:
    TScanSession(TSerialDevice& device, const QString& portName, TScanPlan& plan,
                 const TEvent& stop, const std::function<void(const TScanStatus&)>& progress)
        : FDevice(device), FPortName(portName), FPlan(plan), FStop(stop), FProgress(progress),
          FStarted(TClock::now()) {}

    TScanStatus Run(const std::string& path);

private:
    bool Open(const std::string& path);
    void Report();
    TExchange Probe(const TProbe& probe);
    TExchange Ask(const TProbe& probe, const std::string& request, std::size_t answerBytes,
                  TProbeResult& result);
    TExchange Confirm(const TProbe& probe, const TIdentityAnswer& answer, bool& confirmed);
    TExchange CompleteMeter(const TProbe& probe, const TIdentityAnswer& answer);
    void NoteOtherDevice(const TProbe& probe);
    void NoteLate();
    void NoteGarbled();
    bool Ended(TExchange exchange);

    TSerialDevice& FDevice;
    const QString& FPortName;
    TScanPlan& FPlan;
    const TEvent& FStop;
    const std::function<void(const TScanStatus&)>& FProgress;
    const TClock::time_point FStarted;
    TScanStatus FStatus;
    int FApplied = -1; // the setting the line has now
    std::vector<int> FNotedGarbled;
    std::vector<std::pair<int, std::uint8_t>> FNotedOthers;
    bool FNotedLate = false;
    double FExtraFloor = 0;  // the floor of the exchanges outside the plan: confirmations, serials
    bool FSweepOver = false; // a device answers every address: nothing more to learn
};

void TScanSession::Report() {
    FStatus.ElapsedSeconds = std::chrono::duration<double>(TClock::now() - FStarted).count();
    FStatus.Fraction = FPlan.Fraction();
    FStatus.FloorSeconds = FPlan.FloorSeconds() + FExtraFloor;
    FStatus.RemainingSeconds = FPlan.RemainingSeconds(FStatus.ElapsedSeconds);
    if (FProgress)
        FProgress(FStatus);
}

bool TScanSession::Open(const std::string& path) {
    const TOpenResult opened = FDevice.Open(path);
    if (opened.Status != TOpenStatus::Ok) {
        FStatus.End = TScanStatus::OpenFailed;
        FStatus.SystemError = opened.Error;
        FStatus.Failure = QString::fromStdString(OpenFailureReason(
            opened.Error,
            opened.Status == TOpenStatus::NotComm ? "not a serial port" : "cannot be opened"));
        FDevice.Close();
        return false;
    }
    TCommTimeouts timeouts;
    timeouts.ReadIntervalTimeout = 5;
    FDevice.ApplyTimeouts(timeouts);
    return true;
}

// One exchange of the probe's address at its setting.
TExchange TScanSession::Ask(const TProbe& probe, const std::string& request,
                            std::size_t answerBytes, TProbeResult& result) {
    const TScanSetting& setting = FPlan.Settings()[probe.Setting];
    const TAsk ask{
        request,
        ProbeWindowFor(setting.Baud, FPlan.TurnaroundSeconds(), request.size(), answerBytes),
        probe.Address, static_cast<int>((answerBytes - 5) / 2)};
    const TExchange exchange = Exchange(FDevice, FStop, ask, result);
    // Bytes that begin only after a silent window are a late answer.
    if (result.LateBytes && result.Received.empty())
        NoteLate();
    return exchange;
}

// A meter's identity asked once more at the same setting: bytes that were a late answer to an
// earlier request, or noise that looked like an answer, do not come twice. A garbled second
// answer is asked for again; silence means the first was not this probe's.
TExchange TScanSession::Confirm(const TProbe& probe, const TIdentityAnswer& answer,
                                bool& confirmed) {
    constexpr int Attempts = 3;
    confirmed = false;
    const std::string request = IdentityRequest(probe.Address);
    TProbeResult result;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        FExtraFloor +=
            ProbeSeconds(FPlan.Settings()[probe.Setting].Baud, FPlan.TurnaroundSeconds());
        if (const TExchange e = Ask(probe, request, IdentityAnswerLength, result);
            e != TExchange::Done)
            return e;
        const TIdentityAnswer again =
            ClassifyIdentity(result.Received, request, probe.Address, result.LineErrors);
        if (again.Kind == TAnswerKind::Silent)
            return TExchange::Done;
        if (again.Kind == TAnswerKind::Meter) {
            confirmed =
                again.DeviceType == answer.DeviceType && again.SoftVersion == answer.SoftVersion;
            return TExchange::Done;
        }
    }
    return TExchange::Done;
}

// Asks a meter found for its serial number and adds it to the status unless it is known, or
// ends the sweep when the same device has answered at another address.
TExchange TScanSession::CompleteMeter(const TProbe& probe, const TIdentityAnswer& answer) {
    constexpr int Attempts = 3;
    const TScanSetting& setting = FPlan.Settings()[probe.Setting];
    TMeterFound found{FPortName,    probe.Address,      setting,
                      answer.Model, answer.SoftVersion, QString()};
    // The serial number completes the entry; a noisy answer is asked for again.
    const std::string request = SerialNumberRequest(probe.Address);
    TProbeResult result;
    TExchange exchange = TExchange::Done;
    for (int attempt = 0; attempt < Attempts && exchange == TExchange::Done; ++attempt) {
        FExtraFloor += ProbeSeconds(setting.Baud, FPlan.TurnaroundSeconds());
        exchange = Ask(probe, request, SerialNumberAnswerLength, result);
        if (const auto serial =
                SerialNumberOf(AfterEcho(result.Received, request), probe.Address)) {
            found.SerialNumber = *serial;
            break;
        }
    }
    if (const auto first = SameDeviceAs(FStatus.Found, found)) {
        FSweepOver = true;
        FStatus.Notes << QStringLiteral("one device answers every address (at %1 and %2, serial "
                                        "number %3): a gateway or a meter that does not check "
                                        "the address; listed once, the search stopped")
                             .arg(first->Address)
                             .arg(found.Address)
                             .arg(found.SerialNumber);
        return exchange;
    }
    const bool known =
        std::any_of(FStatus.Found.begin(), FStatus.Found.end(), [&](const TMeterFound& m) {
            return m.Address == found.Address && m.Setting == found.Setting;
        });
    if (!known)
        FStatus.Found.push_back(found);
    return exchange;
}

void TScanSession::NoteLate() {
    if (FNotedLate)
        return;
    FNotedLate = true;
    FStatus.Notes << QStringLiteral("answers came after the %1 ms a meter is given (not "
                                    "counted): a slower meter needs a longer wait")
                         .arg(std::lround(FPlan.TurnaroundSeconds() * 1000));
}

void TScanSession::NoteOtherDevice(const TProbe& probe) {
    const std::pair key{probe.Setting, probe.Address};
    if (std::find(FNotedOthers.begin(), FNotedOthers.end(), key) != FNotedOthers.end())
        return;
    FNotedOthers.push_back(key);
    FStatus.Notes << QStringLiteral("a device that is not a KT580 at address %1, %2")
                         .arg(probe.Address)
                         .arg(SettingText(FPlan.Settings()[probe.Setting]));
}

void TScanSession::NoteGarbled() {
    for (int s : FPlan.GarbledSettings()) {
        if (FPlan.Abandoned(s) &&
            std::find(FNotedGarbled.begin(), FNotedGarbled.end(), s) == FNotedGarbled.end()) {
            FNotedGarbled.push_back(s);
            FStatus.Notes
                << QStringLiteral("bytes at %1, but garbled").arg(SettingText(FPlan.Settings()[s]));
        }
    }
}

// Sends the current probe and, when it was answered in full, reports its answer to the plan.
TExchange TScanSession::Probe(const TProbe& probe) {
    const TScanSetting& setting = FPlan.Settings()[probe.Setting];
    if (probe.Setting != FApplied) {
        FDevice.ApplyLineSettings(LineFor(setting));
        FApplied = probe.Setting;
    }
    FStatus.Trying =
        SettingText(setting) + QStringLiteral(", address ") + QString::number(probe.Address);
    const std::string request = IdentityRequest(probe.Address);
    TProbeResult result;
    TExchange exchange = Ask(probe, request, IdentityAnswerLength, result);
    if (exchange != TExchange::Done)
        return exchange;
    TIdentityAnswer answer =
        ClassifyIdentity(result.Received, request, probe.Address, result.LineErrors);
    if (answer.Kind == TAnswerKind::Meter) {
        bool confirmed = false;
        exchange = Confirm(probe, answer, confirmed);
        // An answer that does not come again when asked at once was not this probe's: most
        // likely a meter slower than the wait, answering an earlier probe.
        if (!confirmed) {
            answer.Kind = TAnswerKind::Silent;
            NoteLate();
        }
    }
    if (exchange == TExchange::Done && answer.Kind == TAnswerKind::Meter)
        exchange = CompleteMeter(probe, answer);
    else if (answer.Kind == TAnswerKind::OtherDevice)
        NoteOtherDevice(probe);
    if (exchange == TExchange::Done)
        FPlan.Report(answer.Kind);
    return exchange;
}

// Records why the scan ends after `exchange`, if it does.
bool TScanSession::Ended(TExchange exchange) {
    if (exchange == TExchange::Stopped) {
        FStatus.End = TScanStatus::Cancelled;
        return true;
    }
    if (exchange == TExchange::Vanished || exchange == TExchange::Stuck) {
        FStatus.End = TScanStatus::Vanished;
        FStatus.Failure = exchange == TExchange::Stuck ? QStringLiteral("the port sends nothing")
                                                       : QStringLiteral("the port vanished");
        return true;
    }
    return false;
}

TScanStatus TScanSession::Run(const std::string& path) {
    if (!Open(path)) {
        Report();
        return FStatus;
    }
    const auto& settings = FPlan.Settings();
    FStatus.Trying = FPlan.Current() ? SettingText(settings[FPlan.Current()->Setting]) : QString();
    Report();
    while (auto probe = FPlan.Current()) {
        if (Ended(Probe(*probe)) || FSweepOver)
            break;
        NoteGarbled();
        Report();
    }
    FDevice.Close();
    if (FStatus.End == TScanStatus::Running)
        FStatus.End = TScanStatus::Finished;
    FStatus.Trying.clear();
    Report();
    return FStatus;
}

} // namespace

std::optional<TMeterFound> SameDeviceAs(const std::vector<TMeterFound>& found,
                                        const TMeterFound& next) {
    if (next.SerialNumber.isEmpty())
        return std::nullopt;
    for (const TMeterFound& m : found)
        if (m.Setting == next.Setting && m.Address != next.Address &&
            m.SerialNumber == next.SerialNumber && m.Model == next.Model)
            return m;
    return std::nullopt;
}

TScanStatus RunScan(TSerialDevice& device, const std::string& path, const QString& portName,
                    TScanPlan plan, const TEvent& stop,
                    const std::function<void(const TScanStatus&)>& progress) {
    return TScanSession(device, portName, plan, stop, progress).Run(path);
}
