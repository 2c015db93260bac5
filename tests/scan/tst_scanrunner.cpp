// Find Meter's runner on a line: parity choices through the scripted serial device (a
// pseudo-terminal carries no parity), baud rates, addresses, several meters, none, a device
// that is not a meter, a vanishing port and Cancel end to end against the simulator.
#include "modbus/KrChecksum.h"
#include "platform/Event.h"
#include "platform/PortName.h"
#include "platform/PosixSerialDevice.h"
#include "scan/ProbeAnswer.h"
#include "scan/ScanRunner.h"
#include "support/FakeSerialDevice.h"
#include "support/SimProcess.h"

#include <QtTest>

#include <atomic>
#include <cerrno>
#include <thread>

namespace {

std::string WithCrc(std::string frame) {
    const std::uint16_t crc = CalcCRC16(frame);
    frame += static_cast<char>(crc & 0xFF);
    frame += static_cast<char>(crc >> 8);
    return frame;
}

// A meter on the scripted line: it answers its identity and serial number at its own baud
// rate; at another parity what it sends arrives garbled, with the driver counting parity
// errors; at another baud rate it hears nothing it understands.
TFakeLine::TResponder FakeMeter(std::uint32_t baud, TParity parity, std::uint8_t address) {
    auto parityErrors = std::make_shared<std::uint32_t>(0);
    return [=](const std::string& frame, const TLineSettings& line) {
        std::vector<TFakeReadStep> steps;
        if (line.BaudRate != baud || frame.size() != 8 ||
            static_cast<std::uint8_t>(frame[0]) != address)
            return steps;
        std::string answer;
        if (frame == IdentityRequest(address))
            answer = WithCrc(std::string{char(address), 3, 18} + "ED801.003.20190815");
        else if (frame == SerialNumberRequest(address))
            answer = WithCrc(std::string{char(address), 3, 32} + std::string("FAKE-") +
                             std::to_string(address) +
                             std::string(32 - 5 - std::to_string(address).size(), '\0'));
        if (answer.empty())
            return steps;
        if (line.Parity != parity) {
            for (std::size_t i = 0; i < answer.size(); i += 3)
                answer[i] = static_cast<char>(answer[i] ^ 0x80);
            TLineCounters counters;
            counters.Parity = ++*parityErrors;
            steps.push_back(TFakeReadStep::Bytes(answer));
            steps.push_back(TFakeReadStep::NewCounters(counters));
            return steps;
        }
        steps.push_back(TFakeReadStep::Bytes(answer));
        return steps;
    };
}

QString Describe(const std::vector<TMeterFound>& found) {
    QStringList out;
    for (const TMeterFound& m : found)
        out << QStringLiteral("%1 %2 %3 %4 %5")
                   .arg(m.Address)
                   .arg(SettingText(m.Setting), m.Model, m.SoftVersion, m.SerialNumber);
    return out.join(QStringLiteral("; "));
}

std::vector<TScanSetting> Settings(const QStringList& names) {
    std::vector<TScanSetting> out;
    for (const QString& n : names) {
        const QString parity = n.section(' ', 1, 1);
        const int entry = parity == "Even"    ? TScanSetting::Even
                          : parity == "Odd"   ? TScanSetting::Odd
                          : parity == "None2" ? TScanSetting::None2
                                              : TScanSetting::None1;
        out.push_back({n.section(' ', 0, 0).toUInt(), entry});
    }
    return out;
}

// Turnaround allowed in the tests: the unpaced simulator answers at once; the machine may
// be busy, so there is room.
constexpr double TestTurnaround = 0.050;

} // namespace

