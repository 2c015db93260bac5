// The meter link as a whole: the queries it chooses, what it writes into the pages and the
// status bar, how it adopts new line settings, and the same against the simulator on a pty.
#include "support/FakeShell.h"
#include "support/LinkRig.h"
#include "support/MeterRecords.h"
#include "support/ScriptedDialogs.h"
#include "support/SimMeter.h"

#include "link/frmModbus.h"
#include "settings/SettingsBlocks.h"

#include <QDeadlineTimer>
#include <QLocale>
#include <QtTest>

#include <map>

Q_DECLARE_METATYPE(TPage)

namespace {

class TFakeMetering : public IMeteringView {
public:
    void SetMeasurementText(int index, const QString& text) override { Measurement[index] = text; }
    void SetEnergyText(int index, const QString& text) override { Energy[index] = text; }
    void SetRelayState(int index, bool on) override { Relays[index] = on; }
    void SetInputState(int index, bool on) override { Inputs[index] = on; }
    void HideExtendedEnergy() override { ++HideCalls; }
    void SetCommandsEnabled(bool enabled) override { Enabled = enabled; }

    std::map<int, QString> Measurement;
    std::map<int, QString> Energy;
    std::map<int, bool> Relays;
    std::map<int, bool> Inputs;
    int HideCalls = 0;
    bool Enabled = true;
};

class TFakeDeviceInfo : public IDeviceInfoView {
public:
    void SetFieldText(TField field, const QString& text) override { Fields[field] = text; }
    std::map<TField, QString> Fields;
};

class TFakeSettingsView : public ISettingsView {
public:
    TMeterSettings Settings() const override { return Record; }
    void SetSettings(const TMeterSettings& settings) override {
        Record = settings;
        ++SetCalls;
    }
    int BaudItemCount() const override { return int(Baud.size()); }
    void RemoveBaudItem(int index) override { Baud.removeAt(index); }
    int WiringItemCount() const override { return int(Wiring.size()); }
    void RemoveWiringItem(int index) override { Wiring.removeAt(index); }
    void HideDOEnergyOutputs() override { DOHidden = true; }
    void HideRelayAlarmGroup() override { RelayAlarmHidden = true; }
    void SetUpdateEnabled(bool enabled) override { UpdateEnabled = enabled; }

    TMeterSettings Record;
    int SetCalls = 0;
    QStringList Baud{"1200", "2400", "4800", "9600", "19200", "38400", "57600"};
    QStringList Wiring{"3LN", "3LL", "2LL", "1LL", "1LN"};
    bool DOHidden = false;
    bool RelayAlarmHidden = false;
    bool UpdateEnabled = true;
};

// One link with its fakes.
struct TRig : TLinkRig {
    TRig() {
        Link.SetViews(&Metering, &DeviceInfo, &Settings);
        Link.Sleep = [this](int ms) { Waits << ms; };
    }
    QString Next() {
        std::string text;
        Link.ModbusQueryData(Link.Modbus, text);
        return text == std::string(1, '\0') ? QStringLiteral("<null>")
                                            : QString::fromStdString(text);
    }
    QStringList Next(int n) {
        QStringList out;
        for (int i = 0; i < n; ++i)
            out << Next();
        return out;
    }
    void F03(std::uint16_t start, std::vector<std::uint16_t> values) {
        Link.ModbusF03Response(Link.Modbus, 1, start, values);
    }

    TFakeMetering Metering;
    TFakeDeviceInfo DeviceInfo;
    TFakeSettingsView Settings;
    QList<int> Waits;
};

std::vector<std::uint16_t> IdentityRegs(const QByteArray& version) {
    const QByteArray text =
        QByteArray("ED80") + "1.00" + version.leftJustified(4, '\0', true) + "160121";
    return TextRegisters(text, 9);
}

QStringList Strings(const std::vector<std::string>& list) {
    QStringList out;
    for (const auto& s : list)
        out << QString::fromStdString(s);
    return out;
}

// A write of settings block 0x1100 as the settings page builds it.
std::string GeneralWrite(const QString& address, const QString& baud, int parity) {
    TMeterSettings s = ExampleGeneral();
    s.Address = address;
    s.Baudrate = baud;
    s.Parity = parity;
    return EncodeSettingsBlock(sbGeneral, s, false, TScaling{});
}

} // namespace

