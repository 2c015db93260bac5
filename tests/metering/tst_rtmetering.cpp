// The Real-Time Metering page on the real link: its layout, the labels the link writes, and
// what each command queues, answered through scripted dialogs.
#include "link/frmModbus.h"
#include "meter/cstMain.h"
#include "metering/frmRTMetering.h"
#include "support/FakeShell.h"
#include "support/LinkRig.h"
#include "support/LinkTestAccess.h"
#include "support/MeterRecords.h"
#include "support/ScriptedDialogs.h"
#include "widgets/CommandLabel.h"
#include "widgets/UiFont.h"
#include "widgets/WidgetColours.h"

#include <QAbstractButton>
#include <QFrame>
#include <QLabel>
#include <QtTest>

namespace {

const QColor Blue(0, 0, 255);

QColor TextColour(const QWidget* w) {
    return w->palette().color(QPalette::Active, QPalette::WindowText);
}

TRgb Rgb(const QColor& c) {
    return TRgb{c.red(), c.green(), c.blue()};
}

// A palette of a light or dark desktop: window, its text, and the base of lists.
QPalette DesktopPalette(const QString& window) {
    const QColor w(window);
    const bool dark = w.lightness() < 128;
    QPalette p(w);
    p.setColor(QPalette::WindowText, dark ? QColor(0xe8, 0xe8, 0xe8) : QColor(Qt::black));
    return p;
}

// The page on a link whose master stays closed: commands only fill the link's queue.
struct TRig : TLinkRig {
    TFormRTMetering Page{Link, Dialogs};

    TRig() {
        Link.SetViews(&Page, nullptr, nullptr);
        Link.UpdateCommandStates();
    }
    ~TRig() { Link.SetViews(nullptr, nullptr, nullptr); }

    template <typename T = QLabel> T* Find(const QString& name) const {
        return Page.findChild<T*>(name);
    }
    QStringList Queue() const {
        QStringList texts;
        for (const std::string& t : Link.PendingTexts())
            texts << QString::fromStdString(t);
        return texts;
    }
    // The metering rotation, one query per step (RunMeteringScript).
    void Run(const QString& script) { RunMeteringScript(Link, script, 2301); }
    // Identity block with a software version in characters 9 to 12.
    void ReadIdentity(const QString& version) {
        Link.ModbusF03Response(TLinkTestAccess::Master(Link), 1, 0xF000,
                               IdentityRegisters(version));
    }
};

QLabel* CaptionIn(const QWidget* panel, const QString& text) {
    for (QLabel* l : panel->findChildren<QLabel*>())
        if (l->text() == text)
            return l;
    return nullptr;
}

} // namespace

class TestRTMetering : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void page();
    void panels_data();
    void panels();
    void captionsAndValues_data();
    void captionsAndValues();
    void energyLabels_data();
    void energyLabels();
    void buttons_data();
    void buttons();
    void labelsArePlainText();

    void linkFillsMeasurements();
    void linkFillsEnergy();
    void linkSetsStates();
    void failedReadsShowStale_data();
    void failedReadsShowStale();
    void coloursReadOnEveryPalette_data();
    void coloursReadOnEveryPalette();
    void extendedEnergyFollowsTheMeter_data();
    void extendedEnergyFollowsTheMeter();

    void relayCommand_data();
    void relayCommand();
    void energyPreset_data();
    void energyPreset();
    void eachEnergyLabelPresetsItsCounter_data();
    void eachEnergyLabelPresetsItsCounter();
    void energyReset_data();
    void energyReset();
    void disabledCommandsStartNothing();
    void relayReadGoesOutWithTheDeviceAddress();
};

void TestRTMetering::initTestCase() {
    // Numbers with a point and no grouping, whatever the machine's locale.
    QLocale::setDefault(QLocale::c());
}

void TestRTMetering::page() {
    TRig rig;
    QCOMPARE(rig.Page.windowTitle(), QString("Real-Time Metering"));
    QCOMPARE(rig.Page.size(), QSize(580, 437));
    QVERIFY(rig.Page.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(rig.Page.font().pixelSize(), 11);
    QCOMPARE(rig.Page.font().family(), UiFont().family());
}

void TestRTMetering::panels_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("bounds");
    QTest::newRow("Panel147") << "Panel147" << QRect(8, 8, 565, 116);
    QTest::newRow("Panel148") << "Panel148" << QRect(8, 132, 565, 44);
    QTest::newRow("Panel149") << "Panel149" << QRect(8, 184, 353, 68);
    QTest::newRow("Panel150") << "Panel150" << QRect(368, 184, 205, 245);
    QTest::newRow("Panel19") << "Panel19" << QRect(8, 260, 193, 116);
    QTest::newRow("Panel20") << "Panel20" << QRect(208, 260, 153, 116);
    QTest::newRow("Panel1") << "Panel1" << QRect(8, 384, 353, 44);
}

void TestRTMetering::panels() {
    QFETCH(QString, name);
    QFETCH(QRect, bounds);
    TRig rig;
    auto* panel = rig.Find<QFrame>(name);
    QVERIFY(panel);
    QCOMPARE(panel->parentWidget(), &rig.Page);
    QCOMPARE(panel->geometry(), bounds);
    QCOMPARE(panel->frameShape(), QFrame::Panel);
    QCOMPARE(panel->frameShadow(), QFrame::Sunken);
}

