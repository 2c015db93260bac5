// The simulated meter without a terminal: register map, layouts by software version,
// value checks, energy, request handling, framing, faults, options and its memory file.
#include "Crc16.h"
#include "EnergyCounters.h"
#include "FaultInjector.h"
#include "FrameAssembler.h"
#include "LiveValues.h"
#include "MeterModel.h"
#include "Options.h"
#include "PortMap.h"
#include "Registers.h"
#include "SlaveProtocol.h"
#include "StateFile.h"
#include "Statistics.h"
#include "VersionRules.h"

#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace kt580sim;

namespace {

std::string Bytes(const QString& hex) {
    const QByteArray raw = QByteArray::fromHex(hex.toLatin1());
    return std::string(raw.constData(), static_cast<std::size_t>(raw.size()));
}

QString Hex(const std::string& bytes) {
    return QString::fromLatin1(
        QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toHex(' ').toUpper());
}

std::string WithCrc(const QString& hex) {
    std::string frame = Bytes(hex);
    AppendCrc(frame);
    return frame;
}

TMeterModel Meter(const std::string& version) {
    TIdentity identity;
    identity.SoftwareVersion = version;
    return TMeterModel(identity, 1, 19200, TMeterParity::None1);
}

uint16_t Read1(const TMeterModel& meter, uint16_t r) {
    std::vector<uint16_t> values;
    if (meter.ReadRegisters(r, 1, values) != TException::None) {
        return 0xDEAD;
    }
    return values[0];
}

} // namespace

class TestKt580SimModel : public QObject {
    Q_OBJECT

private slots:
    void crc_data();
    void crc();
    void layouts_data();
    void layouts();
    void registerMap_data();
    void registerMap();
    void identityBlock();
    void settingsChecks_data();
    void settingsChecks();
    void refusedBlockChangesNothing();
    void energyCommands_data();
    void energyCommands();
    void energyIntegration();
    void meterEnergyFollowsRatios();
    void liveValuesPlausible();
    void miswiredLiveValues_data();
    void miswiredLiveValues();
    void requests_data();
    void requests();
    void broadcastApplied();
    void addressChangeAnswersOnOldAddress();
    void assembler_data();
    void assembler();
    void faults_data();
    void faults();
    void faultsRepeatWithSeed();
    void options_data();
    void options();
    void stateRoundTrip();
    void stateFileMustBeRegular_data();
    void stateFileMustBeRegular();
    void stateRejectsBadValues_data();
    void stateRejectsBadValues();
    void portLinks();
    void summaryLines();
};

void TestKt580SimModel::crc_data() {
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("check");
    QTest::newRow("read 0..9") << "01 03 00 00 00 0A"
                               << "C5 CD";
    QTest::newRow("energy") << "01 03 11 80 00 04"
                            << "40 DD";
    QTest::newRow("measurement") << "01 03 14 00 00 15"
                                 << "81 F5";
    QTest::newRow("address 0") << "00 03 11 80 00 04"
                               << "41 0C";
}

void TestKt580SimModel::crc() {
    QFETCH(QString, request);
    QFETCH(QString, check);
    std::string frame = Bytes(request);
    AppendCrc(frame);
    QCOMPARE(Hex(frame.substr(frame.size() - 2)), check);
    QVERIFY(CrcMatches(frame, frame.size()));
    frame[2] = static_cast<char>(frame[2] ^ 0x01);
    QVERIFY(!CrcMatches(frame, frame.size()));
}

void TestKt580SimModel::layouts_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("extended");
    QTest::addColumn<bool>("relayAlarm");
    QTest::newRow("empty") << "" << false << false;
    QTest::newRow("3.05") << "3.05" << false << false;
    QTest::newRow("3.1 prefix") << "3.1" << false << false;
    QTest::newRow("3.10") << "3.10" << true << false;
    QTest::newRow("3.19") << "3.19" << true << false;
    QTest::newRow("3.20") << "3.20" << true << true;
    QTest::newRow("3.79") << "3.79" << true << true;
    QTest::newRow("3.80") << "3.80" << false << true;
    QTest::newRow("3.85") << "3.85" << false << true;
    QTest::newRow("3.99") << "3.99" << false << true;
    QTest::newRow("4.00") << "4.00" << true << true;
    QTest::newRow("10.0 compares as text") << "10.0" << false << false;
}

void TestKt580SimModel::layouts() {
    QFETCH(QString, version);
    QFETCH(bool, extended);
    QFETCH(bool, relayAlarm);
    QCOMPARE(HasExtendedLayout(version.toStdString()), extended);
    QCOMPARE(HasRelayAlarmLayout(version.toStdString()), relayAlarm);
    const TMeterModel meter = Meter(version.toStdString());
    QCOMPARE(meter.Layout().Extended, extended);
    QCOMPARE(meter.Layout().RelayAlarm, relayAlarm);
}

void TestKt580SimModel::registerMap_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("exception");
    QTest::newRow("measurement") << "3.20" << 0x1400 << 21 << 0;
    QTest::newRow("past measurement") << "3.20" << 0x1400 << 22 << 2;
    QTest::newRow("identity") << "3.20" << 0xF000 << 9 << 0;
    QTest::newRow("past identity") << "3.20" << 0xF000 << 10 << 2;
    QTest::newRow("serial") << "3.20" << 0xF040 << 16 << 0;
    QTest::newRow("ao type") << "3.20" << 0xF106 << 1 << 0;
    QTest::newRow("settings 1100") << "3.05" << 0x1100 << 13 << 0;
    QTest::newRow("reset register, extended") << "3.10" << 0x1100 << 14 << 0;
    QTest::newRow("no reset register, basic") << "3.05" << 0x110D << 1 << 2;
    QTest::newRow("settings 1200") << "" << 0x1200 << 8 << 0;
    QTest::newRow("settings 1300") << "" << 0x1300 << 12 << 0;
    QTest::newRow("energy 12, extended") << "3.10" << 0x1180 << 12 << 0;
    QTest::newRow("energy 12, basic") << "3.05" << 0x1180 << 12 << 2;
    QTest::newRow("energy 4, basic") << "3.05" << 0x1180 << 4 << 0;
    QTest::newRow("energy 4, 3.85") << "3.85" << 0x1180 << 4 << 0;
    QTest::newRow("1208, extended") << "3.10" << 0x1208 << 2 << 0;
    QTest::newRow("1208, basic") << "3.05" << 0x1208 << 2 << 2;
    QTest::newRow("1208, 3.85") << "3.85" << 0x1208 << 2 << 2;
    QTest::newRow("120A, 3.10") << "3.10" << 0x120A << 5 << 2;
    QTest::newRow("120A, 3.20") << "3.20" << 0x120A << 5 << 0;
    QTest::newRow("120A, 3.85") << "3.85" << 0x120A << 5 << 0;
    QTest::newRow("120A, empty") << "" << 0x120A << 5 << 2;
    QTest::newRow("1200 to 120E, 4.00") << "4.00" << 0x1200 << 15 << 0;
    QTest::newRow("nothing at 0") << "3.20" << 0x0000 << 1 << 2;
    QTest::newRow("wraps past FFFF") << "3.20" << 0xFFFF << 2 << 2;
}

