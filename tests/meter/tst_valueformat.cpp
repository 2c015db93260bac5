// Formatting and parsing of meter values, under a point and a comma locale.
#include "meter/QueryBytes.h"
#include "meter/RegisterDecode.h"
#include "meter/ValueFormat.h"
#include "meter/ValueParse.h"

#include <QLocale>
#include <QTest>
#include <functional>
#include <limits>

namespace {

const QString Point = QStringLiteral("en_US");
const QString Comma = QStringLiteral("de_DE");

TScaling Scale(double pt, double ct, int aoType = 0) {
    return TScaling{pt, ct, aoType};
}

// Runs f and returns the conversion message it raised, or "(no error)".
QString ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EConvertError& e) {
        return e.Message();
    }
    return QStringLiteral("(no error)");
}

} // namespace

class TestValueFormat : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void numberFormats_data();
    void numberFormats();
    void decoders_data();
    void decoders();
    void alarmValueText_data();
    void alarmValueText();
    void parseNumber_data();
    void parseNumber();
    void integerParsers_data();
    void integerParsers();
    void encoders_data();
    void encoders();
    void alarmValueToRaw_data();
    void alarmValueToRaw();
    void queryBytes_data();
    void queryBytes();
};

void TestValueFormat::numberFormats_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("format");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("volts 999.9") << Point << "volt" << 999.9 << "999.9";
    QTest::newRow("volts 1000 coarse") << Point << "volt" << 1000.0 << "1000";
    QTest::newRow("volts -1500.4") << Point << "volt" << -1500.4 << "-1500";
    QTest::newRow("volts 999.96 rounds up, stays fine") << Point << "volt" << 999.96 << "1000.0";
    QTest::newRow("volts comma") << Comma << "volt" << 230.5 << "230,5";
    QTest::newRow("auto 0") << Point << "auto" << 0.0 << "0.000";
    QTest::newRow("auto 9.5") << Point << "auto" << 9.5 << "9.500";
    QTest::newRow("auto 9.9999 keeps 3 decimals") << Point << "auto" << 9.9999 << "10.000";
    QTest::newRow("auto 10 takes 2") << Point << "auto" << 10.0 << "10.00";
    QTest::newRow("auto 99.99") << Point << "auto" << 99.99 << "99.99";
    QTest::newRow("auto 100 takes 1") << Point << "auto" << 100.0 << "100.0";
    QTest::newRow("auto 1234.4") << Point << "auto" << 1234.4 << "1234";
    QTest::newRow("auto -0.5") << Point << "auto" << -0.5 << "-0.500";
    QTest::newRow("auto -10 by magnitude") << Point << "auto" << -10.0 << "-10.00";
    QTest::newRow("auto large, never grouped") << Comma << "auto" << 1234567.0 << "1234567";
    QTest::newRow("auto comma") << Comma << "auto" << 65.436 << "65,44";
    QTest::newRow("fixed 2") << Point << "fixed2" << 50.0 << "50.00";
    QTest::newRow("fixed 0 half to even") << Point << "fixed0" << 2.5 << "2";
    QTest::newRow("fixed 3 comma negative") << Comma << "fixed3" << -0.1 << "-0,100";
}

void TestValueFormat::numberFormats() {
    QFETCH(QString, locale);
    QFETCH(QString, format);
    QFETCH(double, value);
    QFETCH(QString, expected);
    QLocale::setDefault(QLocale(locale));
    QString actual;
    if (format == "volt")
        actual = FormatVoltageNumber(value);
    else if (format == "auto")
        actual = FormatAutoNumber(value);
    else
        actual = FormatFixed(value, format.back().digitValue());
    QCOMPARE(actual, expected);
}