void TestRTMetering::captionsAndValues_data() {
    QTest::addColumn<QString>("panel");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QPoint>("captionAt");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QPoint>("valueAt");
    QTest::addColumn<bool>("blue");
    struct TRow {
        const char* Panel;
        const char* Caption;
        QPoint CaptionAt;
        const char* Value;
        QPoint ValueAt;
        bool Blue;
    };
    const TRow rows[] = {
        {"Panel147", "Volts AN", {16, 16}, "LabelVa", {112, 16}, true},
        {"Panel147", "Volts BN", {16, 40}, "LabelVb", {112, 40}, true},
        {"Panel147", "Volts CN", {16, 64}, "LabelVc", {112, 64}, true},
        {"Panel147", "Volts LN Average", {16, 88}, "LabelVnavg", {112, 88}, true},
        {"Panel147", "Volts AB", {192, 16}, "LabelVab", {288, 16}, true},
        {"Panel147", "Volts BC", {192, 40}, "LabelVbc", {288, 40}, true},
        {"Panel147", "Volts CA", {192, 64}, "LabelVca", {288, 64}, true},
        {"Panel147", "Volts LL Average", {192, 88}, "LabelVlavg", {288, 88}, true},
        {"Panel147", "I A", {368, 16}, "LabelIa", {464, 16}, true},
        {"Panel147", "I B", {368, 40}, "LabelIb", {464, 40}, true},
        {"Panel147", "I C", {368, 64}, "LabelIc", {464, 64}, true},
        {"Panel147", "I Average", {368, 88}, "LabelIavg", {464, 88}, true},
        {"Panel148", "Watt Total", {16, 16}, "LabelPsum", {112, 16}, true},
        {"Panel148", "VAR Total", {192, 16}, "LabelQsum", {288, 16}, true},
        {"Panel148", "VA Total", {368, 16}, "LabelSsum", {464, 16}, true},
        {"Panel149", "Pwr Factor Total", {16, 16}, "LabelPFavg", {112, 16}, true},
        {"Panel149", "Frequency", {16, 40}, "LabelF", {112, 40}, true},
        {"Panel149", "Load Type", {192, 16}, "LabelRT", {288, 16}, true},
        {"Panel149", "I N", {192, 40}, "LabelIn", {288, 40}, true},
        {"Panel150", "Ep_total", {8, 16}, "LabelEp_total", {88, 16}, true},
        {"Panel150", "Eq_total", {8, 40}, "LabelEq_total", {88, 40}, true},
        {"Panel150", "Ep_imp", {8, 64}, "LabelEp_imp", {88, 64}, true},
        {"Panel150", "Ep_exp", {8, 88}, "LabelEp_exp", {88, 88}, true},
        {"Panel150", "Eq_imp", {8, 112}, "LabelEq_imp", {88, 112}, true},
        {"Panel150", "Eq_exp", {8, 136}, "LabelEq_exp", {88, 136}, true},
        {"Panel19", "Relay 1:", {16, 29}, "LabelRO1", {80, 29}, false},
        {"Panel19", "Relay 2:", {16, 77}, "LabelRO2", {80, 77}, false},
        {"Panel20", "DI 1:", {32, 12}, "LabelDI1", {88, 12}, false},
        {"Panel20", "DI 2:", {32, 28}, "LabelDI2", {88, 28}, false},
        {"Panel20", "DI 3:", {32, 44}, "LabelDI3", {88, 44}, false},
        {"Panel20", "DI 4:", {32, 60}, "LabelDI4", {88, 60}, false},
        {"Panel20", "DI 5:", {32, 76}, "LabelDI5", {88, 76}, false},
        {"Panel20", "DI 6:", {32, 92}, "LabelDI6", {88, 92}, false},
        {"Panel1", "AO 1:", {8, 16}, "LabelAO1", {104, 16}, true},
        {"Panel1", "AO 2:", {192, 16}, "LabelAO2", {288, 16}, true},
    };
    for (const TRow& r : rows)
        QTest::newRow(r.Value) << r.Panel << r.Caption << r.CaptionAt << r.Value << r.ValueAt
                               << r.Blue;
}

void TestRTMetering::captionsAndValues() {
    QFETCH(QString, panel);
    QFETCH(QString, caption);
    QFETCH(QPoint, captionAt);
    QFETCH(QString, value);
    QFETCH(QPoint, valueAt);
    QFETCH(bool, blue);
    TRig rig;
    auto* frame = rig.Find<QFrame>(panel);
    QVERIFY(frame);
    QLabel* c = CaptionIn(frame, caption);
    QVERIFY2(c, qPrintable(caption));
    QCOMPARE(c->pos(), captionAt);
    // The whole caption fits its label and ends before its value label starts.
    QVERIFY(c->width() >= c->fontMetrics().horizontalAdvance(caption));
    QVERIFY(c->height() >= c->fontMetrics().height());
    QVERIFY(c->x() + c->width() < valueAt.x());
    QLabel* v = rig.Find(value);
    QVERIFY(v);
    QCOMPARE(v->parentWidget(), frame);
    QCOMPARE(v->pos(), valueAt);
    QCOMPARE(v->text(), QString());
    if (blue)
        QCOMPARE(TextColour(v), Blue);
}

