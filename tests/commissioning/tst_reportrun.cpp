// The commissioning report while it runs: its progress window follows the reads and the
// measurement polling, Cancel (or a disconnect) ends it with nothing written, and a written
// report offers to open the PDF or its folder.
#include "commissioning/Commissioning.h"
#include "commissioning/frmReportProgress.h"
#include "support/LinkRig.h"
#include "support/LinkTestAccess.h"

#include "CommissioningTestKit.h"
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

#include <QtTest>

#include <optional>

namespace {

using namespace commtest;

// The link without a line: the test ends the report's queries itself, as the link would, and
// puts the answers in the meter memory.
struct TReportRig : TLinkRig {
    QTemporaryDir Dir;
    std::int64_t Now = 1000000;
    TCommissioning Comm{Link, Dialogs, nullptr, Dir.filePath("journal.jsonl")};
    std::optional<bool> Done;
    QString Reason;
    // Whether a progress window was open at each box.
    QList<bool> ProgressAtBoxes;

    TReportRig() {
        Comm.NowMs = [this] { return Now; };
        Comm.OnReportDone = [this](bool written, const QString& text) {
            Done = written;
            Reason = text;
        };
        Dialogs.OnBox = [this](const TScriptedDialogs::TBox&) {
            ProgressAtBoxes << (Comm.ReportProgress() != nullptr);
        };
    }
    QString Pdf() const { return Dir.filePath("r.pdf"); }
    // The queries the report waits for: its reads and what was queued ahead of them.
    int Start() {
        Dialogs.ReportAnswers = {{"Site", "Tech", ""}};
        Dialogs.SaveNames = {Pdf()};
        Comm.StartReport();
        return static_cast<int>(Link.PendingQueries().size());
    }
    void Finish(int queries = 1) {
        for (int k = 0; k < queries; ++k)
            Comm.QueryFinished("", Link.Line(), {});
    }
    void AnswerReads() {
        TLinkFeed feed{Link};
        AnswerReportReads(feed);
    }
    void AnswerMeasurement() {
        TLinkTestAccess::Answer(
            Link, 0x1400, Regs({2300, 2300, 2300, 3984, 3984, 3984, 3000, 3000, 3000, 2300, 3984,
                                3000, 500,  400,  2000, 5000, 950,  'L',  0,    0,    100}));
    }
    QStringList Written() const {
        return QDir(Dir.path()).entryList({"r.*"}, QDir::Files | QDir::Hidden);
    }
};

} // namespace

class TestReportRun : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void progressFollowsTheRun();
    void endedBeforeWritten_data();
    void endedBeforeWritten();
    void writtenOffersToOpen_data();
    void writtenOffersToOpen();
    void memoryIsOfTheMeterNowReached();
};