void TestKt580SimModel::registerMap() {
    QFETCH(QString, version);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(int, exception);
    const TMeterModel meter = Meter(version.toStdString());
    std::vector<uint16_t> values;
    const TException result =
        meter.ReadRegisters(static_cast<uint16_t>(start), static_cast<uint16_t>(count), values);
    QCOMPARE(static_cast<int>(result), exception);
    QCOMPARE(static_cast<int>(values.size()), exception == 0 ? count : 0);
}

void TestKt580SimModel::identityBlock() {
    TIdentity identity;
    identity.SoftwareVersion = "3.1";
    identity.SerialNumber = "AB12";
    identity.AOType = 2;
    const TMeterModel meter(identity, 1, 19200, TMeterParity::None1);
    std::vector<uint16_t> values;
    QCOMPARE(meter.ReadRegisters(reg::Identity, 9, values), TException::None);
    std::string text;
    for (uint16_t v : values) {
        text.push_back(static_cast<char>(v >> 8));
        text.push_back(static_cast<char>(v & 0xFF));
    }
    QCOMPARE(text, std::string("ED801.003.1\0"
                               "190815",
                               18));
    QCOMPARE(meter.ReadRegisters(reg::SerialNumber, 16, values), TException::None);
    QCOMPARE(values[0], uint16_t(0x4142));
    QCOMPARE(values[1], uint16_t(0x3132));
    QCOMPARE(values[2], uint16_t(0));
    QCOMPARE(Read1(meter, reg::AOType), uint16_t(2));
}

void TestKt580SimModel::settingsChecks_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("start");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<int>("exception");
    using L = QList<int>;
    QTest::newRow("password 9999") << "3.20" << 0x1100 << L{9999} << 0;
    QTest::newRow("password 10000") << "3.20" << 0x1100 << L{10000} << 4;
    QTest::newRow("address 0") << "3.20" << 0x1101 << L{0} << 4;
    QTest::newRow("address 247") << "3.20" << 0x1101 << L{247} << 0;
    QTest::newRow("address 248") << "3.20" << 0x1101 << L{248} << 4;
    QTest::newRow("baud 9600") << "3.20" << 0x1102 << L{9600} << 0;
    QTest::newRow("baud 9601") << "3.20" << 0x1102 << L{9601} << 4;
    QTest::newRow("baud 57600 extended") << "3.20" << 0x1102 << L{57600} << 0;
    QTest::newRow("baud 38400 basic") << "3.05" << 0x1102 << L{38400} << 4;
    QTest::newRow("parity 3") << "3.20" << 0x1103 << L{3} << 0;
    QTest::newRow("parity 4") << "3.20" << 0x1103 << L{4} << 4;
    QTest::newRow("wiring 4 extended") << "3.20" << 0x1104 << L{4} << 0;
    QTest::newRow("wiring 5") << "3.20" << 0x1104 << L{5} << 4;
    QTest::newRow("wiring 3 basic") << "3.05" << 0x1104 << L{3} << 4;
    QTest::newRow("PT1 500000") << "3.20" << 0x1105 << L{0xA120, 0x0007} << 0;
    QTest::newRow("PT1 500001") << "3.20" << 0x1105 << L{0xA121, 0x0007} << 4;
    QTest::newRow("PT1 49") << "3.20" << 0x1105 << L{49, 0} << 4;
    QTest::newRow("PT1 low half alone") << "3.20" << 0x1105 << L{50} << 0;
    QTest::newRow("PT1 high half alone") << "3.20" << 0x1106 << L{8} << 4;
    QTest::newRow("PT2 49") << "3.20" << 0x1107 << L{49} << 4;
    QTest::newRow("PT2 400") << "3.20" << 0x1107 << L{400} << 0;
    QTest::newRow("PT2 401") << "3.20" << 0x1107 << L{401} << 4;
    QTest::newRow("CT1 0") << "3.20" << 0x1108 << L{0} << 4;
    QTest::newRow("CT1 9999") << "3.20" << 0x1108 << L{9999} << 0;
    QTest::newRow("CT2 1") << "3.20" << 0x1109 << L{1} << 0;
    QTest::newRow("CT2 2") << "3.20" << 0x1109 << L{2} << 4;
    QTest::newRow("QMode 2") << "3.20" << 0x110A << L{2} << 4;
    QTest::newRow("backlight 120") << "3.20" << 0x110B << L{120} << 0;
    QTest::newRow("backlight 121") << "3.20" << 0x110B << L{121} << 4;
    QTest::newRow("load convention 2") << "3.20" << 0x110C << L{2} << 4;
    QTest::newRow("RO type 3") << "3.20" << 0x1200 << L{3} << 4;
    QTest::newRow("DO type 2") << "3.20" << 0x1201 << L{2} << 4;
    QTest::newRow("pulse 799") << "3.20" << 0x1202 << L{799} << 4;
    QTest::newRow("pulse 60000") << "3.20" << 0x1202 << L{60000} << 0;
    QTest::newRow("pulse 60001") << "3.20" << 0x1202 << L{60001} << 4;
    QTest::newRow("alarm channel 18") << "3.20" << 0x1203 << L{18} << 0;
    QTest::newRow("alarm channel 19") << "3.20" << 0x1203 << L{19} << 4;
    QTest::newRow("setpoint any") << "3.20" << 0x1204 << L{0xEC78} << 0;
    QTest::newRow("delay 255") << "3.20" << 0x1205 << L{255} << 0;
    QTest::newRow("delay 256") << "3.20" << 0x1205 << L{256} << 4;
    QTest::newRow("alarm output 2 single alarm") << "3.10" << 0x1207 << L{2} << 0;
    QTest::newRow("alarm output 2 relay alarm") << "3.20" << 0x1207 << L{2} << 4;
    QTest::newRow("DO1 output 3") << "3.20" << 0x1208 << L{3} << 4;
    QTest::newRow("DO outputs") << "3.20" << 0x1208 << L{1, 2} << 0;
    QTest::newRow("RO2 block") << "3.20" << 0x120A << L{13, 0xEC78, 10, 0, 1} << 0;
    QTest::newRow("RO2 output 2") << "3.20" << 0x120E << L{2} << 4;
    QTest::newRow("RO2 delay 300") << "3.20" << 0x120C << L{300} << 4;
    QTest::newRow("AO object 16") << "3.20" << 0x1300 << L{16} << 0;
    QTest::newRow("AO object 17") << "3.20" << 0x1300 << L{17} << 4;
    QTest::newRow("AO high 120") << "3.20" << 0x1302 << L{120} << 0;
    QTest::newRow("AO2 low 121") << "3.20" << 0x1309 << L{121} << 4;
    QTest::newRow("AO2 sign 2") << "3.20" << 0x130B << L{2} << 4;
    QTest::newRow("identity read-only") << "3.20" << 0xF000 << L{0x4142} << 2;
    QTest::newRow("measurement read-only") << "3.20" << 0x1400 << L{1} << 2;
    QTest::newRow("1208 absent on basic") << "3.05" << 0x1208 << L{0} << 2;
}

