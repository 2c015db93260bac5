// Soak run of the meter link and the master against the paced simulator on a faulty line:
// at least 50,000 queries at 57600 baud with no pause between them and faults of every kind.
// Prints the counts, the simulator's lost answers and the resident memory over the run.
//
//   soak_link [--queries N] [--rate R] [--timeout MS]
#include "ProcessStats.h"
#include "link/frmModbus.h"
#include "support/LinkRig.h"
#include "support/SimProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
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
    const TPrivateFolders folders;
    TSimProcess sim;
    QStringList simArgs{"--com", "1", "--pace", "--baud", "57600", "--seed", "1", "--log"};
    for (const char* kind : {"noise", "crc", "drop", "truncate", "split"})
        simArgs << "--fault" << QStringLiteral("%1=%2").arg(QLatin1String(kind), rate);
    // The request log goes to a file: in the pipe it would grow this process's memory.
    sim.Process().setStandardErrorFile(folders.Config("sim.log"));
    if (!sim.Start(simArgs)) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }

    TLinkRig rig;
    TFormModbus& link = rig.Link;
    const TMaster master(link);
    if (!ConnectLink(link, {0, timeout, 57600})) {
        std::fprintf(stderr, "COM1 did not connect: %s\n", master.OpenErrorText().c_str());
        return 1;
    }

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
        if (static_cast<long long>(sent) >= queries && master.Running()) {
            link.RequestDisconnect();
            master.Stop();
        }
        if (!master.Opened())
            app.quit();
    });
    watch.start();
    app.exec();
    const double seconds = clock.elapsed() / 1000.0;
    const long rssEnd = ResidentKiB();

    const long long simRequests = sim.Stop().value(QStringLiteral("requests"));
    // One lost answer may carry several faults: answers are counted, not faults.
    QFile log(folders.Config("sim.log"));
    const long long lost = log.open(QIODevice::ReadOnly)
                               ? TSimProcess::LostAnswers(QString::fromLatin1(log.readAll()))
                               : 0;

    std::printf("queries sent        %llu (simulator received %lld) in %.1f s, %.0f per second\n",
                static_cast<unsigned long long>(link.SentCount()), simRequests, seconds,
                link.SentCount() / seconds);
    std::printf("errors counted      %llu\n", static_cast<unsigned long long>(link.ErrorCount()));
    std::printf("answers lost        %lld (crc, drop, truncate; noise and split are recovered)\n",
                lost);
    std::printf("statistics panel    %s\n", qPrintable(rig.Shell.Panels[3]));
    std::printf("resident memory     %ld KiB after 1,000 queries, %ld KiB after 10,000, %ld KiB "
                "at the end\n",
                rssStart, rssAt10k, rssEnd);
    const bool ok = static_cast<long long>(link.ErrorCount()) == lost &&
                    static_cast<long long>(link.SentCount()) == simRequests;
    std::printf("%s\n", ok ? "errors match the lost answers" : "MISMATCH");
    return ok ? 0 : 1;
}