void TestReportRun::progressFollowsTheRun() {
    TReportRig rig;
    rig.Comm.CollectMs = 10000;
    const int reads = rig.Start();
    QVERIFY(reads > 2);
    TFormReportProgress* progress = rig.Comm.ReportProgress();
    QVERIFY(progress);
    QVERIFY(progress->isVisible());
    QVERIFY(!progress->isModal());
    QCOMPARE(progress->Maximum(), reads);
    QCOMPARE(progress->Value(), 0);
    QCOMPARE(progress->Text(), QString("Reading the meter: 0 of %1 queries done...").arg(reads));
    rig.Finish(reads - 1);
    QCOMPARE(progress->Value(), reads - 1);
    rig.AnswerReads();
    // No measurement in the last seconds: the report polls them itself, counted in its time.
    rig.Finish();
    QCOMPARE(progress->Text(), QString("Collecting measurements: 0 of 10 s..."));
    QCOMPARE(progress->Maximum(), 10000);
    QCOMPARE(progress->Value(), 0);
    rig.Now += 4200;
    rig.AnswerMeasurement();
    rig.Finish();
    QCOMPARE(progress->Text(), QString("Collecting measurements: 4 of 10 s..."));
    QCOMPARE(progress->Value(), 4200);
    QVERIFY(!rig.Done);
    rig.Now += 5800;
    rig.Finish();
    QCOMPARE(progress->Value(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(rig.Done.has_value(), 10000);
    QVERIFY2(*rig.Done, qPrintable(rig.Reason));
    QVERIFY(!rig.Comm.ReportProgress());
    QCOMPARE(rig.ProgressAtBoxes, QList<bool>{false});
}

void TestReportRun::endedBeforeWritten_data() {
    QTest::addColumn<int>("finished"); // queries ended before: -1 all, and polling one second
    QTest::addColumn<QString>("how");  // "cancel", "escape", "close" or "disconnect"
    QTest::addColumn<QString>("reason");
    const QString cancelled("The commissioning report was cancelled; nothing was written.");
    const QString lost("The meter was disconnected before the report was complete; nothing "
                       "was written.");
    QTest::newRow("cancel at the start") << 0 << "cancel" << cancelled;
    QTest::newRow("cancel during the reads") << 2 << "cancel" << cancelled;
    QTest::newRow("escape during the reads") << 2 << "escape" << cancelled;
    QTest::newRow("closed during collection") << -1 << "close" << cancelled;
    QTest::newRow("cancel during collection") << -1 << "cancel" << cancelled;
    QTest::newRow("disconnect during the reads") << 2 << "disconnect" << lost;
    QTest::newRow("disconnect during collection") << -1 << "disconnect" << lost;
}

void TestReportRun::endedBeforeWritten() {
    QFETCH(int, finished);
    QFETCH(QString, how);
    QFETCH(QString, reason);
    TReportRig rig;
    const int reads = rig.Start();
    rig.AnswerReads();
    if (finished < 0) {
        rig.Finish(reads);
        rig.Now += 1000;
        rig.AnswerMeasurement();
        rig.Finish();
        QVERIFY(rig.Comm.ReportProgress());
        QVERIFY(rig.Comm.ReportProgress()->Text().startsWith("Collecting measurements: 1 of"));
    } else {
        rig.Finish(finished);
    }
    TFormReportProgress* progress = rig.Comm.ReportProgress();
    QVERIFY(progress && progress->isVisible());
    if (how == "cancel")
        progress->findChild<QPushButton*>("ButtonCancel")->click();
    else if (how == "escape")
        QTest::keyClick(progress, Qt::Key_Escape);
    else if (how == "close")
        progress->close();
    else
        rig.Comm.CycleEnded();
    QVERIFY(!rig.Comm.ReportProgress());
    QVERIFY(!rig.Comm.ReportRunning());
    QTRY_VERIFY_WITH_TIMEOUT(rig.Done.has_value(), 10000);
    QVERIFY(!*rig.Done);
    QCOMPARE(rig.Reason, reason);
    // What was still queued for the report ends without it: nothing more is polled or written.
    const std::size_t queued = rig.Link.PendingQueries().size();
    rig.Now += 60000;
    rig.Finish(reads + 2);
    QCoreApplication::processEvents();
    QCOMPARE(rig.Link.PendingQueries().size(), queued);
    QCOMPARE(rig.Written(), QStringList());
    // An error box for a disconnect only.
    QCOMPARE(rig.Dialogs.Boxes.size(), std::size_t(how == "disconnect" ? 1 : 0));
    QCOMPARE(rig.ProgressAtBoxes, QList<bool>(rig.Dialogs.Boxes.size(), false));
}

void TestReportRun::writtenOffersToOpen_data() {
    QTest::addColumn<int>("choice");
    QTest::addColumn<bool>("opens");     // whether the desktop opens what is asked for
    QTest::addColumn<QString>("opened"); // "pdf", "folder" or empty
    QTest::addColumn<bool>("error");
    QTest::newRow("open report") << 0 << true << "pdf" << false;
    QTest::newRow("open folder") << 1 << true << "folder" << false;
    QTest::newRow("close") << 2 << true << "" << false;
    QTest::newRow("box closed") << -1 << true << "" << false;
    QTest::newRow("report does not open") << 0 << false << "pdf" << true;
}

void TestReportRun::writtenOffersToOpen() {
    QFETCH(int, choice);
    QFETCH(bool, opens);
    QFETCH(QString, opened);
    QFETCH(bool, error);
    TReportRig rig;
    rig.Dialogs.ChoiceAnswers = {choice};
    rig.Dialogs.OpenSucceeds = opens;
    const int reads = rig.Start();
    rig.AnswerReads();
    rig.AnswerMeasurement();
    rig.Finish(reads);
    QTRY_VERIFY_WITH_TIMEOUT(rig.Done.has_value(), 10000);
    QVERIFY2(*rig.Done, qPrintable(rig.Reason));
    QCOMPARE(rig.Written(), QStringList({"r.json", "r.pdf"}));
    const TScriptedDialogs::TBox& box = rig.Dialogs.Boxes.front();
    QCOMPARE(box.Caption, QString("Commissioning Report"));
    QCOMPARE(box.Icon, IDialogs::Information);
    QVERIFY2(QRegularExpression(QString("^The commissioning report CR-KT-1-\\d{8}-\\d{9} was "
                                        "written to %1 and %2\\.$")
                                    .arg(QRegularExpression::escape(rig.Pdf()),
                                         QRegularExpression::escape(rig.Dir.filePath("r.json"))))
                 .match(box.Text)
                 .hasMatch(),
             qPrintable(box.Text));
    QCOMPARE(box.Choices, QStringList({"Open Report", "Open Folder", "Close"}));
    QStringList expected;
    if (opened == "pdf")
        expected << rig.Pdf();
    else if (opened == "folder")
        expected << QFileInfo(rig.Pdf()).absolutePath();
    QCOMPARE(rig.Dialogs.Opened, expected);
    QCOMPARE(rig.Dialogs.Boxes.size(), std::size_t(error ? 2 : 1));
    if (error) {
        QCOMPARE(rig.Dialogs.Boxes.back().Icon, IDialogs::Critical);
        QVERIFY(rig.Dialogs.Boxes.back().Text.contains(rig.Pdf() + " could not be opened"));
    }
    QVERIFY(!rig.ProgressAtBoxes.contains(true));
}

// The commissioning tools keep what the link's meter model read, and only of the meter the link
// reaches now: a measurement scaled by ratios nobody read is not kept, and another address
// leaves nothing of the meter before.
void TestReportRun::memoryIsOfTheMeterNowReached() {
    TReportRig rig;
    rig.AnswerMeasurement();
    QVERIFY(!rig.Comm.Memory().LastMeasurement());
    rig.AnswerReads();
    rig.AnswerMeasurement();
    const TMeterMemory& memory = rig.Comm.Memory();
    QVERIFY(memory.Identity());
    QCOMPARE(memory.SerialNumber(), std::optional<QString>("KT-1"));
    QVERIFY(memory.SettingsComplete());
    QVERIFY(memory.LastMeasurement());
    // PT 400/400, CT 50/5: 230.0 V, 30.000 A.
    QCOMPARE(memory.LastMeasurement()->Values[qVa], 230.0);
    QCOMPARE(memory.LastMeasurement()->Values[qIa], 30.0);

    rig.Link.SetDeviceAddress(2);
    QVERIFY(!memory.Identity());
    QVERIFY(!memory.SerialNumber());
    QVERIFY(!memory.SettingsComplete());
    QVERIFY(!memory.LastMeasurement());
    QCOMPARE(memory.Window().Snapshot(rig.Now).Samples, 0);
}

QTEST_MAIN(TestReportRun)
#include "tst_reportrun.moc"
