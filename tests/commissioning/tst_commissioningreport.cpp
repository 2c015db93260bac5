// The commissioning report's content: the measurement window it summarises, the report built
// from the meter memory and the session's journal, its JSON field by field, and its HTML.
#include "commissioning/CommissioningReport.h"
#include "commissioning/JournalRecorder.h"

#include "CommissioningTestKit.h"
#include <QJsonArray>
#include <QTemporaryDir>

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
    void sessionKeepsWritesWithoutOutcome();
    void htmlEscapesTexts();
    void missingReads_data();
    void missingReads();
    void onlyFreshReadsCount();
    void overallVerdict_data();
    void overallVerdict();
    void reportNumber_data();
    void reportNumber();
    void roundedToTheRegister_data();
    void roundedToTheRegister();
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
    TFedMemory memory([&] { return now; });
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

void TestCommissioningReport::sessionKeepsWritesWithoutOutcome() {
    QTemporaryDir dir;
    TJournalFile file(dir.filePath("journal.jsonl"));
    TFedMemory memory(nullptr);
    memory.RegistersRead(0xF000, Identity("3.05", "160121"));
    memory.RegistersRead(0xF040, SerialNumber("KT-1"));
    TJournalRecorder recorder(memory, file);
    const TLinkLine line{1, 9600, TParity::None, TStopBits::_1, 1};
    recorder.QueryStarting("00,05,00,00,FF,00", line);
    recorder.QueryFinished("00,05,00,00,FF,00", line, {});
    // The second write never gets its answer (the program closed, the link went down).
    recorder.QueryStarting("00,05,00,01,FF,00", line);
    const TCommissioningReport r = BuildReport(memory, memory.Window(), 0, recorder.Session());
    QCOMPARE(r.Journal.size(), std::size_t(2));
    QCOMPARE(r.Journal[0].Outcome, QString("accepted"));
    QCOMPARE(r.Journal[1].Write.What, QString("Relay 2"));
    const QString html = ReportHtml(r);
    // In the session's table and among the verdict's reasons.
    QCOMPARE(html.count("sent, outcome unknown"), 2);
    QVERIFY(html.contains("Relay 2"));
    QVERIFY(r.Overall.Reasons.join('\n').contains("Relay 2\" at"));
    QVERIFY(r.Overall.Reasons.join('\n').contains("sent, outcome unknown"));
}