class TestScanRunner : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(qEnvironmentVariableIsSet("KT_BIN_DIR")); }

    void parityThroughScriptedLine_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("found");
        QTest::addColumn<QStringList>("notes");
        QTest::newRow("odd parity, address 9")
            << 9600 << int(TParity::Odd) << 9 << "9 9600 Odd KT580 3.20 FAKE-9"
            << QStringList{"bytes at 9600 None1, but garbled", "bytes at 9600 Even, but garbled"};
        QTest::newRow("even parity, address 1: found among the likely addresses")
            << 19200 << int(TParity::Even) << 1 << "1 19200 Even KT580 3.20 FAKE-1"
            << QStringList{"bytes at 19200 None1, but garbled"};
        QTest::newRow("no parity at the dialog's setting")
            << 19200 << int(TParity::None) << 40 << "40 19200 None1 KT580 3.20 FAKE-40"
            << QStringList{};
    }
    void parityThroughScriptedLine() {
        QFETCH(int, baud);
        QFETCH(int, parity);
        QFETCH(int, address);
        QFETCH(QString, found);
        QFETCH(QStringList, notes);
        auto line = std::make_shared<TFakeLine>();
        line->SetResponder(FakeMeter(static_cast<std::uint32_t>(baud), TParity(parity),
                                     static_cast<std::uint8_t>(address)));
        TFakeSerialDevice device(line);
        const auto stop = TEvent::Create();
        const auto order = Settings(
            {"19200 None1", "9600 None1", "9600 Even", "9600 Odd", "19200 Even", "19200 Odd"});
        const TScanStatus status =
            RunScan(device, "/dev/fake", QStringLiteral("COM5"),
                    TScanPlan(order, 1, TScanMode::FirstMeter, 0.002), *stop);
        QCOMPARE(status.End, TScanStatus::Finished);
        QCOMPARE(Describe(status.Found), found);
        QCOMPARE(status.Found.at(0).Port, QStringLiteral("COM5"));
        QCOMPARE(status.Notes, notes);
        // The parity applied for the hit is the meter's, with the check on when it has one.
        QCOMPARE(line->LastLineSettings().Parity, TParity(parity));
        QCOMPARE(line->LastLineSettings().ParityCheck, TParity(parity) != TParity::None);
        QVERIFY(!line->IsOpen());
    }

    void deviceTrouble_data() {
        QTest::addColumn<int>("openError"); // 0: opens
        QTest::addColumn<bool>("vanishes");
        QTest::addColumn<bool>("sends"); // the port takes what is written
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("failure");
        QTest::newRow("permission denied")
            << EACCES << false << true << int(TScanStatus::OpenFailed) << "permission denied";
        QTest::newRow("held by another program")
            << EWOULDBLOCK << false << true << int(TScanStatus::OpenFailed) << "busy";
        QTest::newRow("vanishes while scanning")
            << 0 << true << true << int(TScanStatus::Vanished) << "the port vanished";
        // Held by flow control, or nobody drains the line: the scan ends instead of hanging.
        QTest::newRow("takes nothing")
            << 0 << false << false << int(TScanStatus::Vanished) << "the port sends nothing";
    }
    void deviceTrouble() {
        QFETCH(int, openError);
        QFETCH(bool, vanishes);
        QFETCH(bool, sends);
        QFETCH(int, end);
        QFETCH(QString, failure);
        auto line = std::make_shared<TFakeLine>();
        if (openError != 0)
            line->SetOpenResult({TOpenStatus::OpenFailed, openError});
        if (vanishes)
            line->Push(TFakeReadStep::WaitFails(TWaitStatus::Fatal));
        line->SetWritable(sends);
        TFakeSerialDevice device(line);
        const auto stop = TEvent::Create();
        const TScanStatus status =
            RunScan(device, "/dev/fake", QStringLiteral("COM5"),
                    TScanPlan(Settings({"19200 None1"}), 1, TScanMode::FirstMeter, 0.002), *stop);
        QCOMPARE(int(status.End), end);
        QCOMPARE(status.Failure, failure);
        QVERIFY(status.Found.empty());
        QVERIFY(!line->IsOpen());
    }

    void againstSimulator_data() {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("found");
        QTest::addColumn<QStringList>("notes");
        const int first = int(TScanMode::FirstMeter);
        const int every = int(TScanMode::EveryMeter);
        QTest::newRow("38400 baud, address 200")
            << QStringList{"--baud", "38400", "--address", "200", "--serial", "S-200"}
            << QStringList{"19200 None1", "38400 None1"} << first
            << "200 38400 None1 KT580 3.20 S-200" << QStringList{};
        QTest::newRow("1200 baud, address 1") << QStringList{"--baud", "1200", "--serial", "S-1"}
                                              << QStringList{"19200 None1", "1200 None1"} << first
                                              << "1 1200 None1 KT580 3.20 S-1" << QStringList{};
        QTest::newRow("several meters on one line")
            << QStringList{"--address",     "3",      "--serial",      "A3",
                           "--extra-meter", "90,B90", "--extra-meter", "17,C17"}
            << QStringList{"19200 None1"} << every
            << "3 19200 None1 KT580 3.20 A3; 17 19200 None1 KT580 3.20 C17; "
               "90 19200 None1 KT580 3.20 B90"
            << QStringList{};
        QTest::newRow("a device that is not a meter, beside one")
            << QStringList{"--address", "4", "--serial", "M4", "--extra-meter", "2,X2,XY12"}
            << QStringList{"19200 None1"} << every << "4 19200 None1 KT580 3.20 M4"
            << QStringList{"a device that is not a KT580 at address 2, 19200 None1"};
        QTest::newRow("nothing at the settings tried")
            << QStringList{"--baud", "9600"} << QStringList{"19200 None1"} << every << ""
            << QStringList{};
    }
    void againstSimulator() {
        QFETCH(QStringList, simArgs);
        QFETCH(QStringList, settings);
        QFETCH(int, mode);
        QFETCH(QString, found);
        QFETCH(QStringList, notes);
        TSimProcess sim(simArgs, 7);
        QVERIFY(!sim.Path().isEmpty());
        TPosixSerialDevice device;
        const auto stop = TEvent::Create();
        int progressCalls = 0;
        double firstEstimate = -1;
        const TScanStatus status =
            RunScan(device, ResolvePortName("COM7"), QStringLiteral("COM7"),
                    TScanPlan(Settings(settings), 1, TScanMode(mode), TestTurnaround), *stop,
                    [&](const TScanStatus& s) {
                        if (progressCalls++ == 0)
                            firstEstimate = s.RemainingSeconds;
                    });
        QCOMPARE(status.End, TScanStatus::Finished);
        QCOMPARE(Describe(status.Found), found);
        QCOMPARE(status.Notes, notes);
        QVERIFY(progressCalls > 1);
        QVERIFY(firstEstimate > 0);
        QCOMPARE(status.Fraction, 1.0);
        // Every address was asked once at most per setting, never twice in a row by accident.
        const QStringList requests = sim.Requests(true);
        QVERIFY(requests.size() <= 247 * settings.size() + 2 * 3);
    }

    void cancelAndVanish_data() {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("Cancel") << true;
        QTest::newRow("simulator gone") << false;
    }
    void cancelAndVanish() {
        QFETCH(bool, cancel);
        // A meter the scan never reaches: it keeps probing until stopped.
        TSimProcess sim({"--baud", "9600"}, 7);
        QVERIFY(!sim.Path().isEmpty());
        const auto stop = TEvent::Create();
        std::atomic<int> probes{0};
        std::atomic<bool> ended{false};
        TScanStatus status;
        std::thread worker([&] {
            TPosixSerialDevice device;
            status = RunScan(device, ResolvePortName("COM7"), QStringLiteral("COM7"),
                             TScanPlan(Settings({"19200 None1"}), 1, TScanMode::EveryMeter), *stop,
                             [&](const TScanStatus&) { ++probes; });
            ended = true;
        });
        QTRY_VERIFY(probes >= 3);
        if (cancel)
            stop->Set();
        else
            sim.Stop();
        QTRY_VERIFY_WITH_TIMEOUT(ended, 10000);
        worker.join();
        QCOMPARE(status.End, cancel ? TScanStatus::Cancelled : TScanStatus::Vanished);
        QVERIFY(status.Fraction < 1.0);
        if (cancel) {
            // The port was closed: it opens again at once.
            TPosixSerialDevice again;
            QCOMPARE(again.Open(ResolvePortName("COM7")).Status, TOpenStatus::Ok);
        }
    }

    // A slow meter, or one behind an adapter that passes bytes on in chunks, is found at its
    // own setting with its serial number, and a late answer is never credited to a later
    // probe: the settings are tried in the order Find Meter uses.
    void slowOrChunkedMeter_data() {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("first"); // the setting tried first
        QTest::addColumn<double>("allowance");
        QTest::addColumn<QString>("found");
        QTest::newRow("19200, answers after 30 ms")
            << QStringList{"--pace", "--delay", "30", "--serial", "P-30"} << "19200 None1"
            << TScanPlan::DefaultTurnaround << "1 19200 None1 KT580 3.20 P-30";
        QTest::newRow("9600, answers after 80 ms")
            << QStringList{"--baud", "9600", "--pace", "--delay", "80", "--serial", "P-80"}
            << "19200 None1" << TScanPlan::DefaultTurnaround << "1 9600 None1 KT580 3.20 P-80";
        QTest::newRow("19200, answers after 150 ms, with the dialog's wait")
            << QStringList{"--pace", "--delay", "150", "--serial", "P-150"} << "9600 Even"
            << TScanPlan::DialogTurnaround + 0.05 << "1 19200 None1 KT580 3.20 P-150";
        QTest::newRow("19200 behind an adapter passing chunks every 16 ms")
            << QStringList{"--pace", "--delay", "20", "--chunk", "16", "--serial", "C-19"}
            << "9600 Even" << TScanPlan::DefaultTurnaround << "1 19200 None1 KT580 3.20 C-19";
        QTest::newRow("9600 behind an adapter passing chunks every 16 ms")
            << QStringList{"--baud",  "9600", "--pace",   "--delay", "20",
                           "--chunk", "16",   "--serial", "C-96"}
            << "19200 None1" << TScanPlan::DefaultTurnaround << "1 9600 None1 KT580 3.20 C-96";
    }
    void slowOrChunkedMeter() {
        QFETCH(QStringList, simArgs);
        QFETCH(QString, first);
        QFETCH(double, allowance);
        QFETCH(QString, found);
        TSimProcess sim(simArgs, 7);
        QVERIFY(!sim.Path().isEmpty());
        TPosixSerialDevice device;
        const auto stop = TEvent::Create();
        const TScanStatus status = RunScan(device, ResolvePortName("COM7"), QStringLiteral("COM7"),
                                           TScanPlan(ScanSettingOrder(Settings({first}).front()), 1,
                                                     TScanMode::FirstMeter, allowance),
                                           *stop);
        QCOMPARE(status.End, TScanStatus::Finished);
        QCOMPARE(Describe(status.Found), found);
    }

    // A meter slower than the wait: not found, and its late answers credited to no other probe.
    void lateAnswersAreNotCredited() {
        TSimProcess sim({"--baud", "9600", "--pace", "--delay", "150"}, 7);
        QVERIFY(!sim.Path().isEmpty());
        TPosixSerialDevice device;
        const auto stop = TEvent::Create();
        int probes = 0;
        // The four parities at 9600, where a pseudo-terminal lets the meter hear every probe.
        const TScanStatus status =
            RunScan(device, ResolvePortName("COM7"), QStringLiteral("COM7"),
                    TScanPlan(Settings({"9600 None1", "9600 Even", "9600 Odd", "9600 None2"}), 1,
                              TScanMode::FirstMeter, TScanPlan::DefaultTurnaround),
                    *stop, [&](const TScanStatus&) {
                        if (++probes > 40)
                            stop->Set();
                    });
        QCOMPARE(status.End, TScanStatus::Cancelled);
        QCOMPARE(Describe(status.Found), QString());
        QVERIFY2(status.Notes.join(';').contains("answers came after the 100 ms"),
                 qPrintable(status.Notes.join(';')));
    }

    // Every meter of a line whose answers are now and then spoilt, each with its serial number.
    void spoiltAnswers() {
        TSimProcess sim({"--address", "3", "--serial", "A3", "--extra-meter", "9,B9",
                         "--extra-meter", "20,C20", "--extra-meter", "41,D41", "--fault",
                         "crc=0.05", "--fault", "noise=0.05", "--seed", "7"},
                        7);
        QVERIFY(!sim.Path().isEmpty());
        TPosixSerialDevice device;
        const auto stop = TEvent::Create();
        const TScanStatus status = RunScan(
            device, ResolvePortName("COM7"), QStringLiteral("COM7"),
            TScanPlan(Settings({"19200 None1"}), 1, TScanMode::EveryMeter, TestTurnaround), *stop);
        QCOMPARE(status.End, TScanStatus::Finished);
        QCOMPARE(Describe(status.Found), QStringLiteral("3 19200 None1 KT580 3.20 A3; 9 19200 "
                                                        "None1 KT580 3.20 B9; 20 19200 None1 "
                                                        "KT580 3.20 C20; 41 19200 None1 KT580 "
                                                        "3.20 D41"));
    }

    // A device that answers every address is listed once, and the sweep ends there.
    void deviceAnsweringEveryAddress() {
        TSimProcess sim({"--echo-any-address", "--serial", "G-1"}, 7);
        QVERIFY(!sim.Path().isEmpty());
        TPosixSerialDevice device;
        const auto stop = TEvent::Create();
        const TScanStatus status = RunScan(
            device, ResolvePortName("COM7"), QStringLiteral("COM7"),
            TScanPlan(Settings({"19200 None1"}), 1, TScanMode::EveryMeter, TestTurnaround), *stop);
        QCOMPARE(status.End, TScanStatus::Finished);
        QCOMPARE(Describe(status.Found), QStringLiteral("1 19200 None1 KT580 3.20 G-1"));
        QVERIFY2(status.Notes.join(';').contains("one device answers every address (at 1 and 2"),
                 qPrintable(status.Notes.join(';')));
        QVERIFY(sim.Requests(true).size() < 20);
    }

    void sameDevice_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<int>("sameAs"); // the address of the entry it repeats; 0: none
        QTest::newRow("the same serial number at another address") << 8 << "9600 Even"
                                                                   << "S1" << 1;
        QTest::newRow("another serial number") << 8 << "9600 Even"
                                               << "S8" << 0;
        QTest::newRow("the same address asked again") << 1 << "9600 Even"
                                                      << "S1" << 0;
        QTest::newRow("another line setting") << 8 << "19200 None1"
                                              << "S1" << 0;
        QTest::newRow("no serial number read") << 8 << "9600 Even"
                                               << "" << 0;
    }
    void sameDevice() {
        QFETCH(int, address);
        QFETCH(QString, setting);
        QFETCH(QString, serial);
        QFETCH(int, sameAs);
        const TScanSetting line = Settings({"9600 Even"}).front();
        const std::vector<TMeterFound> found{
            {"COM1", 1, line, "KT580", "3.20", "S1"},
            {"COM1", 5, line, "KT580", "3.20", ""},
            {"COM1", 6, line, "KT580", "3.20", "S6"},
        };
        const TMeterFound next{"COM1",
                               static_cast<std::uint8_t>(address),
                               Settings({setting}).front(),
                               "KT580",
                               "3.20",
                               serial};
        const auto same = SameDeviceAs(found, next);
        QCOMPARE(same ? int(same->Address) : 0, sameAs);
    }
};

QTEST_GUILESS_MAIN(TestScanRunner)
#include "tst_scanrunner.moc"
