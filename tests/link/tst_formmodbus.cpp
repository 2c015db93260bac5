// The meter link as a whole, without a line: the queries it chooses, what it writes into the
// pages and the status bar, how it adopts new line settings.
#include "FormModbusRig.h"

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
    void connectionState_data();
    void connectionState();
    void commandStates();
    void sharedLineTurns_data();
    void sharedLineTurns();
    void selectingAnotherMeter();
};

namespace {

class TMeterChanges : public IMeterEvents {
public:
    void MeterChanged(const TMeterModel& meter) override { Addresses << meter.Line().Address; }
    void MeteringRead(const TMeterModel& meter, const TMeterReading&) override {
        Readings << meter.Line().Address;
    }
    QList<int> Addresses;
    QList<int> Readings;
};

} // namespace

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
    r.Link.SetState(TConnectionState::Offline);
    QVERIFY(!r.Link.RequestPageData());
    QVERIFY(r.Link.PendingQueries().empty());
    r.Link.SetState(TConnectionState::Disconnecting);
    QVERIFY(!r.Link.RequestPageData());
    QVERIFY(r.Link.PendingQueries().empty());

    r.Link.SetState(TConnectionState::Online);
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
    r.Link.SetState(TConnectionState::Offline);
    r.Link.SetDeviceAddress(10);
    r.Link.SetState(TConnectionState::Online);
    QCOMPARE(r.Next(), QStringLiteral("0A,03,14,00,00,15"));
    r.Link.AppendQuery("00,01,00,00,00,02");
    QCOMPARE(r.Next(), QStringLiteral("0A,01,00,00,00,02"));
    r.Link.SetState(TConnectionState::Offline);
    r.Link.SetDeviceAddress(247);
    r.Link.SetState(TConnectionState::Online);
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
    r.Link.SetState(TConnectionState::Online);
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
    r.Link.RequestDisconnect();
    r.Link.ModbusQueryFinish(TLinkTestAccess::Master(r.Link));
    QVERIFY(r.Link.PendingQueries().empty());
    QCOMPARE(r.Link.State(), TConnectionState::Offline);
    QVERIFY(r.Shell.Panels[1].isEmpty());
    QVERIFY(r.Shell.Panels[2].isEmpty());
    QCOMPARE(r.Shell.Panels[3], QStringLiteral("ERR:  0/1  (0.00%)"));
}

// A disconnect asked for while offline leaves the link offline; a cycle that ends with the port
// already closed and no disconnect asked for leaves it connected. The shell hears each change
// once, and nothing else.
void TestFormModbus::connectionState_data() {
    QTest::addColumn<bool>("offlineFirst");
    QTest::addColumn<bool>("disconnect");
    QTest::addColumn<int>("afterRequest");
    QTest::addColumn<int>("afterCycle");
    QTest::addColumn<QList<int>>("told");
    const int off = int(TConnectionState::Offline);
    const int on = int(TConnectionState::Online);
    const int disc = int(TConnectionState::Disconnecting);
    QTest::newRow("online, disconnect") << false << true << disc << off << QList{on, disc, off};
    QTest::newRow("offline, disconnect") << true << true << off << off << QList{on, off};
    QTest::newRow("online, cycle ends") << false << false << on << on << QList{on};
}

void TestFormModbus::connectionState() {
    QFETCH(bool, offlineFirst);
    QFETCH(bool, disconnect);
    TRig r;
    if (offlineFirst)
        r.Link.SetState(TConnectionState::Offline);
    if (disconnect)
        r.Link.RequestDisconnect();
    QTEST(int(r.Link.State()), "afterRequest");
    r.Link.EndCycle();
    QTEST(int(r.Link.State()), "afterCycle");
    QList<int> told;
    for (const TConnectionState state : r.Shell.Told)
        told << int(state);
    QTEST(told, "told");
}

void TestFormModbus::commandStates() {
    TRig r;
    r.Link.SetState(TConnectionState::Offline);
    r.Link.UpdateCommandStates();
    QVERIFY(!r.Metering.Enabled);
    QVERIFY(!r.Settings.UpdateEnabled);
    r.Link.SetState(TConnectionState::Online);
    r.Link.UpdateCommandStates();
    QVERIFY(r.Metering.Enabled);
    QVERIFY(r.Settings.UpdateEnabled);
    r.Link.RequestDisconnect();
    r.Link.UpdateCommandStates();
    QVERIFY(!r.Metering.Enabled);
}

// --- against the simulator -------------------------------------------------------------------

QTEST_GUILESS_MAIN(TestFormModbus)
#include "tst_formmodbus.moc"

