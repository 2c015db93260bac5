// kt580-sim on its own pseudo-terminal for one test, mapped as a COM port in the test's
// private configuration folder, with its request log and its counters at the end.
#pragma once

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStringList>

class TSimProcess {
public:
    // Starts the simulator as COM<com> with --log and the given options; Path() is empty when
    // it did not start.
    explicit TSimProcess(const QStringList& args, int com = 1) : FArgs(args), FCom(com) { Start(); }
    ~TSimProcess() { Stop(); }
    TSimProcess(const TSimProcess&) = delete;
    TSimProcess& operator=(const TSimProcess&) = delete;

    const QString& Path() const { return FPath; }

    // Stops the simulator and starts it again with the same options, as a meter that was
    // switched off and on (or an adapter pulled and put back): a new terminal under the same
    // COM name, the memory kept in its --state file, and a fresh log and counters.
    bool Restart() {
        Stop();
        FLog.clear();
        FCounters.clear();
        FPath.clear();
        Start();
        return !FPath.isEmpty();
    }

    // The meter's memory as the simulator last saved it to its --state file ("reg.1105" ->
    // "400", "energy.0" -> "1000", "relay.1" -> "0"); empty without --state. It saves after
    // every write it accepts.
    QMap<QString, QString> State() const {
        QMap<QString, QString> values;
        const qsizetype option = FArgs.indexOf(QLatin1String("--state"));
        if (option < 0 || option + 1 >= FArgs.size())
            return values;
        QFile file(FArgs[option + 1]);
        if (!file.open(QIODevice::ReadOnly))
            return values;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const qsizetype eq = line.indexOf('=');
            if (eq > 0 && !line.startsWith('#'))
                values.insert(QString::fromLatin1(line.left(eq)),
                              QString::fromLatin1(line.mid(eq + 1)));
        }
        return values;
    }

    // The requests the simulator received and handled, as query texts without their CRC
    // ("01,03,14,00,00,15"); requests it ignored (another address, another line speed) are
    // left out unless asked for.
    QStringList Requests(bool withIgnored = false) {
        Collect();
        QStringList out;
        for (const QString& line : FLog.split('\n', Qt::SkipEmptyParts)) {
            const QStringList parts = line.split(' ', Qt::SkipEmptyParts);
            if (parts.size() < 3 || parts[1] != QLatin1String("RX"))
                continue;
            if (!withIgnored && line.contains(QLatin1String("ignored")))
                continue;
            QStringList bytes;
            for (int i = 2; i < parts.size() && parts[i].size() == 2; ++i)
                bytes << parts[i];
            if (bytes.size() > 2)
                bytes.resize(bytes.size() - 2);
            out << bytes.join(',');
        }
        return out;
    }

    // The request log as the simulator wrote it, one line per frame received or sent.
    QStringList LogLines() {
        Collect();
        return FLog.split('\n', Qt::SkipEmptyParts);
    }

    // Answers that never arrived intact: dropped, or with a broken CRC or cut short (one answer
    // may carry several faults, and counts once).
    int LostAnswers() {
        Collect();
        int lost = 0;
        for (const QString& line : FLog.split('\n', Qt::SkipEmptyParts)) {
            const qsizetype fault = line.indexOf(QLatin1String(" fault "));
            if (fault < 0 || line.section(' ', 1, 1) != QLatin1String("TX"))
                continue;
            const QString kinds = line.mid(fault + 7);
            if (kinds.contains(QLatin1String("crc")) || kinds.contains(QLatin1String("drop")) ||
                kinds.contains(QLatin1String("truncate")))
                ++lost;
        }
        return lost;
    }

    // Stops the simulator (SIGTERM) and returns the counters it printed.
    QMap<QString, qlonglong> Stop() {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.terminate();
            if (!FProcess.waitForFinished(5000)) {
                FProcess.kill();
                FProcess.waitForFinished();
            }
            Collect();
            for (const QByteArray& line : FProcess.readAllStandardOutput().split('\n')) {
                const qsizetype eq = line.indexOf('=');
                if (eq > 0)
                    FCounters.insert(QString::fromLatin1(line.left(eq)),
                                     line.mid(eq + 1).toLongLong());
            }
        }
        return FCounters;
    }

private:
    void Start() {
        FProcess.start(qEnvironmentVariable("KT_BIN_DIR") + "/tools/kt580-sim/kt580-sim",
                       QStringList{"--com", QString::number(FCom), "--log"} + FArgs);
        if (FProcess.waitForStarted(5000) && FProcess.waitForReadyRead(5000))
            FPath = QString::fromLocal8Bit(FProcess.readLine()).trimmed();
    }
    void Collect() { FLog += QString::fromLatin1(FProcess.readAllStandardError()); }

    QStringList FArgs;
    int FCom;
    QProcess FProcess;
    QString FPath;
    QString FLog;
    QMap<QString, qlonglong> FCounters;
};
