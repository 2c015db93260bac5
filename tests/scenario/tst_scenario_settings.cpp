// The meter's settings through the whole program: read, changed, written and read back; a new
// address and line that the program follows and remembers for its next start; and a settings
// file saved, loaded and written back to the meter.
#include "settings/frmGeneralSettings.h"
#include "support/MeterRecords.h"
#include "support/ScenarioKit.h"
#include "widgets/RadioGroup.h"

#include <QRadioButton>
#include <QtTest>

using namespace scenario;

namespace {

// Shows the General Settings page once the metering page has filled (the meter's version is
// known by then, so the page reads every block of it), and waits until the meter's settings
// fill it: the last block of a 3.20 meter has been read.
bool ShowSettingsPage(TProgram& p) {
    if (!QTest::qWaitFor([&] { return p.Reads.value(0x1400) >= 1; }, Wait))
        return false;
    const int before = p.Reads.value(0x120A);
    p.W->SettingsGeneralSettings()->trigger();
    return QTest::qWaitFor(
        [&] { return p.Reads.value(0x120A) > before && p.Link().PendingQueries().empty(); }, Wait);
}

// "Update Device" clicked and confirmed; true once the meter's answers to the read-back have
// filled the page.
bool UpdateDevice(TProgram& p) {
    const int before = p.Reads.value(0x120A);
    p.Dialogs.Answers = {IDialogs::ResultYes};
    TProgram::Click(p.Settings("ButtonUpdate"));
    if (p.Dialogs.Boxes.empty() ||
        !p.Dialogs.Boxes.back().Text.startsWith(
            "Are you sure you want to send these parameters to the device?\n\n"))
        return false;
    // Done when the read-back has refilled the page and the writes have been verified.
    return QTest::qWaitFor(
        [&] {
            return p.Reads.value(0x120A) > before && p.Link().PendingQueries().empty() &&
                   p.Dialogs.Boxes.back().Text.contains("written and verified");
        },
        Wait);
}

TFormGeneralSettings& Page(TProgram& p) {
    return *dynamic_cast<TFormGeneralSettings*>(p.W->FormGeneralSettings());
}

void Type(TProgram& p, const QString& edit, const QString& text) {
    p.Settings<QLineEdit>(edit)->setText(text);
}

void Choose(TProgram& p, const QString& combo, int index) {
    p.Settings<QComboBox>(combo)->setCurrentIndex(index);
}

// The registers that differ between two memories, as "reg: before -> after".
QString Differences(const QMap<int, int>& a, const QMap<int, int>& b) {
    QStringList out;
    for (auto it = a.begin(); it != a.end(); ++it)
        if (b.value(it.key(), -1) != it.value())
            out << QString("%1: %2 -> %3")
                       .arg(it.key(), 0, 16)
                       .arg(it.value())
                       .arg(b.value(it.key(), -1));
    for (auto it = b.begin(); it != b.end(); ++it)
        if (!a.contains(it.key()))
            out << QString("%1: none -> %2").arg(it.key(), 0, 16).arg(it.value());
    return out.join("; ");
}

// The memory before, with some registers set to new values.
QMap<int, int> With(QMap<int, int> regs, const QMap<int, int>& changes) {
    for (auto it = changes.begin(); it != changes.end(); ++it)
        regs[it.key()] = it.value();
    return regs;
}

} // namespace

class TestScenarioSettings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void changedWrittenAndReadBack();
    void newAddressAndLineFollowedAndKept();
    void settingsFileBackToTheMeter();
    void refusedRatiosHoldBackTheSetpoints();
    void closedWhileWriting_data();
    void closedWhileWriting();
};

void TestScenarioSettings::initTestCase() {
    QVERIFY2(PrivateConfig(), "XDG_CONFIG_HOME must point at a private folder");
    QVERIFY(QFileInfo::exists(SimBinary()));
    QLocale::setDefault(QLocale::c());
}

void TestScenarioSettings::init() {
    ClearStore();
    GuardCom1();
}

void TestScenarioSettings::cleanup() {
    UnmapPort(1);
}

