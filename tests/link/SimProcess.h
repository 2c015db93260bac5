// kt580-sim on its own pseudo-terminal for one test, mapped as a COM port in the test's
// private configuration folder, with its request log and its counters at the end.
#pragma once

#include <QMap>
#include <QProcess>
#include <QStringList>

class TSimProcess {
public:
    // Starts the simulator as COM<com> with --log and the given options; Path() is empty when
    // it did not start.
    explicit TSimProcess(const QStringList& args, int com = 1) {
        FProcess.start(qEnvironmentVariable("KT_BIN_DIR") + "/tools/kt580-sim/kt580-sim",
                       QStringList{"--com", QString::number(com), "--log"} + args);
        if (FProcess.waitForStarted(5000) && FProcess.waitForReadyRead(5000))
            FPath = QString::fromLocal8Bit(FProcess.readLine()).trimmed();
    }
    ~TSimProcess() { Stop(); }
    TSimProcess(const TSimProcess&) = delete;
    TSimProcess& operator=(const TSimProcess&) = delete;

    const QString& Path() const { return FPath; }

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
    void Collect() { FLog += QString::fromLatin1(FProcess.readAllStandardError()); }

    QProcess FProcess;
    QString FPath;
    QString FLog;
    QMap<QString, qlonglong> FCounters;
};