class TestFormModbus : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void configuration();
    void rotationWithOneShotQuery();
    void otherPagesGetNullQueries();
    void requestPageData();
    void addressInEveryQuery();
    void f10Adoption_data();
    void f10Adoption();
    void lineSettingsTravelWithTheirWrite();
    void lineSettingsWithoutQueuedWrite();
    void responsesFillThePages();
    void identityAdaptsThePages();
    void settingsBlockFillsRecordThenRatios();
    void trafficPanels();
    void overLimitBoxOncePerException();
    void queryFinish();
    void commandStates();

    void connectOnEachPage_data();
    void connectOnEachPage();
    void adoptsNewLineSettingsAfterAnswer();
    void overLimitBoxDoesNotReenterMaster();
    void statisticsCountInjectedFaults();
};

void TestFormModbus::configuration() {
    TRig r;
    TKrModbus& m = r.Link.Modbus;
    QCOMPARE(m.FrameInterval(), 5);
    QCOMPARE(m.QueryInterval(), 500);
    QCOMPARE(m.QueryTimeout(), 3000);
    QCOMPARE(m.PortNum(), std::uint16_t(1));
    QCOMPARE(m.Baudrate(), 19200);
    QCOMPARE(m.DataBits(), std::uint16_t(8));
    QVERIFY(m.Parity() == TParity::None);
    QVERIFY(m.StopBits() == TStopBits::_1);
    QVERIFY(m.IgnoreNullQuery());
    QVERIFY(m.Mode() == tmRtu);
    QVERIFY(m.ProtocolVersion() == pvGB19582_2008);
    QCOMPARE(r.Link.DeviceAddress(), std::uint8_t(1));
    QCOMPARE(r.Link.PTRatio(), 1.0);
    QCOMPARE(r.Link.CTRatio(), 1.0);
    QVERIFY(r.Link.SoftwareVersion().isEmpty());
}

void TestFormModbus::rotationWithOneShotQuery() {
    TRig r;
    QCOMPARE(r.Next(4), (QStringList{"01,03,14,00,00,15", "01,03,11,80,00,04", "01,01,00,00,00,02",
                                     "01,02,00,00,00,06"}));
    QCOMPARE(r.Next(2), (QStringList{"01,03,14,00,00,15", "01,03,11,80,00,04"}));
    r.Link.AppendQuery("00,05,00,00,FF,00");
    QCOMPARE(r.Next(3),
             (QStringList{"01,05,00,00,FF,00", "01,03,14,00,00,15", "01,03,11,80,00,04"}));
    r.Link.SetSoftwareVersion("4.00");
    QCOMPARE(r.Next(3),
             (QStringList{"01,01,00,00,00,02", "01,02,00,00,00,06", "01,03,14,00,00,15"}));
    QCOMPARE(r.Next(), QStringLiteral("01,03,11,80,00,0C"));
}

void TestFormModbus::otherPagesGetNullQueries() {
    TRig r;
    r.Shell.Page = TPage::DeviceInfo;
    QVERIFY(r.Link.RequestPageData());
    QCOMPARE(r.Next(6), (QStringList{"01,03,F0,00,00,09", "01,03,F0,00,00,09", "01,03,F0,40,00,10",
                                     "01,03,F1,06,00,01", "<null>", "<null>"}));
    // Back on the metering page the rotation starts with the measurement block.
    r.Shell.Page = TPage::RTMetering;
    r.Next(100);
    QVERIFY(r.Link.PollStep() <= 4);
}

void TestFormModbus::requestPageData() {
    TRig r;
    r.Shell.IsConnected = false;
    QVERIFY(!r.Link.RequestPageData());
    QVERIFY(r.Link.PendingQueries().empty());
    r.Shell.IsConnected = true;
    r.Shell.Disconnecting = true;
    QVERIFY(!r.Link.RequestPageData());
    QVERIFY(r.Link.PendingQueries().empty());

    r.Shell.Disconnecting = false;
    r.Link.AppendQuery("00,05,00,01,00,00");
    r.Link.SetPollStep(3);
    r.Shell.Page = TPage::GeneralSettings;
    QVERIFY(r.Link.RequestPageData());
    r.Shell.Page = TPage::GeneralSettings;
    QVERIFY(r.Link.RequestPageData());
    QCOMPARE(r.Link.PollStep(), 0);
    // Neither cleared nor de-duplicated: both identity reads are sent, behind the command.
    const QStringList q = Strings(r.Link.PendingTexts());
    QCOMPARE(q.size(), 1 + 4 + 4);
    QCOMPARE(q.first(), QStringLiteral("00,05,00,01,00,00"));
    QCOMPARE(q.count("00,03,F0,00,00,09"), 2);
}