void TestKt580SimModel::settingsChecks() {
    QFETCH(QString, version);
    QFETCH(int, start);
    QFETCH(QList<int>, values);
    QFETCH(int, exception);
    TMeterModel meter = Meter(version.toStdString());
    std::vector<uint16_t> words;
    for (int v : values) {
        words.push_back(static_cast<uint16_t>(v));
    }
    QCOMPARE(static_cast<int>(meter.WriteRegisters(static_cast<uint16_t>(start), words)),
             exception);
    if (exception == 0) {
        for (std::size_t i = 0; i < words.size(); ++i) {
            QCOMPARE(Read1(meter, static_cast<uint16_t>(start + i)), words[i]);
        }
    }
}

void TestKt580SimModel::refusedBlockChangesNothing() {
    TMeterModel meter = Meter("3.20");
    const TSettingsImage before = meter.Settings();
    const uint64_t generation = meter.MemoryGeneration();
    // A whole 0x1100 block, good but for CT2 = 3.
    const std::vector<uint16_t> block = {1234, 7, 9600, 0, 1, 1000, 0, 100, 50, 3, 1, 10, 1};
    QCOMPARE(meter.WriteRegisters(0x1100, block), TException::Refused);
    QVERIFY(meter.Settings() == before);
    QCOMPARE(meter.MemoryGeneration(), generation);
    std::vector<uint16_t> fixed = block;
    fixed[9] = 5;
    QCOMPARE(meter.WriteRegisters(0x1100, fixed), TException::None);
    QCOMPARE(meter.Address(), uint8_t(7));
    QCOMPARE(meter.Baudrate(), 9600U);
    QCOMPARE(meter.Parity(), TMeterParity::Even);
}

void TestKt580SimModel::energyCommands_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("start");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<int>("exception");
    QTest::addColumn<QList<int>>("tenthsAfter"); // all six counters
    using L = QList<int>;
    const L preset = {100, 200, 300, 400, 500, 600};
    QTest::newRow("preset Ep_imp 123456")
        << "3.20" << 0x1184 << L{0xE240, 0x0001} << 0 << L{100, 200, 123456, 400, 500, 600};
    QTest::newRow("preset Eq_total 0")
        << "3.05" << 0x1182 << L{0, 0} << 0 << L{100, 0, 300, 400, 500, 600};
    QTest::newRow("reset by 0x110D") << "3.10" << 0x110D << L{10} << 0 << L{0, 0, 0, 0, 0, 0};
    QTest::newRow("0x110D other value") << "3.10" << 0x110D << L{9} << 4 << preset;
    QTest::newRow("0x110D on basic") << "3.05" << 0x110D << L{10} << 2 << preset;
    QTest::newRow("0x110D on 3.85") << "3.85" << 0x110D << L{10} << 2 << preset;
    QTest::newRow("basic reset by zeros")
        << "3.05" << 0x1180 << L{0, 0, 0, 0} << 0 << L{0, 0, 300, 400, 500, 600};
    QTest::newRow("basic has no Ep_imp") << "3.05" << 0x1184 << L{1, 0} << 2 << preset;
    QTest::newRow("all twelve") << "4.00" << 0x1180 << L{1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0} << 0
                                << L{1, 2, 3, 4, 5, 6};
}

void TestKt580SimModel::energyCommands() {
    QFETCH(QString, version);
    QFETCH(int, start);
    QFETCH(QList<int>, values);
    QFETCH(int, exception);
    QFETCH(QList<int>, tenthsAfter);
    TMeterModel meter = Meter(version.toStdString());
    for (int i = 0; i < TEnergyCounters::Count; ++i) {
        meter.Energy().Set(i, static_cast<uint32_t>(100 * (i + 1)));
    }
    std::vector<uint16_t> words;
    for (int v : values) {
        words.push_back(static_cast<uint16_t>(v));
    }
    QCOMPARE(static_cast<int>(meter.WriteRegisters(static_cast<uint16_t>(start), words)),
             exception);
    for (int i = 0; i < TEnergyCounters::Count; ++i) {
        QCOMPARE(static_cast<int>(meter.Energy().Tenths(i)), tenthsAfter[i]);
    }
    // The registers show the counters, low word first.
    std::vector<uint16_t> regs;
    const int count = meter.Layout().Extended ? 12 : 4;
    QCOMPARE(meter.ReadRegisters(reg::Energy, static_cast<uint16_t>(count), regs),
             TException::None);
    for (int i = 0; i < count / 2; ++i) {
        QCOMPARE(regs[2 * i] | (regs[2 * i + 1] << 16), tenthsAfter[i]);
    }
}

void TestKt580SimModel::energyIntegration() {
    TEnergyCounters energy;
    // One hour of 1 kW import and 0.5 kvar capacitive, in one-second steps.
    for (int s = 0; s < 3600; ++s) {
        energy.Integrate(1.0, -0.5, 1.0 / 3600);
    }
    QCOMPARE(energy.Tenths(TEnergyCounters::EpTotal), 10U);
    QCOMPARE(energy.Tenths(TEnergyCounters::EpImp), 10U);
    QCOMPARE(energy.Tenths(TEnergyCounters::EpExp), 0U);
    QCOMPARE(energy.Tenths(TEnergyCounters::EqTotal), 5U);
    QCOMPARE(energy.Tenths(TEnergyCounters::EqImp), 0U);
    QCOMPARE(energy.Tenths(TEnergyCounters::EqExp), 5U);
    // Export counts on its own counter and on the total.
    energy.Integrate(-2.0, 0.25, 1.0);
    QCOMPARE(energy.Tenths(TEnergyCounters::EpTotal), 30U);
    QCOMPARE(energy.Tenths(TEnergyCounters::EpExp), 20U);
    QCOMPARE(energy.Tenths(TEnergyCounters::EqImp), 2U); // 2.5 tenths: half a tenth carried
    energy.Integrate(0, 0.05, 1.0);
    QCOMPARE(energy.Tenths(TEnergyCounters::EqImp), 3U);
    // 32-bit wrap like the register pair.
    energy.Set(TEnergyCounters::EpImp, 0xFFFFFFFFU);
    energy.Integrate(0.2, 0, 1.0);
    QCOMPARE(energy.Tenths(TEnergyCounters::EpImp), 1U);
    // Time running backwards adds nothing.
    energy.Integrate(5, 5, -1);
    QCOMPARE(energy.Tenths(TEnergyCounters::EpImp), 1U);
}

