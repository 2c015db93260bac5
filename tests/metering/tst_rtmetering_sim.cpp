// The Real-Time Metering page against the meter simulator on a pseudo-terminal mapped as COM1:
// the labels as the link fills them from real responses, and the four commands carried out,
// checked in the meter's memory and in the labels that read it back.
#include "metering/frmRTMetering.h"
#include "support/LinkRig.h"
#include "support/ScriptedDialogs.h"
#include "support/SimMeter.h"
#include "widgets/CommandLabel.h"

#include <QAbstractButton>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QRegularExpression>
#include <QtTest>

namespace {

// Generous for a loaded machine; the shrunken query interval makes a round take well under 1 s.
constexpr int Wait = 10000;

// The page on a link connected to the simulator.
struct TRig : TLinkRig {
    TFormRTMetering Page{Link, Dialogs};
    bool Exposed = false;

    TRig() {
        Link.SetViews(&Page, nullptr, nullptr);
        Link.SetState(TConnectionState::Offline);
        Link.UpdateCommandStates();
        Page.show();
        Exposed = QTest::qWaitForWindowExposed(&Page);
    }
    ~TRig() {
        DisconnectLink(Link);
        Link.SetViews(nullptr, nullptr, nullptr);
    }
    QLabel* Find(const QString& name) const { return Page.findChild<QLabel*>(name); }
    QString Text(const QString& name) const { return Find(name)->text(); }
    void Click(const QString& name) {
        QWidget* w = Page.findChild<QWidget*>(name);
        QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
    }
};

// The tenths the meter holds for counter i, as it saved them.
qint64 Tenths(const TSimMeter& sim, int i) {
    bool ok = false;
    const qint64 v = sim.State().value(QString("energy.%1").arg(i)).toLongLong(&ok);
    return ok ? v : -1;
}

// The simulated load keeps counting, but a tenth takes minutes: a test sees at most one more.
bool Near(qint64 tenths, qint64 expected) {
    return tenths == expected || tenths == expected + 1;
}

const QStringList MeasurementLabels = {
    "LabelVa",   "LabelVb", "LabelVc",    "LabelVab",   "LabelVbc",  "LabelVca",  "LabelIa",
    "LabelIb",   "LabelIc", "LabelVnavg", "LabelVlavg", "LabelIavg", "LabelPsum", "LabelQsum",
    "LabelSsum", "LabelF",  "LabelPFavg", "LabelRT",    "LabelAO1",  "LabelAO2",  "LabelIn"};
const QStringList ExtendedEnergy = {"LabelEp_imp", "LabelEp_exp", "LabelEq_imp", "LabelEq_exp",
                                    "Label3",      "Label4",      "Label9",      "Label10"};

} // namespace

class TestRTMeteringSim : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void pageFilledFromTheMeter_data();
    void pageFilledFromTheMeter();
    void importExportShownAgainForALaterExtendedMeter();
    void relaysSwitched();
    void energyPreset_data();
    void energyPreset();
    void energyReset_data();
    void energyReset();
    void filledPageHasNoOverlaps();
};

void TestRTMeteringSim::initTestCase() {
    QLocale::setDefault(QLocale::c());
    if (!QFileInfo::exists(SimBinary()))
        QFAIL("kt580-sim is not built");
    // The port map must be the test's own, never the user's.
    QVERIFY(qEnvironmentVariable("XDG_CONFIG_HOME").contains("test-config"));
}

void TestRTMeteringSim::pageFilledFromTheMeter_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("extended");
    QTest::newRow("3.20: 12 energy registers") << "3.20" << true;
    QTest::newRow("3.05: 4 energy registers") << "3.05" << false;
}