void TestRTMetering::energyLabels_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("tag");
    QTest::addColumn<QString>("captionName");
    QTest::addColumn<QString>("caption");
    QTest::newRow("Ep_total") << "LabelEp_total" << 0 << "Label645"
                              << "Ep_total";
    QTest::newRow("Eq_total") << "LabelEq_total" << 2 << "Label679"
                              << "Eq_total";
    QTest::newRow("Ep_imp") << "LabelEp_imp" << 4 << "Label3"
                            << "Ep_imp";
    QTest::newRow("Ep_exp") << "LabelEp_exp" << 6 << "Label4"
                            << "Ep_exp";
    QTest::newRow("Eq_imp") << "LabelEq_imp" << 8 << "Label9"
                            << "Eq_imp";
    QTest::newRow("Eq_exp") << "LabelEq_exp" << 10 << "Label10"
                            << "Eq_exp";
}

void TestRTMetering::energyLabels() {
    QFETCH(QString, name);
    QFETCH(int, tag);
    QFETCH(QString, captionName);
    QFETCH(QString, caption);
    TRig rig;
    auto* label = rig.Find<TCommandLabel>(name);
    QVERIFY(label);
    QCOMPARE(label->Tag(), tag);
    QCOMPARE(label->property("Tag").toInt(), tag);
    QCOMPARE(label->toolTip(), QString("Click and modify it!"));
    QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);
    QVERIFY(label->font().underline());
    QCOMPARE(label->font().pixelSize(), 11);
    QCOMPARE(TextColour(label), Blue);
    QLabel* c = rig.Find(captionName);
    QVERIFY(c);
    QCOMPARE(c->text(), caption);
}

void TestRTMetering::buttons_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("panel");
    QTest::addColumn<QRect>("bounds");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");
    QTest::newRow("SpeedRO1") << "SpeedRO1"
                              << "Panel19" << QRect(120, 24, 49, 23) << "Control"
                              << "Control Relay";
    QTest::newRow("SpeedRO2") << "SpeedRO2"
                              << "Panel19" << QRect(120, 72, 49, 23) << "Control"
                              << "Control Relay";
    QTest::newRow("ButtonClearEnergy") << "ButtonClearEnergy"
                                       << "Panel150" << QRect(80, 204, 105, 23) << "Reset Energy"
                                       << "";
}

void TestRTMetering::buttons() {
    QFETCH(QString, name);
    QFETCH(QString, panel);
    QFETCH(QRect, bounds);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);
    TRig rig;
    auto* button = rig.Find<QAbstractButton>(name);
    QVERIFY(button);
    QCOMPARE(button->parentWidget()->objectName(), panel);
    QCOMPARE(button->geometry(), bounds);
    QCOMPARE(button->text(), text);
    QCOMPARE(button->toolTip(), toolTip);
    QVERIFY(button->fontMetrics().horizontalAdvance(text) < bounds.width() - 4);
}

void TestRTMetering::labelsArePlainText() {
    TRig rig;
    const QList<QLabel*> labels = rig.Page.findChildren<QLabel*>();
    QCOMPARE(labels.size(), 2 * 35);
    for (const QLabel* l : labels)
        QVERIFY2(l->textFormat() == Qt::PlainText, qPrintable(l->objectName() + l->text()));
    // Whatever a text holds, it is shown as it is.
    rig.Page.SetMeasurementText(17, "<b>x</b>");
    rig.Page.SetEnergyText(0, "<i>1</i> kWh");
    QCOMPARE(rig.Find("LabelRT")->text(), QString("<b>x</b>"));
    QCOMPARE(rig.Find("LabelEp_total")->text(), QString("<i>1</i> kWh"));
}

void TestRTMetering::linkFillsMeasurements() {
    TRig rig;
    // Each register a different value, so a label fed from the wrong register shows.
    std::vector<std::uint16_t> regs = {2301, 2302, 2303,   4001,   4002,  4003,   1001,
                                       1002, 1003, 2304,   4004,   1004,  0xFFF6, 2000,
                                       3000, 5001, 0xFC18, 0x014C, 12000, 4000,   1005};
    // The meter's ratios first, PT 100/100 and CT 5/5: before them nothing scaled is shown.
    const std::vector<std::uint16_t> ratios = {0, 1, 4, 3, 0, 100, 0, 100, 5, 5, 1, 7, 1};
    rig.Link.ModbusF03Response(TLinkTestAccess::Master(rig.Link), 1, 0x1100, ratios);
    rig.Link.ModbusF03Response(TLinkTestAccess::Master(rig.Link), 1, 0x1400, regs);
    const QMap<QString, QString> expected = {
        {"LabelVa", "230.1 V"},     {"LabelVb", "230.2 V"},      {"LabelVc", "230.3 V"},
        {"LabelVab", "400.1 V"},    {"LabelVbc", "400.2 V"},     {"LabelVca", "400.3 V"},
        {"LabelIa", "1.001 A"},     {"LabelIb", "1.002 A"},      {"LabelIc", "1.003 A"},
        {"LabelVnavg", "230.4 V"},  {"LabelVlavg", "400.4 V"},   {"LabelIavg", "1.004 A"},
        {"LabelPsum", "-0.010 kW"}, {"LabelQsum", "2.000 kvar"}, {"LabelSsum", "3.000 kVA"},
        {"LabelF", "50.01 Hz"},     {"LabelPFavg", "-1.000"},    {"LabelRT", "L"},
        {"LabelAO1", "12.000 mA"},  {"LabelAO2", "4.000 mA"},    {"LabelIn", "1.005 A"},
    };
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        QLabel* l = rig.Find(it.key());
        QVERIFY(l);
        QCOMPARE(l->text(), it.value());
        // As wide as its text, so nothing of it is cut off.
        QVERIFY(l->width() >= l->fontMetrics().horizontalAdvance(it.value()));
    }
}