void TestKt580SimModel::meterEnergyFollowsRatios() {
    // The counters are primary energy: ten times the PT ratio gives ten times the energy.
    TMeterModel plain = Meter("3.20");
    TMeterModel scaled = Meter("3.20");
    QCOMPARE(scaled.WriteRegisters(reg::PT1Low, {4000, 0}), TException::None);
    plain.Advance(7200);
    scaled.Advance(7200);
    const double a = plain.Energy().Tenths(TEnergyCounters::EpTotal);
    const double b = scaled.Energy().Tenths(TEnergyCounters::EpTotal);
    // About 2 kW secondary for two hours: some 40 tenths.
    QVERIFY2(a > 25 && a < 60, qPrintable(QString::number(a)));
    QVERIFY2(std::fabs(b / a - 10) < 0.5, qPrintable(QString("%1 %2").arg(a).arg(b)));
    QCOMPARE(plain.Seconds(), 7200.0);
}

void TestKt580SimModel::liveValuesPlausible() {
    const TMeterModel meter = Meter("3.20");
    bool sawExport = false;
    bool sawInductive = false;
    bool sawCapacitive = false;
    bool sawInputOn = false;
    bool sawInputOff = false;
    TLiveValues previous = ComputeLiveValues(meter.Settings(), 1, 0);
    for (int t = 1; t < 2400; ++t) {
        const TLiveValues live = ComputeLiveValues(meter.Settings(), 1, t);
        const auto& r = live.Registers;
        for (int k = 0; k < 3; ++k) {
            QVERIFY(r[k] > 2250 && r[k] < 2370);                           // phase volts x10
            QVERIFY(r[3 + k] > 3900 && r[3 + k] < 4100);                   // line volts x10
            QVERIFY(r[6 + k] > 2300 && r[6 + k] < 3700);                   // amperes x1000
            QVERIFY(std::abs(int(r[k]) - int(previous.Registers[k])) < 5); // slow
        }
        QVERIFY(r[15] >= 4990 && r[15] <= 5010);
        const double p = static_cast<int16_t>(r[12]);
        const double q = static_cast<int16_t>(r[13]);
        const double s = r[14];
        const double pf = static_cast<int16_t>(r[16]) / 1000.0;
        QVERIFY(std::fabs(s - std::hypot(p, q)) < 2); // each rounded on its own
        QVERIFY(std::fabs(pf - p / s) < 0.002);
        const char load = static_cast<char>(r[17]);
        QVERIFY(load == 'L' || load == 'C' || load == 'R');
        QCOMPARE(load == 'L', q > 0.05 * s);
        QCOMPARE(load == 'C', q < -0.05 * s);
        QVERIFY(r[18] <= 20000 && r[19] <= 20000);
        QVERIFY(r[20] < 2000); // neutral current of a nearly balanced load
        sawExport |= p < 0;
        sawInductive |= load == 'L';
        sawCapacitive |= load == 'C';
        for (bool in : live.Inputs) {
            (in ? sawInputOn : sawInputOff) = true;
        }
        previous = live;
    }
    QVERIFY(sawExport && sawInductive && sawCapacitive && sawInputOn && sawInputOff);
}

void TestKt580SimModel::requests_data() {
    QTest::addColumn<QString>("request"); // without check field
    QTest::addColumn<QString>("answer");  // without check field; empty: no answer
    QTest::addColumn<int>("kind");
    QTest::newRow("ao type") << "01 03 F1 06 00 01"
                             << "01 03 02 00 01" << int(TReply::Answer);
    QTest::newRow("via 04") << "01 04 F1 06 00 01"
                            << "01 04 02 00 01" << int(TReply::Answer);
    QTest::newRow("relay on") << "01 05 00 01 FF 00"
                              << "01 05 00 01 FF 00" << int(TReply::Answer);
    QTest::newRow("coil value 1234") << "01 05 00 00 12 34"
                                     << "01 85 03" << int(TReply::Answer);
    QTest::newRow("coil 2") << "01 05 00 02 FF 00"
                            << "01 85 02" << int(TReply::Answer);
    QTest::newRow("coils") << "01 01 00 00 00 02"
                           << "01 01 01 00" << int(TReply::Answer);
    QTest::newRow("coils 0..2") << "01 01 00 00 00 03"
                                << "01 81 02" << int(TReply::Answer);
    QTest::newRow("no coils") << "01 01 00 00 00 00"
                              << "01 81 03" << int(TReply::Answer);
    QTest::newRow("2001 inputs") << "01 02 00 00 07 D1"
                                 << "01 82 03" << int(TReply::Answer);
    QTest::newRow("input 6") << "01 02 00 06 00 01"
                             << "01 82 02" << int(TReply::Answer);
    QTest::newRow("0 registers") << "01 03 14 00 00 00"
                                 << "01 83 03" << int(TReply::Answer);
    QTest::newRow("126 registers") << "01 03 14 00 00 7E"
                                   << "01 83 03" << int(TReply::Answer);
    QTest::newRow("absent block") << "01 03 12 0A 00 05"
                                  << "01 83 02" << int(TReply::Answer);
    QTest::newRow("write 06") << "01 06 11 0B 00 05"
                              << "01 06 11 0B 00 05" << int(TReply::Answer);
    QTest::newRow("write 06 refused") << "01 06 11 0B 00 79"
                                      << "01 86 04" << int(TReply::Answer);
    QTest::newRow("write 10") << "01 10 12 08 00 02 04 00 01 00 02"
                              << "01 10 12 08 00 02" << int(TReply::Answer);
    QTest::newRow("write 10 bad count") << "01 10 12 08 00 02 02 00 01"
                                        << "01 90 03" << int(TReply::Answer);
    QTest::newRow("write 10 of 0") << "01 10 12 08 00 00 00"
                                   << "01 90 03" << int(TReply::Answer);
    QTest::newRow("reset energy") << "01 10 11 0D 00 01 02 00 0A"
                                  << "01 10 11 0D 00 01" << int(TReply::Answer);
    QTest::newRow("function 2B") << "01 2B 0E 01 00"
                                 << "01 AB 01" << int(TReply::Answer);
    QTest::newRow("function 0F") << "01 0F 00 00 00 02 01 03"
                                 << "01 8F 01" << int(TReply::Answer);
    QTest::newRow("other address") << "02 03 F1 06 00 01"
                                   << "" << int(TReply::OtherAddress);
    QTest::newRow("broadcast read") << "00 03 F1 06 00 01"
                                    << "" << int(TReply::Ignored);
    QTest::newRow("broadcast coil") << "00 05 00 00 FF 00"
                                    << "" << int(TReply::Broadcast);
}

void TestKt580SimModel::requests() {
    QFETCH(QString, request);
    QFETCH(QString, answer);
    QFETCH(int, kind);
    TMeterModel meter = Meter("3.10");
    const TReply reply = HandleRequest(meter, WithCrc(request), 1);
    QCOMPARE(int(reply.Kind), kind);
    if (answer.isEmpty()) {
        QVERIFY(reply.Bytes.empty());
        return;
    }
    QVERIFY(CrcMatches(reply.Bytes, reply.Bytes.size()));
    QCOMPARE(Hex(reply.Bytes.substr(0, reply.Bytes.size() - 2)), answer);
    const bool isException = (static_cast<uint8_t>(reply.Bytes[1]) & 0x80) != 0;
    QCOMPARE(int(reply.Exception), isException ? int(static_cast<uint8_t>(reply.Bytes[2])) : 0);
}

