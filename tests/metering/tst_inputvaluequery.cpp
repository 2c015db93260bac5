// The energy preset's input box: its measures from its font, and what it returns for each way
// the operator leaves it.
#include "metering/InputValueQuery.h"
#include "widgets/UiFont.h"

#include <QApplication>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

const QString Caption = "Initializing energy (Are you sure?)";
const QString Prompt = "Please input new value: (kWh/kvarh)";

int Bottom(const QWidget* w) {
    return w->y() + w->height();
}

// What the box looked like while it was open.
struct TSeen {
    QString Title;
    QString Text;
    QString Selected;
    int MaxLength = 0;
    int FontPixelSize = 0;
    bool Modal = false;
};

// Acts on the box once it is open, from the event loop its modal loop runs. A box that never
// goes away is closed after a while, so a failing test ends instead of hanging.
void WhenOpen(const std::function<void(TInputValueDialog*)>& act, TSeen& seen) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    auto ticks = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, act, &seen, ticks] {
        auto* box = qobject_cast<TInputValueDialog*>(QApplication::activeModalWidget());
        if (!box) {
            if (++*ticks > 2000)
                timer->deleteLater();
            return;
        }
        timer->deleteLater();
        seen.Title = box->windowTitle();
        seen.Text = box->Edit()->text();
        seen.Selected = box->Edit()->selectedText();
        seen.MaxLength = box->Edit()->maxLength();
        seen.FontPixelSize = box->Edit()->font().pixelSize();
        seen.Modal = box->isModal();
        act(box);
        if (box->isVisible())
            QTimer::singleShot(5000, box, [box] { box->reject(); });
    });
    timer->start();
}

} // namespace

class TestInputValueQuery : public QObject {
    Q_OBJECT

private slots:
    void dialogUnits_data();
    void dialogUnits();
    void unitsOfKnownFonts_data();
    void unitsOfKnownFonts();
    void layout_data();
    void layout();
    void promptWrapsAtItsWidth();
    void editAndButtons();
    void results_data();
    void results();
    void longValueIsCut();
    void noFontTakesTheApplicationFont();
};

void TestInputValueQuery::dialogUnits_data() {
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("horz");
    QTest::addColumn<int>("vert");
    QTest::newRow("exact") << 4 << 8 << 10 << 10 << 10;
    QTest::newRow("47.5 up, 57") << 5 << 12 << 38 << 48 << 57;
    QTest::newRow("62.5 up, 68.75 up") << 5 << 11 << 50 << 63 << 69;
    QTest::newRow("21, 22.75 up") << 6 << 13 << 14 << 21 << 23;
    QTest::newRow("24.5 up, 21") << 7 << 12 << 14 << 25 << 21;
    QTest::newRow("24.5 up, 17.5 up") << 7 << 10 << 14 << 25 << 18;
    QTest::newRow("11.25 down, 10.125 down") << 5 << 9 << 9 << 11 << 10;
}

void TestInputValueQuery::dialogUnits() {
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, a);
    QFETCH(int, horz);
    QFETCH(int, vert);
    const TDialogUnits du{x, y};
    QCOMPARE(du.Horz(a), horz);
    QCOMPARE(du.Vert(a), vert);
}

void TestInputValueQuery::unitsOfKnownFonts_data() {
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    // Liberation Sans: the 52 letters are 273, 303, 334 and 364 pixels wide.
    QTest::newRow("9 px") << 9 << 5 << 11;
    QTest::newRow("10 px") << 10 << 5 << 12;
    QTest::newRow("11 px") << 11 << 6 << 13;
    QTest::newRow("12 px") << 12 << 7 << 14;
}

void TestInputValueQuery::unitsOfKnownFonts() {
    QFETCH(int, pixelSize);
    QFETCH(int, x);
    QFETCH(int, y);
    const QFont font = UiFont(pixelSize);
    QVERIFY2(QFontInfo(font).family() == "Liberation Sans",
             "the page font is installed by scripts/deps.sh");
    const TDialogUnits du = DialogUnits(font);
    QCOMPARE(du.X, x);
    QCOMPARE(du.Y, y);
}

