// The commissioning tools of the whole program against the simulator: every write in the
// journal with what the meter's state file shows (a refused block and a write whose answer was
// lost among them), the journal window and its export, the installation check on a meter wired
// right and wired wrong, and the commissioning report's files.
#include "commissioning/Commissioning.h"
#include "commissioning/JournalFile.h"
#include "commissioning/WriteJournal.h"
#include "commissioning/frmInstallCheck.h"
#include "commissioning/frmJournal.h"
#include "settings/SettingsFile.h"
#include "support/ScenarioKit.h"

#include <QComboBox>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace scenario;

namespace {

constexpr char Serial[] = "KT-COMM-7";

std::vector<TJournalEntry> Journal() {
    return ParseJournal(TJournalFile(TJournalFile::DefaultPath()).ReadAll());
}

// Connected on the metering page with live values shown.
bool Online(TProgram& p) {
    return p.Start() && p.Connect() &&
           QTest::qWaitFor([&] { return p.Reads.value(0x1400) >= 1; }, Wait);
}

// A pointer into ENTRIES: the vector must outlive it (a temporary's is gone after the call).
const TJournalEntry* Find(const std::vector<TJournalEntry>& entries, const QString& what) {
    for (const TJournalEntry& e : entries)
        if (e.Write.What == what || e.Write.What.endsWith("(" + what + ")", Qt::CaseInsensitive))
            return &e;
    return nullptr;
}

} // namespace

class TestScenarioCommissioning : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void journalAgainstTheMeter();
    void safeWrites_data();
    void safeWrites();
    void journalBeforeTheWrite();
    void installationCheck_data();
    void installationCheck();
    void reportFiles();
    void reportPollsWhenNothingWasPolled();
    void reportNotWrittenFromFailedReads_data();
    void reportNotWrittenFromFailedReads();
};

void TestScenarioCommissioning::initTestCase() {
    QVERIFY(PrivateConfig());
    QVERIFY(!qEnvironmentVariableIsEmpty("XDG_DATA_HOME"));
    QLocale::setDefault(QLocale::c());
}

void TestScenarioCommissioning::init() {
    GuardCom1();
    ClearStore();
    QFile::remove(TJournalFile::DefaultPath());
}

