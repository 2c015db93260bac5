// The report's files: both written, or neither left behind when one of them cannot be.
#include "commissioning/ReportDocument.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class TestReportDocument : public QObject {
    Q_OBJECT

private slots:
    void bothOrNeither_data();
    void bothOrNeither();
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

QTEST_MAIN(TestReportDocument)
#include "tst_reportdocument.moc"