void TestKt580SimModel::broadcastApplied() {
    TMeterModel meter = Meter("3.20");
    QCOMPARE(HandleRequest(meter, WithCrc("00 05 00 01 FF 00"), 1).Kind, TReply::Broadcast);
    QVERIFY(meter.Relay(1));
    QCOMPARE(HandleRequest(meter, WithCrc("00 10 11 0B 00 01 02 00 07"), 1).Kind,
             TReply::Broadcast);
    QCOMPARE(Read1(meter, reg::Backlight), uint16_t(7));
    // A refused broadcast is silent and changes nothing.
    QCOMPARE(HandleRequest(meter, WithCrc("00 06 11 0B 00 FF"), 1).Kind, TReply::Broadcast);
    QCOMPARE(Read1(meter, reg::Backlight), uint16_t(7));
}

void TestKt580SimModel::addressChangeAnswersOnOldAddress() {
    TMeterModel meter = Meter("3.20");
    const TReply reply = HandleRequest(
        meter,
        WithCrc("01 10 11 00 00 0D 1A 00 00 00 0A 25 80 00 00 00 00 01 90 00 00 01 90 00 05 "
                "00 05 00 00 00 00 00 00"),
        1);
    QCOMPARE(Hex(reply.Bytes.substr(0, 6)), QString("01 10 11 00 00 0D"));
    QCOMPARE(meter.Address(), uint8_t(10));
    QCOMPARE(meter.Baudrate(), 9600U);
    QCOMPARE(meter.Parity(), TMeterParity::Even);
    // The next request must use the new address.
    QCOMPARE(HandleRequest(meter, WithCrc("01 03 F1 06 00 01"), 10).Kind, TReply::OtherAddress);
    QCOMPARE(HandleRequest(meter, WithCrc("0A 03 F1 06 00 01"), 10).Kind, TReply::Answer);
}

void TestKt580SimModel::assembler_data() {
    // Chunks fed in order; a chunk "|" stands for a silence. Expected: the frames found.
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QStringList>("frames");
    QTest::addColumn<int>("discarded");
    const QString read = Hex(WithCrc("01 03 14 00 00 15"));
    const QString write = Hex(WithCrc("01 10 11 0D 00 01 02 00 0A"));
    const QString unknown = Hex(WithCrc("01 2B 0E 01 00"));
    QString bad = read;
    bad.replace(bad.size() - 2, 2, "00");
    QTest::newRow("whole") << QStringList{read} << QStringList{read} << 0;
    QTest::newRow("in pieces") << QStringList{read.left(5), read.mid(5, 9), read.mid(14)}
                               << QStringList{read} << 0;
    QTest::newRow("write by byte count")
        << QStringList{write.left(20), write.mid(20)} << QStringList{write} << 0;
    QTest::newRow("back to back") << QStringList{read + " " + write} << QStringList{read, write}
                                  << 0;
    QTest::newRow("noise ahead, no silence needed")
        << QStringList{"AA 55 " + read} << QStringList{read} << 2;
    QTest::newRow("unknown function only at silence")
        << QStringList{unknown, "|"} << QStringList{unknown} << 0;
    QTest::newRow("garbage dropped at silence")
        << QStringList{"17 2B 99", "|", read} << QStringList{read} << 3;
    QTest::newRow("bad check then good") << QStringList{bad, "|", read} << QStringList{read} << 8;
    QTest::newRow("half frame then silence")
        << QStringList{read.left(11), "|", read} << QStringList{read} << 4;
    QTest::newRow("huge byte count does not wedge")
        << QStringList{"01 10 00 00 00 7B F6", read} << QStringList{read} << 7;
    QTest::newRow("huge byte count, then silence")
        << QStringList{"01 10 00 00 00 7B F6", "|", read} << QStringList{read} << 7;
    QTest::newRow("long garbage, frame behind it")
        << QStringList{QString("2B ").repeated(300), QString("2B ").repeated(300) + read}
        << QStringList{read} << 600;
    QTest::newRow("unknown head, frame behind it")
        << QStringList{"17 2B 99 " + read} << QStringList{read} << 3;
}

void TestKt580SimModel::assembler() {
    QFETCH(QStringList, chunks);
    QFETCH(QStringList, frames);
    QFETCH(int, discarded);
    TFrameAssembler assembler;
    QStringList found;
    for (const QString& chunk : chunks) {
        const bool silence = chunk == "|";
        if (!silence) {
            assembler.Feed(Bytes(chunk));
        }
        while (auto frame = assembler.Next(silence)) {
            found << Hex(*frame);
        }
    }
    QCOMPARE(found, frames);
    QCOMPARE(int(assembler.DiscardedBytes()), discarded);
}

void TestKt580SimModel::faults_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("noise") << "noise";
    QTest::newRow("crc") << "crc";
    QTest::newRow("drop") << "drop";
    QTest::newRow("truncate") << "truncate";
    QTest::newRow("split") << "split";
}

void TestKt580SimModel::faults() {
    QFETCH(QString, kind);
    TFaultKind fault{};
    QVERIFY(FaultFromName(kind.toStdString(), fault));
    QCOMPARE(QString(FaultName(fault)), kind);
    std::array<double, FaultKinds> rates{};
    rates[static_cast<int>(fault)] = 1.0;
    const uint8_t address = 0x01;
    const std::string answer = WithCrc("01 03 06 01 01 00 01 01 03");
    for (uint64_t seed = 0; seed < 200; ++seed) {
        TFaultInjector injector(rates, seed);
        const auto pieces = injector.Shape(answer, address);
        QCOMPARE(injector.Count(fault), 1ULL);
        std::string sent;
        for (const TPiece& p : pieces) {
            sent += p.Bytes;
        }
        switch (fault) {
        case TFaultKind::Noise: {
            QCOMPARE(pieces.size(), std::size_t(1));
            QVERIFY(sent.size() > answer.size() && sent.size() <= answer.size() + 8);
            QCOMPARE(sent.substr(sent.size() - answer.size()), answer);
            const std::string noise = sent.substr(0, sent.size() - answer.size());
            QVERIFY(noise.find(static_cast<char>(address)) == std::string::npos);
            // So the first address+function pair is the real answer.
            QCOMPARE(sent.find(answer.substr(0, 2)), noise.size());
            break;
        }
        case TFaultKind::Crc:
            QCOMPARE(sent.size(), answer.size());
            QCOMPARE(sent.substr(0, answer.size() - 2), answer.substr(0, answer.size() - 2));
            QVERIFY(!CrcMatches(sent, sent.size()));
            break;
        case TFaultKind::Drop:
            QVERIFY(pieces.empty());
            break;
        case TFaultKind::Truncate:
            QVERIFY(!sent.empty() && sent.size() < answer.size());
            QCOMPARE(answer.substr(0, sent.size()), sent);
            break;
        case TFaultKind::Split:
            QVERIFY(pieces.size() >= 2 && pieces.size() <= 3);
            QCOMPARE(sent, answer);
            QCOMPARE(pieces[0].GapBeforeMs, 0);
            for (std::size_t i = 1; i < pieces.size(); ++i) {
                QVERIFY(pieces[i].GapBeforeMs > 5 && pieces[i].GapBeforeMs <= SplitGapMaxMs);
                QVERIFY(!pieces[i].Bytes.empty());
            }
            break;
        }
    }
}

