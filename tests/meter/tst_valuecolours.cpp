// Value colours by the background's lightness: the WCAG contrast itself against known pairs, and
// at least 4.5:1 for every colour on light and dark backgrounds, each keeping its hue.
#include "meter/ValueColours.h"

#include <QtTest>

namespace {

TRgb Hex(const QString& text) {
    const uint v = text.mid(1).toUInt(nullptr, 16);
    return TRgb{int(v >> 16 & 0xFF), int(v >> 8 & 0xFF), int(v & 0xFF)};
}

} // namespace

class TestValueColours : public QObject {
    Q_OBJECT

private slots:
    void contrastRatio_data();
    void contrastRatio();
    void coloursByBackground_data();
    void coloursByBackground();
};

void TestValueColours::contrastRatio_data() {
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<double>("ratio");
    // Reference values of the WCAG contrast formula.
    QTest::newRow("black on white") << "#000000"
                                    << "#ffffff" << 21.0;
    QTest::newRow("same colour") << "#3c3f41"
                                 << "#3c3f41" << 1.0;
    QTest::newRow("grey 777 on white") << "#777777"
                                       << "#ffffff" << 4.48;
    QTest::newRow("grey 767676 on white") << "#767676"
                                          << "#ffffff" << 4.54;
    QTest::newRow("blue on white") << "#0000ff"
                                   << "#ffffff" << 8.59;
    QTest::newRow("red on white") << "#ff0000"
                                  << "#ffffff" << 4.0;
    QTest::newRow("order does not matter") << "#ffffff"
                                           << "#0000ff" << 8.59;
}

void TestValueColours::contrastRatio() {
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(double, ratio);
    const double got = ContrastRatio(Hex(a), Hex(b));
    QVERIFY2(std::fabs(got - ratio) < 0.01, qPrintable(QString::number(got)));
}

void TestValueColours::coloursByBackground_data() {
    QTest::addColumn<QString>("background");
    QTest::addColumn<bool>("dark");
    QTest::newRow("white") << "#ffffff" << false;
    QTest::newRow("classic grey") << "#f0f0f0" << false;
    QTest::newRow("Fusion light") << "#efefef" << false;
    QTest::newRow("black") << "#000000" << true;
    QTest::newRow("Breeze dark") << "#31363b" << true;
    QTest::newRow("Adwaita dark") << "#242424" << true;
    QTest::newRow("Fusion dark") << "#353535" << true;
    QTest::newRow("dark blue") << "#1b2a4a" << true;
    QTest::newRow("dark red") << "#4a1010" << true;
    QTest::newRow("dark green") << "#0f3a1a" << true;
    QTest::newRow("mid grey") << "#6a6a6a" << true;
}

void TestValueColours::coloursByBackground() {
    QFETCH(QString, background);
    QFETCH(bool, dark);
    const TRgb bg = Hex(background);
    QCOMPARE(IsDarkBackground(bg), dark);
    const TValueColours v = ValueColoursFor(bg);
    for (const TRgb& fg : {v.Value, v.On, v.Off, v.Stale})
        QVERIFY2(ContrastRatio(fg, bg) >= 4.5, qPrintable(QStringLiteral("%1,%2,%3: %4")
                                                              .arg(fg.R)
                                                              .arg(fg.G)
                                                              .arg(fg.B)
                                                              .arg(ContrastRatio(fg, bg))));
    // The hues stay apart: ON reads red, OFF green, values blue.
    QVERIFY(v.On.R > v.On.G && v.On.R > v.On.B);
    QVERIFY(v.Off.G > v.Off.R && v.Off.G > v.Off.B);
    QVERIFY(v.Value.B > v.Value.R);
    // Stale is grey: none of the live hues.
    QVERIFY(v.Stale.R == v.Stale.G && v.Stale.G == v.Stale.B);
    if (!dark) {
        // Blue already reads on a light background and stays the classic one.
        QCOMPARE(v.Value, (TRgb{0, 0, 255}));
    }
}

QTEST_GUILESS_MAIN(TestValueColours)
#include "tst_valuecolours.moc"
