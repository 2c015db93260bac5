// The Write Journal window over the file: it follows the journal as it grows (a write made
// while it is open appears, an outcome completes its "sent" entry), counts damaged lines, and
// its export writes every entry of the file that matches the filter.
#include "commissioning/JournalFile.h"
#include "commissioning/frmJournal.h"
#include "support/ScriptedDialogs.h"

#include <QComboBox>
#include <QLabel>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

namespace {

TJournalEntry Entry(const QString& what, const QString& serial, const QString& outcome,
                    const QString& id = {}) {
    TJournalEntry e;
    e.Time = QDateTime(QDate(2026, 12, 7), QTime(10, 0), QTimeZone::utc());
    e.Port = "COM1";
    e.Address = 7;
    e.SerialNumber = serial;
    e.Write = {"relay", what, {{what, "OFF", "ON"}}};
    e.Outcome = outcome;
    e.Id = id;
    return e;
}

QStringList Whats(const TFormJournal& w) {
    QStringList out;
    for (int row = 0; row < w.ShownCount(); ++row)
        out << w.ShownEntry(row)->Write.What + "=" + w.ShownEntry(row)->Outcome;
    return out;
}

} // namespace

class TestJournalWindow : public QObject {
    Q_OBJECT

private slots:
    void followsTheJournal();
    void exportWritesTheWholeJournal();
};

void TestJournalWindow::followsTheJournal() {
    QTemporaryDir dir;
    TJournalFile file(dir.filePath("journal.jsonl"));
    QString error;
    QVERIFY(file.Append(JournalLine(Entry("Relay 1", "KT-1", "accepted")), error));
    TScriptedDialogs dialogs;
    TFormJournal window(file, dialogs);
    window.show();
    QCOMPARE(Whats(window), QStringList({"Relay 1=accepted"}));
    // Times show as every window shows them, to the second, without the file's ISO form.
    auto* table = window.findChild<QTableView*>();
    QVERIFY(table);
    QCOMPARE(table->model()->index(0, 0).data().toString(),
             QDateTime(QDate(2026, 12, 7), QTime(10, 0), QTimeZone::utc())
                 .toLocalTime()
                 .toString("yyyy-MM-dd HH:mm:ss"));

    // A relay switched while the window is open: its entry "sent" (the serial number not read
    // yet), then its outcome.
    QVERIFY(file.Append(JournalLine(Entry("Relay 2", "", "sent", "s-1")), error));
    QTRY_COMPARE_WITH_TIMEOUT(Whats(window), QStringList({"Relay 2=sent", "Relay 1=accepted"}),
                              10000);
    QCOMPARE(window.ComboMeter->count(), 3); // all, KT-1, not known
    QVERIFY(file.Append(JournalLine(Entry("Relay 2", "KT-1", "no answer", "s-1")), error));
    QTRY_COMPARE_WITH_TIMEOUT(Whats(window), QStringList({"Relay 2=no answer", "Relay 1=accepted"}),
                              10000);

    // Another meter, after a line a crash cut short.
    QFile raw(file.Path());
    QVERIFY(raw.open(QIODevice::Append));
    raw.write(R"({"time":"2026-12)");
    raw.close();
    QVERIFY(file.Append(JournalLine(Entry("Relay 1", "KT-2", "accepted")), error));
    QTRY_COMPARE_WITH_TIMEOUT(window.ShownCount(), 3, 10000);
    // The outcome named the meter: no entry is left without one.
    QCOMPARE(window.ComboMeter->count(), 3); // all, KT-1, KT-2
    QCOMPARE(window.ComboMeter->itemText(2), QString("KT-2"));
    QVERIFY2(window.LabelStatus->text().contains("1 damaged line"),
             qPrintable(window.LabelStatus->text()));
    window.SetMeterFilter("KT-2");
    QCOMPARE(Whats(window), QStringList({"Relay 1=accepted"}));
    if (qEnvironmentVariableIsSet("KT_JOURNAL_SHOT")) {
        window.SetMeterFilter({});
        window.GridEntries->selectRow(1);
        window.grab().save(qEnvironmentVariable("KT_JOURNAL_SHOT"));
    }
}

void TestJournalWindow::exportWritesTheWholeJournal() {
    QTemporaryDir dir;
    TJournalFile file(dir.filePath("journal.jsonl"));
    QString error;
    QVERIFY(file.Append(JournalLine(Entry("Relay 1", "KT-1", "accepted")), error));
    QVERIFY(file.Append(JournalLine(Entry("Relay 1", "KT-2", "accepted")), error));
    TScriptedDialogs dialogs;
    TFormJournal window(file, dialogs);
    window.SetMeterFilter("KT-1");
    // Written after the window last looked: the export takes it all the same.
    QVERIFY(file.Append(JournalLine(Entry("Relay 2", "KT-1", "no answer")), error));
    dialogs.SaveNames = {dir.filePath("journal.csv")};
    window.ButtonExportClick();
    QVERIFY(dialogs.Boxes.empty());
    QFile csv(dir.filePath("journal.csv"));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QList<QByteArray> rows = csv.readAll().split('\n');
    QCOMPARE(rows.size(), 4); // heading, the two entries of KT-1, the empty rest
    QVERIFY(rows[1].contains("Relay 1: OFF -> ON"));
    QVERIFY(rows[2].contains("Relay 2: OFF -> ON,no answer"));
    QVERIFY(!rows[1].contains("KT-2") && !rows[2].contains("KT-2"));
}

QTEST_MAIN(TestJournalWindow)
#include "tst_journalwindow.moc"
