// kt580-sim as a process for one test: started on its own pseudo-terminal (mapped as a COM
// port in the test's private configuration folder, or reached by its path alone), with its
// request log, its memory in a state file, and its counters at the end. Every test that needs
// the simulator as a program starts it here.
#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// A program or data file of the build, by its path below the build folder.
inline QString Bin(const QString& relative) {
    return qEnvironmentVariable("KT_BIN_DIR") + "/" + relative;
}

// Tests find it below KT_BIN_DIR, which ctest sets; a benchmark is built knowing its path.
inline QString SimBinary() {
#ifdef KT_SIM_PATH
    if (qEnvironmentVariableIsEmpty("KT_BIN_DIR"))
        return QStringLiteral(KT_SIM_PATH);
#endif
    return Bin(QStringLiteral("tools/kt580-sim/kt580-sim"));
}

// The per-user port map of the test's private configuration folder, where the simulator
// registers itself as COMn.
inline QString TestPortMapDir() {
    return qEnvironmentVariable("XDG_CONFIG_HOME") + "/Veltrana/Marbrook/ports";
}

// Maps COMn to target (a path that may not exist) in the private port map.
inline bool MapPort(int n, const QString& target) {
    QDir().mkpath(TestPortMapDir());
    const QString link = TestPortMapDir() + QString("/COM%1").arg(n);
    QFile::remove(link);
    return QFile::link(target, link);
}

inline void UnmapPort(int n) {
    QFile::remove(TestPortMapDir() + QString("/COM%1").arg(n));
}

// A configuration and a data folder of the run's own, for a program that is no ctest test (a
// benchmark): the port map, the stored settings, recordings and the write journal land there,
// never in the user's folders.
class TPrivateFolders {
public:
    TPrivateFolders() {
        qputenv("XDG_CONFIG_HOME", FConfig.path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", FData.path().toLocal8Bit());
    }
    QString Config(const QString& name) const { return FConfig.filePath(name); }
    QString Data(const QString& name) const { return FData.filePath(name); }

private:
    QTemporaryDir FConfig;
    QTemporaryDir FData;
};

// COM1 is the simulator's or nobody's: with no entry at all the port name would fall back to
// the machine's first serial port.
inline void GuardCom1() {
    MapPort(1, "/nonexistent/kt580-no-meter");
}

class TSimProcess {
public:
    // The COM number of a simulator reached by its terminal's path alone.
    static constexpr int Unmapped = 0;

    // Not started: Start() gives the whole command line.
    TSimProcess() = default;
    // Starts the simulator with its request log and the given options, registered as COM<com>
    // (Unmapped: reached by Path() alone); Path() is empty when it did not start.
    explicit TSimProcess(const QStringList& args, int com = 1)
        : FArgs((com > 0 ? QStringList{"--com", QString::number(com)} : QStringList{}) +
                QStringList{"--log"} + args) {
        Launch();
    }
    ~TSimProcess() { Stop(); }
    TSimProcess(const TSimProcess&) = delete;
    TSimProcess& operator=(const TSimProcess&) = delete;

    // Starts it with exactly these options; true once it has printed the path of its terminal
    // (or of the device it serves).
    bool Start(const QStringList& commandLine) {
        FArgs = commandLine;
        Launch();
        return Started();
    }

    // Started on a terminal (its path) or, with --tcp or --rtu-over-tcp, on its TCP ports.
    bool Started() const {
        return FPath.startsWith(QLatin1Char('/')) || FPath.contains(QLatin1String("=127.0.0.1:"));
    }
    // The port it serves `framing` ("modbus-tcp", "rtu-over-tcp") on, or 0.
    quint16 Port(const QString& framing) const {
        const QString prefix = framing + QLatin1String("=127.0.0.1:");
        for (const QString& endpoint : FPath.split(QLatin1Char(' ')))
            if (endpoint.startsWith(prefix))
                return quint16(endpoint.mid(prefix.size()).toUInt());
        return 0;
    }
    const QString& Path() const { return FPath; }
    QProcess& Process() { return FProcess; }