void TestRTMeteringSim::pageFilledFromTheMeter() {
    QFETCH(QString, version);
    QFETCH(bool, extended);
    TSimMeter sim({"--version-text", version},
                  "energy.0=12345\nenergy.1=800\nenergy.2=3001\nenergy.3=4002\n"
                  "energy.4=5003\nenergy.5=6004\nrelay.0=1\nrelay.1=0\n");
    QVERIFY(sim.Started());
    TRig rig;
    QVERIFY(rig.Exposed);
    QVERIFY(ConnectLink(rig.Link));

    // Every label of the measurement block, with its unit; PT 400/400 and CT 5/5 give ratio 1.
    const QMap<QString, QString> formats = {
        {"V", R"(^\d{3}\.\d V$)"},      {"A", R"(^\d+\.\d{3} A$)"},
        {"kW", R"(^-?\d+\.\d{3} kW$)"}, {"kvar", R"(^-?\d+\.\d{3} kvar$)"},
        {"kVA", R"(^\d+\.\d{3} kVA$)"}, {"Hz", R"(^\d{2}\.\d{2} Hz$)"},
        {"PF", R"(^-?\d\.\d{3}$)"},     {"RT", R"(^[A-Z]$)"},
        {"AO", R"(^\d+\.\d{3} mA$)"},
    };
    const QStringList kinds = {"V", "V",  "V",    "V",   "V",  "V",  "A",  "A",  "A",  "V", "V",
                               "A", "kW", "kvar", "kVA", "Hz", "PF", "RT", "AO", "AO", "A"};
    for (int i = 0; i < MeasurementLabels.size(); ++i) {
        const QString name = MeasurementLabels[i];
        const QRegularExpression format(formats[kinds[i]]);
        QTRY_VERIFY2_WITH_TIMEOUT(format.match(rig.Text(name)).hasMatch(),
                                  qPrintable(name + ": '" + rig.Text(name) + "'"), Wait);
    }
    // Phase voltages near 230 V, line voltages near 400 V: each label fed by its own register.
    QVERIFY(std::abs(rig.Text("LabelVa").section(' ', 0, 0).toDouble() - 230) < 20);
    QVERIFY(std::abs(rig.Text("LabelVab").section(' ', 0, 0).toDouble() - 400) < 30);
    QVERIFY(std::abs(rig.Text("LabelF").section(' ', 0, 0).toDouble() - 50) < 1);

    QTRY_COMPARE_WITH_TIMEOUT(rig.Text("LabelRO1"), QString("ON"), Wait);
    QCOMPARE(rig.Text("LabelRO2"), QString("OFF"));
    for (int i = 1; i <= 6; ++i)
        QTRY_VERIFY_WITH_TIMEOUT(rig.Text(QString("LabelDI%1").arg(i)) == "ON" ||
                                     rig.Text(QString("LabelDI%1").arg(i)) == "OFF",
                                 Wait);

    QTRY_VERIFY_WITH_TIMEOUT(rig.Text("LabelEp_total").startsWith("1234.5 kWh") ||
                                 rig.Text("LabelEp_total") == "1234.6 kWh",
                             Wait);
    QVERIFY(rig.Text("LabelEq_total") == "80.0 kvarh" || rig.Text("LabelEq_total") == "80.1 kvarh");
    QCOMPARE(rig.Link.SoftwareVersion(), version);
    if (extended) {
        QTRY_VERIFY_WITH_TIMEOUT(rig.Text("LabelEq_exp").endsWith(" kvarh"), Wait);
        QVERIFY(rig.Text("LabelEp_imp").startsWith("300."));
        QVERIFY(rig.Text("LabelEp_exp").startsWith("400."));
        QVERIFY(rig.Text("LabelEq_imp").startsWith("500."));
        QVERIFY(rig.Text("LabelEq_exp").startsWith("600."));
        for (const QString& name : ExtendedEnergy)
            QVERIFY2(rig.Find(name)->isVisible(), qPrintable(name));
    } else {
        for (const QString& name : ExtendedEnergy) {
            QVERIFY2(rig.Find(name)->isHidden(), qPrintable(name));
            if (name.startsWith("LabelE"))
                QCOMPARE(rig.Text(name), QString());
        }
    }
}

void TestRTMeteringSim::importExportShownAgainForALaterExtendedMeter() {
    TRig rig;
    {
        TSimMeter basic({"--version-text", "3.05"});
        QVERIFY(basic.Started());
        QVERIFY(ConnectLink(rig.Link));
        QTRY_COMPARE_WITH_TIMEOUT(rig.Link.SoftwareVersion(), QString("3.05"), Wait);
        for (const QString& name : ExtendedEnergy)
            QVERIFY2(rig.Find(name)->isHidden(), qPrintable(name));
        QVERIFY(DisconnectLink(rig.Link));
    }
    TSimMeter extended({"--version-text", "4.00"}, "energy.2=77\n");
    QVERIFY(extended.Started());
    QVERIFY(ConnectLink(rig.Link));
    QTRY_COMPARE_WITH_TIMEOUT(rig.Link.SoftwareVersion(), QString("4.00"), Wait);
    // The meter connected now has them: they show again, filled by the 12-register read.
    QTRY_VERIFY_WITH_TIMEOUT(rig.Text("LabelEp_imp").startsWith("7.7"), Wait);
    for (const QString& name : ExtendedEnergy)
        QVERIFY2(!rig.Find(name)->isHidden(), qPrintable(name));
    QVERIFY(rig.Find("LabelEp_total")->isVisible());
    QVERIFY(DisconnectLink(rig.Link));
}

