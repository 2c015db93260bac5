// The link's pure units: version rules, the query plan, register decoding, traffic statistics.
#include "link/TrafficStats.h"
#include "meter/MeterFacts.h"
#include "meter/QueryAddress.h"
#include "meter/QueryPlan.h"
#include "meter/RegisterDecode.h"
#include "meter/VersionRules.h"
#include "support/MeterRegisters.h"

#include <QLocale>
#include <QtTest>

#include <vector>

using TRegs = std::vector<std::uint16_t>;
Q_DECLARE_METATYPE(TRegs)
Q_DECLARE_METATYPE(TPage)

namespace {

QStringList Texts(const std::vector<std::string>& list) {
    QStringList out;
    for (const auto& s : list)
        out << QString::fromStdString(s);
    return out;
}

} // namespace

class TestLinkUnits : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void versionRules_data();
    void versionRules();
    void rotation_data();
    void rotation();
    void rotationNeverOverflows();
    void pageReads_data();
    void pageReads();
    void withAddress_data();
    void withAddress();
    void meterFacts_data();
    void meterFacts();

    void measurement_data();
    void measurement();
    void energy_data();
    void energy();
    void identity_data();
    void identity();
    void serialNumber_data();
    void serialNumber();
    void aoType_data();
    void aoType();
    void ratios_data();
    void ratios();
    void adaptation_data();
    void adaptation();

    void bytesToHex_data();
    void bytesToHex();
    void traffic();
    void queryCounts_data();
    void queryCounts();
    void statisticsText_data();
    void statisticsText();
};

void TestLinkUnits::versionRules_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("extended");
    QTest::addColumn<bool>("relayAlarm");
    QTest::newRow("empty") << "" << false << false;
    QTest::newRow("3.05") << "3.05" << false << false;
    QTest::newRow("3.1 is a prefix of 3.10") << "3.1" << false << false;
    QTest::newRow("3.10") << "3.10" << true << false;
    QTest::newRow("3.19") << "3.19" << true << false;
    QTest::newRow("3.20") << "3.20" << true << true;
    QTest::newRow("3.79") << "3.79" << true << true;
    QTest::newRow("3.8 below 3.80") << "3.8" << true << true;
    QTest::newRow("3.80") << "3.80" << false << true;
    QTest::newRow("3.85") << "3.85" << false << true;
    QTest::newRow("3.99") << "3.99" << false << true;
    QTest::newRow("4.00") << "4.00" << true << true;
    QTest::newRow("9.99") << "9.99" << true << true;
    QTest::newRow("lower-case letter sorts after digits") << "a" << true << true;
}

void TestLinkUnits::versionRules() {
    QFETCH(QString, version);
    QTEST(ExtendedLayout(version), "extended");
    QTEST(RelayAlarmLayout(version), "relayAlarm");
}

void TestLinkUnits::rotation_data() {
    QTest::addColumn<TPage>("page");
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("startStep");
    QTest::addColumn<QStringList>("queries"); // "" for no polling query
    QTest::addColumn<int>("endStep");
    QTest::newRow("metering, basic")
        << TPage::RTMetering << "" << 0
        << QStringList{"00,03,14,00,00,15", "00,03,11,80,00,04", "00,01,00,00,00,02",
                       "00,02,00,00,00,06", "00,03,14,00,00,15"}
        << 1;
    QTest::newRow("metering, extended")
        << TPage::RTMetering << "3.20" << 0 << QStringList{"00,03,14,00,00,15", "00,03,11,80,00,0C"}
        << 2;
    QTest::newRow("metering from step 4")
        << TPage::RTMetering << "" << 4 << QStringList{"00,03,14,00,00,15", "00,03,11,80,00,04"}
        << 2;
    QTest::newRow("metering from step 3")
        << TPage::RTMetering << "" << 3 << QStringList{"00,02,00,00,00,06", "00,03,14,00,00,15"}
        << 1;
    QTest::newRow("device info is not polled")
        << TPage::DeviceInfo << "3.20" << 0 << QStringList{"", "", ""} << 3;
    QTest::newRow("settings is not polled")
        << TPage::GeneralSettings << "3.20" << 2 << QStringList{"", "", "", ""} << 4;
    QTest::newRow("no page") << TPage::None << "" << 0 << QStringList{""} << 1;
    // The installation check judges live values: the measurement block on every turn.
    QTest::newRow("installation check")
        << TPage::InstallCheck << "3.20" << 1
        << QStringList{"00,03,14,00,00,15", "00,03,14,00,00,15", "00,03,14,00,00,15"} << 4;
}

