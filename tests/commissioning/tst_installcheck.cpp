// The installation check's rules: each row is a meter as it could be wired, and the verdicts
// the rules must give for it.
#include "commissioning/InstallCheck.h"

#include <QtTest>

#include <cmath>

namespace {

// A balanced 230/400 V load of 30 A per phase on 50/5 A transformers.
TMeasurement Balanced() {
    TMeasurement m;
    auto& v = m.Values;
    v[qVa] = v[qVb] = v[qVc] = 230.0;
    v[qVab] = v[qVbc] = v[qVca] = 230.0 * std::sqrt(3.0);
    v[qIa] = v[qIb] = v[qIc] = 30.0;
    v[qVlnAvg] = 230;
    v[qVllAvg] = 398.4;
    v[qIAvg] = 30;
    v[qP] = 19.7;
    v[qQ] = 4.0;
    v[qS] = 20.7;
    v[qF] = 50.0;
    v[qPF] = 0.95;
    v[qIn] = 0.8;
    m.LoadType = 'L';
    return m;
}

void Recompute(TMeasurement& m) {
    auto& v = m.Values;
    v[qIAvg] = (v[qIa] + v[qIb] + v[qIc]) / 3;
}

} // namespace

Q_DECLARE_METATYPE(TMeasurement)

class TestInstallCheck : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void verdicts_data();
    void verdicts();
    void voltageBalanceNames_data();
    void voltageBalanceNames();
    void noMeasurementYet();
    void everyResultSaysWhy();
    void checksSummary_data();
    void checksSummary();
};

void TestInstallCheck::verdicts_data() {
    QTest::addColumn<TMeasurement>("m");
    QTest::addColumn<int>("wiring");
    QTest::addColumn<double>("ct");
    // "check=verdict" pairs that must hold; checks not named are not looked at.
    QTest::addColumn<QStringList>("expect");

    const TMeasurement good = Balanced();
    QTest::newRow("balanced 3LN") << good << 0 << 50.0
                                  << QStringList{"Voltages present=good",
                                                 "Voltage balance=good",
                                                 "Line-to-line against line-to-neutral=good",
                                                 "Current balance=good",
                                                 "Neutral current=good",
                                                 "Active power direction=good",
                                                 "Power factor=good",
                                                 "Frequency=good",
                                                 "Phase rotation and per-phase power=cannot judge"};

    TMeasurement missingB = good;
    missingB.Values[qVb] = 0;
    missingB.Values[qVab] = 230;
    missingB.Values[qVbc] = 230;
    QTest::newRow("missing phase B")
        << missingB << 0 << 50.0
        << QStringList{"Voltages present=fault", "Voltage balance=warning",
                       "Line-to-line against line-to-neutral=fault"};

    TMeasurement low = good;
    low.Values[qVc] = 190; // 12 % under the average of 216.7
    QTest::newRow("one phase low")
        << low << 0 << 50.0 << QStringList{"Voltages present=good", "Voltage balance=warning"};
    TMeasurement slightlyLow = good;
    slightlyLow.Values[qVc] = 212; // 5 % under the average
    QTest::newRow("within 10 %") << slightlyLow << 0 << 50.0 << QStringList{"Voltage balance=good"};

    TMeasurement noNeutral = good;
    noNeutral.Values[qVab] = noNeutral.Values[qVbc] = noNeutral.Values[qVca] = 232;
    QTest::newRow("3LN set, no neutral seen")
        << noNeutral << 0 << 50.0 << QStringList{"Line-to-line against line-to-neutral=fault"};
    QTest::newRow("3LL set, neutral seen")
        << good << 1 << 50.0
        << QStringList{"Line-to-line against line-to-neutral=warning", "Voltages present=good"};
    QTest::newRow("wiring unknown")
        << good << -1 << 50.0
        << QStringList{"Voltages present=cannot judge",
                       "Line-to-line against line-to-neutral=cannot judge",
                       "Current balance=cannot judge", "Frequency=good"};

    TMeasurement small = good;
    small.Values[qIa] = small.Values[qIb] = small.Values[qIc] = 2.4; // under 5 % of 50 A
    small.Values[qP] = -1.0;
    small.Values[qPF] = 0.2;
    small.Values[qIn] = 3;
    Recompute(small);
    QTest::newRow("load too small")
        << small << 0 << 50.0
        << QStringList{"Current balance=cannot judge", "Neutral current=cannot judge",
                       "Active power direction=cannot judge", "Power factor=cannot judge",
                       "Voltages present=good"};
    TMeasurement justEnough = small;
    justEnough.Values[qIa] = justEnough.Values[qIb] = justEnough.Values[qIc] = 2.6;
    justEnough.Values[qIn] = 0.1;
    Recompute(justEnough);
    QTest::newRow("load at 5 %") << justEnough << 0 << 50.0
                                 << QStringList{"Active power direction=warning",
                                                "Power factor=warning"};
    QTest::newRow("ct unknown") << good << 0 << 0.0 << QStringList{"Current balance=cannot judge"};

    TMeasurement noCurrentB = good;
    noCurrentB.Values[qIb] = 0;
    Recompute(noCurrentB);
    QTest::newRow("no current on B")
        << noCurrentB << 0 << 50.0 << QStringList{"Current balance=fault"};
    TMeasurement unbalanced = good;
    unbalanced.Values[qIa] = 45;
    unbalanced.Values[qIc] = 15;
    unbalanced.Values[qIn] = 26;
    Recompute(unbalanced);
    QTest::newRow("unbalanced load")
        << unbalanced << 0 << 50.0
        << QStringList{"Current balance=warning", "Neutral current=warning"};

    TMeasurement reversedA = good;
    reversedA.Values[qIn] = 60;
    reversedA.Values[qP] = 6.6;
    QTest::newRow("one CT reversed")
        << reversedA << 0 << 50.0
        << QStringList{"Neutral current=fault", "Active power direction=good"};
    QTest::newRow("neutral on 3LL not judged")
        << reversedA << 1 << 50.0 << QStringList{"Neutral current=cannot judge"};

    TMeasurement exporting = good;
    exporting.Values[qP] = -19.7;
    exporting.Values[qPF] = -0.95;
    QTest::newRow("all CTs reversed")
        << exporting << 0 << 50.0
        << QStringList{"Active power direction=warning", "Power factor=good"};

    TMeasurement lowPf = good;
    lowPf.Values[qPF] = 0.54;
    QTest::newRow("pf 0.54") << lowPf << 0 << 50.0 << QStringList{"Power factor=warning"};
    lowPf.Values[qPF] = -0.56;
    QTest::newRow("pf -0.56") << lowPf << 0 << 50.0 << QStringList{"Power factor=good"};

    for (const auto& [f, verdict] :
         {std::pair{44.9, "fault"}, {45.0, "good"}, {65.0, "good"}, {65.1, "fault"}}) {
        TMeasurement m = good;
        m.Values[qF] = f;
        QTest::addRow("frequency %.1f", f)
            << m << 0 << 50.0 << QStringList{QString("Frequency=%1").arg(verdict)};
    }

    TMeasurement single = good;
    QTest::newRow("1LN") << single << 4 << 50.0
                         << QStringList{"Voltages present=good", "Voltage balance=cannot judge",
                                        "Current balance=cannot judge"};
    TMeasurement deadLine = good;
    deadLine.Values[qVbc] = 10;
    QTest::newRow("3LL line missing")
        << deadLine << 1 << 50.0 << QStringList{"Voltages present=fault"};
}

