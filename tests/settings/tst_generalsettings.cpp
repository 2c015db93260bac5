// The General Settings page on the real link: its controls, the display rules, the version
// adaptation, the write sequence and the settings file, with the dialogs answered by script.
#include "PageRig.h"
#include "meter/cstMain.h"
#include "support/LinkTestAccess.h"
#include "support/MeterRecords.h"
#include "widgets/RadioGroup.h"
#include "widgets/UpDown.h"

#include <QDir>
#include <QFile>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionGroupBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

namespace {

using TBoxes = std::vector<TScriptedDialogs::TBox>;

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

const TSettingsField& Field(const QString& name) {
    for (const TSettingsField& f : MeterSettingsFields())
        if (name == QLatin1String(f.Name))
            return f;
    throw std::runtime_error("no field " + name.toStdString());
}

// The writes of ExampleSettings(), register by register.
const std::string W1100 = "00,10,11,00,00,0D,1A,00,00,00,01,25,80,00,03,00,00,01,90,00,00,01,90,"
                          "00,05,00,05,00,00,00,00,00,00";
const std::string W1200Single =
    "00,10,12,00,00,08,10,00,02,00,00,03,20,00,01,08,FC,00,05,00,01,00,02";
const std::string W1200Relay1 =
    "00,10,12,00,00,08,10,00,02,00,00,03,20,00,00,00,00,00,07,00,00,00,01";
const std::string W1300 = "00,10,13,00,00,0C,18,00,00,00,01,00,64,00,00,00,00,00,01,00,06,00,00,"
                          "00,78,00,14,00,01,00,00";
const std::string W1208 = "00,10,12,08,00,02,04,00,01,00,02";
const std::string W120A = "00,10,12,0A,00,05,0A,00,0D,EC,78,00,0A,00,00,00,01";

} // namespace

Q_DECLARE_METATYPE(std::vector<std::string>)

class TestGeneralSettings : public QObject {
    Q_OBJECT

private slots:
    void page();
    void bounds_data();
    void bounds();
    void captionsDoNotOverlap();
    void listEntriesFit();
    void relayAlarmGroupInFront();
    void lists_data();
    void lists();
    void radioGroups_data();
    void radioGroups();
    void toolTips_data();
    void toolTips();
    void initialState();
    void anyTextCanBeTyped();
    void upDown_data();
    void upDown();
    void updateEnabledOnlyOnline();

    void recordRoundTrip();
    void displayRules_data();
    void displayRules();
    void baudRateByText_data();
    void baudRateByText();
    void removingChosenEntryLeavesNone();
    void adaptation_data();
    void adaptation();
    void readParityAndWiringOutOfRange();
    void readAlarmOutputSetsBothFieldSets();

    void answeringNoChangesNothing();
    void refusedAddress_data();
    void refusedAddress();
    void noBaudRateChosen();
    void sequence_data();
    void sequence();
    void conversionFailureAppendsNothing_data();
    void conversionFailureAppendsNothing();
    void pendingLineSettings_data();
    void pendingLineSettings();
    void noParityChosen();
    void versionNotKnown();
    void identityOfAnotherMeterForgotten_data();
    void identityOfAnotherMeterForgotten();
    void versionChangedWhileAsking();
    void visibleFieldsWrittenAfterAnotherMeter();
    void readsWhileAskingKeepTypedValues_data();
    void readsWhileAskingKeepTypedValues();
    void readOfSameValueLeavesEditAlone();

    void loadFile_data();
    void loadFile();
    void loadBaudRateAfterShortening();
    void loadOnlyPassword();
    void saveThenLoad();
    void untouchedPageSaves();
    void saveKeepsOtherSections();
    void failedSaveKeepsOldFile();
    void failedLoadChangesNothing();
    void cancelledDialogsDoNothing();
};

void TestGeneralSettings::page() {
    TPageRig rig;
    QCOMPARE(rig.Page.windowTitle(), QString("General Settings"));
    QCOMPARE(rig.Page.size(), QSize(580, 625));
    QVERIFY(rig.Page.windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(rig.Page.font().pixelSize(), 11);
    auto* panel = rig.Get<QFrame>("Panel165");
    QCOMPARE(panel->frameShape(), QFrame::Panel);
    QCOMPARE(panel->frameShadow(), QFrame::Sunken);
    // Every label shows its text as it stands.
    const auto labels = rig.Page.findChildren<QLabel*>();
    QVERIFY(labels.size() >= 40);
    for (QLabel* label : labels)
        QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));
}

void TestGeneralSettings::bounds_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<QString>("text");
    QTest::newRow("panel") << "Panel165"
                           << "FormGeneralSettings" << QRect(8, 8, 565, 561) << "";
    QTest::newRow("security") << "GroupBox3"
                              << "Panel165" << QRect(16, 8, 137, 49) << "Security";
    QTest::newRow("communication") << "GroupBox1"
                                   << "Panel165" << QRect(160, 8, 361, 105) << "Communication";
    QTest::newRow("wiring") << "GroupBox2"
                            << "Panel165" << QRect(16, 64, 137, 49) << "Wiring";
    QTest::newRow("output types") << "GroupBox10"
                                  << "Panel165" << QRect(16, 120, 137, 185) << "";
    QTest::newRow("ratios") << "GroupBox4"
                            << "Panel165" << QRect(160, 120, 241, 73) << "PT and CT Ratios";
    QTest::newRow("load convention")
        << "RadioGroupLoadConvention"
        << "Panel165" << QRect(408, 120, 113, 73) << "Load Type Convention";
    QTest::newRow("var method") << "RadioGroupQMode"
                                << "Panel165" << QRect(160, 200, 361, 49)
                                << "VAR Calculation Method";
    QTest::newRow("pulse const") << "GroupBox6"
                                 << "Panel165" << QRect(160, 256, 145, 49)
                                 << "DO Energy Pulse Const";
    QTest::newRow("other") << "GroupBox7"
                           << "Panel165" << QRect(312, 256, 209, 49) << "Other";
    QTest::newRow("AO1") << "GroupBox8"
                         << "Panel165" << QRect(16, 312, 249, 121) << "AO1";
    QTest::newRow("AO2") << "GroupBox9"
                         << "Panel165" << QRect(272, 312, 249, 121) << "AO2";
    QTest::newRow("alarm") << "GroupBox5"
                           << "Panel165" << QRect(16, 440, 505, 89) << "Alarm Limit";
    QTest::newRow("relay alarms") << "GroupBox11"
                                  << "Panel165" << QRect(16, 440, 505, 109) << "Alarm Limit";
    QTest::newRow("parity") << "RadioGroupParity"
                            << "GroupBox1" << QRect() << "Parity";
    QTest::newRow("save") << "ButtonSave"
                          << "FormGeneralSettings" << QRect(280, 588, 49, 23) << "Save";
    QTest::newRow("load") << "ButtonLoad"
                          << "FormGeneralSettings" << QRect(344, 588, 49, 23) << "Load";
    QTest::newRow("update") << "ButtonUpdate"
                            << "FormGeneralSettings" << QRect(448, 588, 83, 23) << "Update Device";
}

void TestGeneralSettings::bounds() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, rect);
    QFETCH(QString, text);
    TPageRig rig;
    auto* w = rig.Get<QWidget>(name);
    QCOMPARE(w->parentWidget()->objectName(), parent);
    if (!rect.isNull())
        QCOMPARE(w->geometry(), rect);
    if (auto* group = qobject_cast<QGroupBox*>(w))
        QCOMPARE(group->title(), text);
    if (auto* button = qobject_cast<QPushButton*>(w))
        QCOMPARE(button->text(), text);
}

