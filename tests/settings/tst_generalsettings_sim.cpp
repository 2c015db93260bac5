// The General Settings page against the meter simulator: filled from the meter, written back,
// edited, following the meter to a new address and line, and a value the meter refuses. The
// simulator runs on a pseudo-terminal mapped as COM1 in a private port map.
#include "PageRig.h"
#include "meter/ValueFormat.h"
#include "meter/VersionRules.h"
#include "meter/cstMain.h"
#include "support/LinkTestAccess.h"
#include "support/MeterRecords.h"
#include "support/SimMeter.h"
#include "widgets/RadioGroup.h"
#include "widgets/UpDown.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

QString PortMapEntry() {
    return TestPortMapDir() + "/COM1";
}

// The page and the link on the simulator, with the responses the link handled recorded in
// the order they came.
struct TSimRig : TPageRig {
    std::vector<std::uint16_t> Reads;
    std::vector<std::uint16_t> Writes;
    std::vector<int> Exceptions;

    TSimRig() {
        Dialogs.DefaultYesNo = IDialogs::ResultYes;
        auto f03 = TLinkTestAccess::Master(Link).OnF03Response;
        TLinkTestAccess::Master(Link).OnF03Response =
            [this, f03](TKrModbus& s, std::uint8_t slave, std::uint16_t start,
                        std::span<const std::uint16_t> values) {
                f03(s, slave, start, values);
                Reads.push_back(start);
            };
        auto f10 = TLinkTestAccess::Master(Link).OnF10Response;
        TLinkTestAccess::Master(Link).OnF10Response = [this, f10](TKrModbus& s, std::uint8_t slave,
                                                                  std::uint16_t start,
                                                                  std::uint16_t count) {
            f10(s, slave, start, count);
            Writes.push_back(start);
        };
        auto exception = TLinkTestAccess::Master(Link).OnExceptionResponse;
        TLinkTestAccess::Master(Link).OnExceptionResponse =
            [this, exception](TKrModbus& s, std::uint8_t slave, int code) {
                exception(s, slave, code);
                Exceptions.push_back(code);
            };
    }

    int ReadCount(std::uint16_t start) const {
        return int(std::count(Reads.begin(), Reads.end(), start));
    }
    int OverLimitBoxes() const {
        return int(std::count_if(Dialogs.Boxes.begin(), Dialogs.Boxes.end(), [](const auto& b) {
            return b.Text == QLatin1String(cstMain::OverLimit);
        }));
    }
    // The last read that a settings page asks for on a meter of that version.
    static std::uint16_t LastRead(const QString& version) {
        if (RelayAlarmLayout(version))
            return 0x120A;
        return ExtendedLayout(version) ? 0x1208 : 0x1300;
    }
};

} // namespace

class TestGeneralSettingsSim : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void filledFromMeter_data();
    void filledFromMeter();
    void updateWithoutEditsLeavesMeter_data();
    void updateWithoutEditsLeavesMeter();
    void editedValuesReachMeter();
    void newAddressAndLineAdopted();
    void refusedValue();

private:
    // Starts the simulator as COM1 and connects the page's link to it, then reads the page
    // twice: the first time tells the link the meter's version.
    void Connect(TSimRig& rig, const QString& version);

    std::unique_ptr<QTemporaryDir> FConfig;
    std::unique_ptr<TSimMeter> FSim;
};

void TestGeneralSettingsSim::initTestCase() {
    if (!QFileInfo::exists(SimBinary()))
        QSKIP("kt580-sim is not built");
    // The port map of this test alone, whoever runs it.
    FConfig = std::make_unique<QTemporaryDir>();
    QVERIFY(FConfig->isValid());
    qputenv("XDG_CONFIG_HOME", FConfig->path().toLocal8Bit());
}

void TestGeneralSettingsSim::cleanup() {
    FSim.reset();
    // The simulator removes its port map entry when it ends.
    QVERIFY(!QFileInfo(PortMapEntry()).isSymLink());
}

