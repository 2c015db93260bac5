// The commissioning report's content: the measurement window it summarises, the report built
// from the meter memory and the session's journal, its JSON field by field, and its HTML.
#include "commissioning/CommissioningReport.h"

#include "CommissioningTestKit.h"
#include <QJsonArray>

#include <QtTest>

namespace {

using namespace commtest;

// A measurement block with phase A volts and the total power as given (raw, before ratios).
std::vector<std::uint16_t> Block(int va, int p) {
    return Regs({va,   2300, 2300, 3984, 3984, 3984, 3000, 3000, 3000, 2300, 3984,
                 3000, p,    400,  2000, 5000, 950,  'L',  0,    0,    100});
}

TMeasurement Sample(double va) {
    TMeasurement m;
    m.Values[qVa] = va;
    return m;
}

} // namespace

class TestCommissioningReport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void window_data();
    void window();
    void scaledByTheRatios();
    void reportJson();
    void htmlEscapesTexts();
};

void TestCommissioningReport::window_data() {
    QTest::addColumn<QList<int>>("times"); // ms of each sample of Volts AN = 200 + its index
    QTest::addColumn<int>("now");
    QTest::addColumn<int>("samples");
    QTest::addColumn<double>("average");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::newRow("empty") << QList<int>{} << 10000 << 0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("three") << QList<int>{1000, 2000, 3000} << 3000 << 3 << 201.0 << 200.0 << 202.0;
    // Older than 10 s before now: out, also when the window was not fed since.
    QTest::newRow("oldest out") << QList<int>{0, 5000, 10500} << 10600 << 2 << 201.5 << 201.0
                                << 202.0;
    QTest::newRow("all stale") << QList<int>{0, 1000} << 30000 << 0 << 0.0 << 0.0 << 0.0;
    QTest::newRow("edge kept") << QList<int>{0, 10000} << 10000 << 2 << 200.5 << 200.0 << 201.0;
}

void TestCommissioningReport::window() {
    QFETCH(QList<int>, times);
    QFETCH(int, now);
    QFETCH(int, samples);
    QFETCH(double, average);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    TMeasurementWindow w(10000);
    for (int k = 0; k < times.size(); ++k)
        w.Add(times[k], Sample(200 + k));
    const TSnapshot s = w.Snapshot(now);
    QCOMPARE(s.Samples, samples);
    QCOMPARE(s.Stats[qVa].Average, average);
    QCOMPARE(s.Stats[qVa].Minimum, minimum);
    QCOMPARE(s.Stats[qVa].Maximum, maximum);
}

void TestCommissioningReport::scaledByTheRatios() {
    std::int64_t now = 0;
    TMeterMemory memory([&] { return now; });
    // PT 400/100, CT 50/5: volts x4, amperes x10, power x40.
    memory.RegistersRead(0x1100, Regs({0, 1, 19200, 3, 0, 400, 0, 100, 50, 5, 0, 0, 0}));
    memory.RegistersRead(0x1400, Block(2310, -500));
    QVERIFY(memory.LastMeasurement());
    const TMeasurement& m = *memory.LastMeasurement();
    QCOMPARE(m.Values[qVa], 924.0);
    QCOMPARE(m.Values[qIa], 30.0);
    QCOMPARE(m.Values[qP], -20.0);
    QCOMPARE(m.Values[qPF], 0.95);
    QCOMPARE(m.Values[qIn], 1.0);
    QCOMPARE(m.Values[qF], 50.0);
    QCOMPARE(m.LoadType, 'L');
    // A short block is not a measurement.
    memory.RegistersRead(0x1400, Regs({1, 2, 3}));
    QCOMPARE(memory.Window().Snapshot(0).Samples, 1);
}

