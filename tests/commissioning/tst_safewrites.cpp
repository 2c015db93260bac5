// Safe settings writes: the changes listed before a write, the backup made before the first
// write (in the settings file format, the newest kept), and the verification against the
// read-back, refused blocks included.
#include "commissioning/BackupPruning.h"
#include "commissioning/JournalRecorder.h"
#include "commissioning/SafeWrites.h"
#include "commissioning/SettingsGuard.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsWriteGuard.h"
#include "support/ScriptedDialogs.h"

#include "CommissioningTestKit.h"
#include <QTemporaryDir>

#include <map>

#include <QtTest>

namespace {

using namespace commtest;

// What a 3.05 meter holds (the basic layout: three blocks).
const auto General = Regs({1234, 1, 19200, 3, 0, 400, 0, 400, 50, 5, 0, 7, 0});
const auto Alarm = Regs({1, 1, 1000, 1, 2300, 5, 1, 1});
const auto Analog = Regs({3, 1, 100, 20, 0, 1, 6, 0, 120, 0, 1, 0});
const auto Identity305 = Identity("3.05", "160121");

void Fill(TFedMemory& m) {
    m.RegistersRead(0xF000, Identity305);
    m.RegistersRead(0x1100, General);
    m.RegistersRead(0x1200, Alarm);
    m.RegistersRead(0x1300, Analog);
}

std::string WriteText(std::uint16_t start, const std::vector<std::uint16_t>& data) {
    QString t = QString("00,10,%1,%2,00,%3,%4")
                    .arg(start >> 8, 2, 16, QChar('0'))
                    .arg(start & 0xFF, 2, 16, QChar('0'))
                    .arg(data.size(), 2, 16, QChar('0'))
                    .arg(data.size() * 2, 2, 16, QChar('0'));
    for (std::uint16_t v : data)
        t += QString(",%1,%2").arg(v >> 8, 2, 16, QChar('0')).arg(v & 0xFF, 2, 16, QChar('0'));
    return t.toUpper().toStdString();
}

std::vector<std::uint16_t> With(std::vector<std::uint16_t> regs, int offset, int value) {
    regs[static_cast<std::size_t>(offset)] = static_cast<std::uint16_t>(value);
    return regs;
}

// The settings a verification box names, "caption=result" sorted, read from its text: each
// indented line belongs to the heading above it.
QStringList BoxVerdicts(const QString& text) {
    const std::vector<std::pair<QString, QString>> headings{{"written and verified", "verified"},
                                                            {"Refused by the meter", "refused"},
                                                            {"Not sent", "not sent"},
                                                            {"Not verified", "not verified"},
                                                            {"Not as confirmed", "not as written"}};
    QStringList verdicts;
    QString result;
    for (const QString& line : text.split('\n')) {
        if (!line.startsWith("  ")) {
            result.clear();
            for (const auto& [words, name] : headings)
                if (line.contains(words))
                    result = name;
            continue;
        }
        verdicts << line.trimmed().section(':', 0, 0) + "=" + result;
    }
    verdicts.sort();
    return verdicts;
}

// Feeds the guard and the recorder what the link reports, as in journalAgreesWithTheBox.
void Play(const QStringList& events, const std::map<QString, std::string>& queries, TFedMemory& m,
          TSettingsGuard& guard, TJournalRecorder& recorder) {
    const TLinkLine line;
    for (const QString& event : events) {
        const QString what = event.section(':', 0, 0);
        const QString how = event.section(':', 1);
        if (what == "drop") {
            guard.QueriesDropped({queries.at(how)});
            continue;
        }
        const std::string& text = queries.at(what);
        TQueryOutcome outcome;
        if (how == "exception")
            outcome = {TQueryResult::Exception, 4};
        else if (how == "lost")
            outcome.Result = TQueryResult::NoAnswer;
        else if (what == "r1100")
            m.RegistersRead(0x1100, how == "other" ? General : With(General, 8, 100));
        else if (what == "r1200")
            m.RegistersRead(0x1200, With(Alarm, 5, 9));
        if (what.startsWith('w'))
            recorder.QueryStarting(text, line);
        recorder.QueryFinished(text, line, outcome);
        guard.QueryFinished(text, line, outcome);
    }
}

} // namespace

