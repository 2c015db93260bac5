// The names the save dialogs are opened on: the meter's serial number, the kind of document
// and the day, in the documents folder until a folder has been saved to, then in that folder,
// kind by kind; and the windows that save ask for the kind they save.
#include "commissioning/JournalFile.h"
#include "commissioning/frmJournal.h"
#include "comms/CommMonitor.h"
#include "comms/frmCommunication.h"
#include "support/ScriptedDialogs.h"
#include "support/ShellTestKit.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace shelltest;

class TestSaveNames : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(PrivateConfig()); }
    void init() { ClearStore(); }

    void suggestedAndRemembered_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("name");
        QTest::newRow("report") << "report"
                                << "pdf"
                                << "KT-0042"
                                << "KT580-KT-0042-report-2026-12-08.pdf";
        QTest::newRow("report, no serial") << "report"
                                           << "pdf"
                                           << ""
                                           << "KT580-report-2026-12-08.pdf";
        QTest::newRow("journal") << "journal"
                                 << "csv"
                                 << "A1"
                                 << "KT580-A1-journal-2026-12-08.csv";
        QTest::newRow("trend, no serial") << "trend"
                                          << "png"
                                          << " "
                                          << "KT580-trend-2026-12-08.png";
        QTest::newRow("log, a serial with a slash") << "log"
                                                    << "txt"
                                                    << "12/7"
                                                    << "KT580-12_7-log-2026-12-08.txt";
        QTest::newRow("recording") << "recording"
                                   << "csv"
                                   << "S9"
                                   << "KT580-S9-recording-2026-12-08.csv";
    }
    void suggestedAndRemembered() {
        QFETCH(QString, kind);
        QFETCH(QString, suffix);
        QFETCH(QString, serial);
        QFETCH(QString, name);
        const QDate day(2026, 12, 8);
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        const QString first = SuggestedSavePath(kind, serial, suffix, day);
        QCOMPARE(QFileInfo(first).fileName(), name);
        QCOMPARE(QDir(QFileInfo(first).absolutePath()), QDir(documents));

        // Saved elsewhere: the next suggestion for this kind is there, other kinds stay put.
        QTemporaryDir elsewhere;
        TScriptedDialogs dialogs;
        dialogs.SaveNames = {elsewhere.filePath("mine." + suffix)};
        QCOMPARE(dialogs.SaveDocument(nullptr, kind, serial, "any (*)", suffix),
                 elsewhere.filePath("mine." + suffix));
        QCOMPARE(
            QFileInfo(dialogs.DocumentSuggestions.value(0)).fileName(),
            QFileInfo(SuggestedSavePath(kind, serial, suffix, QDate::currentDate())).fileName());
        const QString next = SuggestedSavePath(kind, serial, suffix, day);
        QCOMPARE(QDir(QFileInfo(next).absolutePath()), QDir(elsewhere.path()));
        QCOMPARE(QFileInfo(next).fileName(), name);
        const QString other = kind == "report" ? "journal" : "report";
        QCOMPARE(QDir(QFileInfo(SuggestedSavePath(other, serial, suffix, day)).absolutePath()),
                 QDir(documents));

        // Cancelled: nothing remembered.
        QTemporaryDir third;
        dialogs.SaveNames.clear();
        QVERIFY(dialogs.SaveDocument(nullptr, kind, serial, "any (*)", suffix).isEmpty());
        QCOMPARE(QDir(QFileInfo(SuggestedSavePath(kind, serial, suffix, day)).absolutePath()),
                 QDir(elsewhere.path()));
    }

    // The windows ask for their own kind, named for the meter they know of.
    void windowsAskForTheirKind() {
        QTemporaryDir dir;
        TScriptedDialogs dialogs;
        const QString today = QDate::currentDate().toString("yyyy-MM-dd");

        TCommMonitor monitor;
        TFormCommunication comm(monitor, dialogs);
        comm.MeterSerial = [] { return QStringLiteral("KT-7"); };
        comm.SaveLogClick();
        QCOMPARE(QFileInfo(dialogs.DocumentSuggestions.value(0)).fileName(),
                 "KT580-KT-7-log-" + today + ".txt");

        TJournalFile file(dir.filePath("journal.jsonl"));
        TFormJournal journal(file, dialogs);
        journal.ButtonExportClick();
        QCOMPARE(QFileInfo(dialogs.DocumentSuggestions.value(1)).fileName(),
                 "KT580-journal-" + today + ".csv");
    }
};

QTEST_MAIN(TestSaveNames)
#include "tst_savenames.moc"
