// Cost of the Communication window: the link polls the simulator at 57600 baud with no pause
// between queries while the monitor records every frame; first with the window closed, then
// with it open (offscreen, refreshing as on a desktop). Prints the CPU share of one core in
// each phase, the difference, and the resident memory over the open phase, which the bounded
// log must keep flat however many frames pass.
//
//   bench_commwindow [--frames N] [--pace]     (N frames per phase, default 100,000)
#include "LinkBenchKit.h"
#include "ProcessStats.h"
#include "comms/CommMonitor.h"
#include "comms/LogModel.h"
#include "comms/frmCommunication.h"
#include "link/frmModbus.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

struct TPhase {
    double Seconds = 0;
    double CpuSeconds = 0;
    std::uint64_t Frames = 0;
    long RssStart = -1, RssMiddle = -1, RssEnd = -1;
    double Share() const { return Seconds > 0 ? CpuSeconds / Seconds : 0; }
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::uint64_t frames = 100000;
    bool pace = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--frames" && i + 1 < args.size())
            frames = args[++i].toULongLong();
        else if (args[i] == "--pace")
            pace = true;
    }

    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QProcess sim;
    QStringList simArgs{"--com", "1", "--baud", "57600"};
    if (pace)
        simArgs << "--pace";
    if (!StartSimulator(sim, simArgs))
        return 1;

    TBenchShell shell;
    TNoDialogs dialogs;
    TFormModbus link(shell, dialogs);
    TCommMonitor monitor;
    link.SetTrafficObserver(&monitor);
    TFormCommunication window(monitor, dialogs);
    link.Modbus.SetBaudrate(57600);
    link.Modbus.SetQueryInterval(0);
    link.Modbus.SetQueryTimeout(200);
    if (!link.Modbus.Open()) {
        std::fprintf(stderr, "COM1 did not open: %s\n", link.Modbus.OpenErrorText().c_str());
        return 1;
    }
    shell.FConnected = true;
    link.RequestPageData();
    link.Modbus.Start(true);

    // Frames recorded so far: every entry the log was ever given.
    const auto recorded = [&] { return monitor.Log().NextSerial() - 1; };
    // A warm-up, so both phases start with a full log and a settled process.
    TPhase phases[2];
    int phase = -1;
    std::uint64_t phaseStart = 0;
    QElapsedTimer clock;
    double cpuStart = 0;
    const auto begin = [&](int p) {
        phase = p;
        phaseStart = recorded();
        phases[p].RssStart = ResidentKiB();
        cpuStart = CpuSeconds();
        clock.start();
        if (p == 1)
            window.show();
    };
    QTimer watch;
    watch.setInterval(100);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (phase < 0) {
            if (recorded() >= 2 * TFrameLog::DefaultCapacity)
                begin(0);
            return;
        }
        TPhase& p = phases[phase];
        p.Frames = recorded() - phaseStart;
        if (p.RssMiddle < 0 && p.Frames >= frames / 2)
            p.RssMiddle = ResidentKiB();
        if (p.Frames < frames)
            return;
        p.Seconds = clock.elapsed() / 1000.0;
        p.CpuSeconds = CpuSeconds() - cpuStart;
        p.RssEnd = ResidentKiB();
        if (phase == 0) {
            begin(1);
            return;
        }
        watch.stop();
        shell.FDisconnecting = true;
        link.Modbus.Stop();
        QTimer::singleShot(500, &app, &QCoreApplication::quit);
    });
    watch.start();
    app.exec();
    link.SetTrafficObserver(nullptr);
    sim.terminate();
    sim.waitForFinished(5000);

    const char* names[2] = {"window closed", "window open"};
    for (int i = 0; i < 2; ++i)
        std::printf("%-14s %llu frames in %.1f s (%.0f frames/s): CPU %.2f s, %.2f %% of one core; "
                    "resident %ld KiB at start, %ld KiB half-way, %ld KiB at the end\n",
                    names[i], static_cast<unsigned long long>(phases[i].Frames), phases[i].Seconds,
                    phases[i].Frames / phases[i].Seconds, phases[i].CpuSeconds,
                    phases[i].Share() * 100, phases[i].RssStart, phases[i].RssMiddle,
                    phases[i].RssEnd);
    std::printf("window open costs %.2f %% of one core more (CPU per 1,000 frames: closed %.1f ms, "
                "open %.1f ms)\n",
                (phases[1].Share() - phases[0].Share()) * 100,
                phases[0].CpuSeconds * 1e6 / static_cast<double>(phases[0].Frames),
                phases[1].CpuSeconds * 1e6 / static_cast<double>(phases[1].Frames));
    std::printf("log entries kept %zu of %llu recorded; rows in the window %d; queries %llu, "
                "answered %llu\n",
                monitor.Log().Size(), static_cast<unsigned long long>(recorded()),
                window.LogModel->rowCount(),
                static_cast<unsigned long long>(monitor.Counters().Sent),
                static_cast<unsigned long long>(monitor.Counters().Answered));
    return 0;
}