void TestLinkUnits::rotation() {
    QFETCH(TPage, page);
    QFETCH(QString, version);
    QFETCH(int, startStep);
    QFETCH(QStringList, queries);
    TPollRotation r;
    r.SetStep(startStep);
    QStringList got;
    for (int i = 0; i < queries.size(); ++i) {
        const char* q = r.Next(page, version);
        got << (q ? QString::fromLatin1(q) : QString());
    }
    QCOMPARE(got, queries);
    QTEST(r.Step(), "endStep");
}

void TestLinkUnits::rotationNeverOverflows() {
    TPollRotation r;
    for (int i = 0; i < 100000; ++i)
        QVERIFY(r.Next(TPage::DeviceInfo, QString()) == nullptr);
    QCOMPARE(r.Step(), 4);
    QCOMPARE(QString::fromLatin1(r.Next(TPage::RTMetering, QString())),
             QStringLiteral("00,03,14,00,00,15"));
}

void TestLinkUnits::pageReads_data() {
    QTest::addColumn<TPage>("page");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QStringList>("reads");
    const QString id = "00,03,F0,00,00,09";
    QTest::newRow("metering") << TPage::RTMetering << ""
                              << QStringList{id, "00,03,11,00,00,0D", "00,03,F1,06,00,01"};
    QTest::newRow("device info") << TPage::DeviceInfo << "3.20"
                                 << QStringList{id, id, "00,03,F0,40,00,10", "00,03,F1,06,00,01"};
    const QStringList settings{id, "00,03,11,00,00,0D", "00,03,12,00,00,08", "00,03,13,00,00,0C"};
    QTest::newRow("settings, empty version") << TPage::GeneralSettings << "" << settings;
    QTest::newRow("settings, 3.10")
        << TPage::GeneralSettings << "3.10" << settings + QStringList{"00,03,12,08,00,02"};
    QTest::newRow("settings, 3.20")
        << TPage::GeneralSettings << "3.20"
        << settings + QStringList{"00,03,12,08,00,02", "00,03,12,0A,00,05"};
    QTest::newRow("settings, 3.85")
        << TPage::GeneralSettings << "3.85" << settings + QStringList{"00,03,12,0A,00,05"};
    QTest::newRow("no page") << TPage::None << "3.20" << QStringList{id};
    QTest::newRow("installation check")
        << TPage::InstallCheck << "3.20" << QStringList{id, "00,03,11,00,00,0D"};
}

void TestLinkUnits::pageReads() {
    QFETCH(TPage, page);
    QFETCH(QString, version);
    QTEST(Texts(PageReads(page, version)), "reads");
}

void TestLinkUnits::withAddress_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("expected");
    QTest::newRow("1") << "00,03,14,00,00,15" << 1 << "01,03,14,00,00,15";
    QTest::newRow("10") << "00,01,00,00,00,02" << 10 << "0A,01,00,00,00,02";
    QTest::newRow("247") << "00,03,F0,00,00,09" << 247 << "F7,03,F0,00,00,09";
    QTest::newRow("short text") << "0" << 171 << "AB";
}

void TestLinkUnits::withAddress() {
    QFETCH(QString, text);
    QFETCH(int, address);
    QTEST(QString::fromStdString(WithAddress(text.toStdString(), std::uint8_t(address))),
          "expected");
}

