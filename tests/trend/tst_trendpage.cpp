// The Trend page without a meter: what it keeps of the metering answers (gaps included), what
// the chart draws, the cursor's readout, the recent statistics, recording through the page,
// and the saved image.
#include "TrendRig.h"
#include "support/MeterFeed.h"

#include "meter/RegisterDecode.h"
#include "meter/ValueColours.h"
#include "trend/MeteringQuantities.h"

#include <QChart>
#include <QLineEdit>
#include <QLineSeries>
#include <QListWidget>
#include <QPushButton>
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
    void readoutWritesValuesAsThePage_data();
    void readoutWritesValuesAsThePage();
    void untickedBoxesShowOnEveryPalette_data();
    void untickedBoxesShowOnEveryPalette();
    void recordingThroughThePage();
    void savedImageIsAPicture();
    void recordBrowseAsksThroughTheSeam_data();
    void recordBrowseAsksThroughTheSeam();
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
            Answer(r.Page, TMeteringBlock::Measurement, Volts(value += 10), TScaling{});
        else if (step == QLatin1String("x"))
            Lost(r.Page, TMeteringBlock::Measurement);
        else
            r.Page.CycleEnded();
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
        Answer(r.Page, TMeteringBlock::Measurement, Volts(v), TScaling{2.0, 1.0, 0});
    }
    r.Clock += 2000;
    Lost(r.Page, TMeteringBlock::Measurement);
    // The last 10 s hold the answers at -10 s ... -2 s (the loss has no value).
    const TWindowStats st = r.Page.RecentStats(0, 10000);
    QCOMPARE(st.Count, qint64(5));
    QCOMPARE(st.Min, 462.0);
    QCOMPARE(st.Max, 470.0);
    QCOMPARE(st.Avg, 466.0);
    const QString at = r.Page.ReadoutAt(r.Clock - 1000);
    QVERIFY2(at.contains(QLatin1String("Volts AN 470.0 V")), qPrintable(at));
    QVERIFY2(at.contains(QLatin1String("I A 5.000 A")), qPrintable(at));
    QVERIFY2(r.Page.ReadoutAt(r.Clock).contains(QLatin1String("Volts AN --")),
             qPrintable(r.Page.ReadoutAt(r.Clock)));
}

void TestTrendPage::readoutWritesValuesAsThePage_data() {
    QTest::addColumn<int>("offset"); // in the measurement block
    QTest::addColumn<int>("raw");
    QTest::addColumn<double>("pt");
    QTest::newRow("volts") << 0 << 2316 << 1.0;
    QTest::newRow("volts of a thousand and more") << 3 << 4000 << 100.0;
    QTest::newRow("volts by a ratio") << 10 << 4001 << 2.5;
    QTest::newRow("amps") << 6 << 5000 << 1.0;
    QTest::newRow("amps over ten") << 7 << 12345 << 1.0;
    QTest::newRow("watts below zero") << 12 << 0xFFF6 << 1.0;
    QTest::newRow("volt-amperes") << 14 << 60000 << 1.0;
    QTest::newRow("frequency") << 15 << 5001 << 1.0;
    QTest::newRow("power factor") << 16 << 0xFC18 << 1.0;
    QTest::newRow("analog output") << 18 << 12000 << 1.0;
}

void TestTrendPage::readoutWritesValuesAsThePage() {
    QFETCH(int, offset);
    QFETCH(int, raw);
    QFETCH(double, pt);
    TTrendRig r;
    const int q = offset; // the measurement block comes first among the quantities
    r.Page.SetShown(q, true);
    std::vector<std::uint16_t> regs(MeasurementCount, 0);
    regs[static_cast<std::size_t>(offset)] = static_cast<std::uint16_t>(raw);
    const TScaling scaling{pt, 1.0, 0};
    Answer(r.Page, TMeteringBlock::Measurement, regs, scaling);
    // The metering page's own text of the same register.
    const QString page = MeasurementTexts(scaling, regs, true)[static_cast<std::size_t>(offset)];
    const QString name = MeteringQuantities()[static_cast<std::size_t>(q)].Name;
    const QString at = r.Page.ReadoutAt(r.Clock) + QStringLiteral("  ");
    QVERIFY2(at.contains(QStringLiteral("  %1 %2  ").arg(name, page)),
             qPrintable(at + QStringLiteral("| page: ") + page));
}

