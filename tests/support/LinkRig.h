// The meter link as the main window builds it, without the window: the window's side of it as
// plain fields a test sets and reads, dialogs the test answers, and the link connected to a
// meter (the simulator as COM1, or a scripted device) as the shell connects it. A test's rig adds
// the pages it needs, hands them to Link.SetViews and takes them back (SetViews with none)
// before they go. Needs no widgets; the whole program is support/ProgramRig.h.
#pragma once

#include "link/frmModbus.h"
#include "support/FakeShell.h"
#include "support/LinkTestAccess.h"
#include "support/ScriptedDialogs.h"
#include "support/SimProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QString>
#include <QTimer>
#include <QtTest>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

// Runs the event loop until done() holds or the time is up; false when it is up. For programs
// as well as tests, so it needs nothing of QtTest; it sleeps between events, so a benchmark's
// wait costs no CPU.
inline bool WaitFor(const std::function<bool()>& done, int ms) {
    const QDeadlineTimer deadline(ms);
    // Wakes the wait for more events below, to look at done() again.
    QTimer tick;
    tick.start(10);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs the event loop for ms, whatever happens.
inline void Idle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Every reach of the test kit, the benchmarks and the screenshot tool into the link's Modbus
// master goes through here, one small function per operation, so that a change of how the link
// hands out its master is one edit in this class.
class TMaster {
public:
    using TFrameWatch = std::function<void(const std::string& frame)>;
    using TReadWatch = std::function<void(std::uint16_t start, std::span<const std::uint16_t>)>;
    enum class TWhen { Before, After };

    explicit TMaster(TFormModbus& link) : FLink(link) {}

    std::uint16_t PortNum() const { return M().PortNum(); }
    void SetPortNum(std::uint16_t value) const { M().SetPortNum(value); }
    int Baudrate() const { return M().Baudrate(); }
    void SetBaudrate(int value) const { M().SetBaudrate(value); }
    TParity Parity() const { return M().Parity(); }
    void SetParity(TParity value) const { M().SetParity(value); }
    TStopBits StopBits() const { return M().StopBits(); }
    void SetStopBits(TStopBits value) const { M().SetStopBits(value); }
    int QueryInterval() const { return M().QueryInterval(); }
    void SetQueryInterval(int ms) const { M().SetQueryInterval(ms); }
    void SetQueryTimeout(int ms) const { M().SetQueryTimeout(ms); }
    // The port's device made by factory instead of the real terminal.
    void SetDeviceFactory(TComm::TDeviceFactory factory) const {
        M().Comm().SetDeviceFactory(std::move(factory));
    }

    bool Open() const { return M().Open(); }
    void Close() const { M().Close(); }
    bool Opened() const { return M().Opened(); }
    const std::string& OpenErrorText() const { return M().OpenErrorText(); }
    bool Start() const { return M().Start(true); }
    void Stop() const { M().Stop(); }
    void Cancel() const { M().Cancel(); }
    bool Running() const { return M().Running(); }
    bool InQuery() const { return M().InQuery(); }

    // watch sees every frame the master writes, before or after the link has handled it.
    void WatchSent(const TFrameWatch& watch, TWhen when = TWhen::Before) const {
        auto link = M().OnSendData;
        M().OnSendData = [link, watch, when](TKrPolling& s, const std::string& d) {
            if (when == TWhen::Before)
                watch(d);
            link(s, d);
            if (when == TWhen::After)
                watch(d);
        };
    }
    // watch sees every chunk the master receives, before the link does.
    void WatchReceived(const TFrameWatch& watch) const {
        auto link = M().OnRecvData;
        M().OnRecvData = [link, watch](TKrPolling& s, const std::string& d) {
            watch(d);
            link(s, d);
        };
    }
    // watch sees every register read answered, before or after the link has handled it.
    void WatchReads(const TReadWatch& watch, TWhen when = TWhen::After) const {
        auto link = M().OnF03Response;
        M().OnF03Response = [link, watch, when](TKrModbus& s, std::uint8_t slave,
                                                std::uint16_t start,
                                                std::span<const std::uint16_t> values) {
            if (when == TWhen::Before)
                watch(start, values);
            link(s, slave, start, values);
            if (when == TWhen::After)
                watch(start, values);
        };
    }
    // watch runs after the link has handled the end of each answered query.
    void WatchAfterResponse(const std::function<void()>& watch) const {
        auto link = M().OnAfterResponse;
        M().OnAfterResponse = [link, watch](TKrModbus& s) {
            link(s);
            watch();
        };
    }

    // The master as the sender of the events a test plays to the link's handlers.
    operator TKrModbus&() const { return M(); }

private:
    TKrModbus& M() const { return TLinkTestAccess::Master(FLink); }

    TFormModbus& FLink;
};

inline TMaster Master(TFormModbus& link) {
    return TMaster(link);
}

struct TLinkRig {
    TFakeShell Shell;
    TScriptedDialogs Dialogs;
    TFormModbus Link{Shell, Dialogs};
    // Connected unless a test says otherwise.
    bool Online = (Link.SetState(TConnectionState::Online), true);
};

// The line's timing while connected; shrunk so that a test runs in seconds. Baud rate 0 keeps
// the one loaded.
struct TLineSetup {
    int Interval = 20;
    int Timeout = 1000;
    int Baudrate = 0;
};

// Goes online as the shell does, minus its settling wait, on the port the link has: open it, go
// online, queue the reads of the page shown and start polling.
inline bool GoOnline(TFormModbus& link, const TLineSetup& setup = {}) {
    const TMaster master(link);
    if (setup.Baudrate > 0)
        master.SetBaudrate(setup.Baudrate);
    master.SetQueryInterval(setup.Interval);
    master.SetQueryTimeout(setup.Timeout);
    link.SetAdoptWait(0);
    if (!master.Open())
        return false;
    link.SetState(TConnectionState::Online);
    link.UpdateCommandStates();
    return link.RequestPageData() && master.Start();
}

// Connects the link to the meter mapped as COM1 in the private configuration folder (the
// simulator's).
inline bool ConnectLink(TFormModbus& link, const TLineSetup& setup = {}) {
    // Without the simulator's COM1 entry the name would fall back to /dev/ttyS0, a real port.
    const QString mapped = TestPortMapDir() + "/COM1";
    if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME") || !QFileInfo(mapped).isSymLink())
        return false;
    Master(link).SetPortNum(1);
    return GoOnline(link, setup);
}

// Disconnects as the shell does; true once the cycle has stopped and the port is closed.
inline bool DisconnectLink(TFormModbus& link) {
    const TMaster master(link);
    link.RequestDisconnect();
    link.UpdateCommandStates();
    if (master.Running())
        master.Stop();
    else
        link.ModbusQueryFinish(master);
    return QTest::qWaitFor([&] { return !master.Opened(); }, 5000);
}

// Drives the link's metering rotation one query per step: "a" the query is answered (every
// register word, relay 1 ON and relay 2 OFF, inputs 2, 4 and 6 ON), "x" it ends without an
// answer, "m" another device address is set, "f" polling stops.
inline void RunMeteringScript(TFormModbus& link, const QString& script, std::uint16_t word) {
    const std::vector<std::uint16_t> words(21, word);
    const bool relays[2] = {true, false};
    const bool inputs[6] = {false, true, false, true, false, true};
    const TMaster master(link);
    for (const QString& step : script.split(u' ', Qt::SkipEmptyParts)) {
        if (step == QLatin1String("m")) {
            link.SetDeviceAddress(link.DeviceAddress() == 1 ? 2 : 1);
            continue;
        }
        if (step == QLatin1String("f")) {
            link.ModbusQueryFinish(master);
            continue;
        }
        std::string query;
        link.ModbusQueryData(master, query);
        const auto block = MeteringBlockOfQuery(query);
        QVERIFY2(block, query.c_str());
        if (step == QLatin1String("a")) {
            switch (*block) {
            case TMeteringBlock::Measurement:
                link.ModbusF03Response(master, 1, 0x1400, words);
                break;
            case TMeteringBlock::Energy:
                link.ModbusF03Response(master, 1, 0x1180, std::span(words).first(4));
                break;
            case TMeteringBlock::Relays:
                link.ModbusF01Response(master, 1, 0, relays);
                break;
            case TMeteringBlock::Inputs:
                link.ModbusF02Response(master, 1, 0, inputs);
                break;
            }
        }
        link.ModbusAfterResponse(master);
    }
}
