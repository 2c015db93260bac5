#include "scan/ScanRunner.h"

#include "platform/Event.h"
#include "platform/SerialDevice.h"
#include "scan/ProbeAnswer.h"
#include "serial/OpenFailure.h"

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

// Sends `request` and collects what comes back until the answer is complete, the line falls
// silent after it, or nothing has begun by the time a meter would have answered.
TExchange Exchange(TSerialDevice& device, const TEvent& stop, const std::string& request,
                   std::uint32_t baud, double waitSeconds, std::uint8_t address, int registers,
                   TProbeResult& result) {
    result = {};
    device.Purge(TPurge::Rx);
    TLineCounters before;
    const bool counters = device.LineCounters(before) == TCounterStatus::Ok;

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

    const auto seconds = [](double s) {
        return std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(s));
    };
    auto deadline = TClock::now() + seconds(waitSeconds);
    // An answer that has begun is given room to finish even at the slowest rate.
    const auto last = deadline + seconds(64 * 11.0 / baud);
    for (;;) {
        const TWaitStatus ws = device.Wait(TWaitFor::Readable, stop, MillisecondsUntil(deadline));
        if (ws == TWaitStatus::Stopped)
            return TExchange::Stopped;
        if (ws == TWaitStatus::Fatal || ws == TWaitStatus::Invalid)
            return TExchange::Vanished;
        if (ws == TWaitStatus::TimedOut)
            break;
        char buffer[256];
        const TIoResult r = device.Read(buffer, sizeof buffer);
        if (r.Status == TIoStatus::Fatal || r.Status == TIoStatus::Invalid)
            return TExchange::Vanished;
        if (r.Status != TIoStatus::Ok || r.Count == 0)
            continue;
        result.Received.append(buffer, r.Count);
        if (AnswerComplete(std::string_view(result.Received)
                               .substr(result.Received.rfind(request, 0) == 0 ? request.size() : 0),
                           address, registers))
            break;
        deadline = std::min(last, TClock::now() + seconds(GapSeconds(baud)));
    }
    TLineCounters after;
    if (counters && device.LineCounters(after) == TCounterStatus::Ok)
        result.LineErrors = ErrorsBetween(before, after);
    return TExchange::Done;
}

} // namespace

TScanStatus RunScan(TSerialDevice& device, const std::string& path, const QString& portName,
                    TScanPlan plan, const TEvent& stop,
                    const std::function<void(const TScanStatus&)>& progress) {
    TScanStatus status;
    const auto started = TClock::now();
    const auto elapsed = [&started] {
        return std::chrono::duration<double>(TClock::now() - started).count();
    };
    const auto report = [&] {
        status.ElapsedSeconds = elapsed();
        status.Fraction = plan.Fraction();
        status.RemainingSeconds = plan.RemainingSeconds(status.ElapsedSeconds);
        if (progress)
            progress(status);
    };

    const TOpenResult opened = device.Open(path);
    if (opened.Status != TOpenStatus::Ok) {
        status.End = TScanStatus::OpenFailed;
        status.SystemError = opened.Error;
        status.Failure = QString::fromStdString(OpenFailureReason(
            opened.Error,
            opened.Status == TOpenStatus::NotComm ? "not a serial port" : "cannot be opened"));
        device.Close();
        report();
        return status;
    }
    TCommTimeouts timeouts;
    timeouts.ReadIntervalTimeout = 5;
    device.ApplyTimeouts(timeouts);

    const auto& settings = plan.Settings();
    int applied = -1;
    std::vector<int> notedGarbled;
    std::vector<std::pair<int, std::uint8_t>> notedOthers;
    status.Trying = plan.Current() ? SettingText(settings[plan.Current()->Setting]) : QString();
    report();
    while (auto probe = plan.Current()) {
        const TScanSetting& setting = settings[probe->Setting];
        if (probe->Setting != applied) {
            device.ApplyLineSettings(LineFor(setting));
            applied = probe->Setting;
        }
        status.Trying =
            SettingText(setting) + QStringLiteral(", address ") + QString::number(probe->Address);
        const double wait = plan.WaitSeconds(probe->Setting);
        const std::string request = IdentityRequest(probe->Address);
        TProbeResult result;
        TExchange exchange =
            Exchange(device, stop, request, setting.Baud, wait, probe->Address, 9, result);
        if (exchange == TExchange::Done) {
            const TIdentityAnswer answer =
                ClassifyIdentity(result.Received, request, probe->Address, result.LineErrors);
            if (answer.Kind == TAnswerKind::Meter) {
                TMeterFound found{portName,     probe->Address,     setting,
                                  answer.Model, answer.SoftVersion, QString()};
                // The serial number completes the entry; a noisy answer is asked for again.
                const std::string ask = SerialNumberRequest(probe->Address);
                for (int attempt = 0; attempt < 2 && exchange == TExchange::Done; ++attempt) {
                    exchange =
                        Exchange(device, stop, ask, setting.Baud, wait, probe->Address, 16, result);
                    const std::string_view got = result.Received;
                    const auto serial = SerialNumberOf(
                        got.substr(got.rfind(ask, 0) == 0 ? ask.size() : 0), probe->Address);
                    if (serial) {
                        found.SerialNumber = *serial;
                        break;
                    }
                }
                const bool known = std::any_of(
                    status.Found.begin(), status.Found.end(), [&](const TMeterFound& m) {
                        return m.Address == found.Address && m.Setting == found.Setting;
                    });
                if (!known)
                    status.Found.push_back(found);
            } else if (answer.Kind == TAnswerKind::OtherDevice &&
                       std::find(notedOthers.begin(), notedOthers.end(),
                                 std::pair{probe->Setting, probe->Address}) == notedOthers.end()) {
                notedOthers.emplace_back(probe->Setting, probe->Address);
                status.Notes << QStringLiteral("a device that is not a KT580 at address %1, %2")
                                    .arg(probe->Address)
                                    .arg(SettingText(setting));
            }
            if (exchange == TExchange::Done)
                plan.Report(answer.Kind);
        }
        if (exchange == TExchange::Stopped) {
            status.End = TScanStatus::Cancelled;
            break;
        }
        if (exchange == TExchange::Vanished || exchange == TExchange::Stuck) {
            status.End = TScanStatus::Vanished;
            status.Failure = exchange == TExchange::Stuck ? QStringLiteral("the port sends nothing")
                                                          : QStringLiteral("the port vanished");
            break;
        }
        for (int s : plan.GarbledSettings()) {
            if (plan.Abandoned(s) &&
                std::find(notedGarbled.begin(), notedGarbled.end(), s) == notedGarbled.end()) {
                notedGarbled.push_back(s);
                status.Notes
                    << QStringLiteral("bytes at %1, but garbled").arg(SettingText(settings[s]));
            }
        }
        report();
    }
    device.Close();
    if (status.End == TScanStatus::Running)
        status.End = TScanStatus::Finished;
    status.Trying.clear();
    report();
    return status;
}