void TestKt580SimModel::faultsRepeatWithSeed() {
    std::array<double, FaultKinds> rates = {0.3, 0.3, 0.3, 0.3, 0.3};
    const std::string answer = WithCrc("01 03 04 00 01 00 02");
    const auto run = [&](uint64_t seed) {
        TFaultInjector injector(rates, seed);
        QStringList out;
        for (int i = 0; i < 50; ++i) {
            QString line;
            for (const TPiece& p : injector.Shape(answer, 1)) {
                line += QString::number(p.GapBeforeMs) + ":" + Hex(p.Bytes) + ";";
            }
            out << line;
        }
        return out;
    };
    QCOMPARE(run(42), run(42));
    QVERIFY(run(42) != run(43));
    TFaultInjector none({}, 5);
    QCOMPARE(none.Shape(answer, 1).size(), std::size_t(1));
    for (int k = 0; k < FaultKinds; ++k) {
        QCOMPARE(none.Count(static_cast<TFaultKind>(k)), 0ULL);
    }
}

void TestKt580SimModel::miswiredLiveValues_data() {
    QTest::addColumn<int>("missing");
    QTest::addColumn<QString>("reversed");
    QTest::addColumn<double>("unbalance");
    // Registers 0x1400 + n as the meter shows them with that wiring.
    QTest::addColumn<QString>("expect");
    QTest::newRow("right") << -1 << "" << 0.0 << "Vb>2000 P>0 In<2000 IaIc<1.5";
    QTest::newRow("missing B") << 1 << "" << 0.0 << "Vb=0 Vab<2500 Vca>3900 P>0";
    QTest::newRow("reversed A") << -1 << "A" << 0.0 << "P>0 In>4000";
    QTest::newRow("reversed ABC") << -1 << "ABC" << 0.0 << "P<0 In<2000";
    QTest::newRow("unbalanced") << -1 << "" << 0.5 << "IaIc>2.2 In>1500 P>0";
}

void TestKt580SimModel::miswiredLiveValues() {
    QFETCH(int, missing);
    QFETCH(QString, reversed);
    QFETCH(double, unbalance);
    QFETCH(QString, expect);
    TWiring wiring;
    wiring.MissingPhase = missing;
    for (QChar c : reversed) {
        wiring.ReversedCT[static_cast<std::size_t>(c.toLatin1() - 'A')] = true;
    }
    wiring.Unbalance = unbalance;
    const TMeterModel meter = Meter("3.20");
    // Early in the day, before the load's export phase.
    for (int t : {1, 60, 200}) {
        const auto& r = ComputeLiveValues(meter.Settings(), 1, t, wiring).Registers;
        const QMap<QString, double> v = {
            {"Vb", r[1]},  {"Vab", r[3]},
            {"Vca", r[5]}, {"P", static_cast<int16_t>(r[12])},
            {"In", r[20]}, {"IaIc", r[8] > 0 ? double(r[6]) / r[8] : 1e9},
        };
        for (const QString& term : expect.split(' ')) {
            const qsizetype op = term.indexOf(QRegularExpression("[<>=]"));
            const double actual = v.value(term.left(op));
            const double bound = term.mid(op + 1).toDouble();
            const QChar c = term[op];
            const bool holds = c == '<'   ? actual < bound
                               : c == '>' ? actual > bound
                                          : actual == bound;
            QVERIFY2(holds, qPrintable(QString("%1 at t=%2: %3").arg(term).arg(t).arg(actual)));
        }
    }
}