void TestGeneralSettings::captionsDoNotOverlap() {
    TPageRig rig;
    rig.Page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.Page));
    // Within every group, captions (as wide as their text) and controls lie inside the group
    // and clear of each other.
    const auto groups = rig.Page.findChildren<QGroupBox*>();
    QVERIFY(groups.size() >= 14);
    for (QGroupBox* group : groups) {
        QList<QWidget*> parts;
        for (QObject* child : group->children())
            if (auto* w = qobject_cast<QWidget*>(child); w && !w->isHidden())
                parts.push_back(w);
        const QRect inside = group->rect().adjusted(2, 0, -2, -2);
        // The caption where the style puts it: inside the group and wide enough for its text.
        QStyleOptionGroupBox option;
        option.initFrom(group);
        option.text = group->title();
        option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        const QRect title = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                           QStyle::SC_GroupBoxLabel, group);
        QVERIFY2(group->rect().contains(title), qPrintable(group->objectName()));
        QVERIFY2(title.width() >= group->fontMetrics().horizontalAdvance(group->title()),
                 qPrintable(group->objectName()));
        for (int i = 0; i < parts.size(); ++i) {
            QRect a = parts[i]->geometry();
            if (auto* label = qobject_cast<QLabel*>(parts[i]))
                a.setWidth(label->fontMetrics().horizontalAdvance(label->text()));
            if (auto* radio = qobject_cast<QRadioButton*>(parts[i]))
                QVERIFY2(radio->sizeHint().width() <= a.width(), qPrintable(radio->text()));
            QVERIFY2(inside.contains(a),
                     qPrintable(group->objectName() + "/" + parts[i]->objectName()));
            for (int j = i + 1; j < parts.size(); ++j) {
                QRect b = parts[j]->geometry();
                if (auto* label = qobject_cast<QLabel*>(parts[j]))
                    b.setWidth(label->fontMetrics().horizontalAdvance(label->text()));
                QVERIFY2(!a.intersects(b),
                         qPrintable(parts[i]->objectName() + " and " + parts[j]->objectName()));
            }
        }
    }
}

void TestGeneralSettings::listEntriesFit() {
    TPageRig rig;
    rig.Page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.Page));
    // Every entry of every list shows whole in the list's own field.
    for (QComboBox* combo : rig.Page.findChildren<QComboBox*>()) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        option.editable = false;
        const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                           QStyle::SC_ComboBoxEditField, combo);
        for (int i = 0; i < combo->count(); ++i)
            QVERIFY2(combo->fontMetrics().horizontalAdvance(combo->itemText(i)) <= field.width(),
                     qPrintable(combo->objectName() + ": " + combo->itemText(i)));
    }
}

void TestGeneralSettings::relayAlarmGroupInFront() {
    TPageRig rig;
    rig.Page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&rig.Page));
    auto* panel = rig.Get<QFrame>("Panel165");
    auto* single = rig.Group("GroupBox5");
    auto* relay = rig.Group("GroupBox11");
    // A point of the shared place, off every control.
    const QPoint point(16 + 300, 440 + 6);
    QVERIFY(relay->isAncestorOf(panel->childAt(point)) || panel->childAt(point) == relay);
    rig.ReadIdentity("3.05");
    QVERIFY(single->isAncestorOf(panel->childAt(point)) || panel->childAt(point) == single);
}

void TestGeneralSettings::lists_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("items");
    const QStringList channels = {"None",
                                  "Volts AN (V)",
                                  "Volts BN (V)",
                                  "Volts CN (V)",
                                  "Volts AB (V)",
                                  "Volts BC (V)",
                                  "Volts CA (V)",
                                  "I A (A)",
                                  "I B (A)",
                                  "I C (A)",
                                  "Volts LN Average (V)",
                                  "Volts LL Average (V)",
                                  "I Average (A)",
                                  "Watt Total (kW)",
                                  "VAR Total (kvar)",
                                  "VA Total (kVA)",
                                  "Frequency (Hz)",
                                  "Pwr Factor Total",
                                  "I N (A)"};
    const QStringList aoChannels = {
        "Volts AN",   "Volts BN",  "Volts CN", "Volts AB",         "Volts BC",         "Volts CA",
        "I A",        "I B",       "I C",      "Volts LN Average", "Volts LL Average", "I Average",
        "Watt Total", "VAR Total", "VA Total", "Frequency",        "Pwr Factor Total"};
    QTest::newRow("baud") << "ComboDevBaud"
                          << QStringList{"1200", "2400", "4800", "9600", "19200", "38400", "57600"};
    QTest::newRow("wiring") << "ComboVWire" << QStringList{"3LN", "3LL", "2LL", "1LL", "1LN"};
    QTest::newRow("RO type") << "ComboROType" << QStringList{"Latch", "Momentary", "Alarm"};
    QTest::newRow("DO type") << "ComboDOType" << QStringList{"Energy Pulse", "Alarm"};
    QTest::newRow("DO1") << "ComboDO1Output" << QStringList{"Ep_total", "Ep_imp", "Ep_exp"};
    QTest::newRow("DO2") << "ComboDO2Output" << QStringList{"Eq_total", "Eq_imp", "Eq_exp"};
    for (const char* prefix : {"Combo", "ComboRO1", "ComboRO2"}) {
        const QString p = prefix;
        QTest::addRow("%s channel", prefix) << p + "AlarmVar" << channels;
        QTest::addRow("%s operator", prefix) << p + "AlarmOperator" << QStringList{"  <", "  >"};
    }
    QTest::newRow("alarm output") << "ComboAlarmOutput" << QStringList{"RO1", "RO2", "RO1 & RO2"};
    QTest::newRow("RO1 output") << "ComboRO1AlarmOutput" << QStringList{"Latch", "Momentary"};
    QTest::newRow("RO2 output") << "ComboRO2AlarmOutput" << QStringList{"Latch", "Momentary"};
    for (const char* ao : {"AO1", "AO2"}) {
        const QString a = ao;
        QTest::addRow("%s mode", ao)
            << "Combo" + a + "Mode" << QStringList{"0~5V/0~20mA", "1~5V/4~20mA"};
        QTest::addRow("%s channel", ao) << "Combo" + a + "Channel" << aoChannels;
        QTest::addRow("%s high sign", ao) << "Combo" + a + "HLOpt" << QStringList{" +", " -"};
        QTest::addRow("%s low sign", ao) << "Combo" + a + "LLOpt" << QStringList{" +", " -"};
    }
}

void TestGeneralSettings::lists() {
    QFETCH(QString, name);
    QFETCH(QStringList, items);
    TPageRig rig;
    QComboBox* combo = rig.Combo(name);
    QStringList shown;
    for (int i = 0; i < combo->count(); ++i)
        shown << combo->itemText(i);
    QCOMPARE(shown, items);
    QVERIFY(!combo->isEditable());
    QCOMPARE(combo->currentIndex(), -1);
}

void TestGeneralSettings::radioGroups_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("columns");
    QTest::newRow("parity") << "RadioGroupParity" << QStringList{"Even", "Odd", "None 2", "None 1"}
                            << 4;
    QTest::newRow("VAR method") << "RadioGroupQMode"
                                << QStringList{"Method 1 (True)", "Method 2 (Generalized)"} << 2;
    QTest::newRow("load convention")
        << "RadioGroupLoadConvention" << QStringList{"IEC", "IEEE"} << 1;
}

void TestGeneralSettings::radioGroups() {
    QFETCH(QString, name);
    QFETCH(QStringList, items);
    QFETCH(int, columns);
    TPageRig rig;
    const auto buttons = rig.Group(name)->findChildren<QRadioButton*>();
    QStringList texts;
    QSet<int> lefts;
    for (QRadioButton* b : buttons) {
        texts << b->text();
        lefts.insert(b->x());
        QVERIFY(!b->isChecked());
    }
    QCOMPARE(texts, items);
    QCOMPARE(int(lefts.size()), columns);
    QCOMPARE(rig.RadioIndex(name), -1);
}