void TestValueFormat::decoders_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("decoder");
    QTest::addColumn<uint>("raw");
    QTest::addColumn<uint>("second");
    QTest::addColumn<double>("pt");
    QTest::addColumn<double>("ct");
    QTest::addColumn<int>("aoType");
    QTest::addColumn<QString>("expected");

    QTest::newRow("voltage") << Point << "V" << 2300u << 0u << 1.0 << 1.0 << 0 << "230.0 V";
    QTest::newRow("voltage PT 100")
        << Point << "V" << 2300u << 0u << 100.0 << 1.0 << 0 << "23000 V";
    QTest::newRow("voltage unsigned, 6553.5 to even")
        << Point << "V" << 0xFFFFu << 0u << 1.0 << 1.0 << 0 << "6554 V";
    QTest::newRow("current") << Point << "I" << 5000u << 0u << 1.0 << 1.0 << 0 << "5.000 A";
    QTest::newRow("current CT 40") << Point << "I" << 5000u << 0u << 1.0 << 40.0 << 0 << "200.0 A";
    QTest::newRow("apparent reads unsigned")
        << Point << "S" << 0xFF9Cu << 0u << 1.0 << 1.0 << 0 << "65.44 kVA";
    QTest::newRow("active reads signed")
        << Point << "P" << 0xFF9Cu << 0u << 1.0 << 1.0 << 0 << "-0.100 kW";
    QTest::newRow("active -10") << Point << "P" << 0xFFF6u << 0u << 1.0 << 1.0 << 0 << "-0.010 kW";
    QTest::newRow("active scaled by both")
        << Point << "P" << 1000u << 0u << 2.0 << 3.0 << 0 << "6.000 kW";
    QTest::newRow("reactive signed")
        << Comma << "Q" << 0x8000u << 0u << 1.0 << 1.0 << 0 << "-32,77 kvar";
    QTest::newRow("power factor signed")
        << Point << "PF" << 0xFC18u << 0u << 1.0 << 1.0 << 0 << "-1.000";
    QTest::newRow("power factor not scaled")
        << Point << "PF" << 950u << 0u << 7.0 << 9.0 << 0 << "0.950";
    QTest::newRow("frequency") << Point << "F" << 5000u << 0u << 1.0 << 1.0 << 0 << "50.00 Hz";
    QTest::newRow("frequency comma")
        << Comma << "F" << 5995u << 0u << 1.0 << 1.0 << 0 << "59,95 Hz";
    QTest::newRow("load type low byte") << Point << "L" << 0x4C4Cu << 0u << 1.0 << 1.0 << 0 << "L";
    QTest::newRow("analog output current")
        << Point << "AO" << 12000u << 0u << 1.0 << 1.0 << 1 << "12.000 mA";
    QTest::newRow("analog output voltage")
        << Point << "AO" << 5000u << 0u << 1.0 << 1.0 << 2 << "5.000 V";
    QTest::newRow("active energy low word first")
        << Point << "Ep" << 0xE240u << 0x0001u << 9.0 << 9.0 << 0 << "12345.6 kWh";
    QTest::newRow("reactive energy unsigned 32")
        << Point << "Eq" << 0xFFFFu << 0xFFFFu << 1.0 << 1.0 << 0 << "429496729.5 kvarh";
    QTest::newRow("integer") << Point << "N" << 65535u << 0u << 1.0 << 1.0 << 0 << "65535";
}

void TestValueFormat::decoders() {
    QFETCH(QString, locale);
    QFETCH(QString, decoder);
    QFETCH(uint, raw);
    QFETCH(uint, second);
    QFETCH(double, pt);
    QFETCH(double, ct);
    QFETCH(int, aoType);
    QFETCH(QString, expected);
    QLocale::setDefault(QLocale(locale));
    const TScaling s = Scale(pt, ct, aoType);
    const auto r = static_cast<uint16_t>(raw);
    const auto h = static_cast<uint16_t>(second);
    // Each register as the metering page shows it: its place in the measurement block, or the
    // first of an energy counter's pair.
    std::vector<std::uint16_t> block(21, 0);
    const auto measured = [&](int offset) {
        block[static_cast<std::size_t>(offset)] = r;
        return MeasurementTexts(s, block)[static_cast<std::size_t>(offset)];
    };
    const auto energy = [&](int counter) {
        std::vector<std::uint16_t> regs(12, 0);
        regs[static_cast<std::size_t>(2 * counter)] = r;
        regs[static_cast<std::size_t>(2 * counter + 1)] = h;
        std::array<QString, EnergyCount> texts;
        EnergyTexts(regs, texts);
        return texts[static_cast<std::size_t>(counter)];
    };
    const QHash<QString, std::function<QString()>> decoders = {
        {"V", [&] { return measured(0); }},   {"I", [&] { return measured(6); }},
        {"P", [&] { return measured(12); }},  {"Q", [&] { return measured(13); }},
        {"S", [&] { return measured(14); }},  {"PF", [&] { return measured(16); }},
        {"F", [&] { return measured(15); }},  {"L", [&] { return LoadTypeText(r); }},
        {"AO", [&] { return measured(18); }}, {"Ep", [&] { return energy(0); }},
        {"Eq", [&] { return energy(1); }},    {"N", [&] { return IntegerText(r); }},
    };
    QVERIFY(decoders.contains(decoder));
    QCOMPARE(decoders[decoder](), expected);
}