    // Stops the simulator and starts it again with the same options, as a meter that was
    // switched off and on (or an adapter pulled and put back): a new terminal under the same
    // COM name, the memory kept in its --state file, and a fresh log and counters.
    bool Restart() {
        Stop();
        Launch();
        return Started();
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

    // Everything the simulator wrote on stderr so far: its request log with --log, its
    // complaints otherwise.
    const QString& Log() {
        Collect();
        return FLog;
    }

    // The request log as the simulator wrote it, one line per frame received or sent.
    QStringList LogLines() {
        Collect();
        return FLog.split('\n', Qt::SkipEmptyParts);
    }

    // Every request frame that reached the simulator, handled or ignored, in hex with its CRC
    // ("01 03 14 00 00 15 C4 38").
    QStringList Frames() {
        QStringList out;
        for (const QString& line : Log().split('\n', Qt::SkipEmptyParts)) {
            const QStringList bytes = RequestBytes(line);
            if (!bytes.isEmpty())
                out << bytes.join(' ');
        }
        return out;
    }

    // The requests the simulator received and handled, as query texts without their CRC
    // ("01,03,14,00,00,15"); requests it ignored (another address, another line speed) are
    // left out unless asked for.
    QStringList Requests(bool withIgnored = false) {
        QStringList out;
        for (const QString& line : Log().split('\n', Qt::SkipEmptyParts)) {
            QStringList bytes = RequestBytes(line);
            if (bytes.isEmpty() || (!withIgnored && line.contains(QLatin1String("ignored"))))
                continue;
            if (bytes.size() > 2)
                bytes.resize(bytes.size() - 2);
            out << bytes.join(',');
        }
        return out;
    }

    // Answers that never arrived intact: dropped, or with a broken CRC or cut short (one answer
    // may carry several faults, and counts once).
    int LostAnswers() { return LostAnswers(Log()); }

    // The same, counted in a request log the simulator wrote to a file.
    static int LostAnswers(const QString& log) {
        int lost = 0;
        for (const QString& line : log.split('\n', Qt::SkipEmptyParts)) {
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

    // Stops the simulator (SIGTERM to its own process) and returns the counters it printed.
    QMap<QString, qlonglong> Stop() {
        if (FProcess.state() != QProcess::NotRunning) {
            FProcess.terminate();
            if (!FProcess.waitForFinished(5000)) {
                FProcess.kill();
                FProcess.waitForFinished();
            }
        }
        return Finish();
    }

    // Waits for the simulator to end by itself (--requests N) and returns its counters.
    QMap<QString, qlonglong> WaitForExit(int timeoutMs = 5000) {
        FProcess.waitForFinished(timeoutMs);
        return Finish();
    }

private:
    void Launch() {
        FLog.clear();
        FCounters.clear();
        FPath.clear();
        FProcess.start(SimBinary(), FArgs);
        if (!FProcess.waitForStarted(5000))
            return;
        // The first line names the terminal; a simulator that refuses its options ends instead.
        const QDeadlineTimer deadline(5000);
        while (!FProcess.canReadLine() && FProcess.state() == QProcess::Running &&
               !deadline.hasExpired())
            FProcess.waitForReadyRead(int(deadline.remainingTime()));
        if (FProcess.canReadLine())
            FPath = QString::fromLocal8Bit(FProcess.readLine()).trimmed();
    }

    QMap<QString, qlonglong> Finish() {
        if (FProcess.state() != QProcess::NotRunning)
            return FCounters;
        Collect();
        for (const QByteArray& line : FProcess.readAllStandardOutput().split('\n')) {
            const qsizetype eq = line.indexOf('=');
            if (eq > 0)
                FCounters.insert(QString::fromLatin1(line.left(eq)),
                                 line.mid(eq + 1).trimmed().toLongLong());
        }
        return FCounters;
    }

    void Collect() { FLog += QString::fromLatin1(FProcess.readAllStandardError()); }

    // The bytes of a request line of the log ("12:00:00.123 RX 01 03 ... [ignored]").
    static QStringList RequestBytes(const QString& line) {
        const QStringList parts = line.split(' ', Qt::SkipEmptyParts);
        QStringList bytes;
        if (parts.size() < 3 || parts[1] != QLatin1String("RX"))
            return bytes;
        for (qsizetype i = 2; i < parts.size() && parts[i].size() == 2; ++i)
            bytes << parts[i];
        return bytes;
    }

    QStringList FArgs;
    QProcess FProcess;
    QString FPath;
    QString FLog;
    QMap<QString, qlonglong> FCounters;
};