void TestTrendPage::untickedBoxesShowOnEveryPalette_data() {
    QTest::addColumn<QColor>("window");
    QTest::addColumn<QColor>("base");
    QTest::addColumn<QColor>("text");
    QTest::newRow("light") << QColor("#efefef") << QColor("#ffffff") << QColor("#000000");
    QTest::newRow("classic grey") << QColor("#f0f0f0") << QColor("#ffffff") << QColor("#000000");
    QTest::newRow("dark") << QColor("#353535") << QColor("#2a2a2a") << QColor("#e8e8e8");
    QTest::newRow("Breeze dark") << QColor("#31363b") << QColor("#232629") << QColor("#fcfcfc");
    QTest::newRow("Adwaita dark") << QColor("#242424") << QColor("#1e1e1e") << QColor("#ffffff");
}

void TestTrendPage::untickedBoxesShowOnEveryPalette() {
    QFETCH(QColor, window);
    QFETCH(QColor, base);
    QFETCH(QColor, text);
    TTrendRig r;
    r.Page.resize(780, 437);
    QPalette palette(window);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::WindowText, text);
    r.Page.setPalette(palette);
    r.Page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&r.Page));
    auto* list = r.Page.findChild<QListWidget*>(QStringLiteral("ListQuantities"));
    QVERIFY(list);
    // An unticked row: the box at its left is all there is of the tick box.
    QListWidgetItem* item = nullptr;
    for (int row = 0; row < list->count() && !item; ++row)
        if (list->item(row)->checkState() == Qt::Unchecked)
            item = list->item(row);
    QVERIFY(item);
    const QImage image = list->viewport()->grab().toImage();
    const QRect rowRect = list->visualItemRect(item);
    const int boxWidth = list->style()->pixelMetric(QStyle::PM_IndicatorWidth) + 6;
    double best = 1;
    for (int y = rowRect.top(); y <= rowRect.bottom(); ++y)
        for (int x = rowRect.left(); x < rowRect.left() + boxWidth; ++x) {
            const QColor c = image.pixelColor(QPoint(x, y) * image.devicePixelRatio());
            best = std::max(best, ContrastRatio(TRgb{c.red(), c.green(), c.blue()},
                                                TRgb{base.red(), base.green(), base.blue()}));
        }
    // A control's outline needs 3:1 against what is around it.
    QVERIFY2(best >= 3.0, qPrintable(QString::number(best)));
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
        Answer(r.Page.Recorder(), TMeteringBlock::Measurement, Volts(2300), TScaling{});
        Answer(r.Page.Recorder(), TMeteringBlock::Inputs, bits, TScaling{});
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

void TestTrendPage::recordBrowseAsksThroughTheSeam_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("field");
    QTest::newRow("a file chosen") << "/data/site-7.csv"
                                   << "/data/site-7.csv";
    QTest::newRow("cancelled") << ""
                               << "/rec/kt580.csv";
}

// "Browse..." in the Record dialog asks through the program's file dialog, opened on the file in
// the field and offering CSV files; the field takes the answer and keeps its file on Cancel.
void TestTrendPage::recordBrowseAsksThroughTheSeam() {
    QFETCH(QString, answer);
    QFETCH(QString, field);
    TScriptedDialogs dialogs;
    dialogs.SaveNames.push_back(answer);
    TRecordOptions options;
    options.Path = "/rec/kt580.csv";
    TFormRecord record(options, dialogs);
    record.ButtonBrowse->click();
    // A recording goes on in the next free name: the dialog never asks about replacing.
    QCOMPARE(dialogs.RecordingSuggestions, QStringList{"/rec/kt580.csv"});
    QVERIFY(dialogs.DocumentSuggestions.isEmpty());
    QCOMPARE(record.EditFile->text(), field);
    QCOMPARE(record.Options().Path, field);
}

QTEST_MAIN(TestTrendPage)
#include "tst_trendpage.moc"