void TestRTMetering::linkFillsEnergy() {
    TRig rig;
    // 100000 tenths = 0x000186A0, low word first.
    rig.Link.ModbusF03Response(TLinkTestAccess::Master(rig.Link), 1, 0x1180,
                               std::vector<std::uint16_t>{0x86A0, 1, 800, 0});
    QCOMPARE(rig.Find("LabelEp_total")->text(), QString("10000.0 kWh"));
    QCOMPARE(rig.Find("LabelEq_total")->text(), QString("80.0 kvarh"));
    QCOMPARE(rig.Find("LabelEp_imp")->text(), QString());
    QCOMPARE(rig.Find("LabelEq_exp")->text(), QString());
    rig.Link.ModbusF03Response(
        TLinkTestAccess::Master(rig.Link), 1, 0x1180,
        std::vector<std::uint16_t>{1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 0xFFFF, 0xFFFF});
    QCOMPARE(rig.Find("LabelEp_total")->text(), QString("0.1 kWh"));
    QCOMPARE(rig.Find("LabelEq_total")->text(), QString("0.2 kvarh"));
    QCOMPARE(rig.Find("LabelEp_imp")->text(), QString("0.3 kWh"));
    QCOMPARE(rig.Find("LabelEp_exp")->text(), QString("0.4 kWh"));
    QCOMPARE(rig.Find("LabelEq_imp")->text(), QString("0.5 kvarh"));
    QCOMPARE(rig.Find("LabelEq_exp")->text(), QString("429496729.5 kvarh"));
    // 4 registers again: the import and export labels keep what they show.
    rig.Link.ModbusF03Response(TLinkTestAccess::Master(rig.Link), 1, 0x1180,
                               std::vector<std::uint16_t>{9, 0, 9, 0});
    QCOMPARE(rig.Find("LabelEp_total")->text(), QString("0.9 kWh"));
    QCOMPARE(rig.Find("LabelEp_imp")->text(), QString("0.3 kWh"));
}

void TestRTMetering::linkSetsStates() {
    TRig rig;
    const TValueColours colours = ValueColoursOf(&rig.Page);
    const QColor Red = ToQColor(colours.On);
    const QColor Green = ToQColor(colours.Off);
    const bool relays[] = {true, false};
    rig.Link.ModbusF01Response(TLinkTestAccess::Master(rig.Link), 1, 0, relays);
    QCOMPARE(rig.Find("LabelRO1")->text(), QString("ON"));
    QCOMPARE(TextColour(rig.Find("LabelRO1")), Red);
    QCOMPARE(rig.Find("LabelRO2")->text(), QString("OFF"));
    QCOMPARE(TextColour(rig.Find("LabelRO2")), Green);
    const bool inputs[] = {false, true, true, false, false, true};
    rig.Link.ModbusF02Response(TLinkTestAccess::Master(rig.Link), 1, 0, inputs);
    for (int i = 0; i < 6; ++i) {
        QLabel* l = rig.Find(QString("LabelDI%1").arg(i + 1));
        QCOMPARE(l->text(), QString(inputs[i] ? "ON" : "OFF"));
        QCOMPARE(TextColour(l), inputs[i] ? Red : Green);
    }
    // A relay switched back: text and colour follow.
    const bool relaysLater[] = {false, true};
    rig.Link.ModbusF01Response(TLinkTestAccess::Master(rig.Link), 1, 0, relaysLater);
    QCOMPARE(rig.Find("LabelRO1")->text(), QString("OFF"));
    QCOMPARE(TextColour(rig.Find("LabelRO1")), Green);
    QCOMPARE(TextColour(rig.Find("LabelRO2")), Red);
}

void TestRTMetering::failedReadsShowStale_data() {
    QTest::addColumn<QString>("script");
    // Per block (measurement, energy, relays, inputs): "L" live, "S" stale.
    QTest::addColumn<QString>("shown");
    QTest::newRow("all answered") << "a a a a"
                                  << "LLLL";
    QTest::newRow("measurement lost") << "a a a a x"
                                      << "SLLL";
    QTest::newRow("energy and inputs lost") << "a a a a a x a x"
                                            << "LSLS";
    QTest::newRow("relays lost") << "a a a a a a x"
                                 << "LLSL";
    QTest::newRow("lost, then read again") << "a a a a x x x x a a a a"
                                           << "LLLL";
    QTest::newRow("lost, the next block read") << "a a a a x x a"
                                               << "SSLL";
    QTest::newRow("another meter") << "a a a a m"
                                   << "SSSS";
    QTest::newRow("cycle stopped") << "a a a a f"
                                   << "SSSS";
}