class TestSafeWrites : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void blockWrites_data();
    void blockWrites();
    void changeLines_data();
    void changeLines();
    void backupName();
    void backupsToDelete_data();
    void backupsToDelete();
    void backupOfTheWriteKept();
    void verification_data();
    void verification();
    void settingOutcomes_data();
    void settingOutcomes();
    void backupBeforeTheWrites();
    void noBackupNoWrite();
    void newestHundredKept();
    void guardFollowsTheReadBacks_data();
    void guardFollowsTheReadBacks();
    void journalAgreesWithTheBox_data();
    void journalAgreesWithTheBox();
};

void TestSafeWrites::blockWrites_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("block"); // 0: not a settings block write
    QTest::newRow("0x1100") << QString::fromStdString(WriteText(0x1100, General)) << 0x1100;
    QTest::newRow("0x1300") << QString::fromStdString(WriteText(0x1300, Analog)) << 0x1300;
    QTest::newRow("read") << "00,03,11,00,00,0D" << 0;
    QTest::newRow("energy preset") << "00,10,11,80,00,02,04,00,00,00,01" << 0;
    QTest::newRow("short data") << "00,10,12,08,00,02,04,00,01" << 0;
}

void TestSafeWrites::blockWrites() {
    QFETCH(QString, text);
    QFETCH(int, block);
    const auto w = SettingsBlockWrite(text.toStdString());
    QCOMPARE(w.has_value(), block != 0);
    if (w)
        QCOMPARE(int(w->Block), block);
}

void TestSafeWrites::changeLines_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("value");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("same values") << 0x1100 << 0 << 1234 << QStringList{};
    QTest::newRow("CT1") << 0x1100 << 8 << 100 << QStringList{"CT1: 50 A -> 100 A"};
    QTest::newRow("address moves the link")
        << 0x1100 << 1 << 7 << QStringList{"Address: 1 -> 7  (moves the link)"};
    QTest::newRow("baud moves the link")
        << 0x1100 << 2 << 9600 << QStringList{"Baud Rate: 19200 bps -> 9600 bps  (moves the link)"};
    QTest::newRow("parity moves the link")
        << 0x1100 << 3 << 0 << QStringList{"Parity: None 1 -> Even  (moves the link)"};
    QTest::newRow("single alarm setpoint")
        << 0x1200 << 4 << 2400 << QStringList{"Alarm Setpoint: 230.0 V -> 240.0 V"};
    QTest::newRow("backlight by its caption")
        << 0x1100 << 11 << 9 << QStringList{"Turn On the Backlight: 7 min -> 9 min"};
    QTest::newRow("AO limit") << 0x1300 << 3 << 25 << QStringList{"AO1 Low Limit: 20 % -> 25 %"};
}

void TestSafeWrites::changeLines() {
    QFETCH(int, start);
    QFETCH(int, offset);
    QFETCH(int, value);
    QFETCH(QStringList, lines);
    TFedMemory m(nullptr);
    Fill(m);
    const auto& base = start == 0x1100 ? General : start == 0x1200 ? Alarm : Analog;
    const auto w =
        SettingsBlockWrite(WriteText(static_cast<std::uint16_t>(start), With(base, offset, value)));
    QVERIFY(w);
    QCOMPARE(ChangeLines({*w}, m.Settings(), m.SoftwareVersion(), m.Scaling()), lines);
    QCOMPARE(ConfirmWithChanges("Sure?", lines),
             lines.isEmpty() ? QString("Sure?\n\nNo changes") : "Sure?\n\n" + lines.join('\n'));
}

void TestSafeWrites::backupName() {
    const QDateTime t(QDate(2026, 12, 7), QTime(14, 3, 12, 45));
    // The meter's serial numbers name the model already: one prefix.
    QCOMPARE(BackupFileName("KT580-19080001", t),
             QString("KT580-19080001-20261207-140312-045.pmt"));
    QCOMPARE(BackupFileName("kt580-7", t), QString("KT580-7-20261207-140312-045.pmt"));
    QCOMPARE(BackupFileName("19080001", t), QString("KT580-19080001-20261207-140312-045.pmt"));
    QCOMPARE(BackupFileName("KT580-", t), QString("KT580-KT580--20261207-140312-045.pmt"));
    QCOMPARE(BackupFileName("../a b/c", t), QString("KT580-.._a_b_c-20261207-140312-045.pmt"));
    QCOMPARE(BackupFileName("", t), QString("KT580-unknown-20261207-140312-045.pmt"));
}