void TestGeneralSettings::toolTips_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("tip");
    QTest::newRow("password") << "EditPassword"
                              << "Range: 0~9999";
    QTest::newRow("address") << "EditDevAddr"
                             << "Range: 1~247";
    QTest::newRow("PT1") << "EditPT1"
                         << "Range: 50~500000";
    QTest::newRow("PT2") << "EditPT2"
                         << "Range: 50~400";
    QTest::newRow("CT1") << "EditCT1"
                         << "Range: 1~9999";
    QTest::newRow("CT2") << "EditCT2"
                         << "Range: 1 or 5";
    QTest::newRow("pulse const") << "EditDOPulseConst"
                                 << "Range: 800~60000";
    QTest::newRow("backlight") << "EditLightTime"
                               << "Range: 0~120";
    for (const char* prefix : {"", "RO1", "RO2"}) {
        const QString p = prefix;
        QTest::addRow("%s channel", prefix) << "Combo" + p + "AlarmVar"
                                            << "Channel name and unit";
        QTest::addRow("%s setpoint", prefix)
            << "Edit" + p + "AlarmSetpoint"
            << "Please input Setpoint value for the Alarm Channel!";
        QTest::addRow("%s delay", prefix) << "Edit" + p + "AlarmDelay"
                                          << "Range: 0~255";
    }
    for (const char* edit :
         {"EditAO1HighLimit", "EditAO1LowLimit", "EditAO2HighLimit", "EditAO2LowLimit"})
        QTest::newRow(edit) << edit << "Range: 0~120";
    QTest::newRow("save") << "ButtonSave"
                          << "Save the Settings to a file";
    QTest::newRow("load") << "ButtonLoad"
                          << "Load a Settings from a file";
    QTest::newRow("update") << "ButtonUpdate"
                            << "Send the Settings to KT580 Device";
}

void TestGeneralSettings::toolTips() {
    QFETCH(QString, name);
    QFETCH(QString, tip);
    TPageRig rig;
    QCOMPARE(rig.Get<QWidget>(name)->toolTip(), tip);
}

void TestGeneralSettings::initialState() {
    TPageRig rig;
    for (QLineEdit* edit : rig.Page.findChildren<QLineEdit*>()) {
        const QString name = edit->objectName();
        const QString expected = name == "EditDevAddr" ? "1" : name == "EditLightTime" ? "0" : "";
        QCOMPARE(edit->text(), expected);
    }
    QCOMPARE(rig.Page.Settings(), TMeterSettings{});
    QVERIFY(!rig.Group("GroupBox11")->isHidden());
    QVERIFY(!rig.Combo("ComboDO1Output")->isHidden());
}

void TestGeneralSettings::anyTextCanBeTyped() {
    TPageRig rig;
    for (const char* name : {"EditDevAddr", "EditLightTime"}) {
        QLineEdit* edit = rig.Edit(name);
        edit->clear();
        QTest::keyClicks(edit, "abc");
        QCOMPARE(edit->text(), QString("abc"));
        edit->clear();
        QTest::keyClicks(edit, "248");
        QCOMPARE(edit->text(), QString("248"));
    }
}

void TestGeneralSettings::upDown_data() {
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("upDown");
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("steps"); // up when positive
    QTest::addColumn<QString>("result");
    QTest::newRow("address up") << "EditDevAddr"
                                << "UpDownAddr"
                                << "5" << 2 << "7";
    QTest::newRow("address wraps up") << "EditDevAddr"
                                      << "UpDownAddr"
                                      << "247" << 1 << "1";
    QTest::newRow("address wraps down") << "EditDevAddr"
                                        << "UpDownAddr"
                                        << "1" << -1 << "247";
    // Out of range: the nearer end, whichever arrow.
    QTest::newRow("address above range") << "EditDevAddr"
                                         << "UpDownAddr"
                                         << "248" << -1 << "247";
    QTest::newRow("address 300 up") << "EditDevAddr"
                                    << "UpDownAddr"
                                    << "300" << 1 << "247";
    QTest::newRow("address 0") << "EditDevAddr"
                               << "UpDownAddr"
                               << "0" << 1 << "1";
    QTest::newRow("backlight -1 up") << "EditLightTime"
                                     << "UpDown3"
                                     << "-1" << 1 << "0";
    // The write refuses these texts, so the arrows take them for no number either.
    QTest::newRow("address with a blank") << "EditDevAddr"
                                          << "UpDownAddr"
                                          << " 5" << 1 << "2";
    QTest::newRow("address with a plus") << "EditDevAddr"
                                         << "UpDownAddr"
                                         << "+5" << 1 << "2";
    // Not a number: steps from the last position the arrows knew, 1 at first.
    QTest::newRow("address text") << "EditDevAddr"
                                  << "UpDownAddr"
                                  << "abc" << 1 << "2";
    QTest::newRow("backlight up") << "EditLightTime"
                                  << "UpDown3"
                                  << "0" << 3 << "3";
    QTest::newRow("backlight wraps up") << "EditLightTime"
                                        << "UpDown3"
                                        << "120" << 1 << "0";
    QTest::newRow("backlight wraps down") << "EditLightTime"
                                          << "UpDown3"
                                          << "0" << -1 << "120";
}

void TestGeneralSettings::upDown() {
    QFETCH(QString, edit);
    QFETCH(QString, upDown);
    QFETCH(QString, start);
    QFETCH(int, steps);
    QFETCH(QString, result);
    // Once by the arrow buttons, once by the arrow keys in the edit, each on a new page.
    for (const bool byKeys : {false, true}) {
        TPageRig rig;
        rig.Page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.Page));
        QLineEdit* e = rig.Edit(edit);
        auto* arrows = rig.Get<TUpDown>(upDown);
        // Beside its edit, the same height.
        QCOMPARE(arrows->geometry().left(), e->geometry().right() + 1);
        QCOMPARE(arrows->height(), e->height());
        const auto buttons = arrows->findChildren<QToolButton*>();
        QCOMPARE(buttons.size(), 2);
        QCOMPARE(buttons[0]->arrowType(), Qt::UpArrow);
        QCOMPARE(buttons[1]->arrowType(), Qt::DownArrow);
        e->setText(start);
        for (int i = 0; i < std::abs(steps); ++i) {
            if (byKeys)
                QTest::keyClick(e, steps > 0 ? Qt::Key_Up : Qt::Key_Down);
            else
                QTest::mouseClick(buttons[steps > 0 ? 0 : 1], Qt::LeftButton);
        }
        QCOMPARE(e->text(), result);
    }
}

void TestGeneralSettings::updateEnabledOnlyOnline() {
    TPageRig rig;
    auto* update = rig.Get<QPushButton>("ButtonUpdate");
    rig.Link.SetState(TConnectionState::Offline);
    rig.Link.UpdateCommandStates();
    QVERIFY(!update->isEnabled());
    QVERIFY(rig.Get<QPushButton>("ButtonSave")->isEnabled());
    QVERIFY(rig.Get<QPushButton>("ButtonLoad")->isEnabled());
    rig.Link.SetState(TConnectionState::Online);
    rig.Link.UpdateCommandStates();
    QVERIFY(update->isEnabled());
    rig.Link.RequestDisconnect();
    rig.Link.UpdateCommandStates();
    QVERIFY(!update->isEnabled());
}

void TestGeneralSettings::recordRoundTrip() {
    TPageRig rig;
    const TMeterSettings s = DistinctSettings();
    rig.Page.SetSettings(s);
    QCOMPARE(rig.Page.Settings(), s);
    // The controls show it, field by field.
    QCOMPARE(rig.Combo("ComboDevBaud")->currentText(), QString("57600"));
    QCOMPARE(rig.RadioIndex("RadioGroupParity"), 2);
    QCOMPARE(rig.Combo("ComboAlarmVar")->currentText(), QString("I N (A)"));
    QCOMPARE(rig.Combo("ComboRO2AlarmVar")->currentText(), QString("I A (A)"));
    QCOMPARE(rig.Combo("ComboAO2Channel")->currentText(), QString("Pwr Factor Total"));
    QCOMPARE(rig.Edit("EditPT1")->text(), s.PT1);
    QCOMPARE(rig.Edit("EditRO2AlarmDelay")->text(), s.RO2AlarmDelay);
    QCOMPARE(rig.Edit("EditAO2LowLimit")->text(), s.AO2LowLimit);
    QCOMPARE(rig.Edit("EditLightTime")->text(), s.BacklightTime);
}