void TestLinkUnits::meterFacts_data() {
    // Steps: Q:<query> a query handed out (id, 1100, meas or - for none), R:<block> a valid
    // read of that block, E the query's end, W block 0x1100 written, F forgotten, A asked
    // again, ? what is missing and known now.
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QStringList>("seen");
    QTest::newRow("both answered") << "Q:id R:F000 E Q:1100 R:1100 E ?" << QStringList{"- I R"};
    QTest::newRow("ratios lost, asked again until answered")
        << "Q:id R:F000 E Q:1100 E ? Q:1100 E ? Q:meas E ? Q:1100 R:1100 E ?"
        << QStringList{"1100 I -", "- I -", "1100 I -", "- I R"};
    QTest::newRow("identity lost, asked again before anything else")
        << "Q:id E ? Q:1100 R:1100 E ? Q:id R:F000 E ?" << QStringList{"id - -", "id - R", "- I R"};
    QTest::newRow("both lost: the identity first, polling between")
        << "Q:id E Q:1100 E ? Q:id R:F000 E ? Q:- E ? Q:1100 R:1100 E ?"
        << QStringList{"id - -", "- I -", "1100 I -", "- I R"};
    QTest::newRow("an answer on its way is not lost")
        << "Q:1100 ? R:1100 E ?" << QStringList{"- - -", "- - R"};
    QTest::newRow("ratios written: unknown until read back")
        << "Q:1100 R:1100 E W ? Q:1100 E ?" << QStringList{"- - -", "1100 - -"};
    QTest::newRow("another meter") << "Q:id R:F000 E Q:1100 R:1100 E A ? Q:id R:F000 E Q:- E ?"
                                   << QStringList{"id - -", "1100 I -"};
}

void TestLinkUnits::meterFacts() {
    QFETCH(QString, steps);
    const QMap<QString, std::string> queries = {
        {"id", qry::Identity}, {"1100", qry::Settings1100}, {"meas", qry::Measurement}, {"-", ""}};
    TMeterFacts f;
    QStringList seen;
    for (const QString& step : steps.split(' ')) {
        const QString arg = step.section(':', 1);
        switch (step[0].toLatin1()) {
        case 'Q':
            QVERIFY(queries.contains(arg));
            f.QueryStarted(queries.value(arg));
            break;
        case 'R':
            f.BlockRead(static_cast<std::uint16_t>(arg.toUInt(nullptr, 16)));
            break;
        case 'E':
            f.QueryEnded();
            break;
        case 'W':
            f.RatiosWritten();
            break;
        case 'F':
            f.Forget();
            break;
        case 'A':
            f.AskAgain();
            break;
        case '?': {
            const char* missing = f.MissingRead();
            seen << QString("%1 %2 %3")
                        .arg(!missing                         ? "-"
                             : queries.key(missing) == "id"   ? "id"
                             : queries.key(missing) == "1100" ? "1100"
                                                              : "?")
                        .arg(f.IdentityKnown() ? "I" : "-")
                        .arg(f.RatiosKnown() ? "R" : "-");
            break;
        }
        }
    }
    QTEST(seen, "seen");
}

