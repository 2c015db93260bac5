// The series store and its decimation: gaps stay gaps, memory stays bounded over a day, the
// window statistics and the chart's points keep the extremes.
#include "trend/SeriesStore.h"

#include <QtTest>

#include <cmath>

namespace {

// "0:1 1:5 2:- 3:2": samples at t with value, "-" a lost answer.
TSeries Parse(const QString& text) {
    TSeries s(1000, 100);
    for (const QString& item : text.split(u' ', Qt::SkipEmptyParts)) {
        const QStringList p = item.split(u':');
        const qint64 t = p[0].toLongLong();
        if (p[1] == QLatin1String("-"))
            s.AppendGap(t);
        else
            s.Append(t, p[1].toDouble());
    }
    return s;
}

// Lines as "0:1 1:5 | 3:2".
QString Show(const std::vector<std::vector<QPointF>>& lines) {
    QStringList parts;
    for (const auto& line : lines) {
        QStringList points;
        for (const QPointF& p : line)
            points << QStringLiteral("%1:%2").arg(p.x()).arg(p.y());
        parts << points.join(u' ');
    }
    return parts.join(QLatin1String(" | "));
}

} // namespace

class TestSeriesStore : public QObject {
    Q_OBJECT

private slots:
    void sparseLinesKeepEverySampleAndBreakAtGaps_data();
    void sparseLinesKeepEverySampleAndBreakAtGaps();
    void denseColumnPoints_data();
    void denseColumnPoints();
    void denseColumnsKeepMinimumAndMaximum_data();
    void denseColumnsKeepMinimumAndMaximum();
    void windowStatistics_data();
    void windowStatistics();
    void aDayStaysBoundedAndKeepsItsExtremesAndGaps();
    void valueAtIsNothingInsideAGap();
};

void TestSeriesStore::sparseLinesKeepEverySampleAndBreakAtGaps_data() {
    QTest::addColumn<QString>("samples");
    QTest::addColumn<QString>("lines");
    QTest::newRow("unbroken") << "0:1 1:5 2:3"
                              << "0:1 1:5 2:3";
    QTest::newRow("one lost answer") << "0:1 1:5 2:- 3:2"
                                     << "0:1 1:5 | 3:2";
    QTest::newRow("lost at the start") << "0:- 1:5 2:6"
                                       << "1:5 2:6";
    QTest::newRow("lost at the end") << "0:4 1:5 2:-"
                                     << "0:4 1:5";
    QTest::newRow("two losses are one gap") << "0:1 1:- 2:- 3:2"
                                            << "0:1 | 3:2";
    QTest::newRow("a lone point between gaps") << "0:- 1:7 2:-"
                                               << "1:7";
    QTest::newRow("nothing but gaps") << "0:- 1:-"
                                      << "";
    QTest::newRow("a NaN value is a gap") << "0:1 1:nan 2:2"
                                          << "0:1 | 2:2";
}

void TestSeriesStore::sparseLinesKeepEverySampleAndBreakAtGaps() {
    QFETCH(QString, samples);
    QFETCH(QString, lines);
    const TSeries s = Parse(samples);
    QCOMPARE(Show(DecimateForChart(s.Spans(0, 100), 0, 100, 100)), lines);
}

void TestSeriesStore::denseColumnPoints_data() {
    QTest::addColumn<QString>("samples");
    QTest::addColumn<int>("columns");
    QTest::addColumn<QString>("lines");
    // More samples than two a column: each column of 4 ms shows its minimum and maximum.
    QTest::newRow("minimum first") << "0:1 1:5 2:3 3:2 4:4 5:9 6:7 7:8" << 2 << "0:1 1:5 4:4 5:9";
    QTest::newRow("maximum first") << "0:5 1:1 2:3 3:2 4:9 5:4 6:7 7:8" << 2 << "0:5 1:1 4:9 5:4";
    QTest::newRow("a flat column is one point")
        << "0:2 1:2 2:2 3:2 4:4 5:9 6:7 7:8" << 2 << "0:2 4:4 5:9";
    QTest::newRow("a loss inside a column goes unseen")
        << "0:1 1:- 2:3 3:2 4:4 5:9 6:7 7:8" << 2 << "0:1 2:3 4:4 5:9";
    QTest::newRow("a column of losses breaks the line")
        << "0:1 1:5 2:3 3:2 4:- 5:- 6:- 7:- 8:2 9:3 10:1 11:2" << 3 << "0:1 1:5 | 9:3 10:1";
    QTest::newRow("losses at the end leave no empty line")
        << "0:1 1:5 2:3 3:2 4:- 5:- 6:- 7:-" << 2 << "0:1 1:5";
}

void TestSeriesStore::denseColumnPoints() {
    QFETCH(QString, samples);
    QFETCH(int, columns);
    const TSeries s = Parse(samples);
    QTEST(Show(DecimateForChart(s.Spans(0, 100), 0, 4 * columns, columns)), "lines");
}

void TestSeriesStore::denseColumnsKeepMinimumAndMaximum_data() {
    QTest::addColumn<int>("spikeAt");
    QTest::addColumn<int>("gapAt");
    QTest::addColumn<int>("gapLength");
    QTest::addColumn<int>("lines");
    // 1000 samples in 50 columns: 20 a column.
    QTest::newRow("spike early, no gap") << 3 << -1 << 0 << 1;
    QTest::newRow("spike late, no gap") << 990 << -1 << 0 << 1;
    QTest::newRow("a loss narrower than a column") << 500 << 200 << 1 << 1;
    QTest::newRow("losses over whole columns") << 500 << 200 << 45 << 2;
    QTest::newRow("two long losses") << 501 << 100 << 50 << 2;
}