void TestRTMeteringSim::relaysSwitched() {
    TSimMeter sim({"--version-text", "3.20"}, "relay.0=0\nrelay.1=0\n");
    QVERIFY(sim.Started());
    TRig rig;
    QVERIFY(rig.Exposed);
    QVERIFY(ConnectLink(rig.Link));
    QTRY_COMPARE_WITH_TIMEOUT(rig.Text("LabelRO1"), QString("OFF"), Wait);

    rig.Dialogs.Answers = {IDialogs::ResultYes};
    rig.Click("SpeedRO1");
    QCOMPARE(rig.Dialogs.Boxes.back().Text, QString("Are you sure you want to switch Relay 1 on?"));
    QTRY_COMPARE_WITH_TIMEOUT(sim.State().value("relay.0"), QString("1"), Wait);
    QTRY_COMPARE_WITH_TIMEOUT(rig.Text("LabelRO1"), QString("ON"), Wait);
    QCOMPARE(sim.State().value("relay.1"), QString("0"));

    // No leaves the relay alone.
    rig.Dialogs.Answers = {IDialogs::ResultNo};
    rig.Click("SpeedRO1");
    QCOMPARE(rig.Dialogs.Boxes.back().Text,
             QString("Are you sure you want to switch Relay 1 off?"));
    QVERIFY(rig.Link.PendingTexts().empty());

    rig.Dialogs.Answers = {IDialogs::ResultYes};
    rig.Click("SpeedRO2");
    QTRY_COMPARE_WITH_TIMEOUT(sim.State().value("relay.1"), QString("1"), Wait);
    QTRY_COMPARE_WITH_TIMEOUT(rig.Text("LabelRO2"), QString("ON"), Wait);

    rig.Dialogs.Answers = {IDialogs::ResultYes};
    rig.Click("SpeedRO1");
    QCOMPARE(rig.Dialogs.Boxes.back().Text,
             QString("Are you sure you want to switch Relay 1 off?"));
    QTRY_COMPARE_WITH_TIMEOUT(sim.State().value("relay.0"), QString("0"), Wait);
    QTRY_COMPARE_WITH_TIMEOUT(rig.Text("LabelRO1"), QString("OFF"), Wait);
    QCOMPARE(sim.State().value("relay.1"), QString("1"));
}

void TestRTMeteringSim::energyPreset_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("counter");
    QTest::addColumn<qint64>("tenths");
    QTest::addColumn<QString>("shown");
    QTest::newRow("Ep_imp 12345.6 on 3.20") << "3.20"
                                            << "LabelEp_imp"
                                            << "12345.6" << 2 << qint64(123456) << "12345.";
    QTest::newRow("Eq_total 0 on 3.20") << "3.20"
                                        << "LabelEq_total"
                                        << "0" << 1 << qint64(0) << "0.";
    QTest::newRow("Eq_exp largest on 4.00")
        << "4.00"
        << "LabelEq_exp"
        << "429496729.5" << 5 << qint64(4294967295) << "429496729.5";
    QTest::newRow("Ep_total 12 kWh on 3.05") << "3.05"
                                             << "LabelEp_total"
                                             << "12 kWh" << 0 << qint64(120) << "12.";
}

void TestRTMeteringSim::energyPreset() {
    QFETCH(QString, version);
    QFETCH(QString, label);
    QFETCH(QString, entry);
    QFETCH(int, counter);
    QFETCH(qint64, tenths);
    QFETCH(QString, shown);
    TSimMeter sim({"--version-text", version}, "energy.0=5\nenergy.1=5\nenergy.2=5\n"
                                               "energy.3=5\nenergy.4=5\nenergy.5=5\n");
    QVERIFY(sim.Started());
    TRig rig;
    QVERIFY(rig.Exposed);
    QVERIFY(ConnectLink(rig.Link));
    QTRY_VERIFY_WITH_TIMEOUT(rig.Text(label).startsWith("0.5 k"), Wait);

    rig.Dialogs.InputAnswers = {{true, entry}};
    rig.Click(label);
    QCOMPARE(rig.Dialogs.Inputs.size(), std::size_t(1));
    QCOMPARE(rig.Dialogs.Inputs[0].Initial, QString("0.5"));
    QTRY_VERIFY2_WITH_TIMEOUT(Near(Tenths(sim, counter), tenths),
                              qPrintable(QString::number(Tenths(sim, counter))), Wait);
    QTRY_VERIFY2_WITH_TIMEOUT(rig.Text(label).startsWith(shown), qPrintable(rig.Text(label)), Wait);
    // The other counters are as they were.
    for (int i = 0; i < 6; ++i)
        if (i != counter)
            QVERIFY2(Near(Tenths(sim, i), 5), qPrintable(QString::number(i)));
    QCOMPARE(rig.Dialogs.Boxes.size(), std::size_t(0));
}