void TestGeneralSettingsSim::Connect(TSimRig& rig, const QString& version) {
    FSim = std::make_unique<TSimMeter>(QStringList{"--version-text", version}, MeterMemory());
    QVERIFY(FSim->Started());
    // Only a map entry pointing at this simulator may be opened: without one COM1 would be a
    // real port.
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(PortMapEntry()).symLinkTarget(), FSim->Path(), 5000);
    QVERIFY2(ConnectLink(rig.Link), TLinkTestAccess::Master(rig.Link).OpenErrorText().c_str());
    QVERIFY(rig.Get<QPushButton>("ButtonUpdate")->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(rig.ReadCount(0x1300), 1, 10000);
    QCOMPARE(rig.Link.SoftwareVersion(), version);
    QVERIFY(rig.Link.RequestPageData());
    QTRY_VERIFY_WITH_TIMEOUT(
        rig.ReadCount(TSimRig::LastRead(version)) >= 1 && rig.ReadCount(0x1300) == 2, 10000);
    QCOMPARE(rig.Link.ErrorCount(), 0u);
}

void TestGeneralSettingsSim::filledFromMeter_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("bauds");
    QTest::addColumn<int>("wirings");
    QTest::addColumn<bool>("extended");
    QTest::addColumn<bool>("relayAlarms");
    QTest::newRow("3.05") << "3.05" << 5 << 3 << false << false;
    QTest::newRow("3.10") << "3.10" << 7 << 5 << true << false;
    QTest::newRow("3.20") << "3.20" << 7 << 5 << true << true;
    QTest::newRow("3.85") << "3.85" << 5 << 3 << false << true;
}

void TestGeneralSettingsSim::filledFromMeter() {
    QFETCH(QString, version);
    QFETCH(int, bauds);
    QFETCH(int, wirings);
    QFETCH(bool, extended);
    QFETCH(bool, relayAlarms);
    TSimRig rig;
    Connect(rig, version);
    if (QTest::currentTestFailed())
        return;

    QCOMPARE(rig.Combo("ComboDevBaud")->count(), bauds);
    QCOMPARE(rig.Combo("ComboVWire")->count(), wirings);
    for (const char* name : {"Label18", "Label19", "ComboDO1Output", "ComboDO2Output"})
        QCOMPARE(rig.Get<QWidget>(name)->isHidden(), !extended);
    QCOMPARE(rig.Group("GroupBox11")->isHidden(), !relayAlarms);
    QCOMPARE(rig.Link.Scaling().PTRatio, 4.0);
    QCOMPARE(rig.Link.Scaling().CTRatio, 10.0);

    TMeterSettings expected;
    expected.Password = "1234";
    expected.Address = "1";
    expected.Baudrate = "19200";
    expected.Parity = 3;
    expected.VoltageWiring = 2;
    expected.PT1 = "400";
    expected.PT2 = "100";
    expected.CT1 = "50";
    expected.CT2 = "5";
    expected.QMode = 1;
    expected.BacklightTime = "7";
    expected.LoadConvention = 1;
    expected.ROType = 1;
    expected.DOType = 1;
    expected.DOPulseConst = "1000";
    expected.AlarmItems = expected.RO1AlarmItems = 1;
    expected.AlarmSetpoint = expected.RO1AlarmSetpoint =
        AlarmValueText(rig.Link.Scaling(), 1, 2300);
    expected.AlarmDelay = expected.RO1AlarmDelay = "5";
    expected.AlarmOperator = expected.RO1AlarmOperator = 1;
    expected.AlarmOutput = expected.RO1AlarmOutput = 1;
    if (extended) {
        expected.DO1Output = 1;
        expected.DO2Output = 2;
    }
    if (relayAlarms) {
        expected.RO2AlarmItems = 7;
        expected.RO2AlarmSetpoint = AlarmValueText(rig.Link.Scaling(), 7, 4000);
        expected.RO2AlarmDelay = "9";
        expected.RO2AlarmOperator = 0;
        expected.RO2AlarmOutput = 1;
    }
    expected.AO1Object = 3;
    expected.AO1Mode = 1;
    expected.AO1HighLimit = "100";
    expected.AO1LowLimit = "20";
    expected.AO1HLOpt = 0;
    expected.AO1LLOpt = 1;
    expected.AO2Object = 6;
    expected.AO2Mode = 0;
    expected.AO2HighLimit = "120";
    expected.AO2LowLimit = "0";
    expected.AO2HLOpt = 1;
    expected.AO2LLOpt = 0;
    QCOMPARE(rig.Page.Settings(), expected);
    // Scaled by the ratios read from the same meter: 230.0 V on the secondary side.
    QVERIFY(!expected.AlarmSetpoint.isEmpty());
    QCOMPARE(rig.Edit("EditAlarmSetpoint")->text(), expected.AlarmSetpoint);
    QCOMPARE(rig.Combo("ComboVWire")->currentText(), QString("2LL"));

    // A picture of the page as the meter filled it, when asked for.
    const QString shot = qEnvironmentVariable("KT_SETTINGS_SHOT");
    if (!shot.isEmpty() && version == "3.20") {
        rig.Page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.Page));
        QVERIFY(rig.Page.grab().save(shot));
    }
}

