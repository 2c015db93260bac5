// The Trend page without a meter: what it keeps of the metering answers (gaps included), what
// the chart draws, the cursor's readout, the recent statistics, recording through the page,
// and the saved image.
#include "TrendRig.h"

#include "trend/MeteringQuantities.h"

#include <QChart>
#include <QLineSeries>
#include <QTemporaryDir>
#include <QtTest>

namespace {

std::vector<std::uint16_t> Volts(std::uint16_t va) {
    std::vector<std::uint16_t> v(21, 0);
    v[0] = va;
    v[6] = 5000;
    return v;
}

// The points of the lines drawn for a quantity's name, line by line.
QList<QList<QPointF>> Lines(QChart* chart, const QString& name) {
    QList<QList<QPointF>> lines;
    for (QAbstractSeries* s : chart->series())
        if (s->name() == name)
            if (const auto points = static_cast<QLineSeries*>(s)->points(); !points.isEmpty())
                lines << points;
    return lines;
}

} // namespace

class TestTrendPage : public QObject {
    Q_OBJECT

private slots:
    void answersLossesAndTheChart_data();
    void answersLossesAndTheChart();
    void readoutAndRecentStats();
    void recordingThroughThePage();
    void savedImageIsAPicture();
};

void TestTrendPage::answersLossesAndTheChart_data() {
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("points");
    // a: a measurement answer, x: its read lost, s: polling stopped; 2 s apart.
    QTest::newRow("unbroken") << "a a a a" << 1 << 4;
    QTest::newRow("a lost answer is a gap") << "a a x a a" << 2 << 4;
    QTest::newRow("losses at the ends") << "x a a x" << 1 << 2;
    QTest::newRow("a new connection starts over") << "a a s a a" << 1 << 2;
}

void TestTrendPage::answersLossesAndTheChart() {
    QFETCH(QString, script);
    TTrendRig r;
    r.Page.resize(780, 437);
    r.Page.SetSpan(0);
    int value = 2300;
    for (const QString& step : script.split(u' ')) {
        r.Clock += 2000;
        if (step == QLatin1String("a"))
            r.Page.MeteringAnswer(TMeteringBlock::Measurement, Volts(value += 10), TScaling{});
        else if (step == QLatin1String("x"))
            r.Page.MeteringLost(TMeteringBlock::Measurement);
        else
            r.Page.MeteringStopped();
    }
    r.Page.Refresh();
    const auto lines = Lines(r.Page.Chart(), QStringLiteral("Volts AN"));
    QTEST(int(lines.size()), "lines");
    int points = 0;
    for (const auto& line : lines)
        points += int(line.size());
    QTEST(points, "points");
    // Values are scaled as on the page, and the last answer is the last point.
    QCOMPARE(lines.last().last().y(), value / 10.0);
    QCOMPARE(qint64(lines.last().last().x()), r.Clock - (script.endsWith(u'x') ? 2000 : 0));
}

void TestTrendPage::readoutAndRecentStats() {
    TTrendRig r;
    for (std::uint16_t v : {2300, 2310, 2320, 2330, 2340, 2350}) {
        r.Clock += 2000;
        r.Page.MeteringAnswer(TMeteringBlock::Measurement, Volts(v), TScaling{2.0, 1.0, 0});
    }
    r.Clock += 2000;
    r.Page.MeteringLost(TMeteringBlock::Measurement);
    // The last 10 s hold the answers at -10 s ... -2 s (the loss has no value).
    const TWindowStats st = r.Page.RecentStats(0, 10000);
    QCOMPARE(st.Count, qint64(5));
    QCOMPARE(st.Min, 462.0);
    QCOMPARE(st.Max, 470.0);
    QCOMPARE(st.Avg, 466.0);
    const QString at = r.Page.ReadoutAt(r.Clock - 1000);
    QVERIFY2(at.contains(QLatin1String("Volts AN 470.000 V")), qPrintable(at));
    QVERIFY2(at.contains(QLatin1String("I A 5.000 A")), qPrintable(at));
    QVERIFY2(r.Page.ReadoutAt(r.Clock).contains(QLatin1String("Volts AN --")),
             qPrintable(r.Page.ReadoutAt(r.Clock)));
}

void TestTrendPage::recordingThroughThePage() {
    TTrendRig r;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sub/run.csv"));
    r.TrendDialogs.Records.push_back({path, {}});
    r.Page.ButtonRecordClick();
    QVERIFY(r.Page.Recorder().Recording());
    // The serial number is read once so the first line can name the meter.
    QCOMPARE(r.Link.PendingTexts(), std::vector<std::string>{"00,03,F0,40,00,10"});
    const std::vector<std::uint16_t> bits(6, 1);
    // The recorder hears the link, as the page does.
    for (int cycle = 0; cycle < 3; ++cycle) {
        r.Clock += 500;
        r.Page.Recorder().MeteringAnswer(TMeteringBlock::Measurement, Volts(2300), TScaling{});
        r.Page.Recorder().MeteringAnswer(TMeteringBlock::Inputs, bits, TScaling{});
    }
    r.Page.ButtonRecordClick(); // stops
    QVERIFY(!r.Page.Recorder().Recording());
    QCOMPARE(r.TrendDialogs.RecordAsked, 1);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2 + 3);
    QVERIFY(lines[0].contains(QLatin1String("2.2.0.0")));
    // Cancel in the dialog starts nothing.
    r.Page.ButtonRecordClick();
    QVERIFY(!r.Page.Recorder().Recording());
    QCOMPARE(r.TrendDialogs.RecordAsked, 2);
}

void TestTrendPage::savedImageIsAPicture() {
    TTrendRig r;
    r.Page.resize(780, 437);
    QTemporaryDir dir;
    r.Dialogs.SaveNames = {dir.filePath(QStringLiteral("chart.png"))};
    r.Page.ButtonSaveImageClick();
    QImage image(dir.filePath(QStringLiteral("chart.png")));
    QVERIFY(!image.isNull());
    QVERIFY(image.width() > 100);
    QVERIFY(r.Dialogs.Boxes.empty());
    QVERIFY2(QFileInfo(r.Dialogs.DocumentSuggestions.value(0))
                 .fileName()
                 .endsWith("-trend-" + QDate::currentDate().toString("yyyy-MM-dd") + ".png"),
             qPrintable(r.Dialogs.DocumentSuggestions.value(0)));
    // A folder that does not exist is reported, not shown as success.
    r.Dialogs.SaveNames = {dir.filePath(QStringLiteral("none/chart.png"))};
    r.Page.ButtonSaveImageClick();
    QCOMPARE(r.Dialogs.Boxes.size(), std::size_t(1));
}

QTEST_MAIN(TestTrendPage)
#include "tst_trendpage.moc"