void TestValueFormat::alarmValueText_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<uint>("raw");
    QTest::addColumn<double>("pt");
    QTest::addColumn<double>("ct");
    QTest::addColumn<QString>("expected");

    QTest::newRow("none") << 0 << 2300u << 1.0 << 1.0 << "";
    QTest::newRow("beyond the list") << 19 << 2300u << 1.0 << 1.0 << "";
    QTest::newRow("negative type") << -1 << 2300u << 1.0 << 1.0 << "";
    QTest::newRow("volts AN") << 1 << 2300u << 1.0 << 1.0 << "230.0";
    QTest::newRow("volts LL avg, PT 100") << 11 << 2300u << 100.0 << 1.0 << "23000";
    QTest::newRow("I A") << 7 << 5000u << 1.0 << 1.0 << "5.000";
    QTest::newRow("I N with CT") << 18 << 5000u << 1.0 << 40.0 << "200.0";
    QTest::newRow("watt total signed") << 13 << 0xEC78u << 1.0 << 1.0 << "-5.000";
    QTest::newRow("var total signed") << 14 << 0xFF9Cu << 1.0 << 1.0 << "-0.100";
    QTest::newRow("VA total unsigned") << 15 << 0xFF9Cu << 1.0 << 1.0 << "65.44";
    QTest::newRow("frequency") << 16 << 6000u << 5.0 << 5.0 << "60.00";
    QTest::newRow("power factor signed") << 17 << 0xFE0Cu << 1.0 << 1.0 << "-0.500";
}

void TestValueFormat::alarmValueText() {
    QFETCH(int, type);
    QFETCH(uint, raw);
    QFETCH(double, pt);
    QFETCH(double, ct);
    QFETCH(QString, expected);
    QLocale::setDefault(QLocale(Point));
    QCOMPARE(AlarmValueText(Scale(pt, ct), type, static_cast<uint16_t>(raw)), expected);
}

void TestValueFormat::parseNumber_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::addColumn<QString>("error");

    const QString ok;
    QTest::newRow("unit and blanks") << Point << " 230.5 V " << 230.5 << ok;
    QTest::newRow("unit glued") << Point << "5.5kW" << 5.5 << ok;
    QTest::newRow("tab and control chars") << Point << "\t\x01 42\r\n" << 42.0 << ok;
    QTest::newRow("negative") << Point << "-12.25" << -12.25 << ok;
    QTest::newRow("plus sign") << Point << "+3" << 3.0 << ok;
    QTest::newRow("exponent") << Point << "1.5e3" << 1500.0 << ok;
    QTest::newRow("exponent with sign") << Point << "25E-1" << 2.5 << ok;
    QTest::newRow("dangling exponent is a unit") << Point << "7e" << 7.0 << ok;
    QTest::newRow("no leading digit") << Point << ".5" << 0.5 << ok;
    QTest::newRow("tiny underflows to zero") << Point << "1e-400" << 0.0 << ok;
    QTest::newRow("comma locale") << Comma << "230,5 V" << 230.5 << ok;
    QTest::newRow("comma locale refuses point")
        << Comma << "230.5" << 0.0 << "'230.5' is not a valid floating point value";
    QTest::newRow("point locale refuses comma")
        << Point << "230,5" << 0.0 << "'230,5' is not a valid floating point value";
    QTest::newRow("unit only") << Point << "V" << 0.0 << "'' is not a valid floating point value";
    QTest::newRow("empty") << Point << "" << 0.0 << "'' is not a valid floating point value";
    QTest::newRow("letters inside stay")
        << Point << "1a2 V" << 0.0 << "'1a2' is not a valid floating point value";
    QTest::newRow("inf is no number")
        << Point << "inf" << 0.0 << "'' is not a valid floating point value";
    QTest::newRow("nan with digits")
        << Point << "nan1" << 0.0 << "'nan1' is not a valid floating point value";
    QTest::newRow("grouping refused")
        << Point << "1,234.5" << 0.0 << "'1,234.5' is not a valid floating point value";
    QTest::newRow("overflow") << Point << "1e999" << 0.0
                              << "'1e999' is not a valid floating point value";
    QTest::newRow("hex refused") << Point << "0x10" << 0.0
                                 << "'0x10' is not a valid floating point value";
    QTest::newRow("two signs") << Point << "--1" << 0.0
                               << "'--1' is not a valid floating point value";
}