void TestSafeWrites::backupsToDelete_data() {
    QTest::addColumn<QString>("files"); // name@minute past the hour of its file time
    QTest::addColumn<int>("keep");
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("deleted");
    QTest::newRow("under the limit") << "a@1 b@2" << 2 << "b"
                                     << "";
    QTest::newRow("oldest beyond the limit") << "c@3 a@1 b@2 d@4" << 2 << "d"
                                             << "b a";
    // The clock was set back, or later backups were copied in: the one just made stays.
    QTest::newRow("newer files than the write's") << "x@10 y@11 z@12 now@1" << 3 << "now"
                                                  << "x";
    QTest::newRow("equal times by name") << "k-001@5 k-003@5 k-002@5" << 2 << ""
                                         << "k-001";
    QTest::newRow("limit of none keeps the write's") << "a@1 now@2" << 0 << "now"
                                                     << "a";
    QTest::newRow("write's file not among them") << "a@1 b@2" << 1 << "gone"
                                                 << "a";
}

void TestSafeWrites::backupsToDelete() {
    QFETCH(QString, files);
    QFETCH(int, keep);
    QFETCH(QString, current);
    QFETCH(QString, deleted);
    std::vector<TBackupFile> list;
    const QDateTime hour(QDate(2026, 12, 7), QTime(14, 0));
    for (const QString& f : files.split(' ', Qt::SkipEmptyParts))
        list.push_back({f.section('@', 0, 0), hour.addSecs(60 * f.section('@', 1).toInt())});
    QCOMPARE(BackupsToDelete(list, keep, current).join(' '), deleted);
}

void TestSafeWrites::backupOfTheWriteKept() {
    // A hundred backups dated after the write's own (copied in, or the clock set back).
    QTemporaryDir dir;
    const QString folder = dir.filePath("backups");
    QDir().mkpath(folder);
    const QDateTime later(QDate(2031, 1, 1), QTime(0, 0));
    for (int k = 0; k < 100; ++k) {
        QFile f(folder + QString("/KT580-copied-%1.pmt").arg(k, 3, 10, QChar('0')));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.setFileTime(later.addSecs(k), QFileDevice::FileModificationTime));
    }
    TFedMemory m(nullptr);
    Fill(m);
    TScriptedDialogs dialogs;
    TSettingsGuard guard(m, dialogs, folder);
    guard.Now = [] { return QDateTime(QDate(2026, 12, 7), QTime(9, 0)); };
    QVERIFY(guard.BeforeWrites({}));
    QVERIFY(QFileInfo::exists(guard.LastBackup()));
    const QStringList left = QDir(folder).entryList({"KT580-*.pmt"}, QDir::Files, QDir::Name);
    QCOMPARE(left.size(), 100);
    QVERIFY(!left.contains("KT580-copied-000.pmt"));
}

void TestSafeWrites::verification_data() {
    QTest::addColumn<int>("result");    // TQueryResult of the 0x1100 write
    QTest::addColumn<bool>("readBack"); // the read of 0x1100 afterwards was answered
    QTest::addColumn<int>("readCT1");   // what the meter gives back for CT1
    QTest::addColumn<bool>("verified");
    QTest::addColumn<QString>("text");
    const int answered = int(TQueryResult::Answered);
    const QString done = "1 changed setting written and verified:\n  CT1: 50 A -> 100 A";
    const QString none = "0 of 1 changed settings written and verified.\n";
    QTest::newRow("written and read back") << answered << true << 100 << true << done;
    QTest::newRow("answer lost, value there")
        << int(TQueryResult::NoAnswer) << true << 100 << true << done;
    QTest::newRow("read-back lost")
        << answered << false << 100 << false
        << none + "Not verified (the meter's answer to the read-back was lost):\n"
                  "  CT1: 50 A -> 100 A";
    QTest::newRow("bad answer, read-back lost")
        << int(TQueryResult::BadAnswer) << false << 100 << false
        << none + "Not verified (the meter's answer to the read-back was lost):\n"
                  "  CT1: 50 A -> 100 A";
    QTest::newRow("meter holds another value")
        << answered << true << 50 << false
        << none + "Not as confirmed:\n  CT1: confirmed 100 A, the meter holds 50 A";
    QTest::newRow("refused")
        << int(TQueryResult::Exception) << true << 50 << false
        << none + "Refused by the meter (block 0x1100, exception 04):\n  CT1: 50 A -> 100 A";
}