void TestKt580SimModel::options_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("check"); // "field=value" checked on success, error part else
    QTest::newRow("none") << QStringList{} << true << "address=unset";
    QTest::newRow("address") << QStringList{"--address", "247"} << true << "address=247";
    QTest::newRow("address 0") << QStringList{"--address", "0"} << false << "--address";
    QTest::newRow("address abc") << QStringList{"--address", "abc"} << false << "abc";
    QTest::newRow("missing value") << QStringList{"--com"} << false << "needs a value";
    QTest::newRow("com") << QStringList{"--com", "3"} << true << "com=3";
    QTest::newRow("unknown") << QStringList{"--frobnicate"} << false << "unknown option";
    QTest::newRow("baud 9600") << QStringList{"--baud", "9600"} << true << "baud=9600";
    QTest::newRow("baud 115200") << QStringList{"--baud", "115200"} << false << "115200";
    QTest::newRow("baud 57600 basic")
        << QStringList{"--version-text", "3.05", "--baud", "57600"} << false << "above 19200";
    QTest::newRow("parity even") << QStringList{"--parity", "even"} << true << "parity=0";
    QTest::newRow("none 2 stops") << QStringList{"--stop-bits", "2"} << true << "parity=2";
    QTest::newRow("even 2 stops") << QStringList{"--parity", "even", "--stop-bits", "2"} << false
                                  << "only with --parity none";
    QTest::newRow("version too long") << QStringList{"--version-text", "3.200"} << false << "3.200";
    QTest::newRow("empty version") << QStringList{"--version-text", ""} << true << "version=";
    QTest::newRow("fault") << QStringList{"--fault", "crc=0.25", "--fault", "split=1"} << true
                           << "faults=0,0.25,0,0,1";
    QTest::newRow("fault rate 2") << QStringList{"--fault", "crc=2"} << false << "crc=2";
    QTest::newRow("fault kind") << QStringList{"--fault", "gremlins=0.1"} << false << "gremlins";
    QTest::newRow("requests 0") << QStringList{"--requests", "0"} << false << "above 0";
    QTest::newRow("seed") << QStringList{"--seed", "7", "--pace", "--delay", "3"} << true
                          << "seed=7";
    QTest::newRow("release date") << QStringList{"--release-date", "16012"} << false << "YYMMDD";
    QTest::newRow("busy") << QStringList{"--busy", "40", "--answer-any-address"} << true
                          << "busy=40";
    QTest::newRow("busy negative") << QStringList{"--busy", "-1"} << false << "milliseconds";
    QTest::newRow("answers lost") << QStringList{"--lose-answer", "1100",          "--lose-answer",
                                                 "f000",          "--lose-answer", "1100"}
                                  << true << "lose=1100,f000,1100";
    QTest::newRow("answer lost, not hex")
        << QStringList{"--lose-answer", "11g0"} << false << "register 0..FFFF";
    QTest::newRow("miswire") << QStringList{"--miswire",      "missing-phase=B", "--miswire",
                                            "reversed-ct=AC", "--miswire",       "unbalance=0.5"}
                             << true << "wiring=1,101,0.5";
    QTest::newRow("miswire phase D")
        << QStringList{"--miswire", "missing-phase=D"} << false << "missing-phase=D";
    QTest::newRow("miswire ct x") << QStringList{"--miswire", "reversed-ct=AX"} << false
                                  << "reversed-ct=AX";
    QTest::newRow("miswire unbalance 2")
        << QStringList{"--miswire", "unbalance=2"} << false << "unbalance=2";
    QTest::newRow("miswire kind") << QStringList{"--miswire", "crossed=A"} << false << "crossed";
    QTest::newRow("answer lost, too wide")
        << QStringList{"--lose-answer", "11000"} << false << "register 0..FFFF";
    QTest::newRow("identity") << QStringList{"--serial",  "SN 1", "--hardware-version", "2.1",
                                             "--ao-type", "2",    "--release-date",     "201231"}
                              << true << "identity=SN 1,2.1,2,201231";
    QTest::newRow("extra meters") << QStringList{"--extra-meter", "3,SN9,KT2", "--extra-meter", "5"}
                                  << true << "extra=3:SN9:KT2,5::";
    QTest::newRow("functions lost") << QStringList{"--mute-function", "05", "--mute-function", "1f"}
                                    << true << "functions=5,31";
    QTest::newRow("flags") << QStringList{"--log", "-h", "--time-scale", "60"} << true
                           << "flags=60";
    QTest::newRow("unknown, whole text")
        << QStringList{"--pace", "-x"} << false << "unknown option '-x' (see --help)";
    QTest::newRow("missing value, whole text")
        << QStringList{"--pace", "--state"} << false << "option --state needs a value";
    QTest::newRow("empty link") << QStringList{"--link", ""} << false
                                << "bad value '' for --link: a path";
    QTest::newRow("ao type") << QStringList{"--ao-type", "65536"} << false
                             << "bad value '65536' for --ao-type: a number 0..65535";
    QTest::newRow("meter faults") << QStringList{"--meter-fault", "3:silent",      "--meter-fault",
                                                 "4:slow=120",    "--meter-fault", "4:garble",
                                                 "--meter-fault", "247:slow=0"}
                                  << true << "meterfaults=3:silent,4:slow120,4:garble,247:slow0";
    QTest::newRow("meter fault kind")
        << QStringList{"--meter-fault", "3:noisy"} << false << "for --meter-fault: A:silent";
    QTest::newRow("meter fault address 248")
        << QStringList{"--meter-fault", "248:silent"} << false << "for --meter-fault";
    QTest::newRow("meter fault slow without ms")
        << QStringList{"--meter-fault", "3:slow="} << false << "for --meter-fault";
    QTest::newRow("meter fault slow too long")
        << QStringList{"--meter-fault", "3:slow=10001"} << false << "for --meter-fault";
    QTest::newRow("meter fault no address")
        << QStringList{"--meter-fault", "garble"} << false << "for --meter-fault";
    QTest::newRow("extra meter 0")
        << QStringList{"--extra-meter", "0,SN"} << false << "for --extra-meter: A[,SERIAL[,TYPE]]";
    QTest::newRow("extra meter type")
        << QStringList{"--extra-meter", "2,SN,KT580"} << false << "type of up to 4";
    QTest::newRow("function 80") << QStringList{"--mute-function", "80"} << false
                                 << "for --mute-function: a function code";
    QTest::newRow("time scale") << QStringList{"--time-scale", "-1"} << false
                                << "bad value '-1' for --time-scale: a factor 0..1000000";
    QTest::newRow("hardware version")
        << QStringList{"--hardware-version", "1.0.0"} << false << "for --hardware-version";
}

void TestKt580SimModel::options() {
    QFETCH(QStringList, args);
    QFETCH(bool, ok);
    QFETCH(QString, check);
    std::vector<std::string> list;
    for (const QString& a : args) {
        list.push_back(a.toStdString());
    }
    TOptions o;
    std::string error;
    QCOMPARE(ParseOptions(list, o, error), ok);
    if (!ok) {
        QVERIFY2(QString::fromStdString(error).contains(check), error.c_str());
        return;
    }
    QVERIFY(error.empty());
    const QString field = check.section('=', 0, 0);
    const QString value = check.section('=', 1);
    if (field == "address") {
        QCOMPARE(o.Address ? QString::number(*o.Address) : QString("unset"), value);
    } else if (field == "com") {
        QCOMPARE(QString::number(o.Com.value_or(0)), value);
    } else if (field == "baud") {
        QCOMPARE(QString::number(o.Baudrate.value_or(0)), value);
    } else if (field == "parity") {
        QVERIFY(o.Parity.has_value());
        QCOMPARE(QString::number(static_cast<int>(*o.Parity)), value);
    } else if (field == "version") {
        QCOMPARE(QString::fromStdString(o.Identity.SoftwareVersion), value);
    } else if (field == "faults") {
        QStringList rates;
        for (double r : o.FaultRates) {
            rates << QString::number(r);
        }
        QCOMPARE(rates.join(','), value);
    } else if (field == "wiring") {
        QString cts;
        for (bool reversed : o.Wiring.ReversedCT) {
            cts += reversed ? '1' : '0';
        }
        QCOMPARE(QString("%1,%2,%3").arg(o.Wiring.MissingPhase).arg(cts).arg(o.Wiring.Unbalance),
                 value);
    } else if (field == "busy") {
        QCOMPARE(QString::number(o.BusyMs), value);
        QVERIFY(o.AnswerAnyAddress);
    } else if (field == "lose") {
        QStringList lost;
        for (uint16_t r : o.LoseAnswers) {
            lost << QString::number(r, 16).rightJustified(4, '0');
        }
        QCOMPARE(lost.join(','), value);
    } else if (field == "seed") {
        QCOMPARE(QString::number(o.Seed.value_or(0)), value);
        QVERIFY(o.Pace);
        QCOMPARE(o.DelayMs, std::optional<int>(3));
    } else if (field == "identity") {
        const TIdentity& id = o.Identity;
        QCOMPARE(QString::fromStdString(id.SerialNumber + "," + id.HardwareVersion + "," +
                                        std::to_string(id.AOType) + "," + id.ReleaseDate),
                 value);
    } else if (field == "extra") {
        QStringList extras;
        for (const TExtraMeter& m : o.ExtraMeters) {
            extras << QString::fromStdString(std::to_string(m.Address) + ":" + m.SerialNumber +
                                             ":" + m.DeviceType);
        }
        QCOMPARE(extras.join(','), value);
    } else if (field == "meterfaults") {
        QStringList faults;
        const char* const kinds[] = {"silent", "slow", "garble"};
        for (const TMeterFault& f : o.MeterFaults) {
            faults << QString("%1:%2%3")
                          .arg(f.Address)
                          .arg(kinds[f.Kind])
                          .arg(f.Kind == TMeterFault::Slow ? QString::number(f.SlowMs) : "");
        }
        QCOMPARE(faults.join(','), value);
    } else if (field == "functions") {
        QStringList functions;
        for (uint8_t f : o.LoseFunctions) {
            functions << QString::number(f);
        }
        QCOMPARE(functions.join(','), value);
    } else if (field == "flags") {
        QVERIFY(o.Log && o.Help && !o.Pace);
        QCOMPARE(QString::number(o.TimeScale), value);
    } else {
        QFAIL("unknown check");
    }
}