void TestSeriesStore::denseColumnsKeepMinimumAndMaximum() {
    QFETCH(int, spikeAt);
    QFETCH(int, gapAt);
    QFETCH(int, gapLength);
    TSeries s(5000, 100);
    for (int t = 0; t < 1000; ++t) {
        if ((t >= gapAt && t < gapAt + gapLength) || (gapLength == 50 && t >= 700 && t < 760))
            s.AppendGap(t);
        else
            s.Append(t, t == spikeAt ? 1000.0 : (t == spikeAt + 7 ? -1000.0 : std::sin(t / 10.0)));
    }
    const auto drawn = DecimateForChart(s.Spans(0, 999), 0, 1000, 50);
    std::size_t points = 0;
    double high = -1e9, low = 1e9;
    for (const auto& line : drawn)
        for (const QPointF& p : line) {
            ++points;
            high = std::max(high, p.y());
            low = std::min(low, p.y());
        }
    QVERIFY2(points <= 100, qPrintable(QString::number(points)));
    QCOMPARE(high, 1000.0);
    QCOMPARE(low, -1000.0);
    QFETCH(int, lines);
    QCOMPARE(int(drawn.size()), lines + (gapLength == 50 ? 1 : 0));
    // Points within a line go forward in time.
    for (const auto& line : drawn)
        for (std::size_t i = 1; i < line.size(); ++i)
            QVERIFY(line[i].x() >= line[i - 1].x());
}

void TestSeriesStore::windowStatistics_data() {
    QTest::addColumn<QString>("samples");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("avg");
    QTest::addColumn<double>("max");
    QTest::newRow("all") << "0:1 1:2 2:6" << 0 << 2 << 3 << 1.0 << 3.0 << 6.0;
    QTest::newRow("window edges included") << "0:1 1:2 2:6 3:9" << 1 << 2 << 2 << 2.0 << 4.0 << 6.0;
    QTest::newRow("gaps do not count") << "0:4 1:- 2:8" << 0 << 2 << 2 << 4.0 << 6.0 << 8.0;
    QTest::newRow("negative values") << "0:-3 1:-1" << 0 << 5 << 2 << -3.0 << -2.0 << -1.0;
    QTest::newRow("empty window") << "0:4 10:8" << 2 << 8 << 0 << 0.0 << 0.0 << 0.0;
}

void TestSeriesStore::windowStatistics() {
    QFETCH(QString, samples);
    QFETCH(int, from);
    QFETCH(int, to);
    const TWindowStats st = Parse(samples).Stats(from, to);
    QTEST(static_cast<int>(st.Count), "count");
    QTEST(st.Min, "min");
    QTEST(st.Avg, "avg");
    QTEST(st.Max, "max");
}

void TestSeriesStore::aDayStaysBoundedAndKeepsItsExtremesAndGaps() {
    // A day at 500 ms: 172,800 samples.
    TSeries s(7200, 2048, 4000);
    const qint64 n = 172800;
    double sum = 0;
    qint64 count = 0;
    std::size_t mostBuckets = 0;
    for (qint64 i = 0; i < n; ++i) {
        const qint64 t = i * 500;
        if (i == 1000) {
            s.AppendGap(t);
            continue;
        }
        const double v = i == 5000 ? 500.0 : (i == 90000 ? -50.0 : 230.0 + std::sin(i / 50.0));
        s.Append(t, v);
        sum += v;
        ++count;
        mostBuckets = std::max(mostBuckets, s.BucketCount());
    }
    QCOMPARE(s.RawSize(), std::size_t(7200));
    QVERIFY(mostBuckets <= 2048);
    const TWindowStats st = s.Stats(0, n * 500);
    QCOMPARE(st.Count, count);
    QCOMPARE(st.Max, 500.0);
    QCOMPARE(st.Min, -50.0);
    QVERIFY(std::fabs(st.Avg - sum / count) < 1e-6);
    // The early gap survives folding: the chart still breaks there.
    const auto spans = s.Spans(0, 2000 * 500);
    QVERIFY(std::any_of(spans.begin(), spans.end(), [](const TSeriesSpan& x) { return x.Gap; }));
    const auto day = DecimateForChart(s.Spans(0, n * 500), 0, n * 500, 800);
    std::size_t points = 0;
    for (const auto& line : day)
        points += line.size();
    QVERIFY(points <= 1600);
    // Closer, the folded stretch with the loss ends a line.
    QVERIFY(DecimateForChart(s.Spans(300000, 700000), 300000, 700000, 100).size() >= 2);
}

void TestSeriesStore::valueAtIsNothingInsideAGap() {
    const TSeries s = Parse("10:1 20:- 30:3");
    QCOMPARE(s.ValueAt(5), std::optional<double>());
    QCOMPARE(s.ValueAt(15), std::optional<double>(1));
    QCOMPARE(s.ValueAt(25), std::optional<double>());
    QCOMPARE(s.ValueAt(35), std::optional<double>(3));
}

QTEST_GUILESS_MAIN(TestSeriesStore)
#include "tst_seriesstore.moc"