void TestLinkUnits::measurement_data() {
    QTest::addColumn<double>("pt");
    QTest::addColumn<double>("ct");
    QTest::addColumn<int>("aoType");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("raw");
    QTest::addColumn<QString>("text");
    QTest::newRow("Va") << 1.0 << 1.0 << 0 << 0 << 2300 << "230.0 V";
    QTest::newRow("Va with PT 100") << 100.0 << 1.0 << 0 << 0 << 2300 << "23000 V";
    QTest::newRow("Vca") << 1.0 << 1.0 << 0 << 5 << 4000 << "400.0 V";
    QTest::newRow("Ia") << 1.0 << 1.0 << 0 << 6 << 5000 << "5.000 A";
    QTest::newRow("Ic with CT 40") << 1.0 << 40.0 << 0 << 8 << 5000 << "200.0 A";
    QTest::newRow("VLN avg") << 1.0 << 1.0 << 0 << 9 << 2301 << "230.1 V";
    QTest::newRow("I avg") << 1.0 << 1.0 << 0 << 11 << 1234 << "1.234 A";
    QTest::newRow("P signed") << 1.0 << 1.0 << 0 << 12 << 0xFFF6 << "-0.010 kW";
    QTest::newRow("Q signed") << 1.0 << 1.0 << 0 << 13 << 0xFF9C << "-0.100 kvar";
    QTest::newRow("S unsigned") << 1.0 << 1.0 << 0 << 14 << 0xFF9C << "65.44 kVA";
    QTest::newRow("P scaled by both") << 10.0 << 2.0 << 0 << 12 << 1000 << "20.00 kW";
    QTest::newRow("F") << 1.0 << 1.0 << 0 << 15 << 5000 << "50.00 Hz";
    QTest::newRow("F max") << 1.0 << 1.0 << 0 << 15 << 0xFFFF << "655.35 Hz";
    QTest::newRow("PF negative") << 1.0 << 1.0 << 0 << 16 << 0xFC18 << "-1.000";
    QTest::newRow("load type L") << 1.0 << 1.0 << 0 << 17 << 0x004C << "L";
    QTest::newRow("load type low byte only") << 1.0 << 1.0 << 0 << 17 << 0x014C << "L";
    QTest::newRow("AO mA before read") << 1.0 << 1.0 << 0 << 18 << 12000 << "12.000 mA";
    QTest::newRow("AO mA for current") << 1.0 << 1.0 << 1 << 19 << 12000 << "12.000 mA";
    QTest::newRow("AO V for voltage") << 1.0 << 1.0 << 2 << 18 << 12000 << "12.000 V";
    QTest::newRow("AO mA for type 3") << 1.0 << 1.0 << 3 << 18 << 12000 << "12.000 mA";
    QTest::newRow("In") << 1.0 << 1.0 << 0 << 20 << 19 << "0.019 A";
    QTest::newRow("ratio 0 shows as computed") << 0.0 << 1.0 << 0 << 0 << 2300 << "0.0 V";
}

void TestLinkUnits::measurement() {
    QFETCH(double, pt);
    QFETCH(double, ct);
    QFETCH(int, aoType);
    QFETCH(int, index);
    QFETCH(int, raw);
    TRegs regs(MeasurementCount, 0);
    regs[static_cast<std::size_t>(index)] = static_cast<std::uint16_t>(raw);
    const auto texts = MeasurementTexts(TScaling{pt, ct, aoType}, regs);
    QTEST(texts[static_cast<std::size_t>(index)], "text");
}

void TestLinkUnits::energy_data() {
    QTest::addColumn<TRegs>("regs");
    QTest::addColumn<int>("filled");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("4 registers") << TRegs{0x86A0, 0x0001, 800, 0} << 2
                                 << QStringList{"10000.0 kWh", "80.0 kvarh", "", "", "", ""};
    QTest::newRow("12 registers") << TRegs{1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 0xFFFF, 0xFFFF} << 6
                                  << QStringList{"0.1 kWh", "0.2 kvarh", "0.3 kWh",
                                                 "0.4 kWh", "0.5 kvarh", "429496729.5 kvarh"};
}

void TestLinkUnits::energy() {
    QFETCH(TRegs, regs);
    std::array<QString, EnergyCount> texts;
    QTEST(EnergyTexts(regs, texts), "filled");
    QStringList got(texts.begin(), texts.end());
    QTEST(got, "texts");
}