void TestFormModbus::addressInEveryQuery() {
    TRig r;
    r.Link.SetDeviceAddress(10);
    QCOMPARE(r.Next(), QStringLiteral("0A,03,14,00,00,15"));
    r.Link.AppendQuery("00,01,00,00,00,02");
    QCOMPARE(r.Next(), QStringLiteral("0A,01,00,00,00,02"));
    r.Link.SetDeviceAddress(247);
    QCOMPARE(r.Next(), QStringLiteral("F7,03,14,00,00,15"));
}

void TestFormModbus::f10Adoption_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stop");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("waits");
    const int none = int(TParity::None), even = int(TParity::Even), s1 = int(TStopBits::_1),
              s2 = int(TStopBits::_2);
    QTest::newRow("energy preset") << 0x1180 << 9600 << even << s1 << 1 << 0;
    QTest::newRow("energy reset") << 0x110D << 9600 << even << s1 << 1 << 0;
    QTest::newRow("same line, new address") << 0x1100 << 19200 << none << s1 << 5 << 0;
    QTest::newRow("new baud") << 0x1100 << 9600 << none << s1 << 5 << 1;
    QTest::newRow("new parity") << 0x1100 << 19200 << even << s1 << 5 << 1;
    QTest::newRow("new stop bits") << 0x1100 << 19200 << none << s2 << 5 << 1;
}

void TestFormModbus::f10Adoption() {
    QFETCH(int, start);
    QFETCH(int, baud);
    QFETCH(int, parity);
    QFETCH(int, stop);
    TRig r;
    r.Link.SetNewLineSettings(5, baud, TParity(parity), TStopBits(stop));
    r.Link.ModbusF10Response(r.Link.Modbus, 1, std::uint16_t(start), 13);
    QTEST(int(r.Link.DeviceAddress()), "address");
    QTEST(int(r.Waits.size()), "waits");
    if (!r.Waits.isEmpty()) {
        QCOMPARE(r.Waits.first(), 2000);
        QCOMPARE(r.Link.Modbus.Baudrate(), baud);
        QCOMPARE(int(r.Link.Modbus.Parity()), parity);
        QCOMPARE(int(r.Link.Modbus.StopBits()), stop);
    } else if (start != 0x1100) {
        QCOMPARE(r.Link.Modbus.Baudrate(), 19200);
        QVERIFY(r.Link.Modbus.Parity() == TParity::None);
    }
    QCOMPARE(r.Shell.AddressRefreshes, start == 0x1100 ? 1 : 0);
}

void TestFormModbus::lineSettingsTravelWithTheirWrite() {
    TRig r;
    r.Shell.Page = TPage::GeneralSettings;
    // Two settings sequences queued one after the other, each with its own line settings.
    r.Link.AppendQuery(GeneralWrite("5", "9600", 0));
    r.Link.AppendQuery("00,03,11,00,00,0D");
    r.Link.SetNewLineSettings(5, 9600, TParity::Even, TStopBits::_1);
    r.Link.AppendQuery(GeneralWrite("7", "4800", 2));
    r.Link.AppendQuery("00,03,11,00,00,0D");
    r.Link.SetNewLineSettings(7, 4800, TParity::None, TStopBits::_2);
    QCOMPARE(int(r.Link.NewDeviceAddress()), 0);

    QVERIFY(r.Next().startsWith("01,10,11,00"));
    QCOMPARE(int(r.Link.NewDeviceAddress()), 5);
    r.Link.ModbusF10Response(r.Link.Modbus, 1, 0x1100, 13);
    QCOMPARE(int(r.Link.DeviceAddress()), 5);
    QCOMPARE(r.Link.Modbus.Baudrate(), 9600);
    QVERIFY(r.Link.Modbus.Parity() == TParity::Even);
    QCOMPARE(r.Next(), QStringLiteral("05,03,11,00,00,0D"));

    QVERIFY(r.Next().startsWith("05,10,11,00"));
    r.Link.ModbusF10Response(r.Link.Modbus, 5, 0x1100, 13);
    QCOMPARE(int(r.Link.DeviceAddress()), 7);
    QCOMPARE(r.Link.Modbus.Baudrate(), 4800);
    QVERIFY(r.Link.Modbus.Parity() == TParity::None);
    QVERIFY(r.Link.Modbus.StopBits() == TStopBits::_2);
    QCOMPARE(r.Next(), QStringLiteral("07,03,11,00,00,0D"));
    QCOMPARE(r.Waits.size(), 2);
}

