// Soak run of the meter link and the master against the paced simulator on a faulty line:
// at least 50,000 queries at 57600 baud with no pause between them and faults of every kind.
// Prints the counts, the simulator's lost answers and the resident memory over the run.
//
//   soak_link [--queries N] [--rate R] [--timeout MS]
#include "LinkBenchKit.h"
#include "ProcessStats.h"
#include "link/frmModbus.h"
#include "support/LinkTestAccess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    long long queries = 50000;
    QString rate = QStringLiteral("0.05");
    int timeout = 100;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--queries")
            queries = args[i + 1].toLongLong();
        else if (args[i] == "--rate")
            rate = args[i + 1];
        else if (args[i] == "--timeout")
            timeout = args[i + 1].toInt();
    }

    // A private port map, so the simulator is COM1 for this run only.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QProcess sim;
    QStringList simArgs{"--com", "1", "--pace", "--baud", "57600", "--seed", "1", "--log"};
    for (const char* kind : {"noise", "crc", "drop", "truncate", "split"})
        simArgs << "--fault" << QStringLiteral("%1=%2").arg(QLatin1String(kind), rate);
    sim.setStandardErrorFile(config.filePath("sim.log"));
    if (!StartSimulator(sim, simArgs))
        return 1;

    TBenchShell shell;
    TNoDialogs dialogs;
    TFormModbus link(shell, dialogs);
    TLinkTestAccess::Master(link).SetBaudrate(57600);
    TLinkTestAccess::Master(link).SetQueryInterval(0);
    TLinkTestAccess::Master(link).SetQueryTimeout(timeout);
    if (!TLinkTestAccess::Master(link).Open()) {
        std::fprintf(stderr, "COM1 did not open: %s\n",
                     TLinkTestAccess::Master(link).OpenErrorText().c_str());
        return 1;
    }
    shell.FConnected = true;
    link.RequestPageData();
    TLinkTestAccess::Master(link).Start(true);

    QElapsedTimer clock;
    clock.start();
    long rssStart = -1;
    long rssAt10k = -1;
    QTimer watch;
    watch.setInterval(200);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const auto sent = link.SentCount();
        if (rssStart < 0 && sent >= 1000)
            rssStart = ResidentKiB();
        if (rssAt10k < 0 && sent >= 10000)
            rssAt10k = ResidentKiB();
        if (static_cast<long long>(sent) >= queries && TLinkTestAccess::Master(link).Running()) {
            shell.FDisconnecting = true;
            TLinkTestAccess::Master(link).Stop();
        }
        if (!TLinkTestAccess::Master(link).Opened())
            app.quit();
    });
    watch.start();
    app.exec();
    const double seconds = clock.elapsed() / 1000.0;
    const long rssEnd = ResidentKiB();

    sim.terminate();
    sim.waitForFinished(5000);
    long long simRequests = 0;
    for (const QByteArray& line : sim.readAllStandardOutput().split('\n'))
        if (line.startsWith("requests="))
            simRequests = line.mid(9).toLongLong();
    // One lost answer may carry several faults: count answers, not faults.
    long long lost = 0;
    QFile log(config.filePath("sim.log"));
    if (log.open(QIODevice::ReadOnly)) {
        while (!log.atEnd()) {
            const QByteArray line = log.readLine();
            const qsizetype at = line.indexOf(" fault ");
            if (at > 0 && line.contains(" TX ")) {
                const QByteArray kinds = line.mid(at + 7);
                if (kinds.contains("crc") || kinds.contains("drop") || kinds.contains("truncate"))
                    ++lost;
            }
        }
    }

    std::printf("queries sent        %llu (simulator received %lld) in %.1f s, %.0f per second\n",
                static_cast<unsigned long long>(link.SentCount()), simRequests, seconds,
                link.SentCount() / seconds);
    std::printf("errors counted      %llu\n", static_cast<unsigned long long>(link.ErrorCount()));
    std::printf("answers lost        %lld (crc, drop, truncate; noise and split are recovered)\n",
                lost);
    std::printf("statistics panel    %s\n", qPrintable(shell.Statistics));
    std::printf("resident memory     %ld KiB after 1,000 queries, %ld KiB after 10,000, %ld KiB "
                "at the end\n",
                rssStart, rssAt10k, rssEnd);
    const bool ok = static_cast<long long>(link.ErrorCount()) == lost &&
                    static_cast<long long>(link.SentCount()) == simRequests;
    std::printf("%s\n", ok ? "errors match the lost answers" : "MISMATCH");
    return ok ? 0 : 1;
}