void TestRTMetering::failedReadsShowStale() {
    QFETCH(QString, script);
    QFETCH(QString, shown);
    TRig rig;
    rig.Run(script);
    const TValueColours colours = ValueColoursOf(&rig.Page);
    const QStringList labels = {"LabelVa", "LabelEp_total", "LabelRO1", "LabelDI1"};
    // Relay 1 is read ON, input 1 OFF.
    const QColor live[] = {ToQColor(colours.Value), ToQColor(colours.Value), ToQColor(colours.On),
                           ToQColor(colours.Off)};
    for (int i = 0; i < labels.size(); ++i) {
        const QColor expected = shown[i] == u'L' ? live[i] : ToQColor(colours.Stale);
        QVERIFY2(
            TextColour(rig.Find(labels[i])) == expected,
            qPrintable(labels[i] + QStringLiteral(": ") + TextColour(rig.Find(labels[i])).name()));
    }
    // Stale is not a live colour, so an old reading never looks current.
    for (const QColor& c : live)
        QVERIFY(c != ToQColor(colours.Stale));
}

void TestRTMetering::coloursReadOnEveryPalette_data() {
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("label");
    const QStringList windows = {"#ffffff", "#f0f0f0", "#efefef", "#353535", "#31363b", "#242424"};
    struct TState {
        const char* Name;
        const char* Script;
        const char* Label;
    };
    // Relay 1 is read ON, relay 2 OFF.
    const TState states[] = {
        {"value", "a", "LabelF"},           {"value stale", "a f", "LabelF"},
        {"energy", "a a", "LabelEp_total"}, {"ON", "a a a", "LabelRO1"},
        {"OFF", "a a a", "LabelRO2"},       {"OFF stale", "a a a x f", "LabelRO2"},
    };
    for (const QString& w : windows)
        for (const TState& st : states)
            QTest::addRow("%s %s", qPrintable(w), st.Name) << w << st.Script << st.Label;
}

void TestRTMetering::coloursReadOnEveryPalette() {
    QFETCH(QString, window);
    QFETCH(QString, script);
    QFETCH(QString, label);
    TRig rig;
    rig.Run(script);
    // The desktop's palette changes after the values came: the labels follow it.
    rig.Page.setPalette(DesktopPalette(window));
    const QLabel* l = rig.Find(label);
    QVERIFY(!l->text().isEmpty());
    const double ratio =
        ContrastRatio(Rgb(TextColour(l)), Rgb(l->palette().color(QPalette::Window)));
    QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("%1 on %2: %3")
                                          .arg(TextColour(l).name(), window)
                                          .arg(ratio, 0, 'f', 2)));
}

void TestRTMetering::extendedEnergyFollowsTheMeter_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("later");
    QTest::addColumn<bool>("hidden");
    // A newer meter shows again what an older one hid.
    QTest::newRow("3.05 then 4.00") << "3.05"
                                    << "4.00" << false;
    QTest::newRow("3.85 then 3.20") << "3.85"
                                    << "3.20" << false;
    QTest::newRow("4.00 then 3.05") << "4.00"
                                    << "3.05" << true;
    QTest::newRow("3.20 then 4.00") << "3.20"
                                    << "4.00" << false;
    QTest::newRow("4.00 then 3.79") << "4.00"
                                    << "3.79" << false;
}

void TestRTMetering::extendedEnergyFollowsTheMeter() {
    QFETCH(QString, first);
    QFETCH(QString, later);
    QFETCH(bool, hidden);
    TRig rig;
    rig.Page.show();
    rig.ReadIdentity(first);
    QCOMPARE(rig.Link.SoftwareVersion(), first);
    rig.ReadIdentity(later);
    QCOMPARE(rig.Link.SoftwareVersion(), later);
    for (const char* name : {"Label3", "Label4", "Label9", "Label10", "LabelEp_imp", "LabelEp_exp",
                             "LabelEq_imp", "LabelEq_exp"})
        QVERIFY2(rig.Find(name)->isHidden() == hidden, name);
    for (const char* name : {"Label645", "Label679", "LabelEp_total", "LabelEq_total"})
        QVERIFY2(rig.Find(name)->isVisible(), name);
}