void TestLinkUnits::identity_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("devType");
    QTest::addColumn<QString>("hard");
    QTest::addColumn<QString>("soft");
    QTest::addColumn<QString>("date");
    QTest::newRow("ED meter") << QByteArray("ED80"
                                            "1.00"
                                            "3.20"
                                            "160121",
                                            18)
                              << "ED80 (KT580)"
                              << "1.00"
                              << "3.20"
                              << "2016-01-21";
    QTest::newRow("EB meter") << QByteArray("EB81"
                                            "2.10"
                                            "3.05"
                                            "190815",
                                            18)
                              << "EB81 (KT581)"
                              << "2.10"
                              << "3.05"
                              << "2019-08-15";
    QTest::newRow("other code") << QByteArray("XY12"
                                              "1.00"
                                              "4.00"
                                              "200101",
                                              18)
                                << "XY12 (Unknown)"
                                << "1.00"
                                << "4.00"
                                << "2020-01-01";
    QTest::newRow("control characters cleaned, model uncleaned") << QByteArray("ED\x7F"
                                                                               "8"
                                                                               "1.0\0"
                                                                               "3.1\x01"
                                                                               "160121",
                                                                               18)
                                                                 << "ED8 (KT5\x7F"
                                                                    "8)"
                                                                 << "1.0"
                                                                 << "3.1"
                                                                 << "2016-01-21";
    QTest::newRow("lower-case ed is not a model") << QByteArray("ed80"
                                                                "1.00"
                                                                "3.20"
                                                                "160121",
                                                                18)
                                                  << "ed80 (Unknown)"
                                                  << "1.00"
                                                  << "3.20"
                                                  << "2016-01-21";
    QTest::newRow("markup stays text") << QByteArray("<b>x"
                                                     "</b>"
                                                     "3.20"
                                                     "160121",
                                                     18)
                                       << "<b>x (Unknown)"
                                       << "</b>"
                                       << "3.20"
                                       << "2016-01-21";
}

void TestLinkUnits::identity() {
    QFETCH(QByteArray, text);
    const TIdentity id = DecodeIdentity(TextRegisters(text, 9));
    QTEST(id.DevType, "devType");
    QTEST(id.HardVersion, "hard");
    QTEST(id.SoftVersion, "soft");
    QTEST(id.ReleaseDate, "date");
}

void TestLinkUnits::serialNumber_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("serial");
    QTest::newRow("AB12 then zeros") << QByteArray("AB12") << "AB12";
    QTest::newRow("odd length") << QByteArray("ABC") << "ABC";
    QTest::newRow("full 32") << QByteArray(32, 'Z') << QString(32, 'Z');
    QTest::newRow("leading zero") << QByteArray("\0AB", 3) << "";
    QTest::newRow("stops at the first zero") << QByteArray("A1\0B2", 5) << "A1";
}

void TestLinkUnits::serialNumber() {
    QFETCH(QByteArray, text);
    QTEST(DecodeSerialNumber(TextRegisters(text, 16)), "serial");
}

void TestLinkUnits::aoType_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "--";
    QTest::newRow("1") << 1 << "Current";
    QTest::newRow("2") << 2 << "Voltage";
    QTest::newRow("3") << 3 << "--";
    QTest::newRow("65535") << 65535 << "--";
}

void TestLinkUnits::aoType() {
    QFETCH(int, type);
    QTEST(AOTypeText(type), "text");
}

void TestLinkUnits::ratios_data() {
    QTest::addColumn<TRegs>("block");
    QTest::addColumn<double>("pt");
    QTest::addColumn<double>("ct");
    QTest::addColumn<double>("lastPT2");
    QTest::addColumn<double>("lastCT2");
    // Registers 0x1100..0x110C; PT1 in 5 (low) and 6 (high), PT2 7, CT1 8, CT2 9.
    auto block = [](std::uint32_t pt1, std::uint16_t pt2, std::uint16_t ct1, std::uint16_t ct2) {
        TRegs r(13, 0);
        r[5] = static_cast<std::uint16_t>(pt1 & 0xFFFF);
        r[6] = static_cast<std::uint16_t>(pt1 >> 16);
        r[7] = pt2;
        r[8] = ct1;
        r[9] = ct2;
        return r;
    };
    QTest::newRow("PT 10000/100") << block(10000, 100, 5, 5) << 100.0 << 1.0 << 100.0 << 5.0;
    QTest::newRow("PT1 above 16 bits")
        << block(500000, 100, 1000, 5) << 5000.0 << 200.0 << 100.0 << 5.0;
    QTest::newRow("PT2 0 keeps the ratio") << block(10000, 0, 100, 5) << 7.0 << 20.0 << 0.0 << 5.0;
    QTest::newRow("CT2 0 keeps the ratio") << block(400, 100, 100, 0) << 4.0 << 3.0 << 100.0 << 0.0;
    QTest::newRow("PT1 0 gives ratio 0") << block(0, 100, 0, 5) << 0.0 << 0.0 << 100.0 << 5.0;
    QTest::newRow("PT1 signed") << block(0xFFFFFF9C, 100, 5, 5) << -1.0 << 1.0 << 100.0 << 5.0;
}