void TestRTMeteringSim::energyReset_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("allCounters");
    QTest::newRow("3.20: reset command register") << "3.20" << true;
    QTest::newRow("3.05: zero into Ep_total and Eq_total") << "3.05" << false;
}

void TestRTMeteringSim::energyReset() {
    QFETCH(QString, version);
    QFETCH(bool, allCounters);
    TSimMeter sim({"--version-text", version}, "energy.0=1000\nenergy.1=2000\nenergy.2=3000\n"
                                               "energy.3=4000\nenergy.4=5000\nenergy.5=6000\n");
    QVERIFY(sim.Started());
    TRig rig;
    QVERIFY(rig.Exposed);
    QVERIFY(ConnectLink(rig.Link));
    QTRY_VERIFY_WITH_TIMEOUT(rig.Text("LabelEp_total").startsWith("100."), Wait);

    rig.Dialogs.Answers = {IDialogs::ResultYes};
    rig.Click("ButtonClearEnergy");
    QCOMPARE(rig.Dialogs.Boxes.back().Text, QString("Are you sure you want to reset energy?"));
    QTRY_VERIFY_WITH_TIMEOUT(Near(Tenths(sim, 0), 0) && Near(Tenths(sim, 1), 0), Wait);
    QTRY_VERIFY_WITH_TIMEOUT(rig.Text("LabelEp_total").startsWith("0."), Wait);
    QVERIFY(rig.Text("LabelEq_total").startsWith("0."));
    for (int i = 2; i < 6; ++i)
        QVERIFY2(Near(Tenths(sim, i), allCounters ? 0 : 1000 * (i + 1)),
                 qPrintable(QString::number(Tenths(sim, i))));
    if (allCounters)
        QVERIFY(rig.Text("LabelEq_exp").startsWith("0."));
    // The meter accepted the write: no refusal was reported.
    QCOMPARE(rig.Dialogs.Boxes.size(), std::size_t(1));
}

void TestRTMeteringSim::filledPageHasNoOverlaps() {
    TSimMeter sim({"--version-text", "3.20"},
                  "energy.0=123456789\nenergy.1=98765432\nenergy.2=4294967295\n"
                  "energy.3=1\nenergy.4=55555\nenergy.5=4000000000\nrelay.0=1\n");
    QVERIFY(sim.Started());
    TRig rig;
    QVERIFY(rig.Exposed);
    QVERIFY(ConnectLink(rig.Link));
    for (const QString& name : MeasurementLabels)
        QTRY_VERIFY_WITH_TIMEOUT(!rig.Text(name).isEmpty(), Wait);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.Text("LabelEq_exp").isEmpty(), Wait);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.Text("LabelDI6").isEmpty(), Wait);

    // Within each panel every label lies inside the frame and clear of every other label and
    // button, so no text is cut off or runs into its neighbour.
    for (const QFrame* panel : rig.Page.findChildren<QFrame*>(Qt::FindDirectChildrenOnly)) {
        const QRect inside = panel->contentsRect();
        QList<QWidget*> items;
        for (QWidget* w : panel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (w->isVisible())
                items << w;
        for (int i = 0; i < items.size(); ++i) {
            const QRect r = items[i]->geometry();
            const QString what = panel->objectName() + "/" + items[i]->objectName();
            QVERIFY2(inside.contains(r), qPrintable(what));
            if (auto* l = qobject_cast<QLabel*>(items[i]))
                QVERIFY2(r.width() >= l->fontMetrics().horizontalAdvance(l->text()),
                         qPrintable(what));
            for (int j = i + 1; j < items.size(); ++j)
                QVERIFY2(!r.intersects(items[j]->geometry()),
                         qPrintable(what + " and " + items[j]->objectName()));
        }
    }

    // A picture for a person to look at, when asked for.
    const QString shots = qEnvironmentVariable("KT_SHOT_DIR");
    if (!shots.isEmpty()) {
        QDir().mkpath(shots);
        QVERIFY(rig.Page.grab().save(shots + "/rtmetering.png"));
    }
}

QTEST_MAIN(TestRTMeteringSim)
#include "tst_rtmetering_sim.moc"