void TestFormModbus::sharedLineTurns_data() {
    QTest::addColumn<QList<int>>("addresses");
    QTest::addColumn<QStringList>("expected");
    const QString meas1 = "01,03,14,00,00,15";
    // One address polls as a single meter: the rotation of the page alone.
    QTest::newRow("one address") << QList<int>{1}
                                 << QStringList{meas1, "01,03,11,80,00,04", "01,01,00,00,00,02",
                                                "01,02,00,00,00,06", meas1};
    // Three meters: the others are read every 2 s, the selected one at the master's interval;
    // each meter's serial number is read once (the Bus page names them by it); each other
    // meter's identity comes first, then (a retried fact waits a turn) its serial number, its
    // ratios, and from then on its measurements.
    const QStringList id = {"02,03,F0,00,00,09", "03,03,F0,00,00,09"},
                      serial = {"02,03,F0,40,00,10", "03,03,F0,40,00,10"},
                      ratios = {"02,03,11,00,00,0D", "03,03,11,00,00,0D"},
                      meas = {"02,03,14,00,00,15", "03,03,14,00,00,15"},
                      energy = {meas1, "01,03,11,80,00,04"},
                      bits = {"01,01,00,00,00,02", "01,02,00,00,00,06"};
    QTest::newRow("three meters") << QList<int>{1, 2, 3}
                                  << QStringList{"01,03,F0,40,00,10"} + id + energy + serial +
                                         bits + ratios + energy + meas +
                                         QStringList{"01,01,00,00,00,02"};
}

void TestFormModbus::sharedLineTurns() {
    QFETCH(QList<int>, addresses);
    QFETCH(QStringList, expected);
    TRig r;
    r.F03(0x1100, GeneralBlock(100, 100, 5, 5));
    r.Link.SetBusAddresses(std::vector<int>(addresses.begin(), addresses.end()));
    TMeterChanges pages;
    r.Link.Follow(&pages);
    TMeterChanges others;
    r.Link.FollowBus(&others);
    const QStringList sent = AnsweredTurns(r, int(expected.size()), 500);
    QCOMPARE(sent, expected);
    if (addresses.size() == 1) {
        TRig single;
        single.F03(0x1100, GeneralBlock(100, 100, 5, 5));
        QCOMPARE(AnsweredTurns(single, int(expected.size()), 500), sent);
    }
    // The pages show the selected meter's values only, and hear of no other.
    QCOMPARE(r.Metering.Measurement[0], QStringLiteral("1.0 V"));
    QVERIFY(!pages.Readings.isEmpty());
    QCOMPARE(pages.Readings.count(1), pages.Readings.size());
    QCOMPARE(others.Readings.count(1), 0);
    for (const int address : addresses) {
        if (address == 1)
            continue;
        const QString prefix = QString("%1,").arg(address, 2, 10, QChar('0'));
        const auto asked = std::count_if(sent.begin(), sent.end(),
                                         [&](const QString& q) { return q.startsWith(prefix); });
        QCOMPARE(r.Link.Bus().Stats(address).Answered, std::int64_t(asked));
        QCOMPARE(r.Link.BusMeter(address)->SerialNumber(), QString("SN%1").arg(address));
        QCOMPARE(others.Readings.count(address), 1);
    }
}

void TestFormModbus::selectingAnotherMeter() {
    TRig r;
    r.F03(0x1100, GeneralBlock(100, 100, 5, 5));
    r.Link.SetBusAddresses({1, 2});
    TMeterChanges pages;
    r.Link.Follow(&pages);
    TMeterChanges others;
    r.Link.FollowBus(&others);
    // Long enough for meter 2's facts, its serial number and a measurement.
    AnsweredTurns(r, 20, 500);
    QVERIFY(others.Readings.contains(2));
    QVERIFY(!pages.Readings.contains(2));
    QCOMPARE(r.Metering.Measurement[0], QStringLiteral("1.0 V"));

    QVERIFY(!r.Link.SelectMeter(9));
    QVERIFY(!r.Link.SelectMeter(1));
    const int refreshes = r.Shell.AddressRefreshes;
    QVERIFY(r.Link.SelectMeter(2));
    QCOMPARE(pages.Addresses, QList<int>{2});
    QCOMPARE(r.Shell.AddressRefreshes, refreshes + 1);
    QCOMPARE(int(r.Link.DeviceAddress()), 2);
    // What was read of meter 2 holds: the pages need not wait for its facts again.
    QCOMPARE(r.Link.SerialNumber(), QStringLiteral("SN2"));
    QVERIFY(r.Link.RatiosKnown());
    QCOMPARE(r.Link.BusMeter(1)->Line().Address, std::uint8_t(1));

    pages.Readings.clear();
    others.Readings.clear();
    const QStringList sent = AnsweredTurns(r, 12, 500);
    QVERIFY2(sent.filter("02,03,14").size() >= 2, qPrintable(sent.join(' ')));
    QVERIFY2(!sent.filter("01,03,14").isEmpty(), qPrintable(sent.join(' ')));
    QCOMPARE(r.Metering.Measurement[0], QStringLiteral("2.0 V"));
    QVERIFY(!pages.Readings.contains(1));
    QVERIFY(!others.Readings.contains(2));
}