void TestRTMetering::relayCommand_data() {
    QTest::addColumn<int>("relay");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QStringList>("queued");
    const auto yes = int(IDialogs::ResultYes);
    const auto no = int(IDialogs::ResultNo);
    const QString read = "00,01,00,00,00,02";
    QTest::newRow("relay 1 ON, Yes")
        << 1 << "ON" << yes << cstMain::ConfirmRelay1Off << QStringList{"00,05,00,00,00,00", read};
    QTest::newRow("relay 1 OFF, Yes")
        << 1 << "OFF" << yes << cstMain::ConfirmRelay1On << QStringList{"00,05,00,00,FF,00", read};
    QTest::newRow("relay 1 empty, Yes")
        << 1 << "" << yes << cstMain::ConfirmRelay1On << QStringList{"00,05,00,00,FF,00", read};
    QTest::newRow("relay 2 ON, Yes")
        << 2 << "ON" << yes << cstMain::ConfirmRelay2Off << QStringList{"00,05,00,01,00,00", read};
    QTest::newRow("relay 2 OFF, Yes")
        << 2 << "OFF" << yes << cstMain::ConfirmRelay2On << QStringList{"00,05,00,01,FF,00", read};
    QTest::newRow("relay 2 empty, Yes")
        << 2 << "" << yes << cstMain::ConfirmRelay2On << QStringList{"00,05,00,01,FF,00", read};
    // Only exactly "ON" counts as on.
    QTest::newRow("relay 1 'on', Yes")
        << 1 << "on" << yes << cstMain::ConfirmRelay1On << QStringList{"00,05,00,00,FF,00", read};
    QTest::newRow("relay 2 'ON ', Yes")
        << 2 << "ON " << yes << cstMain::ConfirmRelay2On << QStringList{"00,05,00,01,FF,00", read};
    QTest::newRow("relay 1 ON, No")
        << 1 << "ON" << no << cstMain::ConfirmRelay1Off << QStringList{};
    QTest::newRow("relay 1 OFF, No")
        << 1 << "OFF" << no << cstMain::ConfirmRelay1On << QStringList{};
    QTest::newRow("relay 2 ON, No")
        << 2 << "ON" << no << cstMain::ConfirmRelay2Off << QStringList{};
    QTest::newRow("relay 2 empty, No")
        << 2 << "" << no << cstMain::ConfirmRelay2On << QStringList{};
}

void TestRTMetering::relayCommand() {
    QFETCH(int, relay);
    QFETCH(QString, shown);
    QFETCH(int, answer);
    QFETCH(QString, question);
    QFETCH(QStringList, queued);
    TRig rig;
    const QString labelName = relay == 1 ? "LabelRO1" : "LabelRO2";
    if (shown == "ON" || shown == "OFF")
        rig.Page.SetRelayState(relay - 1, shown == "ON");
    else
        rig.Find(labelName)->setText(shown);
    QCOMPARE(rig.Find(labelName)->text(), shown);
    rig.Dialogs.Answers.push_back(IDialogs::TResult(answer));
    auto* button = rig.Find<QAbstractButton>(relay == 1 ? "SpeedRO1" : "SpeedRO2");
    if (relay == 1)
        rig.Page.SpeedRO1Click(button);
    else
        rig.Page.SpeedRO2Click(button);
    QCOMPARE(rig.Dialogs.Boxes.size(), std::size_t(1));
    const auto& box = rig.Dialogs.Boxes[0];
    QCOMPARE(box.Caption, QString("Confirm"));
    QCOMPARE(box.Text, question);
    QCOMPARE(box.Icon, IDialogs::NoIcon);
    QCOMPARE(box.Buttons, IDialogs::YesNo);
    QCOMPARE(rig.Queue(), queued);
}

void TestRTMetering::energyPreset_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("entered");
    QTest::addColumn<QString>("offered");
    QTest::addColumn<QStringList>("queued");
    QTest::addColumn<QString>("error");
    const QString shortRead = "00,03,11,80,00,04";
    const QString longRead = "00,03,11,80,00,0C";
    QTest::newRow("80.0 kvarh on Eq_total, 0")
        << "LabelEq_total"
        << "80.0 kvarh"
        << "" << true << "0"
        << "80.0" << QStringList{"00,10,11,82,00,02,04,00,00,00,00", shortRead} << "";
    QTest::newRow("12345.6 on Ep_imp")
        << "LabelEp_imp"
        << "1.0 kWh"
        << "3.20" << true << "12345.6"
        << "1.0" << QStringList{"00,10,11,84,00,02,04,E2,40,00,01", longRead} << "";
    QTest::newRow("12 kWh is 120 tenths")
        << "LabelEp_total"
        << "1234.5 kWh"
        << "" << true << "12 kWh"
        << "1234.5" << QStringList{"00,10,11,80,00,02,04,00,78,00,00", shortRead} << "";
    QTest::newRow("0.25 to even: 2")
        << "LabelEp_total"
        << ""
        << "" << true << "0.25"
        << "" << QStringList{"00,10,11,80,00,02,04,00,02,00,00", shortRead} << "";
    QTest::newRow("0.75 to even: 8")
        << "LabelEp_total"
        << ""
        << "" << true << "0.75"
        << "" << QStringList{"00,10,11,80,00,02,04,00,08,00,00", shortRead} << "";
    QTest::newRow("label without unit offered whole")
        << "LabelEq_total"
        << "17"
        << "" << true << "1"
        << "17" << QStringList{"00,10,11,82,00,02,04,00,0A,00,00", shortRead} << "";
    QTest::newRow("largest count")
        << "LabelEp_total"
        << ""
        << "4.00" << true << "429496729.5"
        << "" << QStringList{"00,10,11,80,00,02,04,FF,FF,FF,FF", longRead} << "";
    // The read after a preset follows the meter's layout.
    for (const char* v : {"3.05", "3.85", ""})
        QTest::addRow("read after preset, version '%s'", v)
            << "LabelEp_total"
            << "" << v << true << "1"
            << "" << QStringList{"00,10,11,80,00,02,04,00,0A,00,00", shortRead} << "";
    for (const char* v : {"3.10", "3.79", "4.00"})
        QTest::addRow("read after preset, version %s", v)
            << "LabelEp_total"
            << "" << v << true << "1"
            << "" << QStringList{"00,10,11,80,00,02,04,00,0A,00,00", longRead} << "";
    QTest::newRow("Cancel") << "LabelEq_total"
                            << "80.0 kvarh"
                            << "3.20" << false << "5"
                            << "80.0" << QStringList{} << "";
    QTest::newRow("Cancel with nonsense typed") << "LabelEp_total"
                                                << ""
                                                << "" << false << "abc"
                                                << "" << QStringList{} << "";
    QTest::newRow("empty entry") << "LabelEp_total"
                                 << ""
                                 << "" << true << ""
                                 << "" << QStringList{} << "'' is not a valid floating point value";
    QTest::newRow("unit alone") << "LabelEp_total"
                                << ""
                                << "" << true << "kWh"
                                << "" << QStringList{} << "'' is not a valid floating point value";
    QTest::newRow("not a number") << "LabelEp_total"
                                  << ""
                                  << "" << true << "1x2"
                                  << "" << QStringList{}
                                  << "'1x2' is not a valid floating point value";
    // A counter holds 0 to 4294967295 tenths; anything else is refused, not truncated.
    QTest::newRow("negative") << "LabelEp_total"
                              << ""
                              << "" << true << "-0.1"
                              << "" << QStringList{} << "'-0.1' is out of range";
    QTest::newRow("negative whole") << "LabelEq_exp"
                                    << ""
                                    << "3.20" << true << "-5"
                                    << "" << QStringList{} << "'-5' is out of range";
    QTest::newRow("one tenth too many") << "LabelEp_total"
                                        << ""
                                        << "" << true << "429496729.6"
                                        << "" << QStringList{} << "'429496729.6' is out of range";
    QTest::newRow("far too large") << "LabelEp_imp"
                                   << ""
                                   << "3.20" << true << "10000000000"
                                   << "" << QStringList{} << "'10000000000' is out of range";
}

