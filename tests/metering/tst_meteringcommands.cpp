// The query texts of the metering commands, byte for byte.
#include "metering/MeteringCommands.h"

#include <QtTest>

class TestMeteringCommands : public QObject {
    Q_OBJECT

private slots:
    void relaySwitch_data();
    void relaySwitch();
    void energyPreset_data();
    void energyPreset();
    void energyReset_data();
    void energyReset();
    void energyEntryText_data();
    void energyEntryText();
};

void TestMeteringCommands::relaySwitch_data() {
    QTest::addColumn<int>("relay");
    QTest::addColumn<bool>("on");
    QTest::addColumn<QString>("query");
    QTest::newRow("relay 1 on") << 0 << true << "00,05,00,00,FF,00";
    QTest::newRow("relay 1 off") << 0 << false << "00,05,00,00,00,00";
    QTest::newRow("relay 2 on") << 1 << true << "00,05,00,01,FF,00";
    QTest::newRow("relay 2 off") << 1 << false << "00,05,00,01,00,00";
}

void TestMeteringCommands::relaySwitch() {
    QFETCH(int, relay);
    QFETCH(bool, on);
    QFETCH(QString, query);
    QCOMPARE(QString::fromStdString(mcmd::RelaySwitch(relay, on)), query);
}

void TestMeteringCommands::energyPreset_data() {
    QTest::addColumn<int>("offset");
    QTest::addColumn<uint>("tenths");
    QTest::addColumn<QString>("query");
    QTest::newRow("Ep_total 0") << 0 << 0u << "00,10,11,80,00,02,04,00,00,00,00";
    QTest::newRow("Eq_total 0") << 2 << 0u << "00,10,11,82,00,02,04,00,00,00,00";
    // 123456 = 0x0001E240: the low word goes to the lower register.
    QTest::newRow("Ep_imp 12345.6") << 4 << 123456u << "00,10,11,84,00,02,04,E2,40,00,01";
    QTest::newRow("Ep_exp 120") << 6 << 120u << "00,10,11,86,00,02,04,00,78,00,00";
    QTest::newRow("Eq_imp largest") << 8 << 4294967295u << "00,10,11,88,00,02,04,FF,FF,FF,FF";
    QTest::newRow("Eq_exp high word only")
        << 10 << 0x00010000u << "00,10,11,8A,00,02,04,00,00,00,01";
}

void TestMeteringCommands::energyPreset() {
    QFETCH(int, offset);
    QFETCH(uint, tenths);
    QFETCH(QString, query);
    QCOMPARE(QString::fromStdString(mcmd::EnergyPreset(offset, tenths)), query);
}

void TestMeteringCommands::energyReset_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("query");
    const QString zeroWrite = "00,10,11,80,00,04,08,00,00,00,00,00,00,00,00";
    const QString resetRegister = "00,10,11,0D,00,01,02,00,0A";
    QTest::newRow("empty") << "" << zeroWrite;
    QTest::newRow("3.05") << "3.05" << zeroWrite;
    QTest::newRow("3.85") << "3.85" << zeroWrite;
    QTest::newRow("3.99") << "3.99" << zeroWrite;
    QTest::newRow("3.10") << "3.10" << resetRegister;
    QTest::newRow("3.79") << "3.79" << resetRegister;
    QTest::newRow("4.00") << "4.00" << resetRegister;
}

void TestMeteringCommands::energyReset() {
    QFETCH(QString, version);
    QFETCH(QString, query);
    QCOMPARE(QString::fromStdString(mcmd::EnergyReset(version)), query);
}

void TestMeteringCommands::energyEntryText_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("entry");
    QTest::newRow("kWh") << "1234.5 kWh"
                         << "1234.5";
    QTest::newRow("kvarh") << "80.0 kvarh"
                           << "80.0";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("no unit") << "17.5"
                             << "17.5";
    QTest::newRow("capital K is not the unit") << "5 KWh"
                                               << "5 KWh";
    QTest::newRow("k without blank") << "5kWh"
                                     << "5kWh";
    QTest::newRow("first occurrence") << "1 k 2 kWh"
                                      << "1";
    QTest::newRow("starts with the unit") << " kWh"
                                          << "";
}

void TestMeteringCommands::energyEntryText() {
    QFETCH(QString, label);
    QFETCH(QString, entry);
    QCOMPARE(mcmd::EnergyEntryText(label), entry);
}

QTEST_GUILESS_MAIN(TestMeteringCommands)
#include "tst_meteringcommands.moc"