void TestScenarioCommissioning::journalAgainstTheMeter() {
    // Answers to function 05 never come back: the relay is switched, the utility cannot know.
    TSimMeter meter({"--serial", Serial, "--mute-function", "05"}, MeterMemory("relay.0=0\n"));
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(Online(p));
    p.Modbus().SetQueryTimeout(300);

    QTRY_COMPARE_WITH_TIMEOUT(p.MeteringText("LabelRO1"), QString("OFF"), Wait);
    p.Dialogs.Answers = {IDialogs::ResultYes};
    TProgram::Click(p.On(p.W->FormRTMetering(), "SpeedRO1"));
    QTRY_VERIFY_WITH_TIMEOUT(Find(Journal(), "Relay 1"), Wait);
    QTRY_COMPARE_WITH_TIMEOUT(meter.State().value("relay.0"), QString("1"), Wait);

    // A block the meter refuses: CT2 7 A is out of its range.
    p.W->SettingsGeneralSettings()->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(p.Reads.value(0x120A) >= 1, Wait);
    const QMap<int, int> before = meter.Registers();
    p.Settings<QLineEdit>("EditCT2")->setText("7");
    p.Settings<QLineEdit>("EditLightTime")->setText("9");
    p.Dialogs.Answers = {IDialogs::ResultYes};
    TProgram::Click(p.Settings("ButtonUpdate"));
    // The verification names the refused block and what it would have changed, and the block
    // whose setpoint was scaled for the refused CT ratio did not go out.
    QTRY_VERIFY_WITH_TIMEOUT(p.Dialogs.Boxes.back().Text.contains("Refused by the meter"), Wait);
    QCOMPARE(p.Dialogs.Boxes.back().Text,
             QString("0 of 2 changed settings written and verified.\n"
                     "Refused by the meter (block 0x1100, exception 04):\n"
                     "  CT2: 5 A -> 7 A\n  Turn On the Backlight: 7 min -> 9 min\n"
                     "Not sent (block 0x120A): no setting in it changed."));
    QVERIFY(Find(Journal(), "Settings block 0x1208"));
    QVERIFY(!Find(Journal(), "Settings block 0x120A"));
    // The journal completes the sequence with what the box says, setting by setting.
    const std::vector<TJournalEntry> verification = Journal();
    QCOMPARE(verification.back().Write.Kind, QString(JournalVerification));
    QCOMPARE(verification.back().Write.What,
             QString("0 of 2 changed settings written and verified"));
    QCOMPARE(verification.back().Outcome, QString("not all verified"));
    QStringList results;
    for (const TWriteChange& c : verification.back().Write.Changes)
        results << ChangeText(c);
    QCOMPARE(results, QStringList({"CT2: 5 A -> 7 A (refused)",
                                   "Turn On the Backlight: 7 min -> 9 min (refused)"}));

    const std::vector<TJournalEntry> entries = Journal();
    const TJournalEntry* relay = Find(entries, "Relay 1");
    QCOMPARE(relay->Outcome, QString("no answer"));
    QCOMPARE(relay->Write.Changes.size(), std::size_t(1));
    QCOMPARE(ChangeText(relay->Write.Changes[0]), QString("Relay 1: OFF -> ON"));
    QCOMPARE(relay->SerialNumber, std::optional<QString>(Serial));
    QCOMPARE(relay->SoftwareVersion, QString("3.20"));
    QCOMPARE(relay->Port, QString("COM1"));
    QCOMPARE(relay->Baudrate, 19200);
    QCOMPARE(relay->Address, 1);
    QVERIFY(
        QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$")
            .match(IsoTime(relay->Time))
            .hasMatch());

    const TJournalEntry* general = Find(entries, "Settings block 0x1100");
    QVERIFY(general);
    QCOMPARE(general->Outcome, QString("exception"));
    QCOMPARE(general->ExceptionCode, 4);
    QStringList changed;
    for (const TWriteChange& c : general->Write.Changes)
        changed << ChangeText(c);
    QCOMPARE(changed, QStringList({"CT2: 5 A -> 7 A", "Backlight Time: 7 min -> 9 min"}));
    // Refused: the meter's block 0x1100 is as it was; the others were accepted.
    const QMap<int, int> after = meter.Registers();
    for (int r = 0x1100; r <= 0x110C; ++r)
        QCOMPARE(after.value(r), before.value(r));
    QCOMPARE(Find(entries, "Settings block 0x1200")->Outcome, QString("accepted"));

    // The window: newest first, by meter, and the export.
    p.W->ReadingsWriteJournal()->trigger();
    TFormJournal* window = p.W->Commissioning().JournalWindow();
    QVERIFY(window);
    const int count = static_cast<int>(entries.size());
    QCOMPARE(window->ShownCount(), count);
    QVERIFY(window->ShownEntry(0)->Time >= window->ShownEntry(count - 1)->Time);
    QCOMPARE(window->ShownEntry(count - 1)->Write.What, QString("Relay 1"));
    window->SetMeterFilter("someone else");
    QCOMPARE(window->ShownCount(), count);    // no such meter: all shown
    QCOMPARE(window->ComboMeter->count(), 2); // "All meters" and this one
    window->SetMeterFilter(Serial);
    QCOMPARE(window->ShownCount(), count);
    QTemporaryDir dir;
    p.Dialogs.SaveNames = {dir.filePath("journal.csv")};
    window->ButtonExportClick();
    QFile csv(dir.filePath("journal.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = csv.readAll().split('\n');
    QCOMPARE(rows.size(), int(entries.size()) + 2); // heading, rows, the empty rest
    QVERIFY(std::any_of(rows.begin(), rows.end(), [](const QByteArray& row) {
        return row.contains("0 of 2 changed settings") && row.contains("CT2: 5 A -> 7 A (refused)");
    }));
    QVERIFY(rows[1].contains("Relay 1: OFF -> ON"));
    QVERIFY(rows[1].contains("no answer"));
}

void TestScenarioCommissioning::safeWrites_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("outcome"); // of each block write in the journal
    QTest::addColumn<QString>("told");
    const QString ct1 = "1 changed setting written and verified:\n  CT1: 50 A -> 100 A";
    QTest::newRow("answered") << QStringList{} << "accepted" << ct1;
    // Carried out, the answers lost: the read-back still shows CT1 is there. The RO2 setpoint
    // scaled for it is not sent unconfirmed, and the box says what the meter now holds.
    QTest::newRow("answers lost")
        << QStringList{"--mute-function", "10"} << "no answer"
        << "1 of 1 changed settings written and verified:\n  CT1: 50 A -> 100 A\nNot sent "
           "(block 0x120A): no setting in it changed.\nNot as confirmed:\n  RO2 Setpoint: "
           "confirmed 40.00 A, the meter holds 80.00 A";
}

void TestScenarioCommissioning::safeWrites() {
    QFETCH(QStringList, args);
    QFETCH(QString, outcome);
    QFETCH(QString, told);
    TSimMeter meter(QStringList{"--serial", Serial} + args, MeterMemory());
    QVERIFY(meter.Started());
    const QString backups = qEnvironmentVariable("XDG_DATA_HOME") + "/Veltrana/Marbrook/backups";
    QDir(backups).removeRecursively();
    TProgram p;
    QVERIFY(Online(p));
    p.Modbus().SetQueryTimeout(300);
    p.W->SettingsGeneralSettings()->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(p.Reads.value(0x120A) >= 1, Wait);
    const QMap<int, int> before = meter.Registers();

    p.Settings<QLineEdit>("EditCT1")->setText("100");
    p.Settings<QLineEdit>("EditAlarmDelay")->setText("6"); // hidden on a 3.20 meter: not written
    p.Dialogs.Answers = {IDialogs::ResultYes};
    const std::size_t boxes = p.Dialogs.Boxes.size();
    TProgram::Click(p.Settings("ButtonUpdate"));
    QCOMPARE(p.Dialogs.Boxes.size(), boxes + 1);
    QCOMPARE(p.Dialogs.Boxes.back().Text,
             QString("Are you sure you want to send these parameters to the device?\n\n"
                     "CT1: 50 A -> 100 A"));
    QTRY_VERIFY_WITH_TIMEOUT(p.Dialogs.Boxes.back().Text.contains("written and verified"), Wait);
    // Only what changed is counted, by the name the page gives it.
    QCOMPARE(p.Dialogs.Boxes.back().Text, told);
    QCOMPARE(p.Dialogs.Boxes.back().Caption, QString("Settings Written to the Meter"));
    QCOMPARE(p.Dialogs.Boxes.back().Icon,
             args.isEmpty() ? IDialogs::Information : IDialogs::Warning);

    // The backup holds what the meter held before, in the settings file format.
    const QStringList files = QDir(backups).entryList({"KT580-KT-COMM-7-*.pmt"}, QDir::Files);
    QCOMPARE(files.size(), 1);
    TMeterSettings backedUp;
    QString error;
    QVERIFY(LoadSettingsFile(backups + "/" + files[0], backedUp, error));
    QCOMPARE(backedUp.CT1, QString("50"));
    QCOMPARE(backedUp.PT1, QString("400"));
    QCOMPARE(backedUp.RO2AlarmItems, 7);
    // The meter holds the new CT1; the RO2 current setpoint register follows the new CT ratio
    // when the meter confirmed it, so the setpoint stays 40 A on the primary side. Nothing else
    // changed.
    QMap<int, int> expected = before;
    expected[0x1108] = 100;
    if (args.isEmpty())
        expected[0x120B] = before.value(0x120B) / 2;
    QCOMPARE(meter.Registers(), expected);
    const std::vector<TJournalEntry> journal = Journal();
    const TJournalEntry* general = Find(journal, "Settings block 0x1100");
    QVERIFY(general);
    QCOMPARE(general->Outcome, outcome);

    // Again, with nothing typed: the box says so.
    p.Dialogs.Answers = {IDialogs::ResultNo};
    TProgram::Click(p.Settings("ButtonUpdate"));
    QCOMPARE(
        p.Dialogs.Boxes.back().Text,
        QString("Are you sure you want to send these parameters to the device?\n\nNo changes"));
}

void TestScenarioCommissioning::journalBeforeTheWrite() {
    // The meter carries out each settings write and never answers it: while the utility still
    // waits for the answer (a crash now would end it), the journal already holds the write.
    TSimMeter meter({"--serial", Serial, "--mute-function", "10"}, MeterMemory());
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(Online(p));
    p.Modbus().SetQueryTimeout(3000);
    p.W->SettingsGeneralSettings()->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(p.Reads.value(0x120A) >= 1, Wait);
    p.Settings<QLineEdit>("EditPT1")->setText("11000");
    p.Dialogs.Answers = {IDialogs::ResultYes};
    const std::size_t boxes = p.Dialogs.Boxes.size();
    TProgram::Click(p.Settings("ButtonUpdate"));
    QTRY_VERIFY_WITH_TIMEOUT(Find(Journal(), "Settings block 0x1100"), Wait);
    QCOMPARE(Find(Journal(), "Settings block 0x1100")->Outcome, QString("sent"));
    QCOMPARE(Find(Journal(), "Settings block 0x1100")->Query.left(5), QString("01,10"));
    // Then its outcome completes the same entry.
    QTRY_VERIFY_WITH_TIMEOUT(p.Dialogs.Boxes.size() > boxes + 1, 4 * Wait);
    const std::vector<TJournalEntry> journal = Journal();
    QCOMPARE(Find(journal, "Settings block 0x1100")->Outcome, QString("no answer"));
    QCOMPARE(std::count_if(journal.begin(), journal.end(),
                           [](const TJournalEntry& e) { return e.Write.What.contains("0x1100"); }),
             1);
}

void TestScenarioCommissioning::installationCheck_data() {
    QTest::addColumn<QStringList>("miswire");
    QTest::addColumn<QStringList>("expect");
    QTest::newRow("wired right") << QStringList{}
                                 << QStringList{"Voltages present=good",
                                                "Voltage balance=good",
                                                "Line-to-line against line-to-neutral=good",
                                                "Current balance=good",
                                                "Neutral current=good",
                                                "Active power direction=good",
                                                "Power factor=good",
                                                "Frequency=good"};
    QTest::newRow("missing phase")
        << QStringList{"missing-phase=B"}
        << QStringList{"Voltages present=fault", "Line-to-line against line-to-neutral=fault"};
    QTest::newRow("reversed CTs") << QStringList{"reversed-ct=ABC"}
                                  << QStringList{"Active power direction=warning",
                                                 "Neutral current=good"};
    QTest::newRow("one CT reversed")
        << QStringList{"reversed-ct=A"} << QStringList{"Neutral current=fault"};
    QTest::newRow("unbalanced load")
        << QStringList{"unbalance=0.5"}
        << QStringList{"Current balance=warning", "Neutral current=warning",
                       "Voltages present=good"};
}

void TestScenarioCommissioning::installationCheck() {
    QFETCH(QStringList, miswire);
    QFETCH(QStringList, expect);
    QStringList args;
    for (const QString& m : miswire)
        args << "--miswire" << m;
    TSimMeter meter(args);
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(Online(p));
    p.W->ReadingsInstallationCheck()->trigger();
    QCOMPARE(p.W->ActivePageWidget(), p.W->FormInstallCheck());
    auto* page = static_cast<TFormInstallCheck*>(p.W->FormInstallCheck());
    const auto verdicts = [&] {
        QStringList out;
        for (const TCheckResult& r : page->Results())
            out << r.Check + "=" + VerdictText(r.Verdict);
        return out;
    };
    // Polled while shown: a few fresh measurements after the settings were read.
    const int polled = p.Reads.value(0x1400);
    QTRY_VERIFY_WITH_TIMEOUT(p.Reads.value(0x1400) >= polled + 3, Wait);
    for (const QString& e : expect)
        QVERIFY2(verdicts().contains(e), qPrintable(verdicts().join("; ")));
    QVERIFY(verdicts().contains("Phase rotation and per-phase power=cannot judge"));
    if (!qEnvironmentVariableIsEmpty("KT_SHOTS")) {
        p.W->resize(900, 560);
        p.W->grab().save(qEnvironmentVariable("KT_SHOTS") + "/install-check-" +
                         QString(QTest::currentDataTag()).replace(' ', '-') + ".png");
    }
}

void TestScenarioCommissioning::reportFiles() {
    TSimMeter meter({"--serial", Serial});
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(Online(p));
    QVERIFY(p.W->StartCommissioningReport()->isEnabled());
    p.Dialogs.Answers = {IDialogs::ResultYes};
    QTRY_COMPARE_WITH_TIMEOUT(p.MeteringText("LabelRO2"), QString("OFF"), Wait);
    TProgram::Click(p.On(p.W->FormRTMetering(), "SpeedRO2"));
    QTRY_VERIFY_WITH_TIMEOUT(Find(Journal(), "Relay 2"), Wait);

    QTemporaryDir dir;
    const QString pdf = dir.filePath("commissioning.pdf");
    p.Dialogs.ReportAnswers = {{"Plant 4 <north>", "A. Tech", "Meter in panel 2\nCT 5/5 A"}};
    p.Dialogs.SaveNames = {pdf};
    std::optional<bool> done;
    p.W->Commissioning().OnReportDone = [&](bool written, const QString&) { done = written; };
    p.W->StartCommissioningReport()->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(done.has_value(), Wait);
    QVERIFY(*done);
    QFile jsonFile(dir.filePath("commissioning.json"));
    QVERIFY(jsonFile.open(QIODevice::ReadOnly));
    const QJsonObject o = QJsonDocument::fromJson(jsonFile.readAll()).object();
    const QString number = o["reportNumber"].toString();
    QVERIFY2(number.startsWith(QString("CR-%1-").arg(Serial)), qPrintable(number));
    QCOMPARE(p.Dialogs.Boxes.back().Caption, QString("Commissioning Report"));
    QCOMPARE(p.Dialogs.Boxes.back().Text,
             QString("The commissioning report %1 was written to %2 and %3.")
                 .arg(number, pdf, dir.filePath("commissioning.json")));

    QFile pdfFile(pdf);
    QVERIFY(pdfFile.open(QIODevice::ReadOnly));
    QVERIFY(pdfFile.read(5) == "%PDF-");
    QCOMPARE(o["site"].toString(), QString("Plant 4 <north>"));
    QCOMPARE(o["technician"].toString(), QString("A. Tech"));
    QCOMPARE(o["port"].toString(), QString("COM1"));
    QCOMPARE(o["line"]["baudrate"].toInt(), 19200);
    QCOMPARE(o["identity"]["serialNumber"].toString(), QString(Serial));
    QCOMPARE(o["identity"]["model"].toString(), QString("KT580"));
    QCOMPARE(o["identity"]["softwareVersion"].toString(), QString("3.20"));
    QCOMPARE(o["identity"]["releaseDate"].toString(), QString("2019-08-15"));
    // 3.20 has every block: 12 + 8 + 12 + 2 + 5 fields.
    QCOMPARE(o["settings"].toArray().size(), 39);
    QCOMPARE(o["settings"][0]["setting"].toString(), QString("Password"));
    QCOMPARE(o["energy"].toArray().size(), 6);
    QCOMPARE(o["line"]["stopBits"].toDouble(), 1.0);
    QCOMPARE(o["overall"]["verdict"].toString(), QString("Passed"));
    QVERIFY(o["measurements"]["samples"].toInt() > 0);
    const double va = o["measurements"]["quantities"][0]["average"].toDouble();
    QVERIFY2(va > 220 && va < 240, qPrintable(QString::number(va)));
    QCOMPARE(o["installationCheck"].toArray().size(), 9);
    QVERIFY(o["communication"]["sent"].toInt() > 0);
    const QJsonArray journal = o["journal"].toArray();
    QCOMPARE(journal.size(), 1);
    QCOMPARE(journal[0]["what"].toString(), QString("Relay 2"));
    QCOMPARE(journal[0]["outcome"].toString(), QString("accepted"));
    if (!qEnvironmentVariableIsEmpty("KT_SHOTS"))
        QFile::copy(pdf, qEnvironmentVariable("KT_SHOTS") + "/commissioning.pdf");
}

void TestScenarioCommissioning::reportPollsWhenNothingWasPolled() {
    TSimMeter meter({"--serial", Serial});
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(Online(p));
    p.W->ReadingsDeviceInformation()->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(p.Link().PendingQueries().empty(), Wait);
    // The metering page's values age out of the window: step the report's clock past them.
    std::int64_t now = 1000000;
    p.W->Commissioning().NowMs = [&] { return now += 50; };
    p.W->Commissioning().CollectMs = 1000;
    QTemporaryDir dir;
    p.Dialogs.ReportAnswers = {{"Site", "Tech", ""}};
    p.Dialogs.SaveNames = {dir.filePath("r.pdf")};
    std::optional<bool> done;
    p.W->Commissioning().OnReportDone = [&](bool written, const QString&) { done = written; };
    const int polled = p.Reads.value(0x1400);
    p.W->StartCommissioningReport()->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(done.has_value(), Wait);
    QVERIFY(*done);
    QVERIFY(p.Reads.value(0x1400) > polled);
    QFile jsonFile(dir.filePath("r.json"));
    QVERIFY(jsonFile.open(QIODevice::ReadOnly));
    const QJsonObject o = QJsonDocument::fromJson(jsonFile.readAll()).object();
    QVERIFY(o["measurements"]["samples"].toInt() > 0);
}

void TestScenarioCommissioning::reportNotWrittenFromFailedReads_data() {
    // Blocks only the settings page and the report read: the report's reads are the first.
    QTest::addColumn<QString>("reg");
    QTest::addColumn<QString>("failed"); // what the box names
    QTest::newRow("settings answer lost") << "1200"
                                          << "settings block 0x1200";
    QTest::newRow("relay 2 alarm answer lost") << "120A"
                                               << "settings block 0x120A";
}

void TestScenarioCommissioning::reportNotWrittenFromFailedReads() {
    QFETCH(QString, reg);
    QFETCH(QString, failed);
    // The report's read and the one read again are lost; the next is answered.
    TSimMeter meter({"--serial", Serial, "--lose-answer", reg, "--lose-answer", reg});
    QVERIFY(meter.Started());
    TProgram p;
    QVERIFY(Online(p));
    p.Modbus().SetQueryTimeout(300);
    QTemporaryDir dir;
    const QString pdf = dir.filePath("r.pdf");
    p.Dialogs.ReportAnswers = {{"Site", "Tech", ""}};
    p.Dialogs.SaveNames = {pdf};
    std::optional<bool> done;
    QString text;
    p.W->Commissioning().OnReportDone = [&](bool written, const QString& t) {
        done = written;
        text = t;
    };
    QStringList filesAtBoxes;
    p.Dialogs.OnBox = [&](const TScriptedDialogs::TBox&) {
        filesAtBoxes << QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).join(",");
    };
    // Read again once (lost again), then not: nothing is written, the box names the read.
    p.Dialogs.Answers = {IDialogs::ResultYes, IDialogs::ResultNo};
    const std::size_t boxes = p.Dialogs.Boxes.size();
    p.W->StartCommissioningReport()->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(done.has_value(), Wait);
    QVERIFY(!*done);
    const QString reason = QString("The commissioning report was not written: the meter did not "
                                   "answer the read of %1.")
                               .arg(failed);
    QCOMPARE(text, reason);
    QCOMPARE(p.Dialogs.Boxes.size(), boxes + 2);
    for (std::size_t k = boxes; k < p.Dialogs.Boxes.size(); ++k) {
        QCOMPARE(p.Dialogs.Boxes[k].Caption, QString("Commissioning Report"));
        QCOMPARE(p.Dialogs.Boxes[k].Buttons, IDialogs::YesNo);
        QCOMPARE(p.Dialogs.Boxes[k].Text, reason + "\n\nRead the meter again?");
    }
    QCOMPARE(filesAtBoxes, QStringList({"", ""}));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());

    // The answer is no longer lost: the report is whole.
    done.reset();
    p.Dialogs.ReportAnswers = {{"Site", "Tech", ""}};
    p.Dialogs.SaveNames = {pdf};
    p.W->StartCommissioningReport()->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(done.has_value(), Wait);
    QVERIFY2(*done, qPrintable(text));
    QVERIFY(p.Dialogs.Boxes.back().Text.startsWith("The commissioning report CR-"));
    QFile jsonFile(dir.filePath("r.json"));
    QVERIFY(jsonFile.open(QIODevice::ReadOnly));
    const QJsonObject o = QJsonDocument::fromJson(jsonFile.readAll()).object();
    QCOMPARE(o["identity"]["serialNumber"].toString(), QString(Serial));
    QCOMPARE(o["settings"].toArray().size(), 39);
    QCOMPARE(o["energy"].toArray().size(), 6);
}

QTEST_MAIN(TestScenarioCommissioning)
#include "tst_scenario_commissioning.moc"
