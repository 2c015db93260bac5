// The Trend page showing four series and recording, in the real main window offscreen:
//  1. polling the paced simulator at the default 500 ms for N s: CPU share of one core, and the
//     recording's rows against the measurement reads in the simulator's request log;
//  2. a day replayed through the page's metering answers on a stepped clock (a sample every
//     500 ms for each series, 2 % of the reads lost, the chart redrawn every simulated minute
//     over everything since Connect, the recording going on): resident memory by the hour.
//
//   bench_trend [--seconds N] [--hours H]   (defaults 120 and 24)
#include "ProcessStats.h"
#include "shell/QtDialogs.h"
#include "shell/frmMain.h"
#include "support/MeterFeed.h"
#include "support/ProgramRig.h"
#include "trend/frmTrend.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

long CountLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    long n = 0;
    while (!f.atEnd())
        if (!f.readLine().startsWith('#'))
            ++n;
    return n;
}

} // namespace

int main(int argc, char* argv[]) {
    int seconds = 120;
    int hours = 24;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--seconds")
            seconds = std::atoi(argv[i + 1]);
        if (std::string(argv[i]) == "--hours")
            hours = std::atoi(argv[i + 1]);
    }
    const TPrivateFolders folders;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QLocale::setDefault(locale);

    TQtDialogs dialogs;
    TFormKT580 window(dialogs);
    window.show();
    const QString logPath = folders.Data(QStringLiteral("sim.log"));
    TSimProcess sim;
    sim.Process().setStandardErrorFile(logPath);
    if (!sim.Start({"--com", "1", "--pace", "--log"})) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    if (!TConnectionAnswer(window).Wait(10000)) {
        std::fprintf(stderr, "the connection dialog did not come up\n");
        return 1;
    }

    // Four series: three voltages and a current, the page's choice at start.
    TFormTrend& trend = *window.FormTrend();
    window.ReadingsTrendExecute();
    const QString csv = folders.Data(QStringLiteral("live.csv"));
    trend.StartRecording({csv, {}});
    if (!ConnectWindow(window)) {
        std::fprintf(stderr, "cannot connect to the simulator as COM1\n");
        return 1;
    }
    Idle(3000);
    const double cpuStart = CpuSeconds();
    QElapsedTimer run;
    run.start();
    Idle(seconds * 1000);
    const double cpu = CpuSeconds() - cpuStart;
    const double wall = run.elapsed() / 1000.0;
    DisconnectWindow(window);
    trend.ButtonRecordClick(); // stops
    const auto liveRows = trend.Recorder().Rows();
    sim.Stop();
    long reads = 0;
    {
        QFile log(logPath);
        if (log.open(QIODevice::ReadOnly))
            while (!log.atEnd())
                if (log.readLine().contains(" RX 01 03 14 00 00 15"))
                    ++reads;
    }
    const long fileRows = CountLines(csv) - 1; // less the header
    std::printf("live run                %.1f s on the Trend page, 4 series, recording\n", wall);
    std::printf("CPU                     %.3f s = %.2f %% of one core\n", cpu, 100.0 * cpu / wall);
    std::printf("CSV rows                %lld recorded, %ld in the file, %ld measurement reads in "
                "the simulator's log: %s\n",
                static_cast<long long>(liveRows), fileRows, reads,
                fileRows == reads && liveRows == reads ? "one row per read" : "MISMATCH");

    // The replayed day, on the same page, as after a new Connect.
    qint64 clock = QDateTime::currentMSecsSinceEpoch();
    trend.Now = [&clock] { return clock; };
    trend.Recorder().Now = trend.Now;
    trend.SetSpan(4);
    trend.CycleEnded();
    const QString dayCsv = folders.Data(QStringLiteral("day.csv"));
    trend.StartRecording({dayCsv, {TSplitRule::Daily, 0}});
    std::vector<std::uint16_t> measurement(21, 0);
    std::vector<std::uint16_t> energy(12, 0);
    const std::vector<std::uint16_t> relays{1, 0};
    const std::vector<std::uint16_t> inputs{1, 0, 1, 0, 0, 1};
    const TScaling scaling;
    const qint64 steps = static_cast<qint64>(hours) * 7200;
    std::printf("replayed day            %d h, a sample every 500 ms per series (%lld)\n", hours,
                static_cast<long long>(steps));
    QElapsedTimer replay;
    replay.start();
    long rssHour1 = 0;
    std::uint32_t ep = 0;
    for (qint64 i = 0; i < steps; ++i) {
        clock += 500;
        const double phase = static_cast<double>(i) / 600.0;
        for (int k = 0; k < 21; ++k)
            measurement[static_cast<std::size_t>(k)] =
                static_cast<std::uint16_t>(2300 + 40 * std::sin(phase + k));
        if (i % 50 == 7) {
            Lost(trend, TMeteringBlock::Measurement);
            Lost(trend.Recorder(), TMeteringBlock::Measurement);
        } else {
            Answer(trend, TMeteringBlock::Measurement, measurement, scaling);
            Answer(trend.Recorder(), TMeteringBlock::Measurement, measurement, scaling);
        }
        if (i % 4 == 3) {
            ep += 3;
            energy[0] = static_cast<std::uint16_t>(ep & 0xFFFF);
            energy[1] = static_cast<std::uint16_t>(ep >> 16);
            Answer(trend, TMeteringBlock::Energy, energy, scaling);
            Answer(trend.Recorder(), TMeteringBlock::Energy, energy, scaling);
            Answer(trend.Recorder(), TMeteringBlock::Relays, relays, scaling);
            Answer(trend.Recorder(), TMeteringBlock::Inputs, inputs, scaling);
        }
        if (i % 120 == 0) {
            trend.Refresh();
            QCoreApplication::processEvents();
        }
        if ((i + 1) % 7200 == 0) {
            const qint64 hour = (i + 1) / 7200;
            const long rss = ResidentKiB();
            if (hour == 1)
                rssHour1 = rss;
            if (hour == 1 || hour == 2 || hour % 6 == 0 || hour == hours)
                std::printf("  after hour %2lld       resident %.1f MB (%+ld KiB since hour 1), "
                            "%.1f s of replay so far\n",
                            static_cast<long long>(hour), rss / 1024.0, rss - rssHour1,
                            replay.elapsed() / 1000.0);
        }
    }
    QElapsedTimer redraw;
    redraw.start();
    trend.Refresh();
    std::printf("redraw of the whole day %.1f ms (4 series, decimated to the plot's columns)\n",
                redraw.nsecsElapsed() / 1e6);
    trend.ButtonRecordClick();
    std::printf("day recording           %lld rows in %lld file(s)\n",
                static_cast<long long>(trend.Recorder().Rows()),
                static_cast<long long>(trend.Recorder().Files().size()));
    window.close();
    return 0;
}
