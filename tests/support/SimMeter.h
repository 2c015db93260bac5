// The meter simulator for one test with its memory in a state file the test can read; the link
// is connected to it by ConnectLink (support/LinkRig.h, included here for the tests' sake).
#pragma once

#include "support/LinkRig.h"
#include "support/SimProcess.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QTest>

// A meter memory with values of its own in the settings registers, valid for every layout:
// PT 400/100 and CT 50/5 (ratios 4 and 10), wiring 2LL, alarms set on relay 1 and relay 2;
// energy counters and relays may follow.
inline QByteArray MeterMemory(const QByteArray& energyAndRelays = {}) {
    return "reg.1100=1234\nreg.1101=1\nreg.1102=19200\nreg.1103=3\nreg.1104=2\n"
           "reg.1105=400\nreg.1106=0\nreg.1107=100\nreg.1108=50\nreg.1109=5\nreg.110a=1\n"
           "reg.110b=7\nreg.110c=1\n"
           "reg.1200=1\nreg.1201=1\nreg.1202=1000\nreg.1203=1\nreg.1204=2300\nreg.1205=5\n"
           "reg.1206=1\nreg.1207=1\nreg.1208=1\nreg.1209=2\n"
           "reg.120a=7\nreg.120b=4000\nreg.120c=9\nreg.120d=0\nreg.120e=1\n"
           "reg.1300=3\nreg.1301=1\nreg.1302=100\nreg.1303=20\nreg.1304=0\nreg.1305=1\n"
           "reg.1306=6\nreg.1307=0\nreg.1308=120\nreg.1309=0\nreg.130a=1\nreg.130b=0\n" +
           energyAndRelays;
}

// The settings registers of a state file, by register number.
inline QMap<int, int> SettingsRegisters(const QMap<QString, QString>& state) {
    QMap<int, int> regs;
    for (auto it = state.begin(); it != state.end(); ++it)
        if (it.key().startsWith("reg."))
            regs.insert(it.key().mid(4).toInt(nullptr, 16), it.value().toInt());
    return regs;
}

// The simulator with its memory in a state file of the test's own, starting from the given
// lines ("energy.0=1000"; none: factory settings). The members are set up in this order: the
// file is written before the simulator reads it.
class TSimMeter {
public:
    explicit TSimMeter(const QStringList& args, const QByteArray& memory = {}, int com = 1)
        : FWritten(Write(FStatePath, memory)), Sim(args + QStringList{"--state", FStatePath}, com) {
    }

    bool Started() const { return FWritten && Sim.Started(); }
    const QString& Path() const { return Sim.Path(); }
    // The meter's memory as the simulator last saved it; it saves after every accepted write.
    QMap<QString, QString> State() const { return Sim.State(); }
    QMap<int, int> Registers() const { return SettingsRegisters(State()); }
    void Stop() { Sim.Stop(); }

private:
    static bool Write(const QString& path, const QByteArray& memory) {
        if (memory.isEmpty())
            return true;
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(memory) == memory.size();
    }

    QTemporaryDir FDir;
    const QString FStatePath = FDir.filePath("meter.state");
    const bool FWritten;

public:
    // The simulator itself: its request log, counters and restarts.
    TSimProcess Sim;
};