void TestScenarioSettings::changedWrittenAndReadBack() {
    TSimMeter meter({"--version-text", "3.20"}, MeterMemory());
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(p.Start());
    QVERIFY(p.Connect());
    QVERIFY(ShowSettingsPage(p));

    // Read: the page shows the meter's memory, the relay 2 alarm (channel 7, a current) scaled
    // by CT 50/5.
    QCOMPARE(p.SettingsText("EditPT1"), QString("400"));
    QCOMPARE(p.SettingsText("EditPT2"), QString("100"));
    QCOMPARE(p.Settings<QComboBox>("ComboRO2AlarmVar")->currentIndex(), 7);
    QCOMPARE(p.SettingsText("EditRO2AlarmSetpoint"), QString("40.00"));
    QCOMPARE(p.SettingsText("EditRO2AlarmDelay"), QString("9"));
    QCOMPARE(p.Settings<QComboBox>("ComboRO2AlarmOperator")->currentIndex(), 0);
    const QMap<int, int> before = meter.Registers();
    QCOMPARE(before.size(), 40);
    const QString relay1Setpoint = p.SettingsText("EditRO1AlarmSetpoint");

    // Change PT1 and the relay 2 alarm, then Update Device.
    Type(p, "EditPT1", "2000");
    Type(p, "EditRO2AlarmSetpoint", "25");
    Type(p, "EditRO2AlarmDelay", "15");
    Choose(p, "ComboRO2AlarmOperator", 1);
    QVERIFY(UpdateDevice(p));

    // The meter holds the new values and nothing else changed: 25 A on the secondary side of
    // CT 50/5 is 2500 mA. Relay 1's setpoint stays the 920 V shown, on the secondary side of
    // the new PT 2000/100: 46.0 V.
    const QMap<int, int> after = meter.Registers();
    const QMap<int, int> expected = With(
        before,
        {{0x1105, 2000}, {0x1106, 0}, {0x1204, 460}, {0x120B, 2500}, {0x120C, 15}, {0x120D, 1}});
    QVERIFY2(after == expected, qPrintable(Differences(expected, after)));
    // Read back onto the page, and the new PT ratio in force.
    QCOMPARE(p.SettingsText("EditPT1"), QString("2000"));
    QCOMPARE(p.SettingsText("EditRO2AlarmSetpoint"), QString("25.00"));
    QCOMPARE(p.SettingsText("EditRO2AlarmDelay"), QString("15"));
    QCOMPARE(p.SettingsText("EditRO1AlarmSetpoint"), relay1Setpoint);
    QCOMPARE(p.Settings<QComboBox>("ComboRO2AlarmOperator")->currentIndex(), 1);
    QCOMPARE(p.Link().Scaling().PTRatio, 20.0);

    // The metering page now shows the values scaled by PT 2000/100.
    p.W->ReadingsRealTimeMetering()->trigger();
    const int reads = p.Reads.value(0x1400);
    QTRY_VERIFY_WITH_TIMEOUT(p.Reads.value(0x1400) >= reads + 2, Wait);
    const QString mismatch = MeasurementMismatch(p, 20, 10);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QVERIFY(p.Disconnect());

    QCOMPARE(p.Link().ErrorCount(), std::uint64_t(0));
    // The confirmation and the verification.
    QCOMPARE(p.Dialogs.Boxes.size(), std::size_t(2));
    // What changed, counted and named as the page names it.
    QCOMPARE(p.Dialogs.Boxes.back().Text,
             QString("4 changed settings written and verified:\n  PT1: 400 V -> 2000 V\n"
                     "  RO2 Setting: < -> >\n  RO2 Setpoint: 40.00 A -> 25.00 A\n"
                     "  RO2 Delay (sec): 9 s -> 15 s"));
    const QStringList requests = meter.Sim.Requests();
    QCOMPARE(requests, p.Sent);
    // Five writes, one per block of the layout, each once.
    for (const char* write :
         {"01,10,11,00,", "01,10,12,00,", "01,10,13,00,", "01,10,12,08,", "01,10,12,0A,"})
        QCOMPARE(requests.filter(QRegularExpression("^" + QString(write))).size(), 1);
    QCOMPARE(meter.Sim.Stop().value("exception04"), 0);
}