void TestLinkUnits::ratios() {
    QFETCH(TRegs, block);
    TScaling scale{7.0, 3.0, 0};
    TRatioState state;
    UpdateRatios(block, state, scale);
    QTEST(scale.PTRatio, "pt");
    QTEST(scale.CTRatio, "ct");
    QTEST(state.LastPT2, "lastPT2");
    QTEST(state.LastCT2, "lastCT2");
}

void TestLinkUnits::adaptation_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("shorten");
    QTest::addColumn<bool>("hideRelayAlarm");
    QTest::newRow("empty") << "" << true << true;
    QTest::newRow("3.05") << "3.05" << true << true;
    QTest::newRow("3.10") << "3.10" << false << true;
    QTest::newRow("3.20") << "3.20" << false << false;
    QTest::newRow("3.85") << "3.85" << true << false;
    QTest::newRow("4.00") << "4.00" << false << false;
}

void TestLinkUnits::adaptation() {
    QFETCH(QString, version);
    QFETCH(bool, shorten);
    const TPageAdaptation a = AdaptationFor(version);
    QCOMPARE(a.ShortenLists, shorten);
    QCOMPARE(a.HideDOEnergyOutputs, shorten);
    QCOMPARE(a.HideExtendedEnergy, shorten);
    QTEST(a.HideRelayAlarmGroup, "hideRelayAlarm");
}

void TestLinkUnits::bytesToHex_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("hex");
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("three") << QByteArray("\x01\x03\xF0", 3) << "01 03 F0 ";
    QTest::newRow("zero and FF") << QByteArray("\0\xFF", 2) << "00 FF ";
}

void TestLinkUnits::bytesToHex() {
    QFETCH(QByteArray, bytes);
    QTEST(BytesToHex(std::string_view(bytes.constData(), std::size_t(bytes.size()))), "hex");
}

void TestLinkUnits::traffic() {
    TTrafficStats t;
    QVERIFY(!t.AfterResponse().has_value());

    t.FrameSent(std::string_view("\x01\x03\x14\x00\x00\x15\x81\xF5", 8));
    QCOMPARE(t.TxText(), QStringLiteral("TXD:  01 03 14 00 00 15 81 F5 "));
    QCOMPARE(t.RxText(), QStringLiteral("RXD:  "));
    t.DataReceived(std::string_view("\x01\x03\x2A", 3));
    t.DataReceived(std::string_view("\x08\xFC\x09\x1D\x09", 5));
    QCOMPARE(t.RxText(), QStringLiteral("RXD:  01 03 2A 08 FC 09 1D 09 "));

    t.FrameSent(std::string(9, '\x11'));
    QCOMPARE(t.TxText(), QStringLiteral("TXD:  11 11 11 11 11 11 11 11 ..."));
    QCOMPARE(t.RxText(), QStringLiteral("RXD:  "));
    t.DataReceived(std::string(47, '\x22'));
    QCOMPARE(t.RxText(), QStringLiteral("RXD:  22 22 22 22 22 22 22 22 ..."));
    t.DataReceived(std::string_view("\x33", 1));
    QCOMPARE(t.RxText(), QStringLiteral("RXD:  22 22 22 22 22 22 22 22 ..."));

    t.ResponseError();
    QCOMPARE(t.SentCount(), std::uint64_t(2));
    QCOMPARE(t.ErrorCount(), std::uint64_t(1));
    QCOMPARE(t.AfterResponse().value(), QStringLiteral("ERR:  1/2  (50.00%)"));

    // Past the 32-bit range the counts and the text go on.
    t.SetCounts(0xFFFFFFFFull, 0);
    t.FrameSent("x");
    QCOMPARE(t.SentCount(), std::uint64_t(0x100000000ull));
    QCOMPARE(t.AfterResponse().value(), QStringLiteral("ERR:  0/4294967296  (0.00%)"));
    t.SetCounts(UINT64_MAX, UINT64_MAX);
    t.FrameSent("x");
    t.ResponseError();
    QCOMPARE(t.SentCount(), UINT64_MAX);
    QCOMPARE(t.ErrorCount(), UINT64_MAX);

    // With no frame sent the errors restart and nothing is shown.
    t.Reset();
    t.ResponseError();
    QVERIFY(!t.AfterResponse().has_value());
    QCOMPARE(t.ErrorCount(), std::uint64_t(0));
}

