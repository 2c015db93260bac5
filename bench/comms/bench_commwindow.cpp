// Cost of the Communication window: the link polls the simulator with no pause between queries
// while the monitor records every frame, in rounds of a phase with the window closed and a phase
// with it open (offscreen, refreshing as on a desktop). The simulator answers at the pace of the
// line, so the line, not the machine, sets the frame rate, and the CPU the process spends per
// second of a phase compares like with like. Prints, per phase, the frame rate, the CPU per
// 1,000 frames and the share of one core; per round the window's extra share; the median of the
// rounds; and the resident memory, which the bounded log must keep flat.
//
//   bench_commwindow [--seconds S] [--rounds R] [--baud B] [--unpaced]
//   (S seconds per phase, default 20; R rounds, default 3; B baud, default 57600)
#include "ProcessStats.h"
#include "comms/CommMonitor.h"
#include "comms/LogModel.h"
#include "comms/frmCommunication.h"
#include "link/frmModbus.h"
#include "support/LinkRig.h"
#include "support/SimProcess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct TOptions {
    int Seconds = 20;
    int Rounds = 3;
    int Baud = 57600;
    bool Paced = true;
};

struct TPhase {
    bool Open = false;
    double Seconds = 0;
    double CpuSeconds = 0;
    std::uint64_t Frames = 0;
    long RssEnd = -1;
    double Share() const { return Seconds > 0 ? CpuSeconds / Seconds : 0; }
    double FrameRate() const { return Seconds > 0 ? static_cast<double>(Frames) / Seconds : 0; }
    double CpuMsPer1000() const {
        return Frames > 0 ? CpuSeconds * 1e6 / static_cast<double>(Frames) : 0;
    }
};

TOptions ReadOptions(const QStringList& args) {
    TOptions o;
    for (int i = 1; i < args.size(); ++i) {
        const bool value = i + 1 < args.size();
        if (args[i] == "--seconds" && value)
            o.Seconds = std::max(1, args[++i].toInt());
        else if (args[i] == "--rounds" && value)
            o.Rounds = std::max(1, args[++i].toInt());
        else if (args[i] == "--baud" && value)
            o.Baud = args[++i].toInt();
        else if (args[i] == "--unpaced")
            o.Paced = false;
    }
    return o;
}

void PrintResults(const std::vector<TPhase>& phases, const TOptions& o, long rssWarm) {
    std::vector<double> extra;
    for (std::size_t i = 0; i < phases.size(); ++i) {
        const TPhase& p = phases[i];
        std::printf("round %zu, window %-6s %6llu frames in %5.1f s (%5.1f frames/s): CPU %.2f s, "
                    "%.1f ms per 1,000 frames, %.2f %% of one core\n",
                    i / 2 + 1, p.Open ? "open" : "closed",
                    static_cast<unsigned long long>(p.Frames), p.Seconds, p.FrameRate(),
                    p.CpuSeconds, p.CpuMsPer1000(), p.Share() * 100);
        if (p.Open)
            extra.push_back((p.Share() - phases[i - 1].Share()) * 100);
    }
    std::sort(extra.begin(), extra.end());
    std::printf("%s simulator at %d baud, %d rounds of 2 x %d s: the open window costs, per round,",
                o.Paced ? "paced" : "unpaced", o.Baud, o.Rounds, o.Seconds);
    for (double e : extra)
        std::printf(" %+.2f", e);
    std::printf(" %% of one core; median %+.2f %%\n", extra[extra.size() / 2]);
    long rssMax = rssWarm;
    for (const TPhase& p : phases)
        rssMax = std::max(rssMax, p.RssEnd);
    std::printf("resident %ld KiB after the warm-up, at most %ld KiB at the end of a phase\n",
                rssWarm, rssMax);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const TOptions options = ReadOptions(app.arguments());

    // A private port map, so the simulator is COM1 for this run only.
    const TPrivateFolders folders;
    TSimProcess sim;
    QStringList simArgs{"--com", "1", "--baud", QString::number(options.Baud)};
    if (options.Paced)
        simArgs << "--pace";
    if (!sim.Start(simArgs)) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }

    TLinkRig rig;
    TFormModbus& link = rig.Link;
    TCommMonitor monitor;
    link.SetTrafficObserver(&monitor);
    TFormCommunication window(monitor, rig.Dialogs);
    if (!ConnectLink(link, {0, 200, options.Baud})) {
        std::fprintf(stderr, "COM1 did not connect: %s\n", Master(link).OpenErrorText().c_str());
        return 1;
    }

    // Frames recorded so far: every entry the log was ever given.
    const auto recorded = [&] { return monitor.Log().NextSerial() - 1; };
    std::vector<TPhase> phases;
    std::uint64_t phaseStart = 0;
    QElapsedTimer clock;
    double cpuStart = 0;
    long rssWarm = -1;
    const auto begin = [&](bool open) {
        phases.push_back({});
        phases.back().Open = open;
        phaseStart = recorded();
        cpuStart = CpuSeconds();
        clock.start();
        if (open)
            window.show();
        else
            window.hide();
    };
    QTimer watch;
    watch.setInterval(100);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        // A warm-up, so every phase starts with a full log and a settled process.
        if (phases.empty()) {
            if (recorded() >= TFrameLog::DefaultCapacity) {
                rssWarm = ResidentKiB();
                begin(false);
            }
            return;
        }
        if (clock.elapsed() < options.Seconds * 1000LL)
            return;
        TPhase& p = phases.back();
        p.Seconds = static_cast<double>(clock.elapsed()) / 1000.0;
        p.CpuSeconds = CpuSeconds() - cpuStart;
        p.Frames = recorded() - phaseStart;
        p.RssEnd = ResidentKiB();
        if (phases.size() < 2 * static_cast<std::size_t>(options.Rounds)) {
            begin(!p.Open);
            return;
        }
        watch.stop();
        window.hide();
        link.RequestDisconnect();
        Master(link).Stop();
        QTimer::singleShot(500, &app, &QCoreApplication::quit);
    });
    watch.start();
    app.exec();
    link.SetTrafficObserver(nullptr);
    sim.Stop();

    PrintResults(phases, options, rssWarm);
    std::printf("log entries kept %zu of %llu recorded; queries %llu, answered %llu\n",
                monitor.Log().Size(), static_cast<unsigned long long>(recorded()),
                static_cast<unsigned long long>(monitor.Counters().Sent),
                static_cast<unsigned long long>(monitor.Counters().Answered));
    return 0;
}