void TestValueFormat::parseNumber() {
    QFETCH(QString, locale);
    QFETCH(QString, text);
    QFETCH(double, expected);
    QFETCH(QString, error);
    QLocale::setDefault(QLocale(locale));
    double actual = -1;
    const QString raised = ErrorOf([&] { actual = ParseNumber(text); });
    if (error.isEmpty()) {
        QCOMPARE(raised, QStringLiteral("(no error)"));
        QCOMPARE(actual, expected);
    } else {
        QCOMPARE(raised, error);
    }
}

void TestValueFormat::integerParsers_data() {
    QTest::addColumn<QString>("parser");
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("expected");
    QTest::addColumn<QString>("error");

    const QString ok;
    QTest::newRow("parse unit stripped") << "parse"
                                         << " 100 % " << qint64(100) << ok;
    QTest::newRow("parse negative") << "parse"
                                    << "-5" << qint64(-5) << ok;
    QTest::newRow("parse int32 max") << "parse"
                                     << "2147483647" << qint64(2147483647) << ok;
    QTest::newRow("parse int32 min") << "parse"
                                     << "-2147483648" << qint64(-2147483648LL) << ok;
    QTest::newRow("parse beyond int32")
        << "parse"
        << "2147483648" << qint64(0) << "'2147483648' is not a valid integer value";
    QTest::newRow("parse far beyond") << "parse"
                                      << "99999999999999999999999" << qint64(0)
                                      << "'99999999999999999999999' is not a valid integer value";
    QTest::newRow("parse abc") << "parse"
                               << "abc" << qint64(0) << "'' is not a valid integer value";
    QTest::newRow("parse decimal point")
        << "parse"
        << "1.5" << qint64(0) << "'1.5' is not a valid integer value";
    QTest::newRow("parse plus refused") << "parse"
                                        << "+5" << qint64(0) << "'+5' is not a valid integer value";
    QTest::newRow("parse hex refused")
        << "parse"
        << "$10" << qint64(0) << "'$10' is not a valid integer value";
    QTest::newRow("parse lone minus") << "parse"
                                      << "-" << qint64(0) << "'' is not a valid integer value";
    QTest::newRow("plain exact") << "plain"
                                 << "9600" << qint64(9600) << ok;
    QTest::newRow("plain no trimming")
        << "plain"
        << " 9600" << qint64(0) << "' 9600' is not a valid integer value";
    QTest::newRow("plain no unit removal")
        << "plain"
        << "100 %" << qint64(0) << "'100 %' is not a valid integer value";
    QTest::newRow("plain empty") << "plain"
                                 << "" << qint64(0) << "'' is not a valid integer value";
    QTest::newRow("pair 500000") << "pair"
                                 << "500000" << qint64(500000) << ok;
    QTest::newRow("pair uint32 max") << "pair"
                                     << "4294967295" << qint64(4294967295LL) << ok;
    QTest::newRow("pair beyond 32 bits")
        << "pair"
        << "4294967296" << qint64(0) << "'4294967296' is not a valid integer value";
    QTest::newRow("pair negative out of range") << "pair"
                                                << "-1" << qint64(0) << "'-1' is out of range";
}

void TestValueFormat::integerParsers() {
    QFETCH(QString, parser);
    QFETCH(QString, text);
    QFETCH(qint64, expected);
    QFETCH(QString, error);
    qint64 actual = -99;
    const QString raised = ErrorOf([&] {
        if (parser == "parse")
            actual = ParseInteger(text);
        else if (parser == "plain")
            actual = PlainInteger(text);
        else
            actual = PlainUnsigned32(text);
    });
    if (error.isEmpty()) {
        QCOMPARE(raised, QStringLiteral("(no error)"));
        QCOMPARE(actual, expected);
    } else {
        QCOMPARE(raised, error);
    }
}