void TestSafeWrites::verification() {
    QFETCH(int, result);
    QFETCH(bool, readBack);
    QFETCH(int, readCT1);
    QFETCH(bool, verified);
    QFETCH(QString, text);
    TFedMemory before(nullptr);
    Fill(before);
    std::vector<TBlockWrite> writes;
    for (auto [start, data] :
         {std::pair{0x1100, With(General, 8, 100)}, {0x1200, Alarm}, {0x1300, Analog}}) {
        auto w = SettingsBlockWrite(WriteText(static_cast<std::uint16_t>(start), data));
        QVERIFY(w);
        w->Outcome = TQueryOutcome{TQueryResult::Answered, 0};
        w->ReadBack = true;
        writes.push_back(*w);
    }
    writes[0].Outcome =
        TQueryOutcome{TQueryResult(result), result == int(TQueryResult::Exception) ? 4 : 0};
    writes[0].ReadBack = readBack;
    TFedMemory after(nullptr);
    Fill(after);
    after.RegistersRead(0x1100, With(General, 8, readCT1));
    const TVerification v =
        VerifyWrites(writes, before.Settings(), before.Scaling(), after.Settings(), "3.05");
    QCOMPARE(v.AllVerified, verified);
    QCOMPARE(v.Text, text);
}

void TestSafeWrites::settingOutcomes_data() {
    // Before: CT 50/5, the alarm on I A at 40 A (4000 at ratio 10). The sequence: CT 100/7 and
    // the alarm block computed for that ratio (40 A is 2800 at ratio 100/7).
    QTest::addColumn<int>("general");   // TQueryResult of the 0x1100 write
    QTest::addColumn<bool>("sent1200"); // block 0x1200 went out (else held back)
    QTest::addColumn<QStringList>("outcomes");
    const int refused = int(TQueryResult::Exception);
    QTest::newRow("all taken") << int(TQueryResult::Answered) << true
                               << QStringList{"CT1 changed verified", "CT2 changed verified"};
    // The meter kept CT 50/5 and took 2800: it alarms at 28 A, not at the 40 A confirmed.
    QTest::newRow("ratios refused, setpoint sent")
        << refused << true
        << QStringList{"CT1 changed refused", "CT2 changed refused",
                       "AlarmSetpoint same not as written 40.00 A / 28.00 A"};
    QTest::newRow("ratios refused, setpoint held back")
        << refused << false << QStringList{"CT1 changed refused", "CT2 changed refused"};
}

void TestSafeWrites::settingOutcomes() {
    QFETCH(int, general);
    QFETCH(bool, sent1200);
    QFETCH(QStringList, outcomes);
    const auto alarmAt = [](int raw) { return With(With(Alarm, 3, 7), 4, raw); };
    TFedMemory before(nullptr);
    Fill(before);
    before.RegistersRead(0x1200, alarmAt(4000));
    const auto ratios = With(With(General, 8, 100), 9, 7);
    auto w1100 = *SettingsBlockWrite(WriteText(0x1100, ratios));
    auto w1200 = *SettingsBlockWrite(WriteText(0x1200, alarmAt(2800)));
    w1100.Outcome = TQueryOutcome{TQueryResult(general), 4};
    w1100.ReadBack = true;
    w1200.Outcome = sent1200 ? std::optional(TQueryOutcome{}) : std::nullopt;
    w1200.NotSent = !sent1200;
    w1200.ReadBack = true;
    // What the meter then gives back, read as the link reads it.
    TFedMemory after(nullptr);
    Fill(after);
    after.RegistersRead(0x1100, general == int(TQueryResult::Exception) ? General : ratios);
    after.RegistersRead(0x1200, alarmAt(sent1200 ? 2800 : 4000));
    static const QMap<TSettingResult, QString> words{
        {TSettingResult::Verified, "verified"},
        {TSettingResult::NotAsWritten, "not as written"},
        {TSettingResult::NotVerified, "not verified"},
        {TSettingResult::Refused, "refused"},
        {TSettingResult::NotSent, "not sent"}};
    QStringList got;
    for (const TSettingCheck& c : CheckSettings({w1100, w1200}, before.Settings(), before.Scaling(),
                                                after.Settings(), "3.05")) {
        // The settings nobody changed and that are as they were say nothing.
        if (!c.Changed && c.Result != TSettingResult::NotAsWritten)
            continue;
        QString line = QString::fromLatin1(c.Field->Name) + (c.Changed ? " changed " : " same ") +
                       words.value(c.Result);
        if (c.Result == TSettingResult::NotAsWritten)
            line += " " + c.Wanted + " / " + c.Held;
        got << line;
    }
    QCOMPARE(got, outcomes);
}