void TestScenarioSettings::newAddressAndLineFollowedAndKept() {
    TSimMeter meter({"--version-text", "3.20"}, MeterMemory());
    QVERIFY(meter.Started());
    auto p = std::make_unique<TProgram>();
    QVERIFY(p->Start());
    QVERIFY(p->Connect());
    QVERIFY(ShowSettingsPage(*p));
    QCOMPARE(p->SettingsText("EditDevAddr"), QString("1"));

    // Address 7, 9600 baud, even parity.
    Type(*p, "EditDevAddr", "7");
    Choose(*p, "ComboDevBaud", p->Settings<QComboBox>("ComboDevBaud")->findText("9600"));
    p->Settings<TRadioGroup>("RadioGroupParity")->Button(0)->click();
    QCOMPARE(p->Settings<TRadioGroup>("RadioGroupParity")->Button(0)->text(), QString("Even"));
    const qsizetype writeAt = p->Sent.size();
    QVERIFY(UpdateDevice(*p));

    // The meter took them; the program followed once it had confirmed.
    const QMap<int, int> regs = meter.Registers();
    QCOMPARE(regs.value(0x1101), 7);
    QCOMPARE(regs.value(0x1102), 9600);
    QCOMPARE(regs.value(0x1103), 0);
    QCOMPARE(int(p->Link().DeviceAddress()), 7);
    QCOMPARE(p->Modbus().Baudrate(), 9600);
    QCOMPARE(p->Modbus().Parity(), TParity::Even);
    QCOMPARE(p->Modbus().StopBits(), TStopBits::_1);
    QCOMPARE(p->W->StatusText(0), QString("General Settings @ 7"));
    QCOMPARE(p->SettingsText("EditDevAddr"), QString("7"));
    QCOMPARE(p->Settings<QComboBox>("ComboDevBaud")->currentText(), QString("9600"));
    QVERIFY(p->Sent.value(writeAt).startsWith("01,10,11,00,00,0D,1A,"));
    for (qsizetype i = writeAt + 1; i < p->Sent.size(); ++i)
        QVERIFY2(p->Sent[i].startsWith("07,"), qPrintable(p->Sent[i]));

    // Polling goes on at the new settings.
    p->W->ReadingsRealTimeMetering()->trigger();
    QCOMPARE(p->W->StatusText(0), QString("Real-Time Metering @ 7"));
    const int reads = p->Reads.value(0x1400);
    p->Metering("LabelVa")->clear();
    QTRY_VERIFY_WITH_TIMEOUT(p->Reads.value(0x1400) >= reads + 3, Wait);
    QVERIFY(!p->MeteringText("LabelVa").isEmpty());
    QCOMPARE(p->Link().ErrorCount(), std::uint64_t(0));
    QVERIFY(p->Sent.last().startsWith("07,"));

    // The connection dialog shows the values in force. (Its watcher ends with this block, before
    // the next start brings up a dialog of another window.)
    {
        TDialogShown shown;
        TModalWatcher watcher([&](QWidget*) {
            TFormConnection& d = p->W->FormConnection();
            shown = {d.ComboPortName->currentText(), d.ComboBaudrate->currentText(),
                     d.ComboParity->currentText(), d.EditDevAddr->text(),
                     d.EditQueryInterval->text()};
            d.ButtonCancel->click();
        });
        p->W->StartConnectionSettings()->trigger();
        QCOMPARE(watcher.Seen, 1);
        QCOMPARE(shown.Baud, QString("9600"));
        QCOMPARE(shown.Parity, QString("Even"));
        QCOMPARE(shown.Address, QString("7"));
    }

    // Closed while connected: the values in force are stored.
    p->Exit();
    QVERIFY(!p->W->isVisible());
    {
        QSettings s = Store();
        s.beginGroup("ComPort");
        QCOMPARE(s.value("PortNum").toInt(), 1);
        QCOMPARE(s.value("Baudrate").toInt(), 9600);
        QCOMPARE(s.value("Parity").toInt(), int(TParity::Even));
        QCOMPARE(s.value("StopBits").toInt(), int(TStopBits::_1));
        QCOMPARE(s.value("DevAddr").toInt(), 7);
        QCOMPARE(s.value("QueryInterval").toInt(), 20);
    }
    p.reset();
    QVERIFY(LockFree(meter.Sim.Path()));
    const QStringList firstRun = meter.Sim.Requests();
    QCOMPARE(meter.Sim.Requests(true), firstRun);

    // The meter is switched off and on again (it keeps its settings), and the program starts
    // again in the same configuration: it reaches the meter at once.
    QVERIFY(meter.Sim.Restart());
    TProgram next;
    QVERIFY(next.Start());
    QCOMPARE(next.Shown.Port, QString("COM1"));
    QCOMPARE(next.Shown.Baud, QString("9600"));
    QCOMPARE(next.Shown.Parity, QString("Even"));
    QCOMPARE(next.Shown.Address, QString("7"));
    QCOMPARE(next.Shown.Interval, QString("20"));
    QCOMPARE(next.W->StatusText(0), QString("Real-Time Metering @ 7"));
    QVERIFY(next.Connect());
    QTRY_VERIFY_WITH_TIMEOUT(next.Reads.value(0x1400) >= 2, Wait);
    const QString mismatch = MeasurementMismatch(next, 4, 10);
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QVERIFY(next.Disconnect());
    QCOMPARE(next.Link().ErrorCount(), std::uint64_t(0));
    QCOMPARE(next.Statistics(), QString("ERR:  0/%1  (0.00%)").arg(next.Link().SentCount()));
    const QStringList secondRun = meter.Sim.Requests(true);
    QCOMPARE(secondRun, next.Sent);
    QCOMPARE(meter.Sim.Requests(), secondRun);
    QVERIFY(secondRun.size() >= 5);
    for (const QString& request : secondRun)
        QVERIFY2(request.startsWith("07,"), qPrintable(request));
}

