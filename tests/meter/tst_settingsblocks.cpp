// The five settings blocks: record to write query, read response back to the record.
#include "meter/SettingsBlocks.h"
#include "meter/ValueParse.h"
#include "support/MeterRecords.h"

#include <QLocale>
#include <QTest>
#include <vector>

Q_DECLARE_METATYPE(TMeterSettings)

namespace {

using Words = std::vector<uint16_t>;

// The analog outputs with limits as an operator may type them: blanks, a percent sign.
TMeterSettings AnalogExample() {
    TMeterSettings s = ExampleAnalog();
    s.AO1Object = 16;
    s.AO1LowLimit = " 0";
    s.AO2Object = 12;
    s.AO2LowLimit = "20%";
    return s;
}

// The register values carried by a write query, read from its text.
Words DataWords(const std::string& query, const char* head) {
    const QByteArrayList bytes =
        QByteArray::fromStdString(query.substr(std::string(head).size() + 1)).split(',');
    Words words;
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        words.push_back(static_cast<uint16_t>(bytes[i].toUInt(nullptr, 16) << 8 |
                                              bytes[i + 1].toUInt(nullptr, 16)));
    return words;
}

QString EncodeError(uint16_t start, const TMeterSettings& s, bool relay, const TScaling& scale) {
    try {
        EncodeSettingsBlock(start, s, relay, scale);
    } catch (const EConvertError& e) {
        return e.Message();
    }
    return QStringLiteral("(no error)");
}

} // namespace

class TestSettingsBlocks : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void roundTrip_data();
    void roundTrip();
    void refused_data();
    void refused();
    void decode_data();
    void decode();
    void otherBlocks();
};

