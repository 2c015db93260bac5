#include "scan/ScanRunner.h"

#include "platform/Event.h"
#include "platform/SerialDevice.h"
#include "scan/ProbeAnswer.h"
#include "serial/OpenFailure.h"

#include <algorithm>
#include <chrono>

namespace {

using TClock = std::chrono::steady_clock;

// The longest a probe waits for the port to take its request.
constexpr int WriteWaitMs = 1000;

// How long the line may stay quiet inside an answer before it is taken as ended: four
// characters, but not under 5 ms, which is how finely a busy PC wakes up.
double GapSeconds(std::uint32_t baud) {
    return std::max(0.005, 4 * 11.0 / baud);
}

int MillisecondsUntil(TClock::time_point when) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - TClock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

enum class TExchange { Done, Stopped, Vanished, Stuck };

struct TProbeResult {
    std::string Received;
    bool LineErrors = false;
};

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

// What one probe asks for and how long it waits for the answer to begin.
struct TAsk {
    const std::string& Request;
    std::uint32_t Baud;
    double WaitSeconds;
    std::uint8_t Address;
    int Registers;
};

// Collects what comes back into `received` until the answer is complete, the line falls
// silent after it, or nothing has begun by the time a meter would have answered.
TExchange CollectAnswer(TSerialDevice& device, const TEvent& stop, const TAsk& ask,
                        std::string& received) {
    const auto seconds = [](double s) {
        return std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(s));
    };
    auto deadline = TClock::now() + seconds(ask.WaitSeconds);
    // An answer that has begun is given room to finish even at the slowest rate.
    const auto last = deadline + seconds(64 * 11.0 / ask.Baud);
    for (;;) {
        const TWaitStatus ws = device.Wait(TWaitFor::Readable, stop, MillisecondsUntil(deadline));
        if (ws == TWaitStatus::Stopped)
            return TExchange::Stopped;
        if (ws == TWaitStatus::Fatal || ws == TWaitStatus::Invalid)
            return TExchange::Vanished;
        if (ws == TWaitStatus::TimedOut)
            return TExchange::Done;
        char buffer[256];
        const TIoResult r = device.Read(buffer, sizeof buffer);
        if (r.Status == TIoStatus::Fatal || r.Status == TIoStatus::Invalid)
            return TExchange::Vanished;
        if (r.Status != TIoStatus::Ok || r.Count == 0)
            continue;
        received.append(buffer, r.Count);
        if (AnswerComplete(AfterEcho(received, ask.Request), ask.Address, ask.Registers))
            return TExchange::Done;
        deadline = std::min(last, TClock::now() + seconds(GapSeconds(ask.Baud)));
    }
}

// Sends the request and collects its answer, noting whether the driver saw line errors
// meanwhile.
TExchange Exchange(TSerialDevice& device, const TEvent& stop, const TAsk& ask,
                   TProbeResult& result) {
    result = {};
    device.Purge(TPurge::Rx);
    TLineCounters before;
    const bool counters = device.LineCounters(before) == TCounterStatus::Ok;
    TExchange exchange = SendRequest(device, stop, ask.Request);
    if (exchange == TExchange::Done)
        exchange = CollectAnswer(device, stop, ask, result.Received);
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
    TExchange CompleteMeter(const TProbe& probe, const TIdentityAnswer& answer, double wait,
                            TProbeResult& result);
    void NoteOtherDevice(const TProbe& probe);
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
};

void TScanSession::Report() {
    FStatus.ElapsedSeconds = std::chrono::duration<double>(TClock::now() - FStarted).count();
    FStatus.Fraction = FPlan.Fraction();
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

// Asks a meter found for its serial number and adds it to the status unless it is known.
TExchange TScanSession::CompleteMeter(const TProbe& probe, const TIdentityAnswer& answer,
                                      double wait, TProbeResult& result) {
    const TScanSetting& setting = FPlan.Settings()[probe.Setting];
    TMeterFound found{FPortName,    probe.Address,      setting,
                      answer.Model, answer.SoftVersion, QString()};
    // The serial number completes the entry; a noisy answer is asked for again.
    const std::string request = SerialNumberRequest(probe.Address);
    const TAsk ask{request, setting.Baud, wait, probe.Address, 16};
    TExchange exchange = TExchange::Done;
    for (int attempt = 0; attempt < 2 && exchange == TExchange::Done; ++attempt) {
        exchange = Exchange(FDevice, FStop, ask, result);
        if (const auto serial =
                SerialNumberOf(AfterEcho(result.Received, request), probe.Address)) {
            found.SerialNumber = *serial;
            break;
        }
    }
    const bool known =
        std::any_of(FStatus.Found.begin(), FStatus.Found.end(), [&](const TMeterFound& m) {
            return m.Address == found.Address && m.Setting == found.Setting;
        });
    if (!known)
        FStatus.Found.push_back(found);
    return exchange;
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
    const double wait = FPlan.WaitSeconds(probe.Setting);
    const std::string request = IdentityRequest(probe.Address);
    TProbeResult result;
    TExchange exchange =
        Exchange(FDevice, FStop, TAsk{request, setting.Baud, wait, probe.Address, 9}, result);
    if (exchange != TExchange::Done)
        return exchange;
    const TIdentityAnswer answer =
        ClassifyIdentity(result.Received, request, probe.Address, result.LineErrors);
    if (answer.Kind == TAnswerKind::Meter)
        exchange = CompleteMeter(probe, answer, wait, result);
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
        if (Ended(Probe(*probe)))
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

TScanStatus RunScan(TSerialDevice& device, const std::string& path, const QString& portName,
                    TScanPlan plan, const TEvent& stop,
                    const std::function<void(const TScanStatus&)>& progress) {
    return TScanSession(device, portName, plan, stop, progress).Run(path);
}