void TestGeneralSettingsSim::updateWithoutEditsLeavesMeter_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("writes");
    QTest::newRow("3.05") << "3.05" << 3;
    QTest::newRow("3.10") << "3.10" << 4;
    QTest::newRow("3.20") << "3.20" << 5;
    QTest::newRow("3.85") << "3.85" << 4;
}

void TestGeneralSettingsSim::updateWithoutEditsLeavesMeter() {
    QFETCH(QString, version);
    QFETCH(int, writes);
    TSimRig rig;
    Connect(rig, version);
    if (QTest::currentTestFailed())
        return;
    const QMap<int, int> before = FSim->Registers();
    const TMeterSettings shown = rig.Page.Settings();
    const int reads = rig.ReadCount(TSimRig::LastRead(version));

    rig.Get<QPushButton>("ButtonUpdate")->click();
    QTRY_VERIFY_WITH_TIMEOUT(rig.ReadCount(TSimRig::LastRead(version)) == reads + 1, 10000);
    QCOMPARE(int(rig.Writes.size()), writes);
    QVERIFY(rig.Exceptions.empty());
    QCOMPARE(rig.Link.ErrorCount(), 0u);
    QCOMPARE(rig.Dialogs.Boxes.size(), size_t(1)); // the confirmation

    const QMap<int, int> after = FSim->Registers();
    QVERIFY(after.size() >= 13 + 8 + 12);
    for (auto it = after.begin(); it != after.end(); ++it)
        QVERIFY2(before.value(it.key(), -1) == it.value(),
                 qPrintable(QString::number(it.key(), 16)));
    QCOMPARE(rig.Page.Settings(), shown);
}

void TestGeneralSettingsSim::editedValuesReachMeter() {
    TSimRig rig;
    Connect(rig, "3.20");
    if (QTest::currentTestFailed())
        return;
    rig.Edit("EditPT1")->setText("100000");
    rig.Edit("EditCT1")->setText("100");
    rig.Edit("EditRO1AlarmSetpoint")->setText("25000");
    rig.Edit("EditLightTime")->setText("14");
    rig.Get<TUpDown>("UpDown3")->StepUp();
    QCOMPARE(rig.Edit("EditLightTime")->text(), QString("15"));

    rig.Get<QPushButton>("ButtonUpdate")->click();
    QTRY_VERIFY_WITH_TIMEOUT(rig.ReadCount(0x120A) == 2, 10000);
    QVERIFY(rig.Exceptions.empty());

    const QMap<int, int> regs = FSim->Registers();
    QCOMPARE(regs.value(0x1105), 100000 & 0xFFFF);
    QCOMPARE(regs.value(0x1106), 100000 >> 16);
    QCOMPARE(regs.value(0x1108), 100);
    // Volts AN in tenths on the secondary side, by the ratio the same write puts on the meter:
    // 25000 V / (100000 / 100) = 25.0 V.
    QCOMPARE(regs.value(0x1204), 250);
    QCOMPARE(regs.value(0x110B), 15);
    QCOMPARE(regs.value(0x1107), 100);

    // Read back: the new ratios now scale the setpoint the meter holds.
    QCOMPARE(rig.Link.Scaling().PTRatio, 1000.0);
    QCOMPARE(rig.Link.Scaling().CTRatio, 20.0);
    QCOMPARE(rig.Edit("EditPT1")->text(), QString("100000"));
    QCOMPARE(rig.Edit("EditCT1")->text(), QString("100"));
    QCOMPARE(rig.Edit("EditLightTime")->text(), QString("15"));
    // The setpoint comes back as the value typed.
    QCOMPARE(rig.Edit("EditRO1AlarmSetpoint")->text(), AlarmValueText(rig.Link.Scaling(), 1, 250));
    QVERIFY(rig.Edit("EditRO1AlarmSetpoint")->text().startsWith("25000"));
    QCOMPARE(rig.Edit("EditAlarmSetpoint")->text(), rig.Edit("EditRO1AlarmSetpoint")->text());
}