void TestSettingsBlocks::roundTrip_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("relay");
    QTest::addColumn<double>("pt");
    QTest::addColumn<TMeterSettings>("written");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<TMeterSettings>("readBack");

    {
        TMeterSettings w = ExampleGeneral();
        TMeterSettings r = w;
        QTest::newRow("0x1100 example")
            << 0x1100 << false << 1.0 << w
            << QByteArray("00,10,11,00,00,0D,1A,00,00,00,01,25,80,00,03,00,00,01,90,00,00,01,"
                          "90,00,05,00,05,00,00,00,00,00,00")
            << r;
    }
    {
        TMeterSettings w = ExampleGeneral();
        w.Password = "9999";
        w.Baudrate = "57600";
        w.PT1 = "500000";
        TMeterSettings r = w;
        QTest::newRow("0x1100 PT1 500000, 57600 baud")
            << 0x1100 << false << 1.0 << w
            << QByteArray("00,10,11,00,00,0D,1A,27,0F,00,01,E1,00,00,03,00,00,A1,20,00,07,01,"
                          "90,00,05,00,05,00,00,00,00,00,00")
            << r;
    }
    {
        TMeterSettings w = ExampleGeneral();
        w.PT1 = "4294967295";
        w.Password = "65535";
        TMeterSettings r = w;
        QTest::newRow("0x1100 top of each register")
            << 0x1100 << false << 1.0 << w
            << QByteArray("00,10,11,00,00,0D,1A,FF,FF,00,01,25,80,00,03,00,00,FF,FF,FF,FF,01,"
                          "90,00,05,00,05,00,00,00,00,00,00")
            << r;
    }
    {
        TMeterSettings w = ExampleAlarm();
        // The relay 1 fields hold other values: the basic layout must not take them.
        w.RO1AlarmItems = 7;
        w.RO1AlarmSetpoint = "x";
        TMeterSettings r = w;
        r.AlarmSetpoint = "230.0";
        r.RO1AlarmItems = 1;
        r.RO1AlarmSetpoint = "230.0";
        r.RO1AlarmDelay = "5";
        r.RO1AlarmOperator = 1;
        r.RO1AlarmOutput = 2;
        QTest::newRow("0x1200 basic layout")
            << 0x1200 << false << 1.0 << w
            << QByteArray("00,10,12,00,00,08,10,00,02,00,00,03,20,00,01,08,FC,00,05,00,01,00,02")
            << r;
        TMeterSettings w100 = w;
        w100.AlarmSetpoint = "23000";
        TMeterSettings r100 = r;
        r100.AlarmSetpoint = r100.RO1AlarmSetpoint = "23000";
        QTest::newRow("0x1200 basic layout, PT ratio 100")
            << 0x1200 << false << 100.0 << w100
            << QByteArray("00,10,12,00,00,08,10,00,02,00,00,03,20,00,01,08,FC,00,05,00,01,00,02")
            << r100;
    }
    {
        TMeterSettings w;
        w.ROType = 0;
        w.DOType = 1;
        w.DOPulseConst = "60000";
        w.AlarmItems = 2; // single-alarm fields differ: the relay layout must ignore them
        w.AlarmSetpoint = "abc";
        w.RO1AlarmItems = 17;
        w.RO1AlarmSetpoint = "-0.5";
        w.RO1AlarmDelay = "255";
        w.RO1AlarmOperator = 0;
        w.RO1AlarmOutput = 1;
        TMeterSettings r = w;
        r.AlarmItems = 17;
        r.AlarmSetpoint = r.RO1AlarmSetpoint = "-0.500";
        r.AlarmDelay = "255";
        r.AlarmOperator = 0;
        r.AlarmOutput = 1;
        QTest::newRow("0x1200 relay alarm layout, signed power factor")
            << 0x1200 << true << 1.0 << w
            << QByteArray("00,10,12,00,00,08,10,00,00,00,01,EA,60,00,11,FE,0C,00,FF,00,00,00,01")
            << r;
    }
    {
        TMeterSettings w = ExampleAlarm();
        w.AlarmItems = 0;
        w.AlarmSetpoint = "";
        TMeterSettings r = w;
        r.RO1AlarmItems = 0;
        r.RO1AlarmSetpoint = "";
        r.RO1AlarmDelay = "5";
        r.RO1AlarmOperator = 1;
        r.RO1AlarmOutput = 2;
        QTest::newRow("0x1200 channel None writes 0 for any text")
            << 0x1200 << false << 1.0 << w
            << QByteArray("00,10,12,00,00,08,10,00,02,00,00,03,20,00,00,00,00,00,05,00,01,00,02")
            << r;
    }
    {
        const TMeterSettings w = ExampleDigital();
        QTest::newRow("0x1208") << 0x1208 << false << 1.0 << w
                                << QByteArray("00,10,12,08,00,02,04,00,01,00,02") << w;
    }
    {
        TMeterSettings w = ExampleRelay2();
        TMeterSettings r = w;
        r.RO2AlarmSetpoint = "-5.000";
        QTest::newRow("0x120A negative watt setpoint")
            << 0x120A << true << 1.0 << w
            << QByteArray("00,10,12,0A,00,05,0A,00,0D,EC,78,00,0A,00,00,00,01") << r;
    }
    {
        TMeterSettings w = AnalogExample();
        TMeterSettings r = w;
        r.AO1HighLimit = "100";
        r.AO1LowLimit = "0";
        r.AO2LowLimit = "20";
        QTest::newRow("0x1300 channel before mode, limits before signs")
            << 0x1300 << false << 1.0 << w
            << QByteArray("00,10,13,00,00,0C,18,00,10,00,01,00,64,00,00,00,00,00,01,00,0C,00,00,"
                          "00,78,00,14,00,01,00,00")
            << r;
    }
}

void TestSettingsBlocks::roundTrip() {
    QFETCH(int, start);
    QFETCH(bool, relay);
    QFETCH(double, pt);
    QFETCH(TMeterSettings, written);
    QFETCH(QByteArray, query);
    QFETCH(TMeterSettings, readBack);

    const TScaling scale{pt, 1.0, 0};
    const auto block = static_cast<uint16_t>(start);
    const std::string encoded = EncodeSettingsBlock(block, written, relay, scale);
    QCOMPARE(QByteArray::fromStdString(encoded), query);

    const TSettingsBlock* info = FindSettingsBlock(block);
    QVERIFY(info);
    const Words words = DataWords(encoded, info->WriteHead);
    QCOMPARE(words.size(), size_t{info->Count});

    // Decoding starts from the written record, so fields outside the block stay put and
    // every difference is the block's doing.
    TMeterSettings decoded = written;
    QVERIFY(DecodeSettingsBlock(block, words, decoded, scale));
    QCOMPARE(decoded, readBack);
}