void TestInputValueQuery::layout_data() {
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<int>("clientWidth");
    QTest::addColumn<QPoint>("promptAt");
    QTest::addColumn<int>("editWidth");
    QTest::addColumn<QSize>("buttonSize");
    QTest::addColumn<int>("okLeft");
    QTest::addColumn<int>("cancelLeft");
    // X 6, Y 13: 14·13/8 = 22.75 rounds to 23.
    QTest::newRow("11 px") << 11 << 270 << QPoint(12, 13) << 246 << QSize(75, 23) << 57 << 138;
    // X 5, Y 11: 50·5/4 = 62.5 and 38·5/4 = 47.5 round up; 14·11/8 = 19.25 down.
    QTest::newRow("9 px") << 9 << 225 << QPoint(10, 11) << 205 << QSize(63, 19) << 48 << 115;
    // X 7, Y 14: 50·7/4 = 87.5, 38·7/4 = 66.5, 164·7/4 = 287, 14·14/8 = 24.5.
    QTest::newRow("12 px") << 12 << 315 << QPoint(14, 14) << 287 << QSize(88, 25) << 67 << 161;
}

void TestInputValueQuery::layout() {
    QFETCH(int, pixelSize);
    QFETCH(int, clientWidth);
    QFETCH(QPoint, promptAt);
    QFETCH(int, editWidth);
    QFETCH(QSize, buttonSize);
    QFETCH(int, okLeft);
    QFETCH(int, cancelLeft);
    const QFont font = UiFont(pixelSize);
    TInputValueDialog box(Caption, Prompt, &font, "80.0");
    QCOMPARE(box.windowTitle(), Caption);
    QCOMPARE(box.width(), clientWidth);
    QCOMPARE(box.Prompt()->pos(), promptAt);
    QCOMPARE(box.Prompt()->text(), Prompt);
    QCOMPARE(box.Prompt()->textFormat(), Qt::PlainText);
    QCOMPARE(box.Edit()->x(), promptAt.x());
    QCOMPARE(box.Edit()->y(), Bottom(box.Prompt()) + 5);
    QCOMPARE(box.Edit()->width(), editWidth);
    QCOMPARE(box.OkButton()->size(), buttonSize);
    QCOMPARE(box.CancelButton()->size(), buttonSize);
    QCOMPARE(box.OkButton()->x(), okLeft);
    QCOMPARE(box.CancelButton()->x(), cancelLeft);
    QCOMPARE(box.OkButton()->y(), Bottom(box.Edit()) + 15);
    QCOMPARE(box.CancelButton()->y(), Bottom(box.Edit()) + 15);
    QCOMPARE(box.height(), Bottom(box.CancelButton()) + 13);
    // A fixed border: the box cannot be resized.
    QCOMPARE(box.minimumSize(), box.maximumSize());
    // The prompt is short enough for one line and shows all of it.
    QCOMPARE(box.Prompt()->height(), box.Prompt()->heightForWidth(box.Prompt()->width()));
    QVERIFY(box.Prompt()->width() >= box.Prompt()->fontMetrics().horizontalAdvance(Prompt));
}

void TestInputValueQuery::promptWrapsAtItsWidth() {
    const QFont font = UiFont(11);
    const QString longPrompt =
        "Please input the new value of the counter, in kilowatt hours or kilovar hours, "
        "as the meter shall count from now on";
    TInputValueDialog box(Caption, longPrompt, &font, "");
    const int maxWidth = DialogUnits(font).Horz(164);
    QVERIFY(box.Prompt()->wordWrap());
    QVERIFY(box.Prompt()->width() <= maxWidth);
    QVERIFY(box.Prompt()->height() >= 2 * box.Prompt()->fontMetrics().lineSpacing());
    QCOMPARE(box.Edit()->y(), Bottom(box.Prompt()) + 5);
    QCOMPARE(box.height(), Bottom(box.CancelButton()) + 13);
}

