// The meter link as a whole: the queries it chooses, what it writes into the pages and the
// status bar, how it adopts new line settings, and the same against the simulator on a pty.
#include "support/FakeShell.h"
#include "support/LinkTestAccess.h"
#include "support/MeterRecords.h"
#include "support/ScriptedDialogs.h"
#include "support/SimMeter.h"

#include "link/frmModbus.h"
#include "meter/SettingsBlocks.h"
#include "support/VirtualClock.h"

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
    void ShowExtendedEnergy(bool shown) override { ExtendedShown = shown; }
    void SetCommandsEnabled(bool enabled) override { Enabled = enabled; }

    std::map<int, QString> Measurement;
    std::map<int, QString> Energy;
    std::map<int, bool> Relays;
    std::map<int, bool> Inputs;
    bool ExtendedShown = true;
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
    void ShowLayout(const TPageAdaptation& layout) override {
        ShortLists = layout.ShortenLists;
        DOHidden = layout.HideDOEnergyOutputs;
        RelayAlarmHidden = layout.HideRelayAlarmGroup;
    }
    void SetUpdateEnabled(bool enabled) override { UpdateEnabled = enabled; }

    TMeterSettings Record;
    int SetCalls = 0;
    bool ShortLists = false;
    bool DOHidden = false;
    bool RelayAlarmHidden = false;
    bool UpdateEnabled = true;
};

// One link with its fakes, on a clock that only records its waits. The tests against the
// simulator poll on the real clock.
struct TRig {
    enum TTime { Virtual, Real };
    explicit TRig(TTime time = Virtual) {
        Link.SetViews(&Metering, &DeviceInfo, &Settings);
        if (time == Virtual)
            TLinkTestAccess::Master(Link).SetClock(Clock);
    }
    QString Next() {
        std::string text;
        Link.ModbusQueryData(TLinkTestAccess::Master(Link), text);
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
        Link.ModbusF03Response(TLinkTestAccess::Master(Link), 1, start, values);
    }

    TVirtualClock Clock;
    TFakeShell Shell;
    TScriptedDialogs Dialogs;
    TFormModbus Link{Shell, Dialogs};
    TFakeMetering Metering;
    TFakeDeviceInfo DeviceInfo;
    TFakeSettingsView Settings;
};

std::vector<std::uint16_t> IdentityRegs(const QByteArray& version) {
    const QByteArray text =
        QByteArray("ED80") + "1.00" + version.leftJustified(4, '\0', true) + "160121";
    return TextRegisters(text, 9);
}

// Block 0x1100 with the given transformer settings (PT1, PT2, CT1, CT2).
std::vector<std::uint16_t> GeneralBlock(int pt1, int pt2, int ct1, int ct2) {
    return {0,
            1,
            4,
            3,
            0,
            std::uint16_t(pt1 & 0xFFFF),
            std::uint16_t(pt1 >> 16),
            std::uint16_t(pt2),
            std::uint16_t(ct1),
            std::uint16_t(ct2),
            1,
            7,
            1};
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
    void overLimitBoxOnlyForWrites_data();
    void overLimitBoxOnlyForWrites();
    void lostReadsAskedAgain_data();
    void lostReadsAskedAgain();
    void otherMeterAskedAgain();
    void forgottenMeterLeavesDeviceInfoEmpty_data();
    void forgottenMeterLeavesDeviceInfoEmpty();
    void queryFinish();
    void commandStates();

    void connectOnEachPage_data();
    void connectOnEachPage();
    void adoptsNewLineSettingsAfterAnswer();
    void overLimitBoxDoesNotReenterMaster();
    void statisticsCountInjectedFaults();
    void portChangeEndsTheCycle();
    void closingSendsTheQueuedWrites_data();
    void closingSendsTheQueuedWrites();
    void listenersHearEachQueryEnd();
};