void TestValueFormat::encoders_data() {
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("encoder");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("pt");
    QTest::addColumn<double>("ct");
    QTest::addColumn<qint64>("expected");
    QTest::addColumn<QString>("error");

    const QString ok;
    QTest::newRow("voltage") << Point << "V"
                             << "230" << 1.0 << 1.0 << qint64(2300) << ok;
    QTest::newRow("voltage PT 100") << Point << "V"
                                    << "230" << 100.0 << 1.0 << qint64(23) << ok;
    QTest::newRow("voltage half to even down") << Point << "V"
                                               << "5" << 4.0 << 1.0 << qint64(12) << ok;
    QTest::newRow("voltage half to even up") << Point << "V"
                                             << "7" << 4.0 << 1.0 << qint64(18) << ok;
    QTest::newRow("current CT 40") << Point << "I"
                                   << "200 A" << 1.0 << 40.0 << qint64(5000) << ok;
    QTest::newRow("power negative") << Point << "P"
                                    << "-5" << 1.0 << 1.0 << qint64(-5000) << ok;
    QTest::newRow("power by both ratios") << Comma << "P"
                                          << "6,0 kW" << 2.0 << 3.0 << qint64(1000) << ok;
    QTest::newRow("power factor") << Point << "PF"
                                  << "-0.5" << 9.0 << 9.0 << qint64(-500) << ok;
    QTest::newRow("frequency") << Point << "F"
                               << "60 Hz" << 1.0 << 1.0 << qint64(6000) << ok;
    QTest::newRow("energy 12345.6") << Point << "E"
                                    << "12345.6" << 1.0 << 1.0 << qint64(123456) << ok;
    QTest::newRow("energy 0.25 to even") << Point << "E"
                                         << "0.25" << 1.0 << 1.0 << qint64(2) << ok;
    QTest::newRow("energy 0.75 to even") << Point << "E"
                                         << "0.75" << 1.0 << 1.0 << qint64(8) << ok;
    QTest::newRow("energy top of the pair")
        << Point << "E"
        << "429496729.5" << 1.0 << 1.0 << qint64(4294967295LL) << ok;
    QTest::newRow("energy beyond the pair")
        << Point << "E"
        << "429496729.6 kWh" << 1.0 << 1.0 << qint64(0) << "'429496729.6 kWh' is out of range";
    QTest::newRow("energy negative") << Point << "E"
                                     << " -1 " << 1.0 << 1.0 << qint64(0) << "'-1' is out of range";
    QTest::newRow("energy tiny negative rounds to 0") << Point << "E"
                                                      << "-0.01" << 1.0 << 1.0 << qint64(0) << ok;
    QTest::newRow("PT ratio 0 gives infinity")
        << Point << "V"
        << "230" << 0.0 << 1.0 << qint64(0) << "'230' is out of range";
    QTest::newRow("zero over zero ratio")
        << Point << "P"
        << "0" << 1.0 << 0.0 << qint64(0) << "'0' is out of range";
    QTest::newRow("huge result") << Point << "F"
                                 << "1e300" << 1.0 << 1.0 << qint64(0) << "'1e300' is out of range";
    QTest::newRow("integer") << Point << "N"
                             << "100 %" << 1.0 << 1.0 << qint64(100) << ok;
    QTest::newRow("integer error")
        << Point << "N"
        << "abc" << 1.0 << 1.0 << qint64(0) << "'' is not a valid integer value";
    QTest::newRow("number error first")
        << Point << "V"
        << "x" << 0.0 << 1.0 << qint64(0) << "'' is not a valid floating point value";
}

void TestValueFormat::encoders() {
    QFETCH(QString, locale);
    QFETCH(QString, encoder);
    QFETCH(QString, text);
    QFETCH(double, pt);
    QFETCH(double, ct);
    QFETCH(qint64, expected);
    QFETCH(QString, error);
    QLocale::setDefault(QLocale(locale));
    const TScaling s = Scale(pt, ct);
    qint64 actual = -99;
    const QString raised = ErrorOf([&] {
        if (encoder == "V")
            actual = VoltageToRaw(s, text);
        else if (encoder == "I")
            actual = CurrentToRaw(s, text);
        else if (encoder == "P")
            actual = PowerToRaw(s, text);
        else if (encoder == "PF")
            actual = PowerFactorToRaw(text);
        else if (encoder == "F")
            actual = FrequencyToRaw(text);
        else if (encoder == "E")
            actual = EnergyToRaw(text);
        else
            actual = IntegerToRaw(text);
    });
    if (error.isEmpty()) {
        QCOMPARE(raised, QStringLiteral("(no error)"));
        QCOMPARE(actual, expected);
    } else {
        QCOMPARE(raised, error);
    }
}