void TestGeneralSettings::displayRules_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("shown");
    QTest::newRow("parity last") << "Parity" << 3 << 3;
    QTest::newRow("parity above: last button") << "Parity" << 4 << 3;
    QTest::newRow("parity far above") << "Parity" << 9 << 3;
    QTest::newRow("parity none") << "Parity" << -1 << -1;
    QTest::newRow("parity below -1: none") << "Parity" << -7 << -1;
    QTest::newRow("VAR method above") << "QMode" << 2 << 1;
    QTest::newRow("load convention above") << "LoadConvention" << 65535 << 1;
    QTest::newRow("load convention first") << "LoadConvention" << 0 << 0;
    QTest::newRow("wiring last") << "VoltageWiring" << 4 << 4;
    QTest::newRow("wiring above: none") << "VoltageWiring" << 5 << -1;
    QTest::newRow("wiring below: none") << "VoltageWiring" << -3 << -1;
    QTest::newRow("RO type above") << "ROType" << 3 << -1;
    QTest::newRow("alarm channel last") << "AlarmItems" << 18 << 18;
    QTest::newRow("alarm channel above") << "RO1AlarmItems" << 19 << -1;
    QTest::newRow("alarm output of relay 2 above") << "RO2AlarmOutput" << 2 << -1;
    QTest::newRow("AO channel last") << "AO2Object" << 16 << 16;
    QTest::newRow("AO channel above") << "AO1Object" << 17 << -1;
    QTest::newRow("DO2 output") << "DO2Output" << 2 << 2;
}

void TestGeneralSettings::displayRules() {
    QFETCH(QString, field);
    QFETCH(int, value);
    QFETCH(int, shown);
    TPageRig rig;
    rig.Page.SetSettings(DistinctSettings());
    TMeterSettings s = rig.Page.Settings();
    const TSettingsField& f = Field(field);
    s.*f.Choice = value;
    rig.Page.SetSettings(s);
    const TMeterSettings after = rig.Page.Settings();
    QCOMPARE(after.*f.Choice, shown);
    // The other fields are untouched.
    s.*f.Choice = shown;
    QCOMPARE(after, s);
}

void TestGeneralSettings::baudRateByText_data() {
    QTest::addColumn<QString>("version"); // read before; empty: none
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("index");
    QTest::newRow("9600") << ""
                          << "9600" << 3;
    QTest::newRow("57600") << ""
                           << "57600" << 6;
    QTest::newRow("not offered") << ""
                                 << "9601" << -1;
    QTest::newRow("leading zero") << ""
                                  << "09600" << -1;
    QTest::newRow("empty") << ""
                           << "" << -1;
    QTest::newRow("57600 on a shortened list") << "3.05"
                                               << "57600" << -1;
    QTest::newRow("19200 on a shortened list") << "3.05"
                                               << "19200" << 4;
}

void TestGeneralSettings::baudRateByText() {
    QFETCH(QString, version);
    QFETCH(QString, text);
    QFETCH(int, index);
    TPageRig rig;
    if (!version.isEmpty())
        rig.ReadIdentity(version);
    TMeterSettings s = ExampleSettings();
    s.Baudrate = text;
    rig.Page.SetSettings(s);
    QCOMPARE(rig.Combo("ComboDevBaud")->currentIndex(), index);
    QCOMPARE(rig.Page.Settings().Baudrate, index < 0 ? QString() : text);
}

void TestGeneralSettings::removingChosenEntryLeavesNone() {
    TPageRig rig;
    QComboBox* baud = rig.Combo("ComboDevBaud");
    QComboBox* wiring = rig.Combo("ComboVWire");

    baud->setCurrentIndex(6);   // 57600
    wiring->setCurrentIndex(1); // 3LL
    rig.ReadIdentity("3.05");
    QCOMPARE(baud->currentIndex(), -1);
    QCOMPARE(wiring->currentText(), QString("3LL"));
    QCOMPARE(rig.Page.Settings().Baudrate, QString());
    wiring->setCurrentIndex(2);
    baud->setCurrentIndex(4); // 19200
    // Entries coming back leave the choice where it is.
    rig.ReadIdentity("4.00");
    QCOMPARE(baud->count(), 7);
    QCOMPARE(wiring->count(), 5);
    QCOMPARE(baud->currentText(), QString("19200"));
    QCOMPARE(wiring->currentText(), QString("2LL"));
    wiring->setCurrentIndex(4); // 1LN
    rig.ReadIdentity("3.85");
    QCOMPARE(wiring->currentIndex(), -1);
    QCOMPARE(rig.Page.Settings().VoltageWiring, -1);
}

void TestGeneralSettings::adaptation_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QStringList>("bauds");
    QTest::addColumn<QStringList>("wirings");
    QTest::addColumn<bool>("doOutputsHidden");
    QTest::addColumn<bool>("relayAlarmsHidden");
    const QStringList basicBauds = {"1200", "2400", "4800", "9600", "19200"};
    const QStringList allBauds = basicBauds + QStringList{"38400", "57600"};
    const QStringList basicWirings = {"3LN", "3LL", "2LL"};
    const QStringList allWirings = basicWirings + QStringList{"1LL", "1LN"};
    QTest::newRow("3.05") << "3.05" << basicBauds << basicWirings << true << true;
    QTest::newRow("3.10") << "3.10" << allBauds << allWirings << false << true;
    QTest::newRow("3.20") << "3.20" << allBauds << allWirings << false << false;
    QTest::newRow("3.85") << "3.85" << basicBauds << basicWirings << true << false;
    QTest::newRow("4.00") << "4.00" << allBauds << allWirings << false << false;
}

void TestGeneralSettings::adaptation() {
    QFETCH(QString, version);
    QFETCH(QStringList, bauds);
    QFETCH(QStringList, wirings);
    QFETCH(bool, doOutputsHidden);
    QFETCH(bool, relayAlarmsHidden);
    TPageRig rig;
    const auto check = [&] {
        QStringList b, w;
        for (int i = 0; i < rig.Combo("ComboDevBaud")->count(); ++i)
            b << rig.Combo("ComboDevBaud")->itemText(i);
        for (int i = 0; i < rig.Combo("ComboVWire")->count(); ++i)
            w << rig.Combo("ComboVWire")->itemText(i);
        QCOMPARE(b, bauds);
        QCOMPARE(w, wirings);
        for (const char* name : {"Label18", "Label19", "ComboDO1Output", "ComboDO2Output"})
            QCOMPARE(rig.Get<QWidget>(name)->isHidden(), doOutputsHidden);
        QCOMPARE(rig.Group("GroupBox11")->isHidden(), relayAlarmsHidden);
        QVERIFY(!rig.Group("GroupBox5")->isHidden());
    };
    rig.ReadIdentity(version);
    check();
    rig.ReadIdentity(version);
    check();
    // The page follows the meter now connected, both ways: after one that has everything
    // and one that has little, the page shows exactly what this one has.
    rig.ReadIdentity("4.00");
    rig.ReadIdentity("3.05");
    rig.ReadIdentity(version);
    check();
}

void TestGeneralSettings::readParityAndWiringOutOfRange() {
    TPageRig rig;
    rig.ReadBlock(0x1100, {1234, 1, 9600, 9, 9, 400, 0, 400, 5, 5, 0, 0, 0});
    QCOMPARE(rig.RadioIndex("RadioGroupParity"), 3);
    QCOMPARE(rig.Combo("ComboVWire")->currentIndex(), -1);
    QCOMPARE(rig.Edit("EditPassword")->text(), QString("1234"));
    QCOMPARE(rig.Combo("ComboDevBaud")->currentText(), QString("9600"));
    // 57600 read while the list holds only five entries: no baud rate.
    rig.ReadIdentity("3.05");
    rig.ReadBlock(0x1100, {0, 1, 57600, 0, 2, 400, 0, 400, 5, 5, 0, 0, 0});
    QCOMPARE(rig.Combo("ComboDevBaud")->currentIndex(), -1);
    QCOMPARE(rig.RadioIndex("RadioGroupParity"), 0);
    QCOMPARE(rig.Combo("ComboVWire")->currentText(), QString("2LL"));
}