void TestInstallCheck::verdicts() {
    QFETCH(TMeasurement, m);
    QFETCH(int, wiring);
    QFETCH(double, ct);
    QFETCH(QStringList, expect);
    TInstallInputs in;
    in.Measurement = m;
    in.VoltageWiring = wiring;
    in.CTPrimary = ct;
    in.LoadConvention = 0;
    const std::vector<TCheckResult> results = CheckInstallation(in);
    for (const QString& pair : expect) {
        const QString check = pair.section('=', 0, 0);
        const QString verdict = pair.section('=', 1);
        const auto it = std::find_if(results.begin(), results.end(),
                                     [&](const TCheckResult& r) { return r.Check == check; });
        QVERIFY2(it != results.end(), qPrintable(check));
        QVERIFY2(
            VerdictText(it->Verdict) == verdict,
            qPrintable(QString("%1: %2 (%3)").arg(check, VerdictText(it->Verdict), it->Advice)));
    }
}

void TestInstallCheck::voltageBalanceNames_data() {
    QTest::addColumn<TMeasurement>("m");
    QTest::addColumn<int>("wiring");
    QTest::addColumn<QStringList>("named"); // in the advice of "Voltage balance"; no other
    const TMeasurement good = Balanced();
    for (int phase = 0; phase < 3; ++phase) {
        TMeasurement m = good;
        m.Values[qVa + phase] = 0;
        QTest::addRow("3LN without phase %c", 'A' + phase)
            << m << 0 << QStringList{QuantityInfo(qVa + phase).Name};
    }
    TMeasurement twoMissing = good;
    twoMissing.Values[qVa] = 3;
    twoMissing.Values[qVc] = 0;
    QTest::newRow("3LN with B alone") << twoMissing << 0 << QStringList{"Volts AN", "Volts CN"};
    TMeasurement low = good;
    low.Values[qVc] = 190;
    QTest::newRow("3LN one phase low") << low << 0 << QStringList{"Volts CN"};
    TMeasurement deadLine = good;
    deadLine.Values[qVbc] = 10;
    QTest::newRow("3LL line missing") << deadLine << 1 << QStringList{"Volts BC"};
}