void TestInputValueQuery::editAndButtons() {
    const QFont font = UiFont(11);
    TInputValueDialog box(Caption, Prompt, &font, "1234.5");
    QCOMPARE(box.Edit()->text(), QString("1234.5"));
    QCOMPARE(box.Edit()->selectedText(), QString("1234.5"));
    QCOMPARE(box.Edit()->maxLength(), 255);
    QCOMPARE(box.OkButton()->text(), QString("OK"));
    QCOMPARE(box.CancelButton()->text(), QString("Cancel"));
    QVERIFY(box.OkButton()->isDefault());
    QVERIFY(!box.CancelButton()->isDefault());
    QCOMPARE(box.font().pixelSize(), 11);
    QCOMPARE(box.Edit()->font().pixelSize(), 11);
}

void TestInputValueQuery::results_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("value");
    QTest::newRow("OK") << "ok" << true << "42.5";
    QTest::newRow("OK untouched") << "ok untouched" << true << "80.0";
    QTest::newRow("OK after emptying") << "ok empty" << true << "";
    QTest::newRow("Enter") << "enter" << true << "42.5";
    QTest::newRow("Cancel") << "cancel" << false << "80.0";
    QTest::newRow("Esc") << "escape" << false << "80.0";
    QTest::newRow("closed") << "close" << false << "80.0";
}

void TestInputValueQuery::results() {
    QFETCH(QString, how);
    QFETCH(bool, result);
    QFETCH(QString, value);
    TSeen seen;
    WhenOpen(
        [how](TInputValueDialog* box) {
            if (how == "ok untouched") {
                box->OkButton()->click();
                return;
            }
            if (how == "ok empty") {
                box->Edit()->clear();
                box->OkButton()->click();
                return;
            }
            // Typing replaces the value, which the box offers all selected.
            QTest::keyClicks(box->Edit(), "42.5");
            if (how == "ok")
                box->OkButton()->click();
            else if (how == "enter")
                QTest::keyClick(box->Edit(), Qt::Key_Return);
            else if (how == "cancel")
                box->CancelButton()->click();
            else if (how == "escape")
                QTest::keyClick(box->Edit(), Qt::Key_Escape);
            else if (how == "close")
                box->close();
        },
        seen);
    const QFont font = UiFont(13);
    QString text = "80.0";
    QCOMPARE(InputValueQuery(Caption, Prompt, &font, text), result);
    QCOMPARE(text, value);
    QCOMPARE(seen.Title, Caption);
    QCOMPARE(seen.Text, QString("80.0"));
    QCOMPARE(seen.Selected, QString("80.0"));
    QCOMPARE(seen.MaxLength, 255);
    QCOMPARE(seen.FontPixelSize, 13);
    QVERIFY(seen.Modal);
    // The box is gone in every case.
    QVERIFY(!QApplication::activeModalWidget());
    const QWidgetList tops = QApplication::topLevelWidgets();
    QVERIFY(std::none_of(tops.begin(), tops.end(), [](QWidget* w) {
        return qobject_cast<TInputValueDialog*>(w) != nullptr;
    }));
}

void TestInputValueQuery::longValueIsCut() {
    const QFont font = UiFont(11);
    const QString longValue(300, QChar('9'));
    TInputValueDialog box(Caption, Prompt, &font, longValue);
    QCOMPARE(box.Edit()->text(), longValue.left(255));
    box.Edit()->setFocus();
    QTest::keyClicks(box.Edit(), QString(300, QChar('1')));
    QCOMPARE(box.Edit()->text().size(), 255);
}

void TestInputValueQuery::noFontTakesTheApplicationFont() {
    const QFont appFont = QApplication::font();
    TInputValueDialog box(Caption, Prompt, nullptr, "");
    QCOMPARE(box.font(), appFont);
    const TDialogUnits du = DialogUnits(appFont);
    QCOMPARE(box.width(), du.Horz(180));
    QCOMPARE(box.OkButton()->width(), du.Horz(50));
}

QTEST_MAIN(TestInputValueQuery)
#include "tst_inputvaluequery.moc"