void TestKt580SimModel::stateRoundTrip() {
    TMeterModel meter = Meter("3.20");
    QCOMPARE(meter.WriteRegisters(reg::PT1Low, {0xA120, 0x0007}), TException::None);
    QCOMPARE(meter.WriteRegisters(reg::Alarm2Channel, {13, 0xEC78, 10, 0, 1}), TException::None);
    QCOMPARE(meter.WriteCoil(1, 0xFF00), TException::None);
    meter.Energy().Set(TEnergyCounters::EqExp, 4000000000U);
    const std::string text = SerializeState(meter);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string path = dir.filePath("meter.state").toStdString();
    std::string error;
    QVERIFY2(WriteFileAtomically(path, text, error), error.c_str());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"meter.state"});
    std::string back;
    QVERIFY(ReadTextFile(path, back, error));
    QCOMPARE(back, text);

    TMeterModel restored = Meter("3.20");
    QVERIFY2(ApplyState(back, restored, error), error.c_str());
    QVERIFY(restored.Settings() == meter.Settings());
    QCOMPARE(restored.Energy().Tenths(TEnergyCounters::EqExp), 4000000000U);
    QVERIFY(restored.Relay(1));
    QVERIFY(!restored.Relay(0));

    // A meter with a smaller layout takes what it has and skips the rest.
    TMeterModel basic = Meter("3.05");
    QVERIFY2(ApplyState(back, basic, error), error.c_str());
    QCOMPARE(PT1Of(basic.Settings()), 500000U);
    QCOMPARE(basic.Settings().count(reg::Alarm2Channel), std::size_t(0));

    std::string missing;
    QVERIFY(ReadTextFile(dir.filePath("absent").toStdString(), missing, error));
    QVERIFY(missing.empty());
}

void TestKt580SimModel::stateFileMustBeRegular_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("error");
    QTest::newRow("FIFO") << "fifo"
                          << "not a regular file";
    QTest::newRow("folder") << "folder"
                            << "not a regular file";
    QTest::newRow("larger than a meter's memory") << "large"
                                                  << "too large";
    QTest::newRow("at the bound") << "bound"
                                  << "";
}

void TestKt580SimModel::stateFileMustBeRegular() {
    QFETCH(QString, kind);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string path = dir.filePath("meter.state").toStdString();
    if (kind == "fifo") {
        QCOMPARE(::mkfifo(path.c_str(), 0600), 0);
    } else if (kind == "folder") {
        QVERIFY(QDir().mkpath(QString::fromStdString(path)));
    } else {
        QFile file(QString::fromStdString(path));
        QVERIFY(file.open(QIODevice::WriteOnly));
        const qint64 size = MaxStateFileBytes + (kind == "large" ? 1 : 0);
        QVERIFY(file.write(QByteArray(size, '#')) == size);
    }
    // Opening a FIFO for reading blocks until a writer comes: should the reader do so, a
    // writer opens and closes it, so the test ends, and fails.
    std::atomic<bool> done{false};
    std::atomic<int> unblocked{0};
    std::thread watchdog([&] {
        while (!done && kind == "fifo") {
            QThread::msleep(200);
            const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                ++unblocked;
                ::close(fd);
            }
        }
    });
    std::string text;
    std::string message;
    const bool read = ReadTextFile(path, text, message);
    done = true;
    watchdog.join();
    QCOMPARE(unblocked.load(), 0);
    QCOMPARE(read, error.isEmpty());
    QVERIFY2(QString::fromStdString(message).contains(error), message.c_str());
    if (!read) {
        QVERIFY(text.empty());
    }
}

void TestKt580SimModel::stateRejectsBadValues_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("CT2 out of range") << "reg.1109=3\n"
                                      << "CT2";
    QTest::newRow("no equals") << "reg.1109\n"
                               << "line 1";
    QTest::newRow("bad number") << "# x\nenergy.0=12a\n"
                                << "line 2";
    QTest::newRow("bad relay") << "relay.1=2\n"
                               << "relay";
    QTest::newRow("energy index") << "energy.6=1\n"
                                  << "energy";
}

void TestKt580SimModel::stateRejectsBadValues() {
    QFETCH(QString, text);
    QFETCH(QString, error);
    TMeterModel meter = Meter("3.20");
    const TSettingsImage before = meter.Settings();
    std::string message;
    QVERIFY(!ApplyState(text.toStdString(), meter, message));
    QVERIFY2(QString::fromStdString(message).contains(error), message.c_str());
    QVERIFY(meter.Settings() == before);
}

void TestKt580SimModel::portLinks() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string link = dir.filePath("a/b/COM1").toStdString();
    const std::string target = dir.filePath("target").toStdString();
    QFile(QString::fromStdString(target)).open(QIODevice::WriteOnly);
    std::string error;
    QVERIFY2(CreateLink(link, target, true, error), error.c_str());
    QCOMPARE(QFileInfo(QString::fromStdString(link)).symLinkTarget(),
             QString::fromStdString(target));
    // A live entry belongs to someone: not taken over.
    QVERIFY(!CreateLink(link, "/dev/null", true, error));
    QVERIFY(QString::fromStdString(error).contains("exists"));
    // Not ours: left alone.
    RemoveLinkIfOurs(link, "/dev/null");
    QVERIFY(QFileInfo(QString::fromStdString(link)).isSymLink());
    RemoveLinkIfOurs(link, target);
    QVERIFY(!QFileInfo::exists(QString::fromStdString(link)) &&
            !QFileInfo(QString::fromStdString(link)).isSymLink());
    // A dangling entry of a killed run is replaced.
    QVERIFY(::symlink("/nonexistent/pts/99", link.c_str()) == 0);
    QVERIFY2(CreateLink(link, target, true, error), error.c_str());
    QCOMPARE(QFileInfo(QString::fromStdString(link)).symLinkTarget(),
             QString::fromStdString(target));
}

void TestKt580SimModel::summaryLines() {
    TStatistics stats;
    stats.Requests = 12;
    stats.Answers = 11;
    stats.Exceptions[2] = 1;
    std::array<uint64_t, FaultKinds> faults{};
    faults[static_cast<int>(TFaultKind::Crc)] = 2;
    const QStringList lines =
        QString::fromStdString(stats.Summary(faults)).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.mid(0, 11),
             (QStringList{"requests=12", "answers=11", "exception01=0", "exception02=1",
                          "exception03=0", "exception04=0", "fault_noise=0", "fault_crc=2",
                          "fault_drop=0", "fault_truncate=0", "fault_split=0"}));
    for (const QString& line : lines) {
        QVERIFY(QRegularExpression("^[a-z0-9_]+=[0-9]+$").match(line).hasMatch());
    }
}

QTEST_GUILESS_MAIN(TestKt580SimModel)
#include "tst_kt580sim_model.moc"