void TestRTMetering::energyPreset() {
    QFETCH(QString, label);
    QFETCH(QString, shown);
    QFETCH(QString, version);
    QFETCH(bool, ok);
    QFETCH(QString, entered);
    QFETCH(QString, offered);
    QFETCH(QStringList, queued);
    QFETCH(QString, error);
    TRig rig;
    TLinkTestAccess::ReadVersion(rig.Link, version);
    auto* l = rig.Find<TCommandLabel>(label);
    QVERIFY(l);
    l->setText(shown);
    rig.Dialogs.InputAnswers.push_back({ok, entered});
    rig.Page.LabelEp_totalClick(l);
    QCOMPARE(rig.Dialogs.Inputs.size(), std::size_t(1));
    QCOMPARE(rig.Dialogs.Inputs[0].Caption, QString("Initializing energy (Are you sure?)"));
    QCOMPARE(rig.Dialogs.Inputs[0].Prompt, QString("Please input new value: (kWh/kvarh)"));
    QCOMPARE(rig.Dialogs.Inputs[0].Initial, offered);
    QCOMPARE(rig.Queue(), queued);
    if (error.isEmpty()) {
        QCOMPARE(rig.Dialogs.Boxes.size(), std::size_t(0));
    } else {
        QCOMPARE(rig.Dialogs.Boxes.size(), std::size_t(1));
        QCOMPARE(rig.Dialogs.Boxes[0].Caption, QString("Error"));
        QCOMPARE(rig.Dialogs.Boxes[0].Text, error);
        QCOMPARE(rig.Dialogs.Boxes[0].Icon, IDialogs::Critical);
        QCOMPARE(rig.Dialogs.Boxes[0].Buttons, IDialogs::Ok);
    }
}

void TestRTMetering::eachEnergyLabelPresetsItsCounter_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("write");
    QTest::newRow("Ep_total") << "LabelEp_total"
                              << "00,10,11,80,00,02,04,00,0A,00,00";
    QTest::newRow("Eq_total") << "LabelEq_total"
                              << "00,10,11,82,00,02,04,00,0A,00,00";
    QTest::newRow("Ep_imp") << "LabelEp_imp"
                            << "00,10,11,84,00,02,04,00,0A,00,00";
    QTest::newRow("Ep_exp") << "LabelEp_exp"
                            << "00,10,11,86,00,02,04,00,0A,00,00";
    QTest::newRow("Eq_imp") << "LabelEq_imp"
                            << "00,10,11,88,00,02,04,00,0A,00,00";
    QTest::newRow("Eq_exp") << "LabelEq_exp"
                            << "00,10,11,8A,00,02,04,00,0A,00,00";
}

void TestRTMetering::eachEnergyLabelPresetsItsCounter() {
    QFETCH(QString, label);
    QFETCH(QString, write);
    TRig rig;
    TLinkTestAccess::ReadVersion(rig.Link, "3.20");
    rig.Page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.Page));
    rig.Link.ModbusF03Response(
        TLinkTestAccess::Master(rig.Link), 1, 0x1180,
        std::vector<std::uint16_t>{10, 0, 20, 0, 30, 0, 40, 0, 50, 0, 60, 0});
    auto* l = rig.Find<TCommandLabel>(label);
    rig.Dialogs.InputAnswers.push_back({true, "1"});
    // A click on the label's text, as the operator makes it.
    QTest::mouseClick(l, Qt::LeftButton, {}, l->rect().center());
    QCOMPARE(rig.Dialogs.Inputs.size(), std::size_t(1));
    QCOMPARE(rig.Dialogs.Inputs[0].Initial + (label.startsWith("LabelEq") ? " kvarh" : " kWh"),
             l->text());
    QCOMPARE(rig.Queue(), (QStringList{write, "00,03,11,80,00,0C"}));
}