void TestSafeWrites::backupBeforeTheWrites() {
    QTemporaryDir dir;
    TFedMemory m(nullptr);
    Fill(m);
    m.RegistersRead(0xF040, SerialNumber("KT-9"));
    TScriptedDialogs dialogs;
    TSettingsGuard guard(m, dialogs, dir.filePath("backups"));
    guard.Now = [] { return QDateTime(QDate(2026, 12, 7), QTime(9, 0)); };
    QVERIFY(guard.BeforeWrites({WriteText(0x1100, With(General, 8, 100))}));
    QCOMPARE(guard.LastBackup(), dir.filePath("backups/KT580-KT-9-20261207-090000-000.pmt"));
    // Load brings back what the meter held, field for field.
    TMeterSettings loaded;
    QString error;
    QVERIFY(LoadSettingsFile(guard.LastBackup(), loaded, error));
    QCOMPARE(loaded, m.Settings());
    QVERIFY(dialogs.Boxes.empty());
}

void TestSafeWrites::noBackupNoWrite() {
    QTemporaryDir dir;
    TScriptedDialogs dialogs;
    // Settings not all read: nothing to back up.
    TFedMemory partial(nullptr);
    partial.RegistersRead(0xF000, Identity305);
    partial.RegistersRead(0x1100, General);
    TSettingsGuard g1(partial, dialogs, dir.filePath("backups"));
    QVERIFY(!g1.BeforeWrites({WriteText(0x1100, General)}));
    QCOMPARE(dialogs.Boxes.size(), std::size_t(1));
    QVERIFY(dialogs.Boxes[0].Text.contains("nothing was written"));
    // A folder that cannot be made.
    TFedMemory m(nullptr);
    Fill(m);
    QFile blocker(dir.filePath("file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TSettingsGuard g2(m, dialogs, dir.filePath("file/backups"));
    QVERIFY(!g2.BeforeWrites({WriteText(0x1100, General)}));
    QCOMPARE(dialogs.Boxes.size(), std::size_t(2));
    QVERIFY(dialogs.Boxes[1].Text.contains("could not be backed up"));
}

void TestSafeWrites::newestHundredKept() {
    QTemporaryDir dir;
    const QString folder = dir.filePath("backups");
    QDir().mkpath(folder);
    const QDateTime base(QDate(2026, 1, 1), QTime(0, 0));
    for (int k = 0; k < 105; ++k) {
        QFile f(folder + QString("/KT580-old-%1.pmt").arg(k, 3, 10, QChar('0')));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(base.addSecs(k), QFileDevice::FileModificationTime));
    }
    TFedMemory m(nullptr);
    Fill(m);
    TScriptedDialogs dialogs;
    TSettingsGuard guard(m, dialogs, folder);
    QVERIFY(guard.BeforeWrites({}));
    const QStringList left = QDir(folder).entryList({"KT580-*.pmt"}, QDir::Files, QDir::Name);
    QCOMPARE(left.size(), 100);
    QVERIFY(left.contains(QFileInfo(guard.LastBackup()).fileName()));
    // The six oldest went, the others stay.
    for (int k = 0; k < 6; ++k)
        QVERIFY(!left.contains(QString("KT580-old-%1.pmt").arg(k, 3, 10, QChar('0'))));
    QVERIFY(left.contains("KT580-old-006.pmt"));
}

void TestSafeWrites::guardFollowsTheReadBacks_data() {
    // What the link reports, in order: "w1100:exception", "drop:w1200", "r1100:answered", ...;
    // "end" is the end of the link.
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<bool>("closing");
    QTest::addColumn<QString>("text"); // empty: nothing told yet
    const QString refused =
        "0 of 1 changed settings written and verified.\nRefused by the meter (block 0x1100, "
        "exception 04):\n  CT1: 50 A -> 100 A";
    QTest::newRow("refused, the next block held back")
        << QStringList{"w1100:exception", "drop:w1200", "r1200:answered", "r1100:answered"} << false
        << refused + "\nNot sent (block 0x1200): no setting in it changed.";
    // A read of a block before its write has gone out is no read-back.
    QTest::newRow("refused, read of the next block before its write")
        << QStringList{"w1100:exception", "r1200:answered", "w1200:answered", "r1100:answered"}
        << false << QString();
    QTest::newRow("a lost read-back does not end the sequence")
        << QStringList{"w1100:answered", "w1200:answered", "r1100:lost", "r1200:answered"} << false
        << "0 of 1 changed settings written and verified.\nNot verified (the meter's answer to "
           "the read-back was lost):\n  CT1: 50 A -> 100 A";
    QTest::newRow("link ended after the writes")
        << QStringList{"w1100:answered", "w1200:answered", "end"} << false
        << "0 of 1 changed settings written and verified.\nNot verified (the meter's answer to "
           "the read-back was lost):\n  CT1: 50 A -> 100 A";
    QTest::newRow("link ended before the second write")
        << QStringList{"w1100:answered", "r1100:answered", "end"} << false
        << "1 of 1 changed settings written and verified:\n  CT1: 50 A -> 100 A\nNot sent (block "
           "0x1200): no setting in it changed.";
    QTest::newRow("closing: told without a box")
        << QStringList{"w1100:exception", "w1200:answered", "end"} << true << refused;
}

void TestSafeWrites::guardFollowsTheReadBacks() {
    QFETCH(QStringList, events);
    QFETCH(bool, closing);
    QFETCH(QString, text);
    QTemporaryDir dir;
    TFedMemory m(nullptr);
    Fill(m);
    TScriptedDialogs dialogs;
    TSettingsGuard guard(m, dialogs, dir.path());
    guard.Closing = [closing] { return closing; };
    std::optional<std::pair<bool, QString>> told;
    guard.OnVerified = [&](bool ok, const QString& t) { told = {ok, t}; };
    const std::map<QString, std::string> queries{
        {"w1100", WriteText(0x1100, With(General, 8, 100))},
        {"w1200", WriteText(0x1200, Alarm)},
        {"r1100", "00,03,11,00,00,0D"},
        {"r1200", "00,03,12,00,00,08"}};
    QVERIFY(guard.BeforeWrites({queries.at("w1100"), queries.at("w1200")}));
    const TLinkLine line;
    for (const QString& event : events) {
        const QString what = event.section(':', 0, 0);
        const QString how = event.section(':', 1);
        if (what == "end") {
            guard.CycleEnded();
        } else if (what == "drop") {
            guard.QueriesDropped({queries.at(how)});
        } else {
            TQueryOutcome outcome;
            if (how == "exception")
                outcome = {TQueryResult::Exception, 4};
            else if (how == "lost")
                outcome.Result = TQueryResult::NoAnswer;
            else if (what == "r1100")
                m.RegistersRead(0x1100, With(General, 8, 100));
            guard.QueryFinished(queries.at(what), line, outcome);
        }
    }
    if (text.isEmpty()) {
        QCoreApplication::processEvents();
        QVERIFY(!told);
        return;
    }
    QTRY_VERIFY(told.has_value());
    QCOMPARE(told->second, text);
    QCOMPARE(told->first, false);
    if (closing) {
        QVERIFY(dialogs.Boxes.empty());
        return;
    }
    QCOMPARE(dialogs.Boxes.size(), std::size_t(1));
    QCOMPARE(dialogs.Boxes.back().Text, text);
    QCOMPARE(dialogs.Boxes.back().Caption, QString("Settings Written to the Meter"));
    QCOMPARE(dialogs.Boxes.back().Icon, IDialogs::Warning);
}

void TestSafeWrites::journalAgreesWithTheBox_data() {
    // As in guardFollowsTheReadBacks; "r1100:other" is a read-back with CT1 as it was.
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("verdicts"); // "caption=result"
    QTest::newRow("all verified") << QStringList{"w1100:answered", "w1200:answered",
                                                 "r1100:answered", "r1200:answered"}
                                  << QStringList{"CT1=verified", "Alarm Delay (sec)=verified"};
    QTest::newRow("one read-back lost")
        << QStringList{"w1100:answered", "w1200:answered", "r1100:answered", "r1200:lost"}
        << QStringList{"CT1=verified", "Alarm Delay (sec)=not verified"};
    QTest::newRow("one setting read back otherwise")
        << QStringList{"w1100:answered", "w1200:answered", "r1100:other", "r1200:answered"}
        << QStringList{"CT1=not as written", "Alarm Delay (sec)=verified"};
    QTest::newRow("block refused")
        << QStringList{"w1100:exception", "w1200:answered", "r1100:answered", "r1200:answered"}
        << QStringList{"CT1=refused", "Alarm Delay (sec)=verified"};
    QTest::newRow("not sent") << QStringList{"w1100:answered", "drop:w1200", "r1100:answered",
                                             "r1200:answered"}
                              << QStringList{"CT1=verified", "Alarm Delay (sec)=not sent"};
}

void TestSafeWrites::journalAgreesWithTheBox() {
    QFETCH(QStringList, events);
    QFETCH(QStringList, verdicts);
    verdicts.sort();
    QTemporaryDir dir;
    TFedMemory m(nullptr);
    Fill(m);
    TScriptedDialogs dialogs;
    TSettingsGuard guard(m, dialogs, dir.path());
    guard.Closing = [] { return true; };
    TJournalFile file(dir.filePath("journal.jsonl"));
    TJournalRecorder recorder(m, file);
    guard.OnChecked = [&](const TVerification& v) { recorder.RecordVerification(v); };
    std::optional<std::pair<bool, QString>> told;
    guard.OnVerified = [&](bool ok, const QString& t) { told = {ok, t}; };
    const std::map<QString, std::string> queries{
        {"w1100", WriteText(0x1100, With(General, 8, 100))},
        {"w1200", WriteText(0x1200, With(Alarm, 5, 9))},
        {"r1100", "00,03,11,00,00,0D"},
        {"r1200", "00,03,12,00,00,08"}};
    QVERIFY(guard.BeforeWrites({queries.at("w1100"), queries.at("w1200")}));
    Play(events, queries, m, guard, recorder);
    QVERIFY(told.has_value());
    QCOMPARE(BoxVerdicts(told->second), verdicts);
    // The journal's last entry completes the sequence with the same settings and results.
    QFile f(file.Path());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const std::vector<TJournalEntry> entries = ParseJournal(f.readAll());
    QVERIFY(!entries.empty());
    const TJournalEntry& done = entries.back();
    QCOMPARE(done.Write.Kind, QString(JournalVerification));
    QCOMPARE(done.Outcome, told->first ? QString("verified") : QString("not all verified"));
    QCOMPARE(done.Write.What, told->second.section('\n', 0, 0).chopped(1));
    QStringList journalled;
    for (const TWriteChange& c : done.Write.Changes) {
        journalled << c.Item + "=" + c.Result;
        // Each as the box words it, the held value of a setting read back otherwise included.
        const QString shown =
            c.Result == "not as written"
                ? c.Item + ": confirmed " + c.After + ", the meter holds " + c.Held
                : c.Item + ": " + c.Before.value_or("?") + " -> " + c.After;
        QVERIFY2(told->second.contains(shown), qPrintable(shown));
        QVERIFY(JournalCsvRow(done).contains(ChangeText(c)));
    }
    journalled.sort();
    QCOMPARE(journalled, verdicts);
    QCOMPARE(recorder.Session().back(), done);
}

QTEST_MAIN(TestSafeWrites)
#include "tst_safewrites.moc"