void TestFormModbus::lineSettingsWithoutQueuedWrite() {
    TRig r;
    r.Link.SetNewLineSettings(9, 4800, TParity::Odd, TStopBits::_1);
    QCOMPARE(int(r.Link.NewDeviceAddress()), 9);
    QCOMPARE(r.Link.NewBaudrate(), 4800);
    QVERIFY(r.Link.NewParity() == TParity::Odd);
    // Parity left out keeps what was asked for before.
    r.Link.SetNewLineSettings(3, 9600, std::nullopt, std::nullopt);
    QCOMPARE(int(r.Link.NewDeviceAddress()), 3);
    QVERIFY(r.Link.NewParity() == TParity::Odd);
    QVERIFY(r.Link.NewStopBits() == TStopBits::_1);
}

void TestFormModbus::responsesFillThePages() {
    TRig r;
    std::vector<std::uint16_t> meas(21, 0);
    meas[0] = 2300;
    meas[12] = 0xFFF6;
    meas[17] = 0x014C;
    meas[20] = 5000;
    r.F03(0x1400, meas);
    QCOMPARE(r.Metering.Measurement.size(), std::size_t(21));
    QCOMPARE(r.Metering.Measurement[0], QStringLiteral("230.0 V"));
    QCOMPARE(r.Metering.Measurement[12], QStringLiteral("-0.010 kW"));
    QCOMPARE(r.Metering.Measurement[17], QStringLiteral("L"));
    QCOMPARE(r.Metering.Measurement[20], QStringLiteral("5.000 A"));

    r.F03(0x1180, {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0});
    QCOMPARE(r.Metering.Energy.size(), std::size_t(6));
    r.F03(0x1180, {0x86A0, 1, 800, 0});
    QCOMPARE(r.Metering.Energy[0], QStringLiteral("10000.0 kWh"));
    QCOMPARE(r.Metering.Energy[1], QStringLiteral("80.0 kvarh"));
    QCOMPARE(r.Metering.Energy[2], QStringLiteral("0.3 kWh")); // unchanged by a short read

    const bool coils[] = {true, false};
    r.Link.ModbusF01Response(r.Link.Modbus, 1, 0, coils);
    QCOMPARE(r.Metering.Relays[0], true);
    QCOMPARE(r.Metering.Relays[1], false);
    const bool inputs[] = {false, true, false, true, true, false};
    r.Link.ModbusF02Response(r.Link.Modbus, 1, 0, inputs);
    QCOMPARE(r.Metering.Inputs.size(), std::size_t(6));
    QCOMPARE(r.Metering.Inputs[4], true);

    r.F03(0xF106, {2});
    QCOMPARE(r.Link.AOType(), 2);
    QCOMPARE(r.DeviceInfo.Fields[IDeviceInfoView::fAOType], QStringLiteral("Voltage"));
    meas[18] = 12000;
    r.F03(0x1400, meas);
    QCOMPARE(r.Metering.Measurement[18], QStringLiteral("12.000 V"));

    r.F03(0xF040, {0x4142, 0x3132, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    QCOMPARE(r.DeviceInfo.Fields[IDeviceInfoView::fSerialNo], QStringLiteral("AB12"));

    // Blocks the link does not know leave everything alone.
    const auto before = r.Metering.Measurement;
    r.F03(0x1401, meas);
    QCOMPARE(r.Metering.Measurement, before);
}

void TestFormModbus::identityAdaptsThePages() {
    TRig r;
    r.Settings.Record.Baudrate = "38400";
    r.F03(0xF000, IdentityRegs("3.05"));
    QCOMPARE(r.Link.SoftwareVersion(), QStringLiteral("3.05"));
    QCOMPARE(r.DeviceInfo.Fields[IDeviceInfoView::fDevType], QStringLiteral("ED80 (KT580)"));
    QCOMPARE(r.DeviceInfo.Fields[IDeviceInfoView::fSoftVersion], QStringLiteral("3.05"));
    QCOMPARE(r.DeviceInfo.Fields[IDeviceInfoView::fReleaseDate], QStringLiteral("2016-01-21"));
    QCOMPARE(r.Settings.Baud, (QStringList{"1200", "2400", "4800", "9600", "19200"}));
    QCOMPARE(r.Settings.Wiring, (QStringList{"3LN", "3LL", "2LL"}));
    QVERIFY(r.Settings.DOHidden);
    QVERIFY(r.Settings.RelayAlarmHidden);
    QCOMPARE(r.Metering.HideCalls, 1);

    // Repeated harmlessly; a later version brings nothing back.
    r.F03(0xF000, IdentityRegs("3.05"));
    r.F03(0xF000, IdentityRegs("4.00"));
    QCOMPARE(r.Settings.Baud.size(), 5);
    QCOMPARE(r.Settings.Wiring.size(), 3);
    QCOMPARE(r.Link.SoftwareVersion(), QStringLiteral("4.00"));

    TRig full;
    full.F03(0xF000, IdentityRegs("3.20"));
    QCOMPARE(full.Settings.Baud.size(), 7);
    QVERIFY(!full.Settings.DOHidden);
    QVERIFY(!full.Settings.RelayAlarmHidden);
    QCOMPARE(full.Metering.HideCalls, 0);
}

void TestFormModbus::settingsBlockFillsRecordThenRatios() {
    TRig r;
    // 0x1100: password, address, baud index, parity, wiring, PT1 lo/hi, PT2, CT1, CT2, ...
    std::vector<std::uint16_t> block{0, 3, 4, 3, 0, 10000, 0, 100, 40, 5, 0, 0, 5};
    r.F03(0x1100, block);
    QCOMPARE(r.Settings.SetCalls, 1);
    QCOMPARE(r.Settings.Record.Address, QStringLiteral("3"));
    QCOMPARE(r.Settings.Record.PT1, QStringLiteral("10000"));
    QCOMPARE(r.Link.PTRatio(), 100.0);
    QCOMPARE(r.Link.CTRatio(), 8.0);
    QCOMPARE(r.Link.LastPT2(), 100.0);

    // The alarm setpoint of block 0x1200 is shown with the ratios now in force.
    std::vector<std::uint16_t> meas(21, 0);
    meas[0] = 2300;
    r.F03(0x1400, meas);
    QCOMPARE(r.Metering.Measurement[0], QStringLiteral("23000 V"));

    block[7] = 0;
    block[9] = 0;
    block[8] = 0;
    r.F03(0x1100, block);
    QCOMPARE(r.Link.PTRatio(), 100.0);
    QCOMPARE(r.Link.CTRatio(), 8.0);
    QCOMPARE(r.Link.LastPT2(), 0.0);

    block = {0, 3, 4, 3, 0, 0, 0, 100, 0, 5, 0, 0, 5};
    r.F03(0x1100, block);
    QCOMPARE(r.Link.PTRatio(), 0.0);
    QCOMPARE(r.Link.CTRatio(), 0.0);
    r.F03(0x1400, meas);
    QCOMPARE(r.Metering.Measurement[0], QStringLiteral("0.0 V"));
}

void TestFormModbus::trafficPanels() {
    TRig r;
    r.Link.ModbusAfterResponse(r.Link.Modbus);
    QVERIFY(r.Shell.Panels[3].isEmpty());
    r.Link.ModbusSendData(r.Link.Modbus, std::string("\x01\x03\x14\x00\x00\x15\x81\xF5", 8));
    QCOMPARE(r.Shell.Panels[1], QStringLiteral("TXD:  01 03 14 00 00 15 81 F5 "));
    QCOMPARE(r.Shell.Panels[2], QStringLiteral("RXD:  "));
    r.Link.ModbusRecvData(r.Link.Modbus, std::string("\x01\x03\x2A", 3));
    QCOMPARE(r.Shell.Panels[2], QStringLiteral("RXD:  01 03 2A "));
    r.Link.ModbusResponseError(r.Link.Modbus);
    r.Link.ModbusAfterResponse(r.Link.Modbus);
    QCOMPARE(r.Shell.Panels[3], QStringLiteral("ERR:  1/1  (100.00%)"));
    QCOMPARE(r.Shell.Panels[1], QStringLiteral("TXD:  01 03 14 00 00 15 81 F5 "));

    // Other pages show no traffic once their reads are done.
    r.Shell.Page = TPage::DeviceInfo;
    r.Link.AppendQuery("00,03,F0,00,00,09");
    r.Link.ModbusAfterResponse(r.Link.Modbus);
    QVERIFY(!r.Shell.Panels[1].isEmpty());
    r.Next();
    r.Link.ModbusAfterResponse(r.Link.Modbus);
    QVERIFY(r.Shell.Panels[1].isEmpty());
    QVERIFY(r.Shell.Panels[2].isEmpty());

    r.Link.ResetCounts();
    r.Link.ModbusSendData(r.Link.Modbus, "x");
    r.Link.ModbusAfterResponse(r.Link.Modbus);
    QCOMPARE(r.Shell.Panels[3], QStringLiteral("ERR:  0/1  (0.00%)"));
}

void TestFormModbus::overLimitBoxOncePerException() {
    TRig r;
    r.Link.ModbusExceptionResponse(r.Link.Modbus, 1, 2);
    r.Link.ModbusExceptionResponse(r.Link.Modbus, 1, 4);
    // Not from inside the master's event: the box comes from the event loop.
    QVERIFY(r.Dialogs.Boxes.empty());
    QTRY_COMPARE_WITH_TIMEOUT(r.Dialogs.Boxes.size(), std::size_t(1), 2000);
    QCOMPARE(r.Dialogs.Boxes[0].Caption, QStringLiteral("Confirm"));
    QCOMPARE(r.Dialogs.Boxes[0].Text, QStringLiteral("Parameters are over limit. Writing failed."));
    QVERIFY(r.Dialogs.Boxes[0].Buttons == IDialogs::Ok);

    // A second exception while the first box is open gets its own box after it.
    r.Dialogs.OnBox = [&r](const TScriptedDialogs::TBox&) {
        if (r.Dialogs.Boxes.size() == 2) {
            r.Link.ModbusExceptionResponse(r.Link.Modbus, 1, 4);
            QCoreApplication::processEvents();
            QCOMPARE(r.Dialogs.Boxes.size(), std::size_t(2));
        }
    };
    r.Link.ModbusExceptionResponse(r.Link.Modbus, 1, 4);
    QTRY_COMPARE_WITH_TIMEOUT(r.Dialogs.Boxes.size(), std::size_t(3), 2000);
    QCOMPARE(r.Link.ErrorCount(), std::uint64_t(0));
}

void TestFormModbus::queryFinish() {
    TRig r;
    r.Link.AppendQuery("00,03,F0,00,00,09");
    r.Shell.Panels[1] = "TXD:  x";
    r.Shell.Panels[2] = "RXD:  y";
    r.Shell.Panels[3] = "ERR:  0/1  (0.00%)";
    r.Shell.Disconnecting = true;
    r.Link.ModbusQueryFinish(r.Link.Modbus);
    QVERIFY(r.Link.PendingQueries().empty());
    QVERIFY(!r.Shell.IsConnected);
    QVERIFY(r.Shell.Panels[1].isEmpty());
    QVERIFY(r.Shell.Panels[2].isEmpty());
    QCOMPARE(r.Shell.Panels[3], QStringLiteral("ERR:  0/1  (0.00%)"));
}

void TestFormModbus::commandStates() {
    TRig r;
    r.Shell.IsConnected = false;
    r.Link.UpdateCommandStates();
    QVERIFY(!r.Metering.Enabled);
    QVERIFY(!r.Settings.UpdateEnabled);
    r.Shell.IsConnected = true;
    r.Link.UpdateCommandStates();
    QVERIFY(r.Metering.Enabled);
    QVERIFY(r.Settings.UpdateEnabled);
    r.Shell.Disconnecting = true;
    r.Link.UpdateCommandStates();
    QVERIFY(!r.Metering.Enabled);
}

// --- against the simulator -------------------------------------------------------------------

void TestFormModbus::connectOnEachPage_data() {
    QTest::addColumn<TPage>("page");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QStringList>("expected");
    const QString id = "01,03,F0,00,00,09", meas = "01,03,14,00,00,15",
                  relays = "01,01,00,00,00,02", inputs = "01,02,00,00,00,06";
    QTest::newRow("metering 3.20")
        << TPage::RTMetering << "3.20" << QStringList{id,
                                                      "01,03,11,00,00,0D",
                                                      "01,03,F1,06,00,01",
                                                      meas,
                                                      "01,03,11,80,00,0C",
                                                      relays,
                                                      inputs,
                                                      meas};
    QTest::newRow("metering 3.05")
        << TPage::RTMetering << "3.05" << QStringList{id,
                                                      "01,03,11,00,00,0D",
                                                      "01,03,F1,06,00,01",
                                                      meas,
                                                      "01,03,11,80,00,04",
                                                      relays,
                                                      inputs,
                                                      meas};
    QTest::newRow("device info") << TPage::DeviceInfo << "3.20"
                                 << QStringList{id, id, "01,03,F0,40,00,10", "01,03,F1,06,00,01"};
    // The version read first decides nothing for this call: the extra blocks need a second one.
    QTest::newRow("settings") << TPage::GeneralSettings << "3.20"
                              << QStringList{id, "01,03,11,00,00,0D", "01,03,12,00,00,08",
                                             "01,03,13,00,00,0C"};
}

void TestFormModbus::connectOnEachPage() {
    QFETCH(TPage, page);
    QFETCH(QString, version);
    QFETCH(QStringList, expected);
    TSimProcess sim({"--version-text", version});
    QVERIFY(sim.Started());
    TRig r;
    r.Shell.Page = page;
    int asked = 0;
    auto query = r.Link.Modbus.OnQueryData;
    r.Link.Modbus.OnQueryData = [&asked, query](TKrModbus& m, std::string& text) {
        query(m, text);
        ++asked;
    };
    QVERIFY(ConnectLink(r.Link, r.Shell));
    QTRY_VERIFY_WITH_TIMEOUT(sim.Requests().size() >= expected.size(), 10000);
    if (page != TPage::RTMetering) {
        // Not polled: after its reads the page gets null queries, which send nothing, however
        // often the cycle asks.
        const auto sent = r.Link.SentCount();
        const int before = asked;
        QTRY_VERIFY_WITH_TIMEOUT(asked >= before + 5, 10000);
        QCOMPARE(r.Link.SentCount(), sent);
    }
    QVERIFY(DisconnectLink(r.Link, r.Shell));
    QCOMPARE(sim.Requests().mid(0, expected.size()), expected);
    QCOMPARE(r.Link.ErrorCount(), std::uint64_t(0));
    QVERIFY(!r.Shell.IsConnected);
    QCOMPARE(r.Link.SoftwareVersion(), version);
    if (page == TPage::RTMetering) {
        QVERIFY(!r.Metering.Measurement[0].isEmpty());
        QVERIFY(r.Metering.Measurement[0].endsWith(" V"));
        QCOMPARE(r.Metering.Energy.size(), std::size_t(version == "3.05" ? 2 : 6));
        QCOMPARE(r.Metering.HideCalls, version == "3.05" ? 1 : 0);
    }
    if (page == TPage::DeviceInfo)
        QCOMPARE(r.DeviceInfo.Fields[IDeviceInfoView::fSoftVersion], version);
}

void TestFormModbus::adoptsNewLineSettingsAfterAnswer() {
    TSimMeter sim({"--version-text", "3.20"});
    QVERIFY(sim.Started());
    TRig r;
    r.Shell.Page = TPage::GeneralSettings;
    // The wait before the link follows the meter to its new line ends when the meter has taken
    // the new settings (it saves its memory right after): blocking, as the link's own wait is.
    r.Link.Sleep = [&](int ms) {
        r.Waits << ms;
        const QDeadlineTimer deadline(5000);
        while (sim.State().value("reg.1102") != "9600" && !deadline.hasExpired())
            QThread::yieldCurrentThread();
    };
    r.Link.AppendQuery(GeneralWrite("5", "9600", 0));
    r.Link.SetNewLineSettings(5, 9600, TParity::Even, TStopBits::_1);
    r.Link.AppendQuery("00,03,11,00,00,0D");
    QVERIFY(ConnectLink(r.Link, r.Shell));
    // Set after connecting, which shortens every wait; the first answer is still to come.
    r.Link.SetAdoptWait(50);
    QTRY_VERIFY_WITH_TIMEOUT(r.Link.PendingQueries().empty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(sim.Sim.Requests().size() >= 6, 10000);
    QVERIFY(DisconnectLink(r.Link, r.Shell));
    QCOMPARE(r.Waits, QList<int>{50});
    QCOMPARE(int(r.Link.DeviceAddress()), 5);
    QCOMPARE(r.Link.Modbus.Baudrate(), 9600);
    QVERIFY(r.Link.Modbus.Parity() == TParity::Even);
    const QStringList req = sim.Sim.Requests();
    QVERIFY2(req.value(0).startsWith("01,10,11,00"), qPrintable(req.join(' ')));
    QCOMPARE(req.value(1), QStringLiteral("05,03,11,00,00,0D"));
    QCOMPARE(req.value(2), QStringLiteral("05,03,F0,00,00,09"));
    QCOMPARE(r.Link.ErrorCount(), std::uint64_t(0));
    QCOMPARE(r.Settings.Record.Address, QStringLiteral("5"));
    QCOMPARE(r.Settings.Record.Baudrate, QStringLiteral("9600"));
    QCOMPARE(r.Settings.Record.Parity, 0);
}

void TestFormModbus::overLimitBoxDoesNotReenterMaster() {
    TSimProcess sim({"--version-text", "3.20"});
    QVERIFY(sim.Started());
    TRig r;
    // PT2 of 0 is refused by the meter with exception 04.
    r.Link.AppendQuery("00,10,11,07,00,01,02,00,00");
    r.Link.AppendQuery("00,03,11,00,00,0D");
    std::uint64_t sentWhenOpened = 0;
    r.Dialogs.OnBox = [&](const TScriptedDialogs::TBox&) {
        // While the box is open the link keeps polling, as behind a real modal box.
        sentWhenOpened = r.Link.SentCount();
        QTRY_VERIFY_WITH_TIMEOUT(r.Link.SentCount() >= sentWhenOpened + 6, 5000);
    };
    QVERIFY(ConnectLink(r.Link, r.Shell));
    QTRY_COMPARE_WITH_TIMEOUT(r.Dialogs.Boxes.size(), std::size_t(1), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(sim.Requests().size() >= 16, 10000);
    QVERIFY(DisconnectLink(r.Link, r.Shell));
    QCOMPARE(r.Dialogs.Boxes.size(), std::size_t(1));
    QCOMPARE(r.Link.ErrorCount(), std::uint64_t(0));

    // Every query went out once, in its order: the queue, then the page's reads, then the
    // rotation from the measurement block without a gap or a repeat.
    const QStringList req = sim.Requests();
    QCOMPARE(req.mid(0, 5),
             (QStringList{"01,10,11,07,00,01,02,00,00", "01,03,11,00,00,0D", "01,03,F0,00,00,09",
                          "01,03,11,00,00,0D", "01,03,F1,06,00,01"}));
    const QStringList rotation{"01,03,14,00,00,15", "01,03,11,80,00,0C", "01,01,00,00,00,02",
                               "01,02,00,00,00,06"};
    for (int i = 5; i < req.size(); ++i)
        QCOMPARE(req[i], rotation[(i - 5) % 4]);
    const auto counters = sim.Stop();
    QCOMPARE(counters.value("exception04"), 1);
    QCOMPARE(qlonglong(r.Link.SentCount()), counters.value("requests"));
}

void TestFormModbus::statisticsCountInjectedFaults() {
    TSimProcess sim({"--version-text", "3.20", "--seed", "7", "--fault", "crc=0.08", "--fault",
                     "drop=0.08", "--fault", "truncate=0.08", "--fault", "noise=0.08", "--fault",
                     "split=0.08"});
    QVERIFY(sim.Started());
    TRig r;
    QVERIFY(ConnectLink(r.Link, r.Shell));
    r.Link.Modbus.SetQueryInterval(5);
    r.Link.Modbus.SetQueryTimeout(250);
    QTRY_VERIFY_WITH_TIMEOUT(r.Link.SentCount() >= 120, 60000);
    QVERIFY(DisconnectLink(r.Link, r.Shell));
    const qlonglong lost = sim.LostAnswers();
    const auto counters = sim.Stop();
    QVERIFY(lost > 0);
    QCOMPARE(qlonglong(r.Link.ErrorCount()), lost);
    QCOMPARE(qlonglong(r.Link.SentCount()), counters.value("requests"));
    QCOMPARE(r.Shell.Panels[3],
             TTrafficStats::StatisticsText(r.Link.ErrorCount(), r.Link.SentCount()));
    // The values kept coming in between the faults.
    QVERIFY(!r.Metering.Measurement[0].isEmpty());
}

QTEST_GUILESS_MAIN(TestFormModbus)
#include "tst_formmodbus.moc"