void TestRTMetering::energyReset_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("queued");
    const auto yes = int(IDialogs::ResultYes);
    const QStringList basic{"00,10,11,80,00,04,08,00,00,00,00,00,00,00,00", "00,03,11,80,00,04"};
    const QStringList extended{"00,10,11,0D,00,01,02,00,0A", "00,03,11,80,00,0C"};
    for (const char* v : {"3.05", "3.85", ""})
        QTest::addRow("version '%s'", v) << v << yes << basic;
    for (const char* v : {"3.10", "3.79", "4.00"})
        QTest::addRow("version %s", v) << v << yes << extended;
    QTest::newRow("No, basic") << "3.05" << int(IDialogs::ResultNo) << QStringList{};
    QTest::newRow("No, extended") << "3.20" << int(IDialogs::ResultNo) << QStringList{};
}

void TestRTMetering::energyReset() {
    QFETCH(QString, version);
    QFETCH(int, answer);
    QFETCH(QStringList, queued);
    TRig rig;
    TLinkTestAccess::ReadVersion(rig.Link, version);
    rig.Dialogs.Answers.push_back(IDialogs::TResult(answer));
    rig.Page.ButtonClearEnergyClick(rig.Find<QAbstractButton>("ButtonClearEnergy"));
    QCOMPARE(rig.Dialogs.Boxes.size(), std::size_t(1));
    QCOMPARE(rig.Dialogs.Boxes[0].Caption, QString("Confirm"));
    QCOMPARE(rig.Dialogs.Boxes[0].Text, QString("Are you sure you want to reset energy?"));
    QCOMPARE(rig.Dialogs.Boxes[0].Buttons, IDialogs::YesNo);
    QCOMPARE(rig.Queue(), queued);
}

void TestRTMetering::disabledCommandsStartNothing() {
    TRig rig;
    TLinkTestAccess::ReadVersion(rig.Link, "3.20");
    rig.Page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.Page));
    rig.Link.ModbusF03Response(
        TLinkTestAccess::Master(rig.Link), 1, 0x1180,
        std::vector<std::uint16_t>{10, 0, 20, 0, 30, 0, 40, 0, 50, 0, 60, 0});
    rig.Dialogs.DefaultYesNo = IDialogs::ResultYes;
    const QStringList commands = {"SpeedRO1",      "SpeedRO2",      "ButtonClearEnergy",
                                  "LabelEp_total", "LabelEq_total", "LabelEp_imp",
                                  "LabelEp_exp",   "LabelEq_imp",   "LabelEq_exp"};
    const auto clickAll = [&] {
        for (const QString& name : commands) {
            QWidget* w = rig.Page.findChild<QWidget*>(name);
            QVERIFY2(w, qPrintable(name));
            rig.Dialogs.InputAnswers.push_back({true, "1"});
            QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
        }
    };

    rig.Link.SetState(TConnectionState::Offline);
    rig.Link.UpdateCommandStates();
    for (const QString& name : commands)
        QVERIFY2(!rig.Page.findChild<QWidget*>(name)->isEnabled(), qPrintable(name));
    clickAll();
    QCOMPARE(rig.Dialogs.Boxes.size(), std::size_t(0));
    QCOMPARE(rig.Dialogs.Inputs.size(), std::size_t(0));
    QVERIFY(rig.Link.PendingTexts().empty());

    // A disconnect requested disables them as well.
    rig.Link.SetState(TConnectionState::Online);
    rig.Link.RequestDisconnect();
    rig.Link.UpdateCommandStates();
    clickAll();
    QCOMPARE(rig.Dialogs.Boxes.size(), std::size_t(0));
    QVERIFY(rig.Link.PendingTexts().empty());

    // Online again, the same clicks reach every command.
    rig.Link.SetState(TConnectionState::Online);
    rig.Link.UpdateCommandStates();
    rig.Dialogs.InputAnswers.clear();
    clickAll();
    QCOMPARE(rig.Dialogs.Boxes.size(), std::size_t(3));
    QCOMPARE(rig.Dialogs.Inputs.size(), std::size_t(6));
    QCOMPARE(rig.Link.PendingTexts().size(), std::size_t(2 * 9));
}

void TestRTMetering::relayReadGoesOutWithTheDeviceAddress() {
    TRig rig;
    rig.Link.SetDeviceAddress(10);
    rig.Page.SetRelayState(0, true);
    rig.Dialogs.Answers.push_back(IDialogs::ResultYes);
    rig.Page.SpeedRO1Click(rig.Find<QAbstractButton>("SpeedRO1"));
    std::string sent;
    rig.Link.ModbusQueryData(TLinkTestAccess::Master(rig.Link), sent);
    QCOMPARE(QString::fromStdString(sent), QString("0A,05,00,00,00,00"));
    sent.clear();
    rig.Link.ModbusQueryData(TLinkTestAccess::Master(rig.Link), sent);
    QCOMPARE(QString::fromStdString(sent), QString("0A,01,00,00,00,02"));
}

QTEST_MAIN(TestRTMetering)
#include "tst_rtmetering.moc"