void TestValueFormat::alarmValueToRaw_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("pt");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("error");

    const QString ok;
    QTest::newRow("none ignores the text") << 0 << "garbage" << 1.0 << 0 << ok;
    QTest::newRow("no channel ignores the text") << -1 << "" << 1.0 << 0 << ok;
    QTest::newRow("beyond the list") << 19 << "x" << 1.0 << 0 << ok;
    QTest::newRow("volts") << 1 << "230" << 1.0 << 2300 << ok;
    QTest::newRow("volts PT 100 same register") << 1 << "23000" << 100.0 << 2300 << ok;
    QTest::newRow("volts top") << 4 << "6553.5" << 1.0 << 65535 << ok;
    QTest::newRow("volts beyond the register")
        << 4 << "6553.6" << 1.0 << 0 << "'6553.6' is out of range";
    QTest::newRow("volts negative refused") << 1 << "-1" << 1.0 << 0 << "'-1' is out of range";
    QTest::newRow("current") << 12 << "1.5" << 1.0 << 1500 << ok;
    QTest::newRow("watt signed") << 13 << "-5" << 1.0 << -5000 << ok;
    QTest::newRow("var signed bottom") << 14 << "-32.768" << 1.0 << -32768 << ok;
    QTest::newRow("var signed below") << 14 << "-32.769" << 1.0 << 0 << "'-32.769' is out of range";
    QTest::newRow("watt signed above") << 13 << "32.768" << 1.0 << 0 << "'32.768' is out of range";
    QTest::newRow("VA unsigned above signed range") << 15 << "40" << 1.0 << 40000 << ok;
    QTest::newRow("VA negative refused") << 15 << "-1" << 1.0 << 0 << "'-1' is out of range";
    QTest::newRow("frequency") << 16 << "50" << 1.0 << 5000 << ok;
    QTest::newRow("power factor") << 17 << "-0.5" << 1.0 << -500 << ok;
    QTest::newRow("volts with PT 0") << 1 << "1" << 0.0 << 0 << "'1' is out of range";
    QTest::newRow("setpoint not a number")
        << 16 << "abc" << 1.0 << 0 << "'' is not a valid floating point value";
}

void TestValueFormat::alarmValueToRaw() {
    QFETCH(int, type);
    QFETCH(QString, text);
    QFETCH(double, pt);
    QFETCH(int, expected);
    QFETCH(QString, error);
    QLocale::setDefault(QLocale(Point));
    int actual = -99;
    const QString raised = ErrorOf([&] { actual = AlarmValueToRaw(Scale(pt, 1.0), type, text); });
    if (error.isEmpty()) {
        QCOMPARE(raised, QStringLiteral("(no error)"));
        QCOMPARE(actual, expected);
    } else {
        QCOMPARE(raised, error);
    }
}

void TestValueFormat::queryBytes_data() {
    QTest::addColumn<bool>("dword");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("word 10") << false << qint64(10) << QByteArray(",00,0A");
    QTest::newRow("word 9600") << false << qint64(9600) << QByteArray(",25,80");
    QTest::newRow("word -10 two's complement") << false << qint64(-10) << QByteArray(",FF,F6");
    QTest::newRow("word keeps low 16 bits") << false << qint64(0x12345) << QByteArray(",23,45");
    QTest::newRow("dword 123456 low word first")
        << true << qint64(123456) << QByteArray(",E2,40,00,01");
    QTest::newRow("dword 500000") << true << qint64(500000) << QByteArray(",A1,20,00,07");
    QTest::newRow("dword max") << true << qint64(4294967295LL) << QByteArray(",FF,FF,FF,FF");
    QTest::newRow("dword negative") << true << qint64(-2) << QByteArray(",FF,FE,FF,FF");
}

void TestValueFormat::queryBytes() {
    QFETCH(bool, dword);
    QFETCH(qint64, value);
    QFETCH(QByteArray, expected);
    const std::string actual = dword ? DWordToQueryBytes(value) : WordToQueryBytes(value);
    QCOMPARE(QByteArray::fromStdString(actual), expected);
}

QTEST_GUILESS_MAIN(TestValueFormat)
#include "tst_valueformat.moc"