void TestLinkUnits::queryCounts_data() {
    // One query per word: S its frame went out, E a response error, A its end, X given up
    // without an end (its port closed under it), R the counts restarted.
    QTest::addColumn<QString>("queries");
    QTest::addColumn<QString>("text");
    QTest::newRow("answered") << "SA SA SA"
                              << "ERR:  0/3  (0.00%)";
    QTest::newRow("no answer") << "SA SEA"
                               << "ERR:  1/2  (50.00%)";
    // The adapter pulled out: the port refuses the frames, every query fails at its time-out.
    QTest::newRow("frames refused by the port") << "SA SA SA EA EA EA EA EA EA"
                                                << "ERR:  6/9  (66.67%)";
    QTest::newRow("failure reported twice") << "SEEA SA"
                                            << "ERR:  1/2  (50.00%)";
    QTest::newRow("given up after its frame") << "SA SX"
                                              << "ERR:  1/2  (50.00%)";
    QTest::newRow("given up after failing") << "SEX SA"
                                            << "ERR:  1/2  (50.00%)";
    QTest::newRow("given up before its frame") << "SA X SA"
                                               << "ERR:  0/2  (0.00%)";
    QTest::newRow("restart while a query is on its way") << "SA SRE SA"
                                                         << "ERR:  0/1  (0.00%)";
    QTest::newRow("restart between queries") << "SA R SEA"
                                             << "ERR:  1/1  (100.00%)";
    QTest::newRow("restart, then a refused frame") << "SA R EA"
                                                   << "ERR:  1/1  (100.00%)";
}

void TestLinkUnits::queryCounts() {
    QFETCH(QString, queries);
    TTrafficStats t;
    QString shown;
    for (const QString& query : queries.split(' ')) {
        t.QueryStarted();
        for (const QChar step : query) {
            switch (step.toLatin1()) {
            case 'S':
                t.FrameSent("x");
                break;
            case 'E':
                t.ResponseError();
                break;
            case 'A':
                shown = t.AfterResponse().value_or(QString());
                break;
            case 'X':
                t.QueryAbandoned();
                break;
            case 'R':
                t.Reset();
                break;
            }
        }
    }
    if (const auto text = t.AfterResponse())
        shown = *text;
    QVERIFY(t.ErrorCount() <= t.SentCount());
    QTEST(shown, "text");
}

void TestLinkUnits::statisticsText_data() {
    QTest::addColumn<qulonglong>("errors");
    QTest::addColumn<qulonglong>("sent");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::newRow("3 of 120") << 3ull << 120ull << "C"
                              << "ERR:  3/120  (2.50%)";
    QTest::newRow("0 of 1") << 0ull << 1ull << "C"
                            << "ERR:  0/1  (0.00%)";
    QTest::newRow("all failed") << 7ull << 7ull << "C"
                                << "ERR:  7/7  (100.00%)";
    QTest::newRow("decimal comma, no grouping") << 1ull << 3000ull << "de_DE"
                                                << "ERR:  1/3000  (0,03%)";
}

void TestLinkUnits::statisticsText() {
    QFETCH(qulonglong, errors);
    QFETCH(qulonglong, sent);
    QFETCH(QString, locale);
    QLocale::setDefault(QLocale(locale));
    const QString text = TTrafficStats::StatisticsText(errors, sent);
    QLocale::setDefault(QLocale::c());
    QTEST(text, "text");
}

QTEST_GUILESS_MAIN(TestLinkUnits)
#include "tst_linkunits.moc"