void TestSettingsBlocks::refused_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("relay");
    QTest::addColumn<double>("pt");
    QTest::addColumn<TMeterSettings>("settings");
    QTest::addColumn<QString>("error");

    const auto general = [](auto change) {
        TMeterSettings s = ExampleGeneral();
        change(s);
        return s;
    };
    QTest::newRow("empty password")
        << 0x1100 << false << 1.0 << general([](auto& s) { s.Password = ""; })
        << "'' is not a valid integer value";
    QTest::newRow("password with a blank")
        << 0x1100 << false << 1.0 << general([](auto& s) { s.Password = "12 "; })
        << "'12 ' is not a valid integer value";
    QTest::newRow("password above 16 bits")
        << 0x1100 << false << 1.0 << general([](auto& s) { s.Password = "65536"; })
        << "'65536' is out of range for Password";
    QTest::newRow("negative address")
        << 0x1100 << false << 1.0 << general([](auto& s) { s.Address = "-1"; })
        << "'-1' is out of range for Address";
    QTest::newRow("no baud rate chosen")
        << 0x1100 << false << 1.0 << general([](auto& s) { s.Baudrate = ""; })
        << "No entry chosen for Baud Rate";
    QTest::newRow("no parity chosen")
        << 0x1100 << false << 1.0 << general([](auto& s) { s.Parity = -1; })
        << "No entry chosen for Parity";
    QTest::newRow("PT1 beyond 32 bits")
        << 0x1100 << false << 1.0 << general([](auto& s) { s.PT1 = "4294967296"; })
        << "'4294967296' is not a valid integer value";
    QTest::newRow("PT1 negative") << 0x1100 << false << 1.0
                                  << general([](auto& s) { s.PT1 = "-400"; })
                                  << "'-400' is out of range for PT1";
    QTest::newRow("first field in register order wins")
        << 0x1100 << false << 1.0 << general([](auto& s) {
               s.LoadConvention = -1;
               s.CT1 = "five";
           })
        << "'five' is not a valid integer value";

    TMeterSettings alarm = ExampleAlarm();
    alarm.AlarmSetpoint = "2x30 V";
    QTest::newRow("setpoint not a number")
        << 0x1200 << false << 1.0 << alarm << "'2x30' is not a valid floating point value";
    alarm = ExampleAlarm();
    QTest::newRow("setpoint with PT ratio 0")
        << 0x1200 << false << 0.0 << alarm << "'230' is out of range for Alarm Setpoint";
    alarm.AlarmSetpoint = "-230";
    QTest::newRow("negative voltage setpoint")
        << 0x1200 << false << 1.0 << alarm << "'-230' is out of range for Alarm Setpoint";
    alarm = ExampleAlarm();
    alarm.RO1AlarmItems = -1;
    QTest::newRow("relay layout, no channel chosen")
        << 0x1200 << true << 1.0 << alarm << "No entry chosen for RO1 Alarm Channel";

    TMeterSettings relay2 = ExampleRelay2();
    relay2.RO2AlarmSetpoint = "40";
    QTest::newRow("signed setpoint above 32767")
        << 0x120A << true << 1.0 << relay2 << "'40' is out of range for RO2 Alarm Setpoint";
    relay2.RO2AlarmSetpoint = "-32.768";
    QTest::newRow("signed setpoint at its bottom")
        << 0x120A << true << 1.0 << relay2 << "(no error)";
    relay2 = ExampleRelay2();
    relay2.RO2AlarmDelay = "1e1";
    QTest::newRow("delay is an integer")
        << 0x120A << true << 1.0 << relay2 << "'1e1' is not a valid integer value";

    TMeterSettings analog = AnalogExample();
    analog.AO1HighLimit = "abc";
    QTest::newRow("limit abc") << 0x1300 << false << 1.0 << analog
                               << "'' is not a valid integer value";
    analog = AnalogExample();
    analog.AO2LowLimit = " -5 %";
    QTest::newRow("negative limit")
        << 0x1300 << false << 1.0 << analog << "'-5 %' is out of range for AO2 Low Limit";
    analog = AnalogExample();
    analog.AO2LLOpt = 65536;
    QTest::newRow("index beyond a register")
        << 0x1300 << false << 1.0 << analog << "'65536' is out of range for AO2 Low Limit Sign";
    TMeterSettings digital;
    digital.DO1Output = 0;
    QTest::newRow("DO2 output not chosen")
        << 0x1208 << false << 1.0 << digital << "No entry chosen for DO2 Energy Output";
}

void TestSettingsBlocks::refused() {
    QFETCH(int, start);
    QFETCH(bool, relay);
    QFETCH(double, pt);
    QFETCH(TMeterSettings, settings);
    QFETCH(QString, error);
    QCOMPARE(EncodeError(static_cast<uint16_t>(start), settings, relay, TScaling{pt, 1.0, 0}),
             error);
}