void TestInstallCheck::voltageBalanceNames() {
    QFETCH(TMeasurement, m);
    QFETCH(int, wiring);
    QFETCH(QStringList, named);
    TInstallInputs in;
    in.Measurement = m;
    in.VoltageWiring = wiring;
    in.CTPrimary = 50;
    const std::vector<TCheckResult> results = CheckInstallation(in);
    const auto balance = std::find_if(results.begin(), results.end(), [](const TCheckResult& r) {
        return r.Check == "Voltage balance";
    });
    QVERIFY(balance != results.end());
    QCOMPARE(VerdictText(balance->Verdict), QString("warning"));
    for (const char* name :
         {"Volts AN", "Volts BN", "Volts CN", "Volts AB", "Volts BC", "Volts CA"})
        QVERIFY2(balance->Advice.contains(name) == named.contains(name),
                 qPrintable(balance->Advice));
}

void TestInstallCheck::noMeasurementYet() {
    TInstallInputs in;
    in.VoltageWiring = 0;
    in.CTPrimary = 50;
    const auto results = CheckInstallation(in);
    QCOMPARE(results.size(), std::size_t(2));
    QCOMPARE(results[0].Verdict, TVerdict::CannotJudge);
    // The meter's limits are said whatever it shows.
    QVERIFY(results[1].Advice.contains("no per-phase power and no phase angles"));
}

void TestInstallCheck::everyResultSaysWhy() {
    // A verdict without the values behind it or what to check is no help to a technician.
    TInstallInputs in;
    in.Measurement = Balanced();
    in.Measurement->Values[qVb] = 0;
    in.VoltageWiring = 0;
    in.CTPrimary = 50;
    for (const TCheckResult& r : CheckInstallation(in)) {
        QVERIFY2(!r.Advice.isEmpty(), qPrintable(r.Check));
        if (r.Check != "Phase rotation and per-phase power")
            QVERIFY2(!r.Values.isEmpty(), qPrintable(r.Check));
    }
    const auto results = CheckInstallation(in);
    QVERIFY(results[0].Values.contains("Volts BN 0.0 V"));
    QVERIFY(results[0].Advice.contains("Volts BN"));
}

// "Check=G|W|F|N" per result: good, warning, fault, not judged.
void TestInstallCheck::checksSummary_data() {
    QTest::addColumn<QStringList>("checks");
    QTest::addColumn<int>("worst");
    QTest::addColumn<QString>("text");
    QTest::newRow("all good") << QStringList{"A=G", "B=G"} << int(TVerdict::Good)
                              << "All checks passed.";
    QTest::newRow("one warning") << QStringList{"A=G", "B=W", "C=G"} << int(TVerdict::Warning)
                                 << "1 warning: B";
    QTest::newRow("fault named before an earlier warning")
        << QStringList{"A=W", "B=F", "C=W", "D=F"} << int(TVerdict::Fault)
        << "2 faults, 2 warnings: B";
    QTest::newRow("not judged only") << QStringList{"A=G", "B=N"} << int(TVerdict::CannotJudge)
                                     << "All judged checks passed; 1 not judged: B";
    QTest::newRow("warning over not judged")
        << QStringList{"A=N", "B=W"} << int(TVerdict::Warning) << "1 warning, 1 not judged: B";
    QTest::newRow("no results") << QStringList{} << int(TVerdict::CannotJudge) << "No checks yet.";
}

void TestInstallCheck::checksSummary() {
    QFETCH(QStringList, checks);
    QFETCH(int, worst);
    QFETCH(QString, text);
    const QHash<QString, TVerdict> letters = {{"G", TVerdict::Good},
                                              {"W", TVerdict::Warning},
                                              {"F", TVerdict::Fault},
                                              {"N", TVerdict::CannotJudge}};
    std::vector<TCheckResult> results;
    for (const QString& c : checks)
        results.push_back({c.section('=', 0, 0), letters.value(c.section('=', 1)), {}, {}});
    const TChecksSummary overall = ChecksSummary(results);
    QCOMPARE(overall.Text, text);
    QCOMPARE(int(overall.Worst), worst);
}

QTEST_GUILESS_MAIN(TestInstallCheck)
#include "tst_installcheck.moc"