void TestScenarioSettings::settingsFileBackToTheMeter() {
    TSimMeter meter({"--version-text", "3.20"}, MeterMemory());
    QVERIFY(meter.Started());
    QTemporaryDir files;
    QVERIFY(files.isValid());
    const QString file = files.filePath("kt580.pmt");
    TProgram p;
    QVERIFY(p.Start());
    QVERIFY(p.Connect());
    QVERIFY(ShowSettingsPage(p));
    const QMap<int, int> original = meter.Registers();
    const TMeterSettings saved = Page(p).Settings();
    QCOMPARE(saved.PT1, QString("400"));

    // Save.
    p.Dialogs.SaveNames = {file};
    TProgram::Click(p.Settings("ButtonSave"));
    QVERIFY(p.Dialogs.SaveNames.empty());
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QVERIFY(written.readAll().contains("[KT580]"));

    // Other settings written to the meter (the ratios stay, so every setpoint keeps its scale).
    Type(p, "EditLightTime", "15");
    Type(p, "EditDOPulseConst", "2000");
    Type(p, "EditRO2AlarmDelay", "30");
    Choose(p, "ComboAO1Channel", 5);
    Type(p, "EditAO1HighLimit", "90");
    Choose(p, "ComboVWire", 0);
    p.Settings<TRadioGroup>("RadioGroupQMode")->Button(0)->click();
    QVERIFY(UpdateDevice(p));
    const QMap<int, int> changed = With(original, {{0x110B, 15},
                                                   {0x1202, 2000},
                                                   {0x120C, 30},
                                                   {0x1300, 5},
                                                   {0x1302, 90},
                                                   {0x1104, 0},
                                                   {0x110A, 0}});
    QVERIFY2(meter.Registers() == changed, qPrintable(Differences(changed, meter.Registers())));
    QVERIFY(Page(p).Settings() != saved);

    // More edits on the page that are never sent; then Load puts the saved ones back.
    Type(p, "EditPT1", "9999");
    Type(p, "EditCT1", "7");
    Type(p, "EditRO1AlarmDelay", "44");
    p.Dialogs.OpenNames = {file};
    TProgram::Click(p.Settings("ButtonLoad"));
    QVERIFY(p.Dialogs.OpenNames.empty());
    QCOMPARE(Page(p).Settings(), saved);

    // Update Device: the meter holds what was saved, register for register.
    QVERIFY(UpdateDevice(p));
    const QMap<int, int> restored = meter.Registers();
    QVERIFY2(restored == original, qPrintable(Differences(original, restored)));
    QCOMPARE(Page(p).Settings(), saved);
    QVERIFY(p.Disconnect());

    QCOMPARE(p.Link().ErrorCount(), std::uint64_t(0));
    // Two confirmations, each followed by its verification, and no error box.
    QCOMPARE(p.Dialogs.Boxes.size(), std::size_t(4));
    QCOMPARE(meter.Sim.Requests(), p.Sent);
    QCOMPARE(meter.Sim.Stop().value("exception04"), 0);
}

