// What it costs to leave the utility polling: the real main window with the link, the pages and
// the master, offscreen, polling the paced simulator on the metering page at the default scan
// interval. Prints the start-up time to the window shown, the CPU share of one core, resident
// memory over the run, and the time from a response's last chunk to its labels being set.
//
//   bench_utility [--seconds N]   (at least 60 for the figures that are quoted)
#include "ProcessStats.h"
#include "shell/QtDialogs.h"
#include "shell/frmMain.h"
#include "support/ProgramRig.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLocale>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(at, v.size() - 1)];
}

} // namespace

int main(int argc, char* argv[]) {
    const auto started = TClock::now();
    int seconds = 60;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--seconds")
            seconds = std::atoi(argv[i + 1]);

    // A private port map and settings folder: the simulator is COM1 for this run only.
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
    WaitFor(
        [&] {
            return window.isVisible() && window.windowHandle() &&
                   window.windowHandle()->isExposed();
        },
        5000);
    const double startupMs =
        std::chrono::duration<double, std::milli>(TClock::now() - started).count();

    TSimProcess sim;
    if (!sim.Start({"--com", "1", "--pace"})) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }

    // The connection dialog comes up by itself 100 ms after the first show, in its own modal
    // loop: it is answered with OK from inside that loop.
    if (!TConnectionAnswer(window).Wait(10000)) {
        std::fprintf(stderr, "the connection dialog did not come up\n");
        return 1;
    }

    // Response latency: from the last chunk received to the end of the response's handler,
    // which is where the labels have been set.
    TFormModbus& link = window.FormModbus();
    const TMaster master(link);
    TClock::time_point lastChunk{};
    TClock::time_point entered{};
    std::vector<double> latencyMs;
    std::vector<double> handlerMs;
    master.WatchReceived([&](const std::string&) { lastChunk = TClock::now(); });
    master.WatchReads(
        [&](std::uint16_t, std::span<const std::uint16_t>) { entered = TClock::now(); },
        TMaster::TWhen::Before);
    master.WatchReads([&](std::uint16_t start, std::span<const std::uint16_t>) {
        if (start == 0x1400) {
            const auto done = TClock::now();
            latencyMs.push_back(
                std::chrono::duration<double, std::milli>(done - lastChunk).count());
            handlerMs.push_back(std::chrono::duration<double, std::milli>(done - entered).count());
        }
    });

    if (!ConnectWindow(window)) {
        std::fprintf(stderr, "cannot connect to the simulator as COM1\n");
        return 1;
    }
    // Let start-up allocations settle before the baseline. The waits block in the event loop,
    // so the benchmark itself costs no CPU.
    Idle(3000);
    const long rssStart = ResidentKiB();
    const double cpuStart = CpuSeconds();
    QElapsedTimer run;
    run.start();
    long rssHalf = -1;
    QEventLoop polling;
    QTimer::singleShot(seconds * 500, [&] { rssHalf = ResidentKiB(); });
    QTimer::singleShot(seconds * 1000, &polling, &QEventLoop::quit);
    polling.exec();
    const double cpu = CpuSeconds() - cpuStart;
    const double wall = run.elapsed() / 1000.0;
    const long rssEnd = ResidentKiB();
    const auto sent = link.SentCount();
    const auto errors = link.ErrorCount();

    // Disconnect clicked while polling, then Connect as soon as it is offered.
    QElapsedTimer reconnect;
    reconnect.start();
    DisconnectWindow(window);
    const double disconnectMs = static_cast<double>(reconnect.nsecsElapsed()) / 1e6;
    ConnectWindow(window);
    const double reconnectMs = static_cast<double>(reconnect.nsecsElapsed()) / 1e6;
    DisconnectWindow(window);
    window.close();
    sim.Stop();

    std::printf("start to window shown   %.1f ms\n", startupMs);
    std::printf("polling run             %.1f s, %llu queries, %llu errors\n", wall,
                static_cast<unsigned long long>(sent), static_cast<unsigned long long>(errors));
    std::printf("disconnect, connect     offline %.1f ms after the click, connected again %.1f ms "
                "after it\n",
                disconnectMs, reconnectMs);
    std::printf("CPU                     %.3f s = %.2f %% of one core\n", cpu, 100.0 * cpu / wall);
    std::printf("resident memory         %.1f MB at start of polling, %.1f MB half-way, %.1f MB at "
                "the end (growth %+ld KiB)\n",
                rssStart / 1024.0, rssHalf / 1024.0, rssEnd / 1024.0, rssEnd - rssStart);
    std::printf("last chunk to labels    median %.3f ms, 99th percentile %.3f ms (%zu measurement "
                "responses)\n",
                Percentile(latencyMs, 0.5), Percentile(latencyMs, 0.99), latencyMs.size());
    std::printf("  of which decoding and setting the 21 labels: median %.3f ms, 99th percentile "
                "%.3f ms\n",
                Percentile(handlerMs, 0.5), Percentile(handlerMs, 0.99));
    std::printf("  the rest is the master looking at the answer only when the scan interval has "
                "passed since the send\n");
    return 0;
}