void TestSettingsBlocks::decode_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<Words>("values");
    QTest::addColumn<double>("pt");
    QTest::addColumn<double>("ct");
    QTest::addColumn<TMeterSettings>("expected");

    TMeterSettings general = ExampleGeneral();
    general.Password = "1234";
    QTest::newRow("0x1100 from a meter")
        << 0x1100 << Words{1234, 1, 9600, 3, 0, 400, 0, 400, 5, 5, 0, 0, 0} << 1.0 << 1.0
        << general;

    TMeterSettings outOfList = general;
    outOfList.Parity = 9;
    outOfList.VoltageWiring = 9;
    outOfList.PT1 = "500000";
    outOfList.Baudrate = "57600";
    QTest::newRow("0x1100 values beyond the lists stay in the record")
        << 0x1100 << Words{1234, 1, 57600, 9, 9, 0xA120, 7, 400, 5, 5, 0, 0, 0} << 1.0 << 1.0
        << outOfList;

    TMeterSettings partial;
    partial.Password = "7";
    partial.Address = "2";
    partial.Baudrate = "4800";
    partial.Parity = 1;
    partial.VoltageWiring = 2;
    QTest::newRow("0x1100 cut inside the PT1 pair leaves PT1 alone")
        << 0x1100 << Words{7, 2, 4800, 1, 2, 0xA120} << 1.0 << 1.0 << partial;

    QTest::newRow("0x1100 empty response changes nothing")
        << 0x1100 << Words{} << 1.0 << 1.0 << TMeterSettings{};

    TMeterSettings both;
    both.ROType = 1;
    both.DOType = 0;
    both.DOPulseConst = "800";
    both.AlarmItems = both.RO1AlarmItems = 7;
    both.AlarmSetpoint = both.RO1AlarmSetpoint = "200.0";
    both.AlarmDelay = both.RO1AlarmDelay = "3";
    both.AlarmOperator = both.RO1AlarmOperator = 0;
    both.AlarmOutput = both.RO1AlarmOutput = 1;
    QTest::newRow("0x1200 sets both alarm sets, current with CT 40")
        << 0x1200 << Words{1, 0, 800, 7, 5000, 3, 0, 1} << 1.0 << 40.0 << both;

    TMeterSettings unknownChannel;
    unknownChannel.RO2AlarmItems = 25;
    unknownChannel.RO2AlarmSetpoint = "";
    unknownChannel.RO2AlarmDelay = "0";
    unknownChannel.RO2AlarmOperator = 1;
    unknownChannel.RO2AlarmOutput = 0;
    QTest::newRow("0x120A channel outside the list gives an empty setpoint")
        << 0x120A << Words{25, 2300, 0, 1, 0} << 1.0 << 1.0 << unknownChannel;

    TMeterSettings vaTotal;
    vaTotal.RO2AlarmItems = 15;
    vaTotal.RO2AlarmSetpoint = "65.44";
    QTest::newRow("0x120A VA total reads unsigned, only two registers")
        << 0x120A << Words{15, 0xFF9C} << 1.0 << 1.0 << vaTotal;

    TMeterSettings extra;
    extra.DO1Output = 2;
    extra.DO2Output = 0;
    QTest::newRow("0x1208 ignores values beyond the block")
        << 0x1208 << Words{2, 0, 99, 99} << 1.0 << 1.0 << extra;
}

void TestSettingsBlocks::decode() {
    QFETCH(int, start);
    QFETCH(Words, values);
    QFETCH(double, pt);
    QFETCH(double, ct);
    QFETCH(TMeterSettings, expected);
    TMeterSettings decoded;
    QVERIFY(
        DecodeSettingsBlock(static_cast<uint16_t>(start), values, decoded, TScaling{pt, ct, 0}));
    QCOMPARE(decoded, expected);
}

void TestSettingsBlocks::otherBlocks() {
    TMeterSettings s;
    const Words values{1, 2, 3};
    QVERIFY(!DecodeSettingsBlock(0x1400, values, s, TScaling{}));
    QCOMPARE(s, TMeterSettings{});
    QVERIFY(EncodeSettingsBlock(0x110D, ExampleGeneral(), false, TScaling{}).empty());
    QCOMPARE(QByteArray(FindSettingsBlock(0x1208)->ReadQuery), QByteArray("00,03,12,08,00,02"));
    QVERIFY(!FindSettingsBlock(0x1201));
}

QTEST_GUILESS_MAIN(TestSettingsBlocks)
#include "tst_settingsblocks.moc"