void TestGeneralSettings::readAlarmOutputSetsBothFieldSets() {
    TPageRig rig;
    rig.ReadBlock(0x1200, {2, 1, 800, 1, 2300, 5, 1, 1});
    QCOMPARE(rig.Combo("ComboAlarmOutput")->currentText(), QString("RO2"));
    QCOMPARE(rig.Combo("ComboRO1AlarmOutput")->currentText(), QString("Momentary"));
    QCOMPARE(rig.Combo("ComboAlarmVar")->currentText(), QString("Volts AN (V)"));
    QCOMPARE(rig.Combo("ComboRO1AlarmVar")->currentText(), QString("Volts AN (V)"));
    QCOMPARE(rig.Edit("EditAlarmDelay")->text(), QString("5"));
    QCOMPARE(rig.Edit("EditRO1AlarmDelay")->text(), QString("5"));
    QCOMPARE(rig.Edit("EditAlarmSetpoint")->text(), rig.Edit("EditRO1AlarmSetpoint")->text());
    QVERIFY(!rig.Edit("EditAlarmSetpoint")->text().isEmpty());
    QCOMPARE(rig.Combo("ComboROType")->currentText(), QString("Alarm"));
    QCOMPARE(rig.Edit("EditDOPulseConst")->text(), QString("800"));
}

void TestGeneralSettings::answeringNoChangesNothing() {
    TPageRig rig;
    rig.ReadIdentity("3.20");
    rig.Page.SetSettings(ExampleSettings());
    rig.Dialogs.DefaultYesNo = IDialogs::ResultNo;
    rig.Page.ButtonUpdateClick();
    QCOMPARE(rig.Dialogs.Boxes.size(), size_t(1));
    QCOMPARE(rig.Dialogs.Boxes[0].Caption, QString("Confirm"));
    QCOMPARE(rig.Dialogs.Boxes[0].Text,
             QString("Are you sure you want to send these parameters to the device?"));
    QCOMPARE(rig.Dialogs.Boxes[0].Buttons, IDialogs::YesNo);
    QVERIFY(rig.Link.PendingTexts().empty());
    QCOMPARE(rig.Page.Settings(), ExampleSettings());
}

void TestGeneralSettings::refusedAddress_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("icon");
    const int info = IDialogs::Information, error = IDialogs::Critical;
    QTest::newRow("0") << "0"
                       << "Prompt"
                       << "Invalid device address" << info;
    QTest::newRow("248") << "248"
                         << "Prompt"
                         << "Invalid device address" << info;
    QTest::newRow("-1") << "-1"
                        << "Prompt"
                        << "Invalid device address" << info;
    QTest::newRow("abc") << "abc"
                         << "Error"
                         << "'abc' is not a valid integer value" << error;
    QTest::newRow("empty") << ""
                           << "Error"
                           << "'' is not a valid integer value" << error;
    // Taken whole: no trimming, no unit dropped, no plus sign.
    QTest::newRow("blank") << " 5"
                           << "Error"
                           << "' 5' is not a valid integer value" << error;
    QTest::newRow("plus") << "+5"
                          << "Error"
                          << "'+5' is not a valid integer value" << error;
}

void TestGeneralSettings::refusedAddress() {
    QFETCH(QString, address);
    QFETCH(QString, caption);
    QFETCH(QString, text);
    QFETCH(int, icon);
    TPageRig rig;
    rig.ReadIdentity("3.20");
    TMeterSettings s = ExampleSettings();
    s.Address = address;
    rig.Page.SetSettings(s);
    rig.Dialogs.DefaultYesNo = IDialogs::ResultYes;
    rig.Page.ButtonUpdateClick();
    QCOMPARE(rig.Dialogs.Boxes.size(), size_t(2));
    const TScriptedDialogs::TBox& box = rig.Dialogs.Boxes[1];
    QCOMPARE(box.Caption, caption);
    QCOMPARE(box.Text, text);
    QCOMPARE(int(box.Icon), icon);
    QCOMPARE(box.Buttons, IDialogs::Ok);
    QVERIFY(rig.Link.PendingTexts().empty());
    QCOMPARE(rig.Page.Settings(), s);
}

void TestGeneralSettings::noBaudRateChosen() {
    TPageRig rig;
    rig.ReadIdentity("3.20");
    TMeterSettings s = ExampleSettings();
    s.Baudrate.clear();
    rig.Page.SetSettings(s);
    rig.Dialogs.DefaultYesNo = IDialogs::ResultYes;
    rig.Page.ButtonUpdateClick();
    QCOMPARE(rig.Dialogs.Boxes.size(), size_t(2));
    QCOMPARE(rig.Dialogs.Boxes[1].Caption, QString("Error"));
    QCOMPARE(rig.Dialogs.Boxes[1].Text, QString("No entry chosen for Baud Rate"));
    QVERIFY(rig.Link.PendingTexts().empty());
}

void TestGeneralSettings::sequence_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<std::vector<std::string>>("queries");
    const std::vector<std::string> basic = {
        W1100, W1200Single, W1300, "00,03,11,00,00,0D", "00,03,12,00,00,08", "00,03,13,00,00,0C"};
    const std::vector<std::string> relay = {
        W1100, W1200Relay1, W1300, "00,03,11,00,00,0D", "00,03,12,00,00,08", "00,03,13,00,00,0C"};
    const std::vector<std::string> digital = {W1208, "00,03,12,08,00,02"};
    const std::vector<std::string> relay2 = {W120A, "00,03,12,0A,00,05"};
    const auto join = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    QTest::newRow("3.05") << "3.05" << basic;
    QTest::newRow("3.10") << "3.10" << join(basic, digital);
    QTest::newRow("3.19") << "3.19" << join(basic, digital);
    QTest::newRow("3.20") << "3.20" << join(join(relay, digital), relay2);
    QTest::newRow("3.79") << "3.79" << join(join(relay, digital), relay2);
    QTest::newRow("3.85") << "3.85" << join(relay, relay2);
    QTest::newRow("4.00") << "4.00" << join(join(relay, digital), relay2);
}

void TestGeneralSettings::sequence() {
    QFETCH(QString, version);
    QFETCH(std::vector<std::string>, queries);
    TPageRig rig;
    if (!version.isEmpty())
        rig.ReadIdentity(version);
    rig.Page.SetSettings(ExampleSettings());
    rig.Dialogs.DefaultYesNo = IDialogs::ResultYes;
    // Queries already waiting stay ahead of the sequence.
    rig.Link.AppendQuery("00,03,F0,00,00,09");
    rig.Page.ButtonUpdateClick();
    QCOMPARE(rig.Dialogs.Boxes.size(), size_t(1));
    std::vector<std::string> expected = {"00,03,F0,00,00,09"};
    expected.insert(expected.end(), queries.begin(), queries.end());
    QCOMPARE(rig.Link.PendingTexts(), expected);
    // The line settings travel with the write of block 0x1100 and with nothing else.
    const auto& pending = rig.Link.PendingQueries();
    for (size_t i = 0; i < pending.size(); ++i)
        QCOMPARE(pending[i].LineChange.has_value(), i == 1);
    QCOMPARE(int(pending[1].LineChange->DeviceAddress), 1);
    QCOMPARE(pending[1].LineChange->Baudrate, 9600);
}

void TestGeneralSettings::conversionFailureAppendsNothing_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message"); // empty: the sequence goes ahead
    QTest::newRow("empty password") << "3.20"
                                    << "Password"
                                    << ""
                                    << "'' is not a valid integer value";
    QTest::newRow("PT1 with unit") << "3.20"
                                   << "PT1"
                                   << "400 V"
                                   << "'400 V' is not a valid integer value";
    QTest::newRow("pulse const") << "3.05"
                                 << "DOPulseConst"
                                 << "8OO"
                                 << "'8OO' is not a valid integer value";
    // A limit loses trailing characters that are no digits; the message quotes what is left.
    QTest::newRow("AO2 low limit") << "3.05"
                                   << "AO2LowLimit"
                                   << "x5"
                                   << "'x5' is not a valid integer value";
    QTest::newRow("alarm setpoint, basic layout") << "3.05"
                                                  << "AlarmSetpoint"
                                                  << "x1"
                                                  << "'x1' is not a valid floating point value";
    QTest::newRow("relay 2 setpoint, relay alarm layout")
        << "3.85"
        << "RO2AlarmSetpoint"
        << "x5"
        << "'x5' is not a valid floating point value";
    QTest::newRow("relay 2 setpoint, without that layout") << "3.10"
                                                           << "RO2AlarmSetpoint"
                                                           << "abc"
                                                           << "";
    QTest::newRow("single alarm setpoint, relay alarm layout") << "3.20"
                                                               << "AlarmSetpoint"
                                                               << "x1"
                                                               << "";
    QTest::newRow("password beyond its register") << "3.20"
                                                  << "Password"
                                                  << "65536"
                                                  << "'65536' is out of range for Password";
}

