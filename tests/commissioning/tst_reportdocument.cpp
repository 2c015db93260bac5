// The report's files: both written, or neither left behind when one of them cannot be; the
// document they are made of: numbers with their nouns, and tables that go on over a page.
#include "commissioning/ReportDocument.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QtTest>

namespace {

// A report long enough for its tables to go on over pages.
TCommissioningReport LongReport(int samples, std::size_t counters, int settings = 40) {
    TCommissioningReport r;
    r.Time = QDateTime(QDate(2026, 12, 7), QTime(10, 0), QTimeZone::utc());
    r.Number = "CR-KT-1-20261207-100000000";
    r.SerialNumber = "KT-1";
    r.Site = "Plant 4";
    r.Line.StopBits = TStopBits::_1;
    for (int k = 0; k < settings; ++k)
        r.Settings.push_back({QString("Setting %1").arg(k), "f", QString::number(k)});
    for (std::size_t k = 0; k < counters; ++k)
        r.Energy.push_back({QString("Counter %1").arg(k), 1000.0 + double(k), "kWh"});
    r.Snapshot.Samples = samples;
    r.SentCount = 1;
    r.ErrorCount = 1;
    return r;
}

// The tables of a document whose first cell reads `first`.
std::vector<QTextTable*> Tables(QTextDocument& doc, const QString& first) {
    std::vector<QTextTable*> tables;
    for (QTextFrame* frame : doc.rootFrame()->childFrames())
        if (auto* table = qobject_cast<QTextTable*>(frame))
            if (table->cellAt(0, 0).firstCursorPosition().block().text() == first)
                tables.push_back(table);
    return tables;
}

// Each second-level heading with the room above it: from the end of what comes before it (a
// table or a paragraph) to the top of its text, laid out on pages as the PDF is.
std::vector<std::pair<QString, double>> RoomAboveHeadings(QTextDocument& doc) {
    doc.setPageSize(QSizeF(600, 800));
    QAbstractTextDocumentLayout* layout = doc.documentLayout();
    std::vector<std::pair<QString, double>> room;
    double end = 0;
    for (auto it = doc.rootFrame()->begin(); !it.atEnd(); ++it) {
        if (QTextFrame* frame = it.currentFrame()) {
            end = layout->frameBoundingRect(frame).bottom();
            continue;
        }
        const QTextBlock block = it.currentBlock();
        const QRectF rect = layout->blockBoundingRect(block);
        if (block.blockFormat().headingLevel() == 2)
            room.emplace_back(block.text(), rect.top() - end);
        end = rect.bottom();
    }
    return room;
}

} // namespace

class TestReportDocument : public QObject {
    Q_OBJECT

private slots:
    void bothOrNeither_data();
    void bothOrNeither();
    void numbersAgreeWithTheirNouns_data();
    void numbersAgreeWithTheirNouns();
    void headingRowsRepeatOnEachPage();
    void sameRoomAboveEachHeading_data();
    void sameRoomAboveEachHeading();
};

void TestReportDocument::bothOrNeither_data() {
    QTest::addColumn<QString>("blocked"); // a folder in place of this file; none: both free
    QTest::addColumn<QStringList>("left");
    QTest::newRow("both free") << "" << QStringList{"r.json", "r.pdf"};
    QTest::newRow("PDF cannot be written") << "r.pdf" << QStringList{"r.pdf"};
    QTest::newRow("JSON cannot be written") << "r.json" << QStringList{"r.json"};
}

void TestReportDocument::bothOrNeither() {
    QFETCH(QString, blocked);
    QFETCH(QStringList, left);
    QTemporaryDir dir;
    if (!blocked.isEmpty())
        QVERIFY(QDir(dir.path()).mkdir(blocked));
    TCommissioningReport report;
    report.Time = QDateTime(QDate(2026, 12, 7), QTime(10, 0), QTimeZone::utc());
    report.Number = "CR-KT-1-20261207-100000000";
    QString error;
    const bool written = WriteReport(report, dir.filePath("r.pdf"), error);
    QCOMPARE(written, blocked.isEmpty());
    if (!written)
        QVERIFY(error.contains(dir.filePath(blocked)));
    // What is there: the blocking folder, or both files; no temporary file either.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             left);
    if (written) {
        QFile pdf(dir.filePath("r.pdf"));
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QVERIFY(pdf.read(5) == "%PDF-");
    }
}

void TestReportDocument::numbersAgreeWithTheirNouns_data() {
    QTest::addColumn<int>("samples");
    QTest::addColumn<TStopBits>("stopBits");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("one") << 1 << TStopBits::_1 << QStringList{"1 reading.", "bps, None1,"};
    QTest::newRow("more") << 2 << TStopBits::_2 << QStringList{"2 readings.", "bps, None2,"};
    QTest::newRow("one and a half")
        << 12 << TStopBits::_1_5 << QStringList{"12 readings.", "1.5 stop bits,"};
}

void TestReportDocument::numbersAgreeWithTheirNouns() {
    QFETCH(int, samples);
    QFETCH(TStopBits, stopBits);
    QFETCH(QStringList, shown);
    TCommissioningReport r = LongReport(samples, 2);
    r.Line.StopBits = stopBits;
    QTextDocument doc;
    doc.setHtml(ReportHtml(r));
    const QString text = doc.toPlainText();
    for (const QString& words : shown)
        QVERIFY2(text.contains(words), qPrintable(words));
    QVERIFY(!text.contains("(s)"));
}

void TestReportDocument::headingRowsRepeatOnEachPage() {
    const TCommissioningReport r = LongReport(3, 80);
    QTextDocument doc;
    doc.setHtml(ReportHtml(r));
    // Every table with a heading row carries it on to each page it goes on over.
    for (const char* first : {"Counter", "Quantity", "Setting"}) {
        const std::vector<QTextTable*> tables = Tables(doc, first);
        QCOMPARE(tables.size(), std::size_t(1));
        QCOMPARE(tables.front()->format().headerRowCount(), 1);
    }
    QTemporaryDir dir;
    QString error;
    // KT_REPORT_PDF keeps the PDF at that path, to look at its pages.
    const QString keep = qEnvironmentVariable("KT_REPORT_PDF");
    QVERIFY(WriteReport(r, keep.isEmpty() ? dir.filePath("r.pdf") : keep, error));
}

void TestReportDocument::sameRoomAboveEachHeading_data() {
    QTest::addColumn<int>("settings");
    QTest::addColumn<QString>("notes");
    // An odd number of settings leaves the last row of their table half empty, as an empty
    // note leaves the site's.
    QTest::newRow("settings fill their rows, notes") << 40 << "Feeder 2";
    QTest::newRow("last row half empty, no notes") << 41 << "";
}

void TestReportDocument::sameRoomAboveEachHeading() {
    QFETCH(int, settings);
    QFETCH(QString, notes);
    TCommissioningReport r = LongReport(3, 4, settings);
    r.Notes = notes;
    QTextDocument doc;
    doc.setHtml(ReportHtml(r));
    const auto room = RoomAboveHeadings(doc);
    QCOMPARE(room.size(), std::size_t(9));
    QVERIFY(room.front().second > 0);
    for (const auto& [heading, above] : room)
        QVERIFY2(qAbs(above - room.front().second) < 0.5,
                 qPrintable(QString("%1: %2").arg(heading).arg(above)));
}

QTEST_MAIN(TestReportDocument)
#include "tst_reportdocument.moc"