void TestScenarioSettings::refusedRatiosHoldBackTheSetpoints() {
    // Both relays alarm on I A at 40 A, CT 50/5.
    QByteArray memory = MeterMemory();
    memory.replace("reg.1203=1\nreg.1204=2300\n", "reg.1203=7\nreg.1204=4000\n");
    TSimMeter meter({"--version-text", "3.20"}, memory);
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(p.Start());
    QVERIFY(p.Connect());
    QVERIFY(ShowSettingsPage(p));
    QCOMPARE(p.SettingsText("EditRO1AlarmSetpoint"), QString("40.00"));
    const QMap<int, int> before = meter.Registers();

    // CT2 7 is no secondary current the meter knows: it refuses block 0x1100.
    Type(p, "EditCT1", "100");
    Type(p, "EditCT2", "7");
    p.Dialogs.Answers = {IDialogs::ResultYes};
    const std::size_t boxes = p.Dialogs.Boxes.size();
    TProgram::Click(p.Settings("ButtonUpdate"));
    QCOMPARE(p.Dialogs.Boxes.size(), boxes + 1);
    QCOMPARE(p.Dialogs.Boxes.back().Text,
             QString("Are you sure you want to send these parameters to the device?\n\n"
                     "CT1: 50 A -> 100 A\nCT2: 5 A -> 7 A"));
    const auto told = [&] {
        for (std::size_t k = boxes + 1; k < p.Dialogs.Boxes.size(); ++k)
            if (p.Dialogs.Boxes[k].Text.contains("verified"))
                return p.Dialogs.Boxes[k];
        return TScriptedDialogs::TBox{};
    };
    QTRY_VERIFY_WITH_TIMEOUT(!told().Text.isEmpty(), Wait);

    // The setpoints computed for CT 100/7 stayed home: the meter alarms at 40 A as before.
    const QMap<int, int> after = meter.Registers();
    QVERIFY2(after == before, qPrintable(Differences(before, after)));
    const QStringList writes = meter.Sim.Requests().filter(QRegularExpression("^01,10,"));
    QCOMPARE(writes.size(), 3);
    QVERIFY(writes[0].startsWith("01,10,11,00,"));
    QVERIFY(writes[1].startsWith("01,10,13,00,"));
    QVERIFY(writes[2].startsWith("01,10,12,08,"));
    QCOMPARE(told().Caption, QString("Settings Written to the Meter"));
    QCOMPARE(told().Icon, IDialogs::Warning);
    QCOMPARE(told().Text, QString("0 of 2 changed settings written and verified.\n"
                                  "Refused by the meter (block 0x1100, exception 04):\n"
                                  "  CT1: 50 A -> 100 A\n  CT2: 5 A -> 7 A\n"
                                  "Not sent (blocks 0x1200, 0x120A): no setting in them changed."));
    QCOMPARE(meter.Sim.Stop().value("exception04"), 1);
}

void TestScenarioSettings::closedWhileWriting_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("complete");
    QTest::newRow("window closed") << "close" << true;
    QTest::newRow("stop signal") << "signal" << true;
    QTest::newRow("second stop signal") << "two signals" << false;
}

void TestScenarioSettings::closedWhileWriting() {
    QFETCH(QString, how);
    QFETCH(bool, complete);
    // Every answer takes a while, so closing comes while the sequence is going out.
    TSimMeter meter({"--version-text", "3.20", "--delay", "150"}, MeterMemory());
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(p.Start());
    QVERIFY(p.Connect());
    QVERIFY(ShowSettingsPage(p));
    Type(p, "EditPT1", "2000");
    Type(p, "EditRO2AlarmDelay", "15");
    p.Dialogs.Answers = {IDialogs::ResultYes};
    TProgram::Click(p.Settings("ButtonUpdate"));
    const QRegularExpression write("^01,10,");
    QTRY_VERIFY_WITH_TIMEOUT(!p.Sent.filter(write).isEmpty(), Wait);
    const qsizetype closedAt = p.Sent.size();
    const std::size_t boxesAtClose = p.Dialogs.Boxes.size();

    if (how == "close")
        p.W->close();
    else
        p.W->CloseFromOutside();
    // The window stays until the writes are out; meanwhile a disconnect would drop them.
    QTRY_VERIFY_WITH_TIMEOUT(p.W->ClosingAfterWrites(), Wait);
    QVERIFY(p.W->isVisible());
    QVERIFY(!p.W->StartDisconnect()->isEnabled());
    if (how == "two signals") {
        QCoreApplication::processEvents();
        QVERIFY(p.W->isVisible());
        p.W->CloseFromOutside();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!p.W->isVisible(), Wait);
    // The program ends, as main() does once the window has closed.
    p.W.reset();
    QCoreApplication::processEvents();
    // No box waited for the operator on the way out.
    QCOMPARE(p.Dialogs.Boxes.size(), boxesAtClose);
    QVERIFY(LockFree(meter.Sim.Path()));

    // Five blocks in the layout of 3.20; the reads queued between them were not sent.
    const QStringList requests = meter.Sim.Requests();
    const QStringList writes = requests.filter(write);
    if (complete) {
        QCOMPARE(writes.size(), 5);
        QCOMPARE(p.Sent.mid(closedAt).filter(write), p.Sent.mid(closedAt));
        const QMap<int, int> regs = meter.Registers();
        QCOMPARE(regs.value(0x1105), 2000);
        QCOMPARE(regs.value(0x120C), 15);
    } else {
        QVERIFY2(writes.size() < 5, qPrintable(writes.join(' ')));
    }
    // The connection values are saved as at every close.
    QSettings store = Store();
    QCOMPARE(store.value("ComPort/QueryInterval").toInt(), 20);
}

QTEST_MAIN(TestScenarioSettings)
#include "tst_scenario_settings.moc"
