// The meter simulator for one test: on its own pseudo-terminal, registered as COMn in the
// test's private port map (CTest gives each test its own configuration folder), with its
// memory in a state file the test can read. Stopped by its own pid when the test ends.
#pragma once

#include "link/FakeShell.h"
#include "link/frmModbus.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TSimMeter {
public:
    // initialState: lines of the state file the meter starts from ("energy.0=1000").
    explicit TSimMeter(const QStringList& args, const QByteArray& initialState = {}, int com = 1) {
        FStatePath = FDir.path() + "/meter.state";
        if (!initialState.isEmpty()) {
            QFile file(FStatePath);
            if (file.open(QIODevice::WriteOnly))
                file.write(initialState);
        }
        FProcess.setProcessChannelMode(QProcess::SeparateChannels);
        FProcess.start(qEnvironmentVariable("KT_BIN_DIR") + "/tools/kt580-sim/kt580-sim",
                       QStringList{"--com", QString::number(com), "--state", FStatePath} + args);
        // The terminal's path comes once the COMn link is in place.
        if (FProcess.waitForStarted() && FProcess.waitForReadyRead(5000))
            FPath = QString::fromLocal8Bit(FProcess.readLine()).trimmed();
    }
    ~TSimMeter() { Stop(); }
    TSimMeter(const TSimMeter&) = delete;
    TSimMeter& operator=(const TSimMeter&) = delete;

    bool Started() const { return !FPath.isEmpty(); }
    const QString& Path() const { return FPath; }

    // SIGTERM to this simulator's pid; it removes its COMn link and saves its memory.
    void Stop() {
        if (FProcess.state() == QProcess::NotRunning)
            return;
        FProcess.terminate();
        if (!FProcess.waitForFinished(5000)) {
            FProcess.kill();
            FProcess.waitForFinished();
        }
    }

    // The meter's memory as the simulator last saved it ("relay.0" -> "1", "energy.2" -> ...).
    // It saves after every write it accepts.
    QMap<QString, QString> State() const {
        QMap<QString, QString> values;
        QFile file(FStatePath);
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

private:
    QTemporaryDir FDir;
    QString FStatePath;
    QProcess FProcess;
    QString FPath;
};

// Connects the link as the shell does, minus the shell's settling wait: open COM1, go online,
// queue the reads of the page shown and start polling. Waits are shrunk so a test runs in
// seconds.
inline bool ConnectLink(TFormModbus& link, TFakeShell& shell) {
    // Without the simulator's COM1 entry the name would fall back to /dev/ttyS0, a real port.
    const QString mapped =
        qEnvironmentVariable("XDG_CONFIG_HOME") + "/Veltrana/Marbrook/ports/COM1";
    if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME") || !QFileInfo(mapped).isSymLink())
        return false;
    link.Modbus.SetPortNum(1);
    link.Modbus.SetQueryInterval(20);
    link.Modbus.SetQueryTimeout(1000);
    link.SetAdoptWait(0);
    if (!link.Modbus.Open())
        return false;
    shell.IsConnected = true;
    shell.Disconnecting = false;
    link.UpdateCommandStates();
    return link.RequestPageData() && link.Modbus.Start(true);
}

// Disconnects as the shell does; true once the cycle has stopped and the port is closed.
inline bool DisconnectLink(TFormModbus& link, TFakeShell& shell) {
    shell.Disconnecting = true;
    link.UpdateCommandStates();
    if (link.Modbus.Running())
        link.Modbus.Stop();
    else
        link.ModbusQueryFinish(link.Modbus);
    return QTest::qWaitFor([&] { return !link.Modbus.Opened(); }, 5000);
}