void TestGeneralSettings::conversionFailureAppendsNothing() {
    QFETCH(QString, version);
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, message);
    TPageRig rig;
    rig.ReadIdentity(version);
    TMeterSettings s = ExampleSettings();
    s.*Field(field).Text = text;
    rig.Page.SetSettings(s);
    rig.Dialogs.DefaultYesNo = IDialogs::ResultYes;
    rig.Page.ButtonUpdateClick();
    if (message.isEmpty()) {
        QCOMPARE(rig.Dialogs.Boxes.size(), size_t(1));
        QVERIFY(rig.Link.PendingTexts().size() >= 6);
        return;
    }
    QCOMPARE(rig.Dialogs.Boxes.size(), size_t(2));
    QCOMPARE(rig.Dialogs.Boxes[1].Caption, QString("Error"));
    QCOMPARE(rig.Dialogs.Boxes[1].Text, message);
    QCOMPARE(rig.Dialogs.Boxes[1].Icon, IDialogs::Critical);
    QVERIFY(rig.Link.PendingTexts().empty());
    QCOMPARE(rig.Page.Settings(), s);
}

void TestGeneralSettings::pendingLineSettings_data() {
    QTest::addColumn<int>("before"); // parity chosen in an earlier sequence
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("newParity");
    QTest::addColumn<int>("newStopBits");
    const int none = int(TParity::None), odd = int(TParity::Odd), even = int(TParity::Even);
    const int one = int(TStopBits::_1), two = int(TStopBits::_2);
    QTest::newRow("Even") << 2 << 0 << even << one;
    QTest::newRow("Odd") << 2 << 1 << odd << one;
    QTest::newRow("None 2") << 0 << 2 << none << two;
    QTest::newRow("None 1") << 2 << 3 << none << one;
}

void TestGeneralSettings::pendingLineSettings() {
    QFETCH(int, before);
    QFETCH(int, parity);
    QFETCH(int, newParity);
    QFETCH(int, newStopBits);
    TPageRig rig;
    rig.ReadIdentity("3.20");
    rig.Dialogs.DefaultYesNo = IDialogs::ResultYes;
    TMeterSettings s = ExampleSettings();
    s.Parity = before;
    rig.Page.SetSettings(s);
    rig.Page.ButtonUpdateClick();
    s.Address = "7";
    s.Baudrate = "4800";
    s.Parity = parity;
    rig.Page.SetSettings(s);
    rig.Page.ButtonUpdateClick();
    QCOMPARE(rig.Dialogs.Boxes.size(), size_t(2));
    QCOMPARE(rig.Link.PendingTexts().size(), size_t(20));

    // Sending the queue in order: each 0x1100 write brings its own sequence's values.
    std::string sent;
    for (int i = 0; i < 10; ++i)
        rig.Link.ModbusQueryData(TLinkTestAccess::Master(rig.Link), sent);
    QCOMPARE(int(rig.Link.NewDeviceAddress()), 1);
    QCOMPARE(rig.Link.NewBaudrate(), 9600);
    rig.Link.ModbusQueryData(TLinkTestAccess::Master(rig.Link), sent);
    QCOMPARE(sent.substr(0, 8), std::string("01,10,11"));
    QCOMPARE(int(rig.Link.NewDeviceAddress()), 7);
    QCOMPARE(rig.Link.NewBaudrate(), 4800);
    QCOMPARE(int(rig.Link.NewParity()), newParity);
    QCOMPARE(int(rig.Link.NewStopBits()), newStopBits);
}

void TestGeneralSettings::noParityChosen() {
    // With no parity chosen the meter would get 0xFFFF in its parity register: refused
    // before anything is queued, like any value that does not fit its register.
    TPageRig rig;
    rig.ReadIdentity("3.20");
    TMeterSettings s = ExampleSettings();
    s.Parity = -1;
    rig.Page.SetSettings(s);
    rig.Dialogs.DefaultYesNo = IDialogs::ResultYes;
    rig.Page.ButtonUpdateClick();
    QCOMPARE(rig.Dialogs.Boxes.size(), size_t(2));
    QCOMPARE(rig.Dialogs.Boxes[1].Caption, QString("Error"));
    QCOMPARE(rig.Dialogs.Boxes[1].Text, QString("No entry chosen for Parity"));
    QVERIFY(rig.Link.PendingTexts().empty());
}

void TestGeneralSettings::identityOfAnotherMeterForgotten_data() {
    QTest::addColumn<QString>("change");
    QTest::newRow("address") << "address";
    QTest::newRow("baud rate") << "baud";
    QTest::newRow("parity") << "parity";
    QTest::newRow("port") << "port";
    QTest::newRow("disconnect") << "disconnect";
}

void TestGeneralSettings::identityOfAnotherMeterForgotten() {
    QFETCH(QString, change);
    TPageRig rig;
    rig.Page.SetSettings(ExampleSettings());
    rig.Dialogs.DefaultYesNo = IDialogs::ResultNo;
    std::string query;
    // A 3.05 meter read on the line the cycle uses, with CT 50/5.
    rig.Link.ModbusQueryData(TLinkTestAccess::Master(rig.Link), query);
    rig.ReadIdentity("3.05");
    rig.ReadBlock(0x1100, {1234, 1, 9600, 3, 0, 400, 0, 400, 50, 5, 0, 0, 0});
    rig.Link.ModbusF03Response(TLinkTestAccess::Master(rig.Link), 1, 0xF040,
                               std::vector<std::uint16_t>(16, 0x4141));
    QCOMPARE(rig.Link.Scaling().CTRatio, 10.0);
    QVERIFY(!rig.Link.SerialNumber().isEmpty());
    if (change == "address") {
        rig.Link.SetDeviceAddress(7);
    } else if (change == "disconnect") {
        rig.Link.ModbusQueryFinish(TLinkTestAccess::Master(rig.Link));
    } else {
        if (change == "baud")
            TLinkTestAccess::Master(rig.Link).SetBaudrate(4800);
        else if (change == "parity")
            TLinkTestAccess::Master(rig.Link).SetParity(TParity::Even);
        else
            rig.Link.SetPortNum(2);
        // The next turn of the cycle goes out on the new line.
        rig.Link.ModbusQueryData(TLinkTestAccess::Master(rig.Link), query);
    }
    QVERIFY(rig.Link.SoftwareVersion().isEmpty());
    QVERIFY(rig.Link.SerialNumber().isEmpty());
    QCOMPARE(rig.Link.Scaling().CTRatio, 1.0);
    // Nothing planned for a meter nobody has read; the box says why.
    rig.Page.ButtonUpdateClick();
    QCOMPARE(rig.Dialogs.Boxes.size(), size_t(1));
    QCOMPARE(rig.Dialogs.Boxes[0].Text, QString::fromLatin1(cstMain::VersionUnknown));
    QVERIFY(rig.Link.PendingTexts().empty());
    // Read again, the meter may be written: the question is asked.
    rig.ReadIdentity("3.20");
    rig.Page.ButtonUpdateClick();
    QCOMPARE(rig.Dialogs.Boxes.size(), size_t(2));
    QVERIFY(rig.Dialogs.Boxes[1].Text.startsWith(cstMain::ConfirmSendSettings));
}