void TestCommissioningReport::reportJson() {
    std::int64_t now = 0;
    TMeterMemory memory([&] { return now; });
    memory.RegistersRead(0xF000, Identity("3.05", "160121"));
    memory.RegistersRead(0xF040, SerialNumber("KT-1"));
    memory.RegistersRead(0x1100, Regs({1234, 1, 9600, 0, 0, 400, 0, 400, 50, 5, 0, 0, 0}));
    memory.RegistersRead(0x1200, Regs({0, 0, 800, 1, 2300, 5, 1, 2}));
    memory.RegistersRead(0x1300, Regs({3, 1, 100, 20, 0, 1, 6, 0, 120, 0, 1, 0}));
    for (int k = 0; k < 5; ++k) {
        now = 1000 * k;
        memory.RegistersRead(0x1400, Block(2300 + 10 * k, 500));
    }

    TJournalEntry mine;
    mine.SerialNumber.emplace(QStringLiteral("KT-1"));
    mine.Write = {"relay", "Relay 1", {{"Relay 1", QStringLiteral("OFF"), "ON"}}};
    mine.Outcome = "accepted";
    mine.Time = QDateTime(QDate(2026, 12, 7), QTime(9, 30), QTimeZone::utc());
    TJournalEntry other = mine;
    other.SerialNumber = QStringLiteral("KT-2");
    TJournalEntry unknown = mine;
    unknown.SerialNumber.reset();

    TCommissioningReport r = BuildReport(memory, memory.Window(), 4000, {mine, other, unknown});
    r.Time = QDateTime(QDate(2026, 12, 7), QTime(10, 0), QTimeZone(3600));
    r.UtilityVersion = "2.2.0.0";
    r.Site = "Plant 4, feeder 2";
    r.Technician = "A. Tech";
    r.Notes = "Line 1\nLine 2";
    r.Line = TLinkLine{1, 9600, TParity::Even, TStopBits::_1, 1};
    r.SentCount = 120;
    r.ErrorCount = 3;
    const QJsonObject o = ReportJson(r);

    QCOMPARE(o["time"].toString(), QString("2026-12-07T10:00:00.000+01:00"));
    QCOMPARE(o["utilityVersion"].toString(), QString("2.2.0.0"));
    QCOMPARE(o["site"].toString(), QString("Plant 4, feeder 2"));
    QCOMPARE(o["technician"].toString(), QString("A. Tech"));
    QCOMPARE(o["notes"].toString(), QString("Line 1\nLine 2"));
    QCOMPARE(o["port"].toString(), QString("COM1"));
    const QJsonObject line = o["line"].toObject();
    QCOMPARE(line["baudrate"].toInt(), 9600);
    QCOMPARE(line["parity"].toString(), QString("Even"));
    QCOMPARE(line["stopBits"].toString(), QString("1"));
    QCOMPARE(line["address"].toInt(), 1);
    const QJsonObject id = o["identity"].toObject();
    QCOMPARE(id["deviceType"].toString(), QString("ED80"));
    QCOMPARE(id["model"].toString(), QString("KT580"));
    QCOMPARE(id["hardwareVersion"].toString(), QString("1.00"));
    QCOMPARE(id["softwareVersion"].toString(), QString("3.05"));
    QCOMPARE(id["releaseDate"].toString(), QString("2016-01-21"));
    QCOMPARE(id["serialNumber"].toString(), QString("KT-1"));

    // 3.05: blocks 0x1100, 0x1200 (single alarm) and 0x1300; no 0x1208, no 0x120A.
    const QJsonArray settings = o["settings"].toArray();
    QCOMPARE(settings.size(), 12 + 8 + 12);
    QMap<QString, QString> byField;
    for (const QJsonValue& v : settings)
        byField.insert(v["field"].toString(), v["value"].toString());
    QCOMPARE(byField["Password"], QString("****"));
    QCOMPARE(byField["Baudrate"], QString("9600 bps"));
    QCOMPARE(byField["Parity"], QString("Even"));
    QCOMPARE(byField["PT1"], QString("400 V"));
    QCOMPARE(byField["CT1"], QString("50 A"));
    QCOMPARE(byField["AlarmSetpoint"], QString("230.0 V"));
    QCOMPARE(byField["AlarmOutput"], QString("RO1 & RO2"));
    QCOMPARE(byField["AO1HighLimit"], QString("100 %"));
    QVERIFY(!byField.contains("RO1AlarmSetpoint"));
    QVERIFY(!byField.contains("DO1Output"));

    const QJsonObject meas = o["measurements"].toObject();
    QCOMPARE(meas["seconds"].toInt(), 10);
    QCOMPARE(meas["samples"].toInt(), 5);
    const QJsonObject va = meas["quantities"].toArray()[qVa].toObject();
    QCOMPARE(va["quantity"].toString(), QString("Volts AN"));
    QCOMPARE(va["unit"].toString(), QString("V"));
    QCOMPARE(va["average"].toDouble(), 232.0);
    QCOMPARE(va["minimum"].toDouble(), 230.0);
    QCOMPARE(va["maximum"].toDouble(), 234.0);
    QCOMPARE(meas["quantities"].toArray().size(), int(QuantityCount));

    const QJsonArray checks = o["installationCheck"].toArray();
    QCOMPARE(checks.size(), int(r.Checks.size()));
    QCOMPARE(checks[0]["check"].toString(), QString("Voltages present"));
    QCOMPARE(checks[0]["verdict"].toString(), QString("good"));
    QVERIFY(!checks[0]["values"].toString().isEmpty());

    QCOMPARE(o["communication"]["sent"].toInt(), 120);
    QCOMPARE(o["communication"]["errors"].toInt(), 3);

    // This meter's entries only.
    const QJsonArray journal = o["journal"].toArray();
    QCOMPARE(journal.size(), 1);
    QCOMPARE(journal[0]["serialNumber"].toString(), QString("KT-1"));
    QCOMPARE(journal[0]["changes"][0]["after"].toString(), QString("ON"));
}

void TestCommissioningReport::htmlEscapesTexts() {
    TCommissioningReport r;
    r.Time = QDateTime(QDate(2026, 12, 7), QTime(10, 0), QTimeZone::utc());
    r.Site = "<b>Plant</b> & Co";
    r.SerialNumber = "<img src=x>";
    const QString html = ReportHtml(r);
    QVERIFY(html.contains("&lt;b&gt;Plant&lt;/b&gt; &amp; Co"));
    QVERIFY(html.contains("&lt;img src=x&gt;"));
    QVERIFY(!html.contains("<img"));
    QVERIFY(html.contains("No measurements were polled in the last 10 s."));
}

QTEST_GUILESS_MAIN(TestCommissioningReport)
#include "tst_commissioningreport.moc"