void TestGeneralSettingsSim::newAddressAndLineAdopted() {
    TSimRig rig;
    Connect(rig, "3.20");
    if (QTest::currentTestFailed())
        return;
    rig.Edit("EditDevAddr")->setText("5");
    rig.Combo("ComboDevBaud")->setCurrentIndex(rig.Combo("ComboDevBaud")->findText("9600"));
    rig.Get<TRadioGroup>("RadioGroupParity")->SetItemIndex(0);
    const int refreshes = rig.Shell.AddressRefreshes;

    rig.Get<QPushButton>("ButtonUpdate")->click();
    QTRY_VERIFY_WITH_TIMEOUT(rig.ReadCount(0x120A) == 2, 10000);
    // Every write answered, the first at the old settings, the rest at the new ones.
    QCOMPARE(rig.Writes, (std::vector<std::uint16_t>{0x1100, 0x1200, 0x1300, 0x1208, 0x120A}));
    QVERIFY(rig.Exceptions.empty());
    QCOMPARE(rig.Link.ErrorCount(), 0u);
    QCOMPARE(int(rig.Link.DeviceAddress()), 5);
    QCOMPARE(TLinkTestAccess::Master(rig.Link).Baudrate(), 9600);
    QCOMPARE(TLinkTestAccess::Master(rig.Link).Parity(), TParity::Even);
    QCOMPARE(TLinkTestAccess::Master(rig.Link).StopBits(), TStopBits::_1);
    QCOMPARE(rig.Shell.AddressRefreshes, refreshes + 1);

    const QMap<int, int> regs = FSim->Registers();
    QCOMPARE(regs.value(0x1101), 5);
    QCOMPARE(regs.value(0x1102), 9600);
    QCOMPARE(regs.value(0x1103), 0);
    QCOMPARE(rig.Edit("EditDevAddr")->text(), QString("5"));
    QCOMPARE(rig.Combo("ComboDevBaud")->currentText(), QString("9600"));
    QCOMPARE(rig.RadioIndex("RadioGroupParity"), 0);

    // The meter goes on answering at its new address and line.
    QVERIFY(rig.Link.RequestPageData());
    QTRY_VERIFY_WITH_TIMEOUT(rig.ReadCount(0x120A) == 3, 10000);
    QCOMPARE(rig.Link.ErrorCount(), 0u);
}

void TestGeneralSettingsSim::refusedValue() {
    TSimRig rig;
    Connect(rig, "3.20");
    if (QTest::currentTestFailed())
        return;
    rig.Edit("EditCT2")->setText("3");
    // Asked for together with the refused block: must not be adopted.
    rig.Combo("ComboDevBaud")->setCurrentIndex(rig.Combo("ComboDevBaud")->findText("9600"));

    rig.Get<QPushButton>("ButtonUpdate")->click();
    QTRY_VERIFY_WITH_TIMEOUT(rig.ReadCount(0x120A) == 2, 10000);
    QTRY_COMPARE(rig.OverLimitBoxes(), 1);
    QCOMPARE(rig.Exceptions, std::vector<int>{4});
    // Relay 2's current setpoint was scaled for the refused CT ratio: it stays home.
    QCOMPARE(rig.Writes, (std::vector<std::uint16_t>{0x1200, 0x1300, 0x1208}));
    QCOMPARE(TLinkTestAccess::Master(rig.Link).Baudrate(), 19200);
    QCOMPARE(int(rig.Link.DeviceAddress()), 1);

    const QMap<int, int> regs = FSim->Registers();
    QCOMPARE(regs.value(0x1109, 5), 5);
    QCOMPARE(regs.value(0x1102, 19200), 19200);
    // The page shows what the meter still holds.
    QCOMPARE(rig.Edit("EditCT2")->text(), QString("5"));
    QCOMPARE(rig.Combo("ComboDevBaud")->currentText(), QString("19200"));
    // Once, also after the event loop has run on.
    QVERIFY(rig.Link.RequestPageData());
    QTRY_VERIFY_WITH_TIMEOUT(rig.ReadCount(0x120A) == 3, 10000);
    QCOMPARE(rig.OverLimitBoxes(), 1);
}

QTEST_MAIN(TestGeneralSettingsSim)
#include "tst_generalsettings_sim.moc"