void TestFormModbus::configuration() {
    TRig r;
    TKrModbus& m = TLinkTestAccess::Master(r.Link);
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
    QCOMPARE(r.Link.Scaling().PTRatio, 1.0);
    QCOMPARE(r.Link.Scaling().CTRatio, 1.0);
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
    TLinkTestAccess::ReadVersion(r.Link, "4.00");
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
    // Set before connecting, as the connection dialog does.
    r.Shell.IsConnected = false;
    r.Link.SetDeviceAddress(10);
    r.Shell.IsConnected = true;
    QCOMPARE(r.Next(), QStringLiteral("0A,03,14,00,00,15"));
    r.Link.AppendQuery("00,01,00,00,00,02");
    QCOMPARE(r.Next(), QStringLiteral("0A,01,00,00,00,02"));
    r.Shell.IsConnected = false;
    r.Link.SetDeviceAddress(247);
    r.Shell.IsConnected = true;
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
    r.Link.ModbusF10Response(TLinkTestAccess::Master(r.Link), 1, std::uint16_t(start), 13);
    QTEST(int(r.Link.DeviceAddress()), "address");
    QTEST(int(r.Clock.Sleeps().size()), "waits");
    if (!r.Clock.Sleeps().empty()) {
        QCOMPARE(r.Clock.Sleeps().front(), 2000);
        QCOMPARE(TLinkTestAccess::Master(r.Link).Baudrate(), baud);
        QCOMPARE(int(TLinkTestAccess::Master(r.Link).Parity()), parity);
        QCOMPARE(int(TLinkTestAccess::Master(r.Link).StopBits()), stop);
    } else if (start != 0x1100) {
        QCOMPARE(TLinkTestAccess::Master(r.Link).Baudrate(), 19200);
        QVERIFY(TLinkTestAccess::Master(r.Link).Parity() == TParity::None);
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
    r.Link.ModbusF10Response(TLinkTestAccess::Master(r.Link), 1, 0x1100, 13);
    QCOMPARE(int(r.Link.DeviceAddress()), 5);
    QCOMPARE(TLinkTestAccess::Master(r.Link).Baudrate(), 9600);
    QVERIFY(TLinkTestAccess::Master(r.Link).Parity() == TParity::Even);
    QCOMPARE(r.Next(), QStringLiteral("05,03,11,00,00,0D"));

    QVERIFY(r.Next().startsWith("05,10,11,00"));
    r.Link.ModbusF10Response(TLinkTestAccess::Master(r.Link), 5, 0x1100, 13);
    QCOMPARE(int(r.Link.DeviceAddress()), 7);
    QCOMPARE(TLinkTestAccess::Master(r.Link).Baudrate(), 4800);
    QVERIFY(TLinkTestAccess::Master(r.Link).Parity() == TParity::None);
    QVERIFY(TLinkTestAccess::Master(r.Link).StopBits() == TStopBits::_2);
    QCOMPARE(r.Next(), QStringLiteral("07,03,11,00,00,0D"));
    QCOMPARE(r.Clock.Sleeps(), (std::vector<int>{2000, 2000}));
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
    r.F03(0x1100, GeneralBlock(100, 100, 5, 5));
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
    r.Link.ModbusF01Response(TLinkTestAccess::Master(r.Link), 1, 0, coils);
    QCOMPARE(r.Metering.Relays[0], true);
    QCOMPARE(r.Metering.Relays[1], false);
    const bool inputs[] = {false, true, false, true, true, false};
    r.Link.ModbusF02Response(TLinkTestAccess::Master(r.Link), 1, 0, inputs);
    QCOMPARE(r.Metering.Inputs.size(), std::size_t(6));
    QCOMPARE(r.Metering.Inputs[4], true);

    r.F03(0xF106, {2});
    QCOMPARE(r.Link.Meter().AOType().value_or(0), 2);
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
    QVERIFY(r.Settings.ShortLists);
    QVERIFY(r.Settings.DOHidden);
    QVERIFY(r.Settings.RelayAlarmHidden);
    QVERIFY(!r.Metering.ExtendedShown);

    // The pages follow the meter now connected, both ways.
    r.F03(0xF000, IdentityRegs("4.00"));
    QCOMPARE(r.Link.SoftwareVersion(), QStringLiteral("4.00"));
    QVERIFY(!r.Settings.ShortLists);
    QVERIFY(!r.Settings.DOHidden);
    QVERIFY(!r.Settings.RelayAlarmHidden);
    QVERIFY(r.Metering.ExtendedShown);
    r.F03(0xF000, IdentityRegs("3.85"));
    QVERIFY(r.Settings.ShortLists);
    QVERIFY(!r.Settings.RelayAlarmHidden);
    QVERIFY(!r.Metering.ExtendedShown);
}

void TestFormModbus::settingsBlockFillsRecordThenRatios() {
    TRig r;
    // 0x1100: password, address, baud index, parity, wiring, PT1 lo/hi, PT2, CT1, CT2, ...
    std::vector<std::uint16_t> block{0, 3, 4, 3, 0, 10000, 0, 100, 40, 5, 0, 0, 5};
    r.F03(0x1100, block);
    QCOMPARE(r.Settings.SetCalls, 1);
    QCOMPARE(r.Settings.Record.Address, QStringLiteral("3"));
    QCOMPARE(r.Settings.Record.PT1, QStringLiteral("10000"));
    QCOMPARE(r.Link.Scaling().PTRatio, 100.0);
    QCOMPARE(r.Link.Scaling().CTRatio, 8.0);
    QCOMPARE(r.Link.Meter().LastPT2(), 100.0);

    // The alarm setpoint of block 0x1200 is shown with the ratios now in force.
    std::vector<std::uint16_t> meas(21, 0);
    meas[0] = 2300;
    r.F03(0x1400, meas);
    QCOMPARE(r.Metering.Measurement[0], QStringLiteral("23000 V"));

    block[7] = 0;
    block[9] = 0;
    block[8] = 0;
    r.F03(0x1100, block);
    QCOMPARE(r.Link.Scaling().PTRatio, 100.0);
    QCOMPARE(r.Link.Scaling().CTRatio, 8.0);
    QCOMPARE(r.Link.Meter().LastPT2(), 0.0);

    block = {0, 3, 4, 3, 0, 0, 0, 100, 0, 5, 0, 0, 5};
    r.F03(0x1100, block);
    QCOMPARE(r.Link.Scaling().PTRatio, 0.0);
    QCOMPARE(r.Link.Scaling().CTRatio, 0.0);
    r.F03(0x1400, meas);
    QCOMPARE(r.Metering.Measurement[0], QStringLiteral("0.0 V"));
}

void TestFormModbus::trafficPanels() {
    TRig r;
    r.Link.ModbusAfterResponse(TLinkTestAccess::Master(r.Link));
    QVERIFY(r.Shell.Panels[3].isEmpty());
    r.Link.ModbusSendData(TLinkTestAccess::Master(r.Link),
                          std::string("\x01\x03\x14\x00\x00\x15\x81\xF5", 8));
    QCOMPARE(r.Shell.Panels[1], QStringLiteral("TXD:  01 03 14 00 00 15 81 F5 "));
    QCOMPARE(r.Shell.Panels[2], QStringLiteral("RXD:  "));
    r.Link.ModbusRecvData(TLinkTestAccess::Master(r.Link), std::string("\x01\x03\x2A", 3));
    QCOMPARE(r.Shell.Panels[2], QStringLiteral("RXD:  01 03 2A "));
    r.Link.ModbusResponseError(TLinkTestAccess::Master(r.Link));
    r.Link.ModbusAfterResponse(TLinkTestAccess::Master(r.Link));
    QCOMPARE(r.Shell.Panels[3], QStringLiteral("ERR:  1/1  (100.00%)"));
    QCOMPARE(r.Shell.Panels[1], QStringLiteral("TXD:  01 03 14 00 00 15 81 F5 "));

    // Other pages show no traffic once their reads are done.
    r.Shell.Page = TPage::DeviceInfo;
    r.Link.AppendQuery("00,03,F0,00,00,09");
    r.Link.ModbusAfterResponse(TLinkTestAccess::Master(r.Link));
    QVERIFY(!r.Shell.Panels[1].isEmpty());
    r.Next();
    r.Link.ModbusAfterResponse(TLinkTestAccess::Master(r.Link));
    QVERIFY(r.Shell.Panels[1].isEmpty());
    QVERIFY(r.Shell.Panels[2].isEmpty());

    r.Link.ResetCounts();
    r.Link.ModbusSendData(TLinkTestAccess::Master(r.Link), "x");
    r.Link.ModbusAfterResponse(TLinkTestAccess::Master(r.Link));
    QCOMPARE(r.Shell.Panels[3], QStringLiteral("ERR:  0/1  (0.00%)"));
}

void TestFormModbus::overLimitBoxOncePerException() {
    TRig r;
    r.Link.AppendQuery("00,10,11,07,00,01,02,00,00");
    r.Next();
    r.Link.ModbusExceptionResponse(TLinkTestAccess::Master(r.Link), 1, 2);
    r.Link.ModbusExceptionResponse(TLinkTestAccess::Master(r.Link), 1, 4);
    // Not from inside the master's event: the box comes from the event loop.
    QVERIFY(r.Dialogs.Boxes.empty());
    QTRY_COMPARE_WITH_TIMEOUT(r.Dialogs.Boxes.size(), std::size_t(1), 2000);
    QCOMPARE(r.Dialogs.Boxes[0].Caption, QStringLiteral("Confirm"));
    QCOMPARE(r.Dialogs.Boxes[0].Text, QStringLiteral("Parameters are over limit. Writing failed."));
    QVERIFY(r.Dialogs.Boxes[0].Buttons == IDialogs::Ok);

    // A second exception while the first box is open gets its own box after it.
    r.Dialogs.OnBox = [&r](const TScriptedDialogs::TBox&) {
        if (r.Dialogs.Boxes.size() == 2) {
            r.Link.ModbusExceptionResponse(TLinkTestAccess::Master(r.Link), 1, 4);
            QCoreApplication::processEvents();
            QCOMPARE(r.Dialogs.Boxes.size(), std::size_t(2));
        }
    };
    r.Link.ModbusExceptionResponse(TLinkTestAccess::Master(r.Link), 1, 4);
    QTRY_COMPARE_WITH_TIMEOUT(r.Dialogs.Boxes.size(), std::size_t(3), 2000);
    QCOMPARE(r.Link.ErrorCount(), std::uint64_t(0));
}

void TestFormModbus::overLimitBoxOnlyForWrites_data() {
    QTest::addColumn<QStringList>("queries"); // one-shot queries, each answered with the code
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("boxes");
    const QStringList polls{"<poll>", "<poll>", "<poll>", "<poll>", "<poll>", "<poll>"};
    QTest::newRow("every poll refused") << polls << 4 << 0;
    QTest::newRow("page reads refused")
        << QStringList{"00,03,F0,00,00,09", "00,03,11,00,00,0D", "00,03,F1,06,00,01"} << 4 << 0;
    QTest::newRow("settings write refused") << QStringList{"00,10,11,07,00,01,02,00,00"} << 4 << 1;
    QTest::newRow("relay switch refused") << QStringList{"00,05,00,00,FF,00"} << 4 << 1;
    QTest::newRow("writes and polls refused")
        << QStringList{"00,10,11,00,00,01,02,00,01", "<poll>", "<poll>", "00,05,00,01,FF,00",
                       "<poll>"}
        << 4 << 2;
    QTest::newRow("write refused with another code") << QStringList{"00,05,00,00,FF,00"} << 2 << 0;
}

void TestFormModbus::overLimitBoxOnlyForWrites() {
    QFETCH(QStringList, queries);
    QFETCH(int, code);
    TRig r;
    for (const QString& query : queries) {
        if (query != "<poll>")
            r.Link.AppendQuery(query.toStdString());
        r.Next();
        r.Link.ModbusExceptionResponse(TLinkTestAccess::Master(r.Link), 1, code);
        r.Link.ModbusAfterResponse(TLinkTestAccess::Master(r.Link));
        QCoreApplication::processEvents();
    }
    // Every box that is due comes from the event loop, one after the other: each box posts the
    // next once it has been answered.
    for (int round = 0; round < 8; ++round)
        QCoreApplication::processEvents();
    QTEST(int(r.Dialogs.Boxes.size()), "boxes");
    for (const auto& box : r.Dialogs.Boxes)
        QCOMPARE(box.Text, QStringLiteral("Parameters are over limit. Writing failed."));
}

void TestFormModbus::lostReadsAskedAgain_data() {
    QTest::addColumn<QStringList>("lost");  // queries whose next answer is lost, in order
    QTest::addColumn<QStringList>("sent");  // every query sent, in order
    QTest::addColumn<QStringList>("volts"); // Volts AN after each measurement read
    const QString id = "01,03,F0,00,00,09", ratios = "01,03,11,00,00,0D", ao = "01,03,F1,06,00,01",
                  meas = "01,03,14,00,00,15", energy = "01,03,11,80,00,0C",
                  relays = "01,01,00,00,00,02", inputs = "01,02,00,00,00,06";
    QTest::newRow("nothing lost") << QStringList{}
                                  << QStringList{id, ratios, ao, meas, energy, relays, inputs, meas}
                                  << QStringList{"920.0 V", "920.0 V"};
    QTest::newRow("ratios lost once")
        << QStringList{ratios} << QStringList{id, ratios, ao, ratios, meas, energy, relays, inputs}
        << QStringList{"920.0 V"};
    QTest::newRow("ratios lost twice: nothing shown until they come")
        << QStringList{ratios, ratios}
        << QStringList{id, ratios, ao, ratios, meas, ratios, energy, relays} << QStringList{""};
    QTest::newRow("identity lost")
        << QStringList{id} << QStringList{id, ratios, ao, id, meas, energy, relays, inputs}
        << QStringList{"920.0 V"};
    QTest::newRow("both lost")
        << QStringList{id, ratios}
        << QStringList{id, ratios, ao, id, meas, ratios, "01,03,11,80,00,0C", relays}
        << QStringList{""};
}

void TestFormModbus::lostReadsAskedAgain() {
    QFETCH(QStringList, lost);
    QFETCH(QStringList, sent);
    TRig r;
    std::vector<std::uint16_t> meas(21, 0);
    meas[0] = 2300;
    meas[15] = 5000;
    // A meter whose ratios were read before, on another connection, and no longer hold.
    r.F03(0x1100, GeneralBlock(100, 100, 5, 5));
    r.Link.ModbusQueryFinish(TLinkTestAccess::Master(r.Link));
    r.Shell.IsConnected = true;
    QVERIFY(r.Link.RequestPageData());
    QStringList got, volts;
    for (int i = 0; i < sent.size(); ++i) {
        const QString query = r.Next();
        got << query;
        if (lost.removeOne(query)) {
            r.Link.ModbusResponseError(TLinkTestAccess::Master(r.Link));
        } else if (query == "01,03,F0,00,00,09") {
            r.F03(0xF000, IdentityRegs("3.20"));
        } else if (query == "01,03,11,00,00,0D") {
            r.F03(0x1100, GeneralBlock(400, 100, 50, 5));
        } else if (query == "01,03,14,00,00,15") {
            r.Metering.Measurement.clear();
            r.F03(0x1400, meas);
            volts << r.Metering.Measurement[0];
            QCOMPARE(r.Metering.Measurement[15], QStringLiteral("50.00 Hz"));
        }
        r.Link.ModbusAfterResponse(TLinkTestAccess::Master(r.Link));
    }
    QCOMPARE(got, sent);
    QTEST(volts, "volts");
    QVERIFY(r.Link.IdentityKnown());
    QCOMPARE(r.Link.SoftwareVersion(), QStringLiteral("3.20"));
}

void TestFormModbus::otherMeterAskedAgain() {
    TRig r;
    r.F03(0xF000, IdentityRegs("3.20"));
    r.F03(0x1100, GeneralBlock(400, 100, 50, 5));
    QVERIFY(r.Link.RatiosKnown());
    // Another address while connected is another meter: its identity and ratios are read
    // before the polling goes on, and nothing is scaled by the first meter's ratios meanwhile.
    r.Link.SetDeviceAddress(7);
    QVERIFY(!r.Link.IdentityKnown());
    QVERIFY(!r.Link.RatiosKnown());
    QCOMPARE(r.Next(), QStringLiteral("07,03,F0,00,00,09"));
    r.F03(0xF000, IdentityRegs("3.20"));
    r.Link.ModbusAfterResponse(TLinkTestAccess::Master(r.Link));
    QCOMPARE(r.Next(), QStringLiteral("07,03,14,00,00,15"));
    r.F03(0x1400, std::vector<std::uint16_t>(21, 1000));
    QCOMPARE(r.Metering.Measurement[0], QString());
    r.Link.ModbusAfterResponse(TLinkTestAccess::Master(r.Link));
    QCOMPARE(r.Next(), QStringLiteral("07,03,11,00,00,0D"));
    // The same address again changes nothing.
    r.F03(0x1100, GeneralBlock(400, 100, 50, 5));
    r.Link.ModbusAfterResponse(TLinkTestAccess::Master(r.Link));
    r.Link.SetDeviceAddress(7);
    QVERIFY(r.Link.RatiosKnown());
}

void TestFormModbus::forgottenMeterLeavesDeviceInfoEmpty_data() {
    QTest::addColumn<QString>("change");
    QTest::newRow("address") << "address";
    QTest::newRow("port") << "port";
    QTest::newRow("line") << "line";
    QTest::newRow("disconnect") << "disconnect";
}

void TestFormModbus::forgottenMeterLeavesDeviceInfoEmpty() {
    QFETCH(QString, change);
    TRig r;
    r.Next(); // the line the meter's facts are read on
    r.F03(0xF000, IdentityRegs("3.20"));
    r.F03(0xF040, {0x4142, 0x3132, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    r.F03(0xF106, {2});
    QCOMPARE(r.DeviceInfo.Fields.size(), std::size_t(6));
    for (const auto& [field, text] : r.DeviceInfo.Fields)
        QVERIFY(!text.isEmpty());
    if (change == "address") {
        r.Link.SetDeviceAddress(7);
    } else if (change == "port" || change == "line") {
        if (change == "port")
            r.Link.SetPortNum(2);
        else
            TLinkTestAccess::Master(r.Link).SetBaudrate(9600);
        r.Next();
    } else {
        r.Link.ModbusQueryFinish(TLinkTestAccess::Master(r.Link));
    }
    // Nothing of the meter read before is shown until the meter now reached is read.
    for (const auto& [field, text] : r.DeviceInfo.Fields)
        QVERIFY2(text.isEmpty(), qPrintable(QString::number(field) + ": " + text));
    r.F03(0xF000, IdentityRegs("3.05"));
    QCOMPARE(r.DeviceInfo.Fields[IDeviceInfoView::fSoftVersion], QStringLiteral("3.05"));
}

void TestFormModbus::queryFinish() {
    TRig r;
    r.Link.AppendQuery("00,03,F0,00,00,09");
    r.Shell.Panels[1] = "TXD:  x";
    r.Shell.Panels[2] = "RXD:  y";
    r.Shell.Panels[3] = "ERR:  0/1  (0.00%)";
    r.Shell.Disconnecting = true;
    r.Link.ModbusQueryFinish(TLinkTestAccess::Master(r.Link));
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
    QVERIFY(!sim.Path().isEmpty());
    TRig r(TRig::Real);
    r.Shell.Page = page;
    int asked = 0;
    auto query = TLinkTestAccess::Master(r.Link).OnQueryData;
    TLinkTestAccess::Master(r.Link).OnQueryData = [&asked, query](TKrModbus& m, std::string& text) {
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
    QCOMPARE(r.Link.SoftwareVersion(), version);
    if (page == TPage::DeviceInfo)
        QCOMPARE(r.DeviceInfo.Fields[IDeviceInfoView::fSoftVersion], version);
    QVERIFY(DisconnectLink(r.Link, r.Shell));
    QCOMPARE(sim.Requests().mid(0, expected.size()), expected);
    QCOMPARE(r.Link.ErrorCount(), std::uint64_t(0));
    QVERIFY(!r.Shell.IsConnected);
    // The next meter connected may be another: its version is read again.
    QVERIFY(r.Link.SoftwareVersion().isEmpty());
    if (page == TPage::RTMetering) {
        QVERIFY(!r.Metering.Measurement[0].isEmpty());
        QVERIFY(r.Metering.Measurement[0].endsWith(" V"));
        QCOMPARE(r.Metering.Energy.size(), std::size_t(version == "3.05" ? 2 : 6));
        QCOMPARE(r.Metering.ExtendedShown, version != "3.05");
    }
    // Nor is the page left showing the meter that was.
    for (const auto& [field, text] : r.DeviceInfo.Fields)
        QVERIFY(text.isEmpty());
}

void TestFormModbus::adoptsNewLineSettingsAfterAnswer() {
    TSimProcess sim({"--version-text", "3.20"});
    QVERIFY(!sim.Path().isEmpty());
    TRig r(TRig::Real);
    r.Shell.Page = TPage::GeneralSettings;
    r.Link.AppendQuery(GeneralWrite("5", "9600", 0));
    r.Link.SetNewLineSettings(5, 9600, TParity::Even, TStopBits::_1);
    r.Link.AppendQuery("00,03,11,00,00,0D");
    QVERIFY(ConnectLink(r.Link, r.Shell));
    // Set after connecting, which shortens every wait; the first answer is still to come.
    r.Link.SetAdoptWait(50);
    QTRY_VERIFY_WITH_TIMEOUT(r.Link.PendingQueries().empty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(sim.Requests().size() >= 6, 10000);
    QVERIFY(DisconnectLink(r.Link, r.Shell));
    QCOMPARE(int(r.Link.DeviceAddress()), 5);
    QCOMPARE(TLinkTestAccess::Master(r.Link).Baudrate(), 9600);
    QVERIFY(TLinkTestAccess::Master(r.Link).Parity() == TParity::Even);
    const QStringList req = sim.Requests();
    QVERIFY2(req.value(0).startsWith("01,10,11,00"), qPrintable(req.join(' ')));
    QCOMPARE(req.value(1), QStringLiteral("05,03,11,00,00,0D"));
    QCOMPARE(req.value(2), QStringLiteral("05,03,F0,00,00,09"));
    QCOMPARE(r.Link.ErrorCount(), std::uint64_t(0));
    QCOMPARE(r.Settings.Record.Address, QStringLiteral("5"));
    QCOMPARE(r.Settings.Record.Baudrate, QStringLiteral("9600"));
    QCOMPARE(r.Settings.Record.Parity, 0);
}

// Records what the link tells its listeners, in order.
class TListenerLog : public IMeterEvents {
public:
    void QueryFinished(const std::string& text, const TLinkLine& line,
                       const TQueryOutcome& outcome) override {
        const char* results[] = {"answered", "exception", "no answer", "bad answer"};
        Events << QString("%1 %2 %3 at %4/%5")
                      .arg(QString::fromStdString(text), results[int(outcome.Result)])
                      .arg(outcome.ExceptionCode)
                      .arg(line.Address)
                      .arg(line.Baudrate);
    }
    void BlockRead(const TMeterModel&, std::uint16_t start,
                   std::span<const std::uint16_t>) override {
        Events << QString("read %1").arg(start, 0, 16);
    }
    void LineAdopted(const TLinkLine& before, const TLinkLine& after) override {
        Events << QString("adopted %1/%2 -> %3/%4")
                      .arg(before.Address)
                      .arg(before.Baudrate)
                      .arg(after.Address)
                      .arg(after.Baudrate);
    }
    void CycleEnded() override { Events << "ended"; }
    QStringList Events;
};

void TestFormModbus::listenersHearEachQueryEnd() {
    // Relay answers never come back: the relay write ends without an answer.
    TSimProcess sim({"--version-text", "3.20", "--mute-function", "05"});
    QVERIFY(!sim.Path().isEmpty());
    TRig r(TRig::Real);
    r.Shell.Page = TPage::GeneralSettings;
    TListenerLog log;
    r.Link.Follow(&log);
    r.Link.Follow(&log);                              // once only
    r.Link.AppendQuery("00,10,11,07,00,01,02,00,00"); // PT2 0: refused with exception 04
    r.Link.AppendQuery("00,05,00,00,FF,00");
    r.Link.AppendQuery(GeneralWrite("5", "9600", 3));
    r.Link.SetNewLineSettings(5, 9600, TParity::None, TStopBits::_1);
    r.Link.AppendQuery("00,03,11,00,00,0D");
    QVERIFY(ConnectLink(r.Link, r.Shell));
    TLinkTestAccess::Master(r.Link).SetQueryTimeout(300);
    QTRY_VERIFY_WITH_TIMEOUT(log.Events.contains("read 1100"), 10000);
    QVERIFY(DisconnectLink(r.Link, r.Shell));
    r.Link.Unfollow(&log);
    const QString general = QString::fromStdString(GeneralWrite("5", "9600", 3));
    // Identity and page reads come first; from the refused write on, in this order.
    const qsizetype from = log.Events.indexOf("00,10,11,07,00,01,02,00,00 exception 4 at 1/19200");
    QVERIFY2(from >= 0, qPrintable(log.Events.join('\n')));
    QCOMPARE(log.Events.mid(from, 6),
             QStringList({"00,10,11,07,00,01,02,00,00 exception 4 at 1/19200",
                          "00,05,00,00,FF,00 no answer 0 at 1/19200",
                          general + " answered 0 at 1/19200", "adopted 1/19200 -> 5/9600",
                          "read 1100", "00,03,11,00,00,0D answered 0 at 5/9600"}));
    QCOMPARE(log.Events.last(), QString("ended"));
}

void TestFormModbus::overLimitBoxDoesNotReenterMaster() {
    TSimProcess sim({"--version-text", "3.20"});
    QVERIFY(!sim.Path().isEmpty());
    TRig r(TRig::Real);
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
    QVERIFY(!sim.Path().isEmpty());
    TRig r(TRig::Real);
    QVERIFY(ConnectLink(r.Link, r.Shell));
    TLinkTestAccess::Master(r.Link).SetQueryInterval(5);
    // Generous: only the spoilt answers may cost a time-out, never one the scheduler held up.
    TLinkTestAccess::Master(r.Link).SetQueryTimeout(1000);
    QTRY_VERIFY_WITH_TIMEOUT(r.Link.SentCount() >= 120, 120000);
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

void TestFormModbus::portChangeEndsTheCycle() {
    // A meter slow to answer: the first query is still on its way when the port changes.
    TSimProcess sim({"--version-text", "3.20", "--delay", "2000"});
    QVERIFY(!sim.Path().isEmpty());
    TRig r;
    QVERIFY(ConnectLink(r.Link, r.Shell));
    TLinkTestAccess::Master(r.Link).SetQueryTimeout(5000);
    QTRY_COMPARE_WITH_TIMEOUT(r.Link.SentCount(), std::uint64_t(1), 5000);
    // Disconnect, and the port changed before the query in progress has been answered.
    r.Shell.Disconnecting = true;
    r.Link.UpdateCommandStates();
    TLinkTestAccess::Master(r.Link).Stop();
    r.Link.SetPortNum(2);
    QVERIFY(!TLinkTestAccess::Master(r.Link).Opened());
    QVERIFY(!TLinkTestAccess::Master(r.Link).Running());
    QCOMPARE(int(TLinkTestAccess::Master(r.Link).PortNum()), 2);
    // The cycle ended as a disconnect ends it: offline, queue dropped, the query counted.
    QVERIFY(!r.Shell.IsConnected);
    QVERIFY(r.Link.PendingQueries().empty());
    QCOMPARE(r.Shell.Panels[3], QStringLiteral("ERR:  1/1  (100.00%)"));
    QVERIFY(r.Shell.Panels[1].isEmpty());
    // Nothing of the old cycle comes back later: not when its timers would have run out, nor
    // from anything still posted.
    r.Clock.Advance(10000);
    QCoreApplication::processEvents();
    QCOMPARE(r.Link.SentCount(), std::uint64_t(1));
    QVERIFY(!r.Shell.IsConnected);
}

void TestFormModbus::closingSendsTheQueuedWrites_data() {
    QTest::addColumn<QStringList>("queued");
    QTest::addColumn<bool>("waits");
    QTest::addColumn<QStringList>("sent");
    const QString on1 = "01,05,00,00,FF,00", on2 = "01,05,00,01,FF,00",
                  relays = "01,01,00,00,00,02";
    QTest::newRow("writes with read-backs") << QStringList{"00,05,00,00,FF,00", "00,01,00,00,00,02",
                                                           "00,05,00,01,FF,00", "00,01,00,00,00,02"}
                                            << true << QStringList{on1, on2};
    QTest::newRow("the last write on its way")
        << QStringList{"00,05,00,00,FF,00", "00,01,00,00,00,02"} << true << QStringList{on1};
    QTest::newRow("reads only") << QStringList{"00,01,00,00,00,02", "00,01,00,00,00,02"} << false
                                << QStringList{relays};
}

void TestFormModbus::closingSendsTheQueuedWrites() {
    QFETCH(QStringList, queued);
    QFETCH(bool, waits);
    QFETCH(QStringList, sent);
    // Every answer takes a while, so the queue is still full when closing begins.
    TSimProcess sim({"--version-text", "3.20", "--delay", "150"});
    QVERIFY(!sim.Path().isEmpty());
    TRig r(TRig::Real);
    for (const QString& q : queued)
        r.Link.AppendQuery(q.toStdString());
    QVERIFY(ConnectLink(r.Link, r.Shell));
    QTRY_COMPARE_WITH_TIMEOUT(r.Link.SentCount(), std::uint64_t(1), 5000);
    QCOMPARE(r.Link.FinishWritesThenStop(), waits);
    if (!waits) {
        QVERIFY(DisconnectLink(r.Link, r.Shell));
    } else {
        // The cycle ends by itself once the writes are out, and the port closes.
        QTRY_VERIFY_WITH_TIMEOUT(!TLinkTestAccess::Master(r.Link).Opened(), 10000);
        QVERIFY(!r.Shell.IsConnected);
    }
    QCOMPARE(sim.Requests(), sent);
    QCOMPARE(r.Link.ErrorCount(), std::uint64_t(0));
    QVERIFY(r.Link.PendingQueries().empty());
}

QTEST_GUILESS_MAIN(TestFormModbus)
#include "tst_formmodbus.moc"