void TestCommissioningReport::reportJson() {
    std::int64_t now = 0;
    TFedMemory memory([&] { return now; });
    AnswerReportReads(memory);
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
    r.Number = ReportNumber(r.SerialNumber, r.Time);
    const QJsonObject o = ReportJson(r);

    QCOMPARE(o["reportNumber"].toString(), QString("CR-KT-1-20261207-090000000"));

    QCOMPARE(o["time"].toString(), QString("2026-12-07T10:00:00.000+01:00"));
    QCOMPARE(o["utilityVersion"].toString(), QString("2.2.0.0"));
    QCOMPARE(o["site"].toString(), QString("Plant 4, feeder 2"));
    QCOMPARE(o["technician"].toString(), QString("A. Tech"));
    QCOMPARE(o["notes"].toString(), QString("Line 1\nLine 2"));
    QCOMPARE(o["port"].toString(), QString("COM1"));
    const QJsonObject line = o["line"].toObject();
    QCOMPARE(line["baudrate"].toInt(), 9600);
    QCOMPARE(line["parity"].toString(), QString("Even"));
    // A number, as the journal writes it.
    QVERIFY(line["stopBits"].isDouble());
    QCOMPARE(line["stopBits"].toDouble(), 1.0);
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
    QMap<QString, QString> captions;
    for (const QJsonValue& v : settings) {
        byField.insert(v["field"].toString(), v["value"].toString());
        captions.insert(v["field"].toString(), v["setting"].toString());
    }
    // As the page names them.
    QCOMPARE(captions["QMode"], QString("VAR Calculation Method"));
    QCOMPARE(captions["AO1HLOpt"], QString("AO1 High Limit Sign"));
    QCOMPARE(captions["Baudrate"], QString("Baud Rate"));
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

    const QJsonArray energy = o["energy"].toArray();
    QCOMPARE(energy.size(), 2);
    QCOMPARE(energy[0]["counter"].toString(), QString("Ep_total"));
    QCOMPARE(energy[0]["value"].toDouble(), 65982.5);
    QCOMPARE(energy[0]["unit"].toString(), QString("kWh"));
    QCOMPARE(energy[1]["counter"].toString(), QString("Eq_total"));
    QCOMPARE(energy[1]["value"].toDouble(), 2.5);
    QCOMPARE(energy[1]["unit"].toString(), QString("kvarh"));

    QCOMPARE(o["overall"]["verdict"].toString(), OverallText(r.Overall.Verdict));
    QVERIFY(!o["overall"]["reasons"].toArray().isEmpty());

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

void TestCommissioningReport::missingReads_data() {
    QTest::addColumn<QString>("version");   // of the identity read; empty: no identity
    QTest::addColumn<QList<int>>("blocks"); // settings blocks that came back
    QTest::addColumn<bool>("serial");       // the serial number came back
    QTest::addColumn<bool>("energy");       // the energy counters came back
    QTest::addColumn<int>("samples");       // measurements in the window
    QTest::addColumn<QStringList>("missing");
    const QList<int> all{0x1100, 0x1200, 0x1300, 0x1208, 0x120A};
    QTest::newRow("3.20 complete") << "3.20" << all << true << true << 5 << QStringList{};
    QTest::newRow("3.05 needs three blocks")
        << "3.05" << QList<int>{0x1100, 0x1200, 0x1300} << true << true << 1 << QStringList{};
    QTest::newRow("3.20 block 0x1200 lost")
        << "3.20" << QList<int>{0x1100, 0x1300, 0x1208, 0x120A} << true << true << 5
        << QStringList{"settings block 0x1200"};
    QTest::newRow("3.20 relay 2 alarm lost")
        << "3.20" << QList<int>{0x1100, 0x1200, 0x1300, 0x1208} << true << true << 5
        << QStringList{"settings block 0x120A"};
    QTest::newRow("serial lost") << "3.20" << all << false << true << 5
                                 << QStringList{"serial number (0xF040)"};
    QTest::newRow("no measurements")
        << "3.20" << all << true << false << 0
        << QStringList{"energy counters (0x1180)", "measurements (0x1400)"};
    QTest::newRow("meter gone") << QString() << QList<int>{} << false << false << 0
                                << QStringList{"identity (0xF000)",     "serial number (0xF040)",
                                               "settings block 0x1100", "settings block 0x1200",
                                               "settings block 0x1300", "energy counters (0x1180)",
                                               "measurements (0x1400)"};
}

void TestCommissioningReport::missingReads() {
    QFETCH(QString, version);
    QFETCH(QList<int>, blocks);
    QFETCH(bool, serial);
    QFETCH(bool, energy);
    QFETCH(int, samples);
    QFETCH(QStringList, missing);
    TReportReads reads;
    reads.Identity = !version.isEmpty();
    reads.SoftwareVersion = version;
    reads.SerialNumber = serial;
    for (int b : blocks)
        reads.SettingsBlocks.push_back(static_cast<std::uint16_t>(b));
    reads.Energy = energy;
    reads.Samples = samples;
    QCOMPARE(MissingReads(reads), missing);
}

void TestCommissioningReport::onlyFreshReadsCount() {
    // What the memory held before the report asked is not what the meter says now.
    TFedMemory memory([] { return std::int64_t(0); });
    memory.RegistersRead(0xF000, Identity("3.05", "160121"));
    memory.RegistersRead(0xF040, SerialNumber("KT-1"));
    memory.RegistersRead(0x1100, Regs({1234, 1, 9600, 0, 0, 400, 0, 400, 50, 5, 0, 0, 0}));
    memory.RegistersRead(0x1200, Regs({0, 0, 800, 1, 2300, 5, 1, 2}));
    const std::uint64_t mark = memory.Mark();
    memory.RegistersRead(0xF000, Identity("3.05", "160121"));
    memory.RegistersRead(0x1300, Regs({3, 1, 100, 20, 0, 1, 6, 0, 120, 0, 1, 0}));
    memory.RegistersRead(0x1180, Regs({1, 0, 2, 0}));
    memory.RegistersRead(0x1100, Regs({1, 2, 3})); // too short: not a settings block
    QCOMPARE(
        MissingReads(ReportReadsSince(memory, mark, 3)),
        QStringList({"serial number (0xF040)", "settings block 0x1100", "settings block 0x1200"}));
    memory.RegistersRead(0xF040, SerialNumber("KT-1"));
    memory.RegistersRead(0x1100, Regs({1234, 1, 9600, 0, 0, 400, 0, 400, 50, 5, 0, 0, 0}));
    memory.RegistersRead(0x1200, Regs({0, 0, 800, 1, 2300, 5, 1, 2}));
    QCOMPARE(MissingReads(ReportReadsSince(memory, mark, 3)), QStringList());
    // A disconnect forgets what arrived.
    memory.CycleEnded();
    QCOMPARE(MissingReads(ReportReadsSince(memory, mark, 3)).size(), 6);
}

void TestCommissioningReport::overallVerdict_data() {
    QTest::addColumn<QStringList>("checks"); // "verdict:check" of each result
    QTest::addColumn<QStringList>("writes"); // outcome of each write of the session
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<QStringList>("reasons"); // the start of each reason, in order
    QTest::newRow("all good") << QStringList{"good:Frequency", "good:Power factor"}
                              << QStringList{"accepted"} << "Passed"
                              << QStringList{"Every check that could be judged is good."};
    QTest::newRow("not judged does not count")
        << QStringList{"good:Frequency", "cannot judge:Phase rotation"} << QStringList{} << "Passed"
        << QStringList{"Every check that could be judged is good.",
                       "Phase rotation (cannot judge): why"};
    QTest::newRow("a warning") << QStringList{"good:Frequency", "warning:Current balance"}
                               << QStringList{} << "Passed with remarks"
                               << QStringList{"Current balance (warning): why"};
    QTest::newRow("a refused write")
        << QStringList{"good:Frequency"} << QStringList{"accepted", "exception", "no answer"}
        << "Passed with remarks"
        << QStringList{"Write \"CT1\" at 09:30:00: refused (exception 04).",
                       "Write \"CT1\" at 09:30:00: no answer."};
    QTest::newRow("fault first") << QStringList{"warning:Voltage balance", "fault:Voltages present",
                                                "cannot judge:Phase rotation"}
                                 << QStringList{"exception"} << "Not passed"
                                 << QStringList{"Voltages present (fault): why",
                                                "Voltage balance (warning): why", "Write \"CT1\"",
                                                "Phase rotation (cannot judge): why"};
}

void TestCommissioningReport::overallVerdict() {
    QFETCH(QStringList, checks);
    QFETCH(QStringList, writes);
    QFETCH(QString, verdict);
    QFETCH(QStringList, reasons);
    std::vector<TCheckResult> results;
    for (const QString& c : checks) {
        TCheckResult r{c.section(':', 1), TVerdict::CannotJudge, "", "why"};
        for (TVerdict v : {TVerdict::Good, TVerdict::Warning, TVerdict::Fault})
            if (VerdictText(v) == c.section(':', 0, 0))
                r.Verdict = v;
        results.push_back(r);
    }
    std::vector<TJournalEntry> journal;
    for (const QString& outcome : writes) {
        TJournalEntry e;
        e.Write.What = "CT1";
        e.Outcome = outcome;
        e.ExceptionCode = outcome == "exception" ? 4 : 0;
        e.Time = QDateTime(QDate(2026, 12, 7), QTime(9, 30));
        journal.push_back(e);
    }
    const TOverallVerdict o = OverallVerdict(results, journal);
    QCOMPARE(OverallText(o.Verdict), verdict);
    QCOMPARE(o.Reasons.size(), reasons.size());
    for (int k = 0; k < reasons.size(); ++k)
        QVERIFY2(o.Reasons[k].startsWith(reasons[k]), qPrintable(o.Reasons.join(" | ")));
}

void TestCommissioningReport::reportNumber_data() {
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("number");
    const QDateTime t(QDate(2026, 12, 7), QTime(10, 0, 5, 42), QTimeZone::utc());
    QTest::newRow("plain") << "KT-1" << t << "CR-KT-1-20261207-100005042";
    QTest::newRow("same instant elsewhere")
        << "KT-1" << t.toTimeZone(QTimeZone(3600)) << "CR-KT-1-20261207-100005042";
    QTest::newRow("a millisecond later") << "KT-1" << t.addMSecs(1) << "CR-KT-1-20261207-100005043";
    QTest::newRow("anything a meter says")
        << "a/b c\\\"\u00e9<x>" << t << "CR-ABCX-20261207-100005042";
    QTest::newRow("no serial") << "" << t << "CR-NOSERIAL-20261207-100005042";
    QTest::newRow("long serial") << QString(30, 'z') << t
                                 << "CR-" + QString(20, 'Z') + "-20261207-100005042";
}

void TestCommissioningReport::reportNumber() {
    QFETCH(QString, serial);
    QFETCH(QDateTime, time);
    QFETCH(QString, number);
    QCOMPARE(ReportNumber(serial, time), number);
}

void TestCommissioningReport::roundedToTheRegister_data() {
    QTest::addColumn<int>("quantity");
    QTest::addColumn<double>("pt"); // ratios
    QTest::addColumn<double>("ct");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("rounded");
    QTest::newRow("volts") << int(qVa) << 1.0 << 1.0 << 232.04999999 << 232.0;
    QTest::newRow("volts, PT 400/100") << int(qVa) << 4.0 << 1.0 << 924.3333333 << 924.3;
    QTest::newRow("volts, PT 10000/100") << int(qVab) << 100.0 << 1.0 << 23104.6 << 23105.0;
    QTest::newRow("amperes") << int(qIa) << 1.0 << 1.0 << 3.00049 << 3.0;
    QTest::newRow("amperes, CT 50/5") << int(qIb) << 1.0 << 10.0 << 30.12345 << 30.12;
    QTest::newRow("amperes, CT 250/5") << int(qIn) << 1.0 << 50.0 << 30.126 << 30.13;
    QTest::newRow("power, both") << int(qP) << 4.0 << 10.0 << -19.96666 << -19.97;
    QTest::newRow("frequency") << int(qF) << 4.0 << 10.0 << 49.996666 << 50.0;
    QTest::newRow("power factor") << int(qPF) << 4.0 << 10.0 << 0.95049 << 0.95;
}

void TestCommissioningReport::roundedToTheRegister() {
    QFETCH(int, quantity);
    QFETCH(double, pt);
    QFETCH(double, ct);
    QFETCH(double, value);
    QFETCH(double, rounded);
    QCOMPARE(RoundToStep(value, QuantityStep(quantity, TScaling{pt, ct, 0})), rounded);
}

QTEST_GUILESS_MAIN(TestCommissioningReport)
#include "tst_commissioningreport.moc"