void TestGeneralSettings::versionNotKnown() {
    // The identity answer was lost: the layout of the meter is not known, so nothing is written
    // and no question asked.
    TPageRig rig;
    rig.Page.SetSettings(ExampleSettings());
    rig.Dialogs.DefaultYesNo = IDialogs::ResultYes;
    rig.Page.ButtonUpdateClick();
    QCOMPARE(rig.Dialogs.Boxes.size(), size_t(1));
    QCOMPARE(rig.Dialogs.Boxes[0].Caption, QString("Prompt"));
    QCOMPARE(rig.Dialogs.Boxes[0].Text, QString::fromLatin1(cstMain::VersionUnknown));
    QCOMPARE(rig.Dialogs.Boxes[0].Buttons, IDialogs::Ok);
    QVERIFY(rig.Link.PendingTexts().empty());
}

void TestGeneralSettings::versionChangedWhileAsking() {
    TPageRig rig;
    rig.ReadIdentity("3.20");
    rig.Page.SetSettings(ExampleSettings());
    rig.Dialogs.DefaultYesNo = IDialogs::ResultYes;
    rig.Dialogs.OnBox = [&rig](const TScriptedDialogs::TBox& box) {
        if (box.Buttons == IDialogs::YesNo)
            rig.ReadIdentity("3.05");
    };
    rig.Page.ButtonUpdateClick();
    QCOMPARE(rig.Dialogs.Boxes.size(), size_t(2));
    QVERIFY(rig.Dialogs.Boxes[1].Text.contains("version changed"));
    QVERIFY(rig.Link.PendingTexts().empty());
}

void TestGeneralSettings::visibleFieldsWrittenAfterAnotherMeter() {
    // A page adapted to an older meter, then a newer one connected: the newer one's controls
    // are shown, and the write carries what they show.
    TPageRig rig;
    rig.ReadIdentity("3.05");
    rig.Page.SetSettings(ExampleSettings());
    rig.ReadIdentity("4.00");
    QVERIFY(!rig.Group("GroupBox11")->isHidden());
    QVERIFY(!rig.Combo("ComboDO1Output")->isHidden());
    QCOMPARE(rig.Combo("ComboDevBaud")->count(), 7);
    // What the operator sees in the relay rows and types there goes out.
    rig.Edit("EditRO1AlarmDelay")->setText("9");
    rig.Dialogs.DefaultYesNo = IDialogs::ResultYes;
    rig.Page.ButtonUpdateClick();
    QCOMPARE(rig.Dialogs.Boxes.size(), size_t(1));
    const std::vector<std::string> queued = rig.Link.PendingTexts();
    QCOMPARE(queued.size(), size_t(10));
    QCOMPARE(queued[1], std::string("00,10,12,00,00,08,10,00,02,00,00,03,20,00,00,00,00,00,09,00,"
                                    "00,00,01"));
}

void TestGeneralSettings::readsWhileAskingKeepTypedValues_data() {
    QTest::addColumn<bool>("typed"); // CT1 typed by the operator, or set by a file
    QTest::newRow("typed") << true;
    QTest::newRow("loaded") << false;
}

void TestGeneralSettings::readsWhileAskingKeepTypedValues() {
    QFETCH(bool, typed);
    TPageRig rig;
    rig.ReadIdentity("3.20");
    rig.Page.SetSettings(ExampleSettings());
    QLineEdit* ct1 = rig.Edit("EditCT1");
    if (typed) {
        ct1->selectAll();
        QTest::keyClicks(ct1, "200");
    } else {
        TMeterSettings s = ExampleSettings();
        s.CT1 = "200";
        rig.Page.SetSettings(s);
    }
    // The meter still holds CT1 5, and a queued read of block 0x1100 is answered while the
    // question is open.
    rig.Dialogs.DefaultYesNo = IDialogs::ResultYes;
    rig.Dialogs.OnBox = [&rig](const TScriptedDialogs::TBox& box) {
        if (box.Buttons == IDialogs::YesNo)
            rig.ReadBlock(0x1100, {4321, 1, 9600, 3, 0, 400, 0, 400, 5, 5, 0, 0, 0});
    };
    rig.Page.ButtonUpdateClick();
    const std::vector<std::string> queued = rig.Link.PendingTexts();
    QCOMPARE(queued.size(), size_t(10));
    // The write carries the record of the click in any case.
    QCOMPARE(queued[0].substr(20, 6), std::string(",00,00")); // password 0
    QCOMPARE(queued[0].substr(68, 6), std::string(",00,C8")); // CT1 200
    // The page keeps what the operator typed; what was not typed shows the meter's value.
    QCOMPARE(ct1->text(), QString(typed ? "200" : "5"));
    QCOMPARE(rig.Edit("EditPassword")->text(), QString("4321"));
    // Once the question is closed, reads fill the page again.
    rig.ReadBlock(0x1100, {4321, 1, 9600, 3, 0, 400, 0, 400, 5, 5, 0, 0, 0});
    QCOMPARE(ct1->text(), QString("5"));
}

void TestGeneralSettings::readOfSameValueLeavesEditAlone() {
    TPageRig rig;
    rig.ReadBlock(0x1100, {1234, 1, 9600, 3, 0, 400, 0, 400, 5, 5, 0, 0, 0});
    QLineEdit* pt1 = rig.Edit("EditPT1");
    pt1->setFocus();
    pt1->selectAll();
    QTest::keyClicks(pt1, "4000");
    QTest::keyClick(pt1, Qt::Key_Backspace); // "400" again, typed
    pt1->setCursorPosition(1);
    pt1->setSelection(1, 1);
    rig.ReadBlock(0x1100, {1234, 1, 9600, 3, 0, 400, 0, 400, 5, 5, 0, 0, 0});
    QCOMPARE(pt1->text(), QString("400"));
    QCOMPARE(pt1->selectionStart(), 1);
    QCOMPARE(pt1->selectedText(), QString("0"));
    QVERIFY(pt1->isUndoAvailable());
}

void TestGeneralSettings::loadFile_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value"); // text, or the choice index as a number
    QTest::newRow("Parity=7: last button") << QByteArray("[KT580]\r\nParity=7\r\n") << "Parity"
                                           << "3";
    QTest::newRow("VoltageWiring=7: none")
        << QByteArray("[KT580]\r\nVoltageWiring=7\r\n") << "VoltageWiring"
        << "-1";
    QTest::newRow("QMode=abc: first") << QByteArray("[KT580]\r\nQMode=abc\r\n") << "QMode"
                                      << "0";
    QTest::newRow("ROType=0x2") << QByteArray("[KT580]\r\nROType=0x2\r\n") << "ROType"
                                << "2";
    QTest::newRow("AO1Object=$10") << QByteArray("[KT580]\r\nAO1Object=$10\r\n") << "AO1Object"
                                   << "16";
    QTest::newRow("lower-case key and section") << QByteArray("[kt580]\r\nparity=1\r\n") << "Parity"
                                                << "1";
    QTest::newRow("blanks around") << QByteArray("[KT580]\r\nPT1 = 400 \r\n") << "PT1"
                                   << "400";
    QTest::newRow("-1: none") << QByteArray("[KT580]\r\nAlarmOutput=-1\r\n") << "AlarmOutput"
                              << "-1";
    QTest::newRow("-1 radio: none")
        << QByteArray("[KT580]\r\nLoadConvention=-1\r\n") << "LoadConvention"
        << "-1";
    QTest::newRow("last occurrence")
        << QByteArray("[KT580]\r\nCT1=5\r\n[KT580]\r\nCT1=10\r\n") << "CT1"
        << "10";
    QTest::newRow("no section: first entry") << QByteArray("[Other]\r\nDOType=1\r\n") << "DOType"
                                             << "0";
    QTest::newRow("text kept as typed") << QByteArray("[KT580]\r\nCT2=five\r\n") << "CT2"
                                        << "five";
}

void TestGeneralSettings::loadFile() {
    QFETCH(QByteArray, file);
    QFETCH(QString, field);
    QFETCH(QString, value);
    const QTemporaryDir dir;
    const QString path = dir.filePath("in.pmt");
    QVERIFY(WriteAll(path, file));
    TPageRig rig;
    rig.Page.SetSettings(DistinctSettings());
    rig.Dialogs.OpenNames = {path};
    rig.Page.ButtonLoadClick();
    QVERIFY(rig.Dialogs.Boxes.empty());
    const TSettingsField& f = Field(field);
    const TMeterSettings s = rig.Page.Settings();
    if (f.Text)
        QCOMPARE(s.*f.Text, value);
    else
        QCOMPARE(s.*f.Choice, value.toInt());
}

void TestGeneralSettings::loadBaudRateAfterShortening() {
    const QTemporaryDir dir;
    const QString path = dir.filePath("in.pmt");
    QVERIFY(WriteAll(path, "[KT580]\r\nBaudrate=38400\r\n"));
    TPageRig rig;
    rig.Dialogs.OpenNames = {path};
    rig.Page.ButtonLoadClick();
    QCOMPARE(rig.Combo("ComboDevBaud")->currentText(), QString("38400"));
    rig.ReadIdentity("3.05");
    QCOMPARE(rig.Combo("ComboDevBaud")->currentIndex(), -1);
    rig.Dialogs.OpenNames = {path};
    rig.Page.ButtonLoadClick();
    QCOMPARE(rig.Combo("ComboDevBaud")->currentIndex(), -1);
    QCOMPARE(rig.Page.Settings().Baudrate, QString());
}

void TestGeneralSettings::loadOnlyPassword() {
    const QTemporaryDir dir;
    const QString path = dir.filePath("in.pmt");
    QVERIFY(WriteAll(path, "[KT580]\r\nPassword=1234\r\n"));
    TPageRig rig;
    rig.Page.SetSettings(DistinctSettings());
    rig.Dialogs.OpenNames = {path};
    rig.Page.ButtonLoadClick();
    const TMeterSettings s = rig.Page.Settings();
    for (const TSettingsField& f : MeterSettingsFields()) {
        if (f.Text)
            QCOMPARE(s.*f.Text, QString(f.Name == std::string("Password") ? "1234" : ""));
        else
            QCOMPARE(s.*f.Choice, 0);
    }
    QCOMPARE(rig.Edit("EditDevAddr")->text(), QString());
    QCOMPARE(rig.Combo("ComboDevBaud")->currentIndex(), -1);
    QCOMPARE(rig.RadioIndex("RadioGroupQMode"), 0);
}

void TestGeneralSettings::saveThenLoad() {
    const QTemporaryDir dir;
    const QString path = dir.filePath("page.pmt");
    TPageRig filled;
    // A page filled from a meter, with some choices the meter left open.
    filled.ReadIdentity("3.20");
    filled.ReadBlock(0x1100, {1234, 7, 4800, 1, 2, 0xA120, 7, 400, 100, 5, 1, 15, 1});
    filled.ReadBlock(0x1200, {1, 0, 1000, 13, 0xEC78, 9, 1, 0});
    filled.ReadBlock(0x1208, {2, 1});
    filled.ReadBlock(0x120A, {7, 1234, 3, 0, 1});
    filled.ReadBlock(0x1300, {3, 1, 120, 5, 1, 0, 16, 0, 80, 0, 0, 1});
    filled.Combo("ComboAO1HLOpt")->setCurrentIndex(-1);
    filled.Get<TRadioGroup>("RadioGroupLoadConvention")->SetItemIndex(-1);
    const TMeterSettings saved = filled.Page.Settings();
    QCOMPARE(saved.PT1, QString("500000"));
    QCOMPARE(saved.AO1HLOpt, -1);
    filled.Dialogs.SaveNames = {path};
    filled.Page.ButtonSaveClick();
    QVERIFY(filled.Dialogs.Boxes.empty());
    const QByteArray file = ReadAll(path);
    QVERIFY(file.contains("\r\nAO1HLOpt=-1\r\n"));
    QVERIFY(file.contains("\r\nLoadConvention=-1\r\n"));
    QVERIFY(file.contains("\r\nBaudrate=4800\r\n"));

    TPageRig other;
    other.ReadIdentity("3.20");
    other.Dialogs.OpenNames = {path};
    other.Page.ButtonLoadClick();
    QVERIFY(other.Dialogs.Boxes.empty());
    QCOMPARE(other.Page.Settings(), saved);
    QCOMPARE(other.Combo("ComboAO1HLOpt")->currentIndex(), -1);
    QCOMPARE(other.RadioIndex("RadioGroupLoadConvention"), -1);
}

void TestGeneralSettings::untouchedPageSaves() {
    const QTemporaryDir dir;
    const QString path = dir.filePath("new.pmt");
    TPageRig rig;
    rig.Dialogs.SaveNames = {path};
    rig.Page.ButtonSaveClick();
    const QByteArray file = ReadAll(path);
    QVERIFY(file.startsWith("[KT580]\r\nPassword=\r\nAddress=1\r\nBaudrate=\r\nParity=-1\r\n"));
    QVERIFY(file.contains("\r\nBacklightTime=0\r\n"));
    QCOMPARE(file.count("\r\n"), 44 + 2);
}

void TestGeneralSettings::saveKeepsOtherSections() {
    const QTemporaryDir dir;
    const QString path = dir.filePath("old.pmt");
    QVERIFY(WriteAll(path, "; a comment\r\n[Other]\r\nkeep = me\r\n; gone\r\n[KT580]\r\n"
                           "Password=old\r\nExtra=1\r\n"));
    TPageRig rig;
    rig.Page.SetSettings(ExampleSettings());
    rig.Dialogs.SaveNames = {path};
    rig.Page.ButtonSaveClick();
    const QByteArray file = ReadAll(path);
    QVERIFY2(file.startsWith("[Other]\r\nkeep=me\r\n\r\n[KT580]\r\nPassword=0\r\nExtra=1\r\n"
                             "Address=1\r\n"),
             file.constData());
    QVERIFY(!file.contains(";"));
    QVERIFY(file.endsWith("AO2LowLimit=20\r\n\r\n"));
}

void TestGeneralSettings::failedSaveKeepsOldFile() {
    const QTemporaryDir dir;
    const QString path = dir.filePath("no such folder/x.pmt");
    TPageRig rig;
    rig.Page.SetSettings(ExampleSettings());
    rig.Dialogs.SaveNames = {path};
    rig.Page.ButtonSaveClick();
    QCOMPARE(rig.Dialogs.Boxes.size(), size_t(1));
    QCOMPARE(rig.Dialogs.Boxes[0].Caption, QString("Error"));
    QCOMPARE(rig.Dialogs.Boxes[0].Text, "Cannot create file " + QFileInfo(path).absoluteFilePath());
    QCOMPARE(rig.Dialogs.Boxes[0].Icon, IDialogs::Critical);
    QVERIFY(!QFileInfo::exists(path));
    QCOMPARE(rig.Page.Settings(), ExampleSettings());
}

void TestGeneralSettings::failedLoadChangesNothing() {
    const QTemporaryDir dir;
    TPageRig rig;
    rig.Page.SetSettings(DistinctSettings());
    for (const QString& path : {dir.filePath("missing.pmt"), dir.path()}) {
        rig.Dialogs.Boxes.clear();
        rig.Dialogs.OpenNames = {path};
        rig.Page.ButtonLoadClick();
        QCOMPARE(rig.Dialogs.Boxes.size(), size_t(1));
        QCOMPARE(rig.Dialogs.Boxes[0].Caption, QString("Error"));
        QCOMPARE(rig.Dialogs.Boxes[0].Text,
                 "Cannot open file " + QFileInfo(path).absoluteFilePath());
        QCOMPARE(rig.Page.Settings(), DistinctSettings());
    }
}

void TestGeneralSettings::cancelledDialogsDoNothing() {
    const QTemporaryDir dir;
    const QString before = QDir::currentPath();
    QDir::setCurrent(dir.path());
    TPageRig rig;
    rig.Page.SetSettings(DistinctSettings());
    rig.Page.ButtonSaveClick();
    rig.Page.ButtonLoadClick();
    QDir::setCurrent(before);
    QVERIFY(rig.Dialogs.Boxes.empty());
    QCOMPARE(rig.Page.Settings(), DistinctSettings());
    QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
}

QTEST_MAIN(TestGeneralSettings)
#include "tst_generalsettings.moc"
