// What a screen reader and the keyboard meet in the program's windows: every control a user can
// reach has a name of its own (not the value it shows), Tab leaves the multi-line fields and the
// tables, and the Communication window closes from the keyboard. And what the eye meets: no
// dialog's OK, Cancel, Yes, No or Close carries an icon, even where the desktop's theme adds them.
#include "commissioning/JournalFile.h"
#include "commissioning/frmJournal.h"
#include "commissioning/frmReportDetails.h"
#include "comms/CommMonitor.h"
#include "comms/frmCommunication.h"
#include "link/frmModbus.h"
#include "metering/InputValueQuery.h"
#include "shell/frmAbout.h"
#include "shell/frmConnection.h"
#include "shell/frmFindMeter.h"
#include "support/FakeShell.h"
#include "support/ScriptedDialogs.h"
#include "support/ShellTestKit.h"
#include "trend/TrendDialogs.h"
#include "widgets/ProgramStyle.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

using namespace shelltest;

namespace {

// The windows, each built as the program builds it, with what it needs around it.
struct TWindows {
    QTemporaryDir Dir;
    TFakeShell Shell;
    TScriptedDialogs Dialogs;
    TCommMonitor Monitor;
    std::unique_ptr<TJournalFile> Journal;
    std::unique_ptr<TFormModbus> Link;
    TWindows() {
        Journal = std::make_unique<TJournalFile>(Dir.filePath("journal.jsonl"));
        Link = std::make_unique<TFormModbus>(Shell, Dialogs);
    }
};

using TFactory = std::function<std::unique_ptr<QWidget>(TWindows&)>;

const std::vector<std::pair<const char*, TFactory>>& Windows() {
    static const std::vector<std::pair<const char*, TFactory>> windows = {
        {"Connection Settings",
         [](TWindows& w) {
             return std::make_unique<TFormConnection>(*w.Link, w.Shell, w.Dialogs);
         }},
        {"Find Meter", [](TWindows&) { return std::make_unique<TFormFindMeter>(); }},
        {"Communication",
         [](TWindows& w) { return std::make_unique<TFormCommunication>(w.Monitor, w.Dialogs); }},
        {"Write Journal",
         [](TWindows& w) { return std::make_unique<TFormJournal>(*w.Journal, w.Dialogs); }},
        {"Commissioning Report", [](TWindows&) { return std::make_unique<TFormReportDetails>(); }},
        {"Record",
         [](TWindows& w) { return std::make_unique<TFormRecord>(TRecordOptions{}, w.Dialogs); }},
    };
    return windows;
}

// The dialogs with OK, Cancel, Yes, No or Close, the message boxes as the program builds them.
const std::vector<std::pair<const char*, TFactory>>& Dialogs() {
    static const std::vector<std::pair<const char*, TFactory>> dialogs = [] {
        std::vector<std::pair<const char*, TFactory>> all;
        for (const auto& w : Windows())
            if (QLatin1String(w.first) != QLatin1String("Communication"))
                all.push_back(w);
        all.emplace_back("About", [](TWindows&) { return std::make_unique<TFormAbout>(); });
        all.emplace_back("Input value", [](TWindows&) {
            return std::make_unique<TInputValueDialog>("Preset", "Value:", nullptr, "0");
        });
        all.emplace_back("Message box OK", [](TWindows&) {
            return std::make_unique<QMessageBox>(QMessageBox::Critical, "Error", "Text",
                                                 QMessageBox::Ok);
        });
        all.emplace_back("Message box Yes/No", [](TWindows&) {
            return std::make_unique<QMessageBox>(QMessageBox::NoIcon, "Confirm", "Text",
                                                 QMessageBox::Yes | QMessageBox::No);
        });
        return all;
    }();
    return dialogs;
}

// A desktop theme that puts icons on a button box's standard buttons, as some do.
class TIconsOnButtonsStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == QStyle::SH_DialogButtonBox_ButtonsHaveIcons)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// The parts Qt builds inside a control (a combo box's edit, a view's scroll bars) speak
// through the control itself.
bool InsideAControl(const QWidget* w) {
    if (w->objectName().startsWith(QLatin1String("qt_")) || qobject_cast<const QScrollBar*>(w) ||
        qobject_cast<const QHeaderView*>(w))
        return true;
    for (const QWidget* p = w->parentWidget(); p != nullptr; p = p->parentWidget())
        if (qobject_cast<const QComboBox*>(p) || qobject_cast<const QAbstractSpinBox*>(p))
            return true;
    return false;
}

bool Interactive(const QWidget* w) {
    return w->focusPolicy() != Qt::NoFocus || qobject_cast<const QProgressBar*>(w) ||
           qobject_cast<const QAbstractItemView*>(w);
}

// What the control shows: a name equal to it changes with it and names nothing.
QString ShownValue(QWidget* w) {
    if (auto* combo = qobject_cast<QComboBox*>(w))
        return combo->currentText();
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text();
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(w))
        return spin->text();
    return {};
}

} // namespace

class TestAccessNames : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(PrivateConfig());
        // The program's start-up over a theme with icons on buttons.
        QApplication::setStyle(new TIconsOnButtonsStyle);
        InstallProgramStyle();
    }

    void everyControlHasAName_data() {
        QTest::addColumn<int>("window");
        for (std::size_t i = 0; i < Windows().size(); ++i)
            QTest::newRow(Windows()[i].first) << static_cast<int>(i);
    }
    void everyControlHasAName() {
        QFETCH(int, window);
        TWindows rig;
        const std::unique_ptr<QWidget> top =
            Windows()[static_cast<std::size_t>(window)].second(rig);
        top->show();
        QStringList unnamed;
        int checked = 0;
        for (QWidget* w : top->findChildren<QWidget*>()) {
            if (!Interactive(w) || InsideAControl(w))
                continue;
            ++checked;
            QAccessibleInterface* face = QAccessible::queryAccessibleInterface(w);
            QVERIFY(face != nullptr);
            // The name given to the control, else the one Qt derives (a button's text, a
            // buddy label's); on Linux Qt reports a combo box by its entry and leaves the
            // name given to the label relation, so the name given is what counts.
            const QString name = (w->accessibleName().isEmpty() ? face->text(QAccessible::Name)
                                                                : w->accessibleName())
                                     .trimmed();
            const QString value = ShownValue(w).trimmed();
            if (name.isEmpty() || (!value.isEmpty() && name == value))
                unnamed << QStringLiteral("%1 %2 (name \"%3\")")
                               .arg(QString::fromLatin1(w->metaObject()->className()),
                                    w->objectName(), name);
        }
        QVERIFY(checked > 0);
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral("; "))));
        top->hide();
    }

    void buttonsCarryNoIcons_data() {
        QTest::addColumn<int>("dialog");
        for (std::size_t i = 0; i < Dialogs().size(); ++i)
            QTest::newRow(Dialogs()[i].first) << static_cast<int>(i);
    }
    void buttonsCarryNoIcons() {
        QFETCH(int, dialog);
        TWindows rig;
        const std::unique_ptr<QWidget> top =
            Dialogs()[static_cast<std::size_t>(dialog)].second(rig);
        const QStringList answers = {"OK", "Cancel", "Yes", "No", "Close"};
        int checked = 0;
        for (const QPushButton* b : top->findChildren<QPushButton*>()) {
            if (!answers.contains(b->text().remove(QLatin1Char('&'))))
                continue;
            ++checked;
            QVERIFY2(b->icon().isNull(), qPrintable(b->text()));
        }
        QVERIFY(checked > 0);
    }

    void tabLeavesTheNotes() {
        TFormReportDetails d;
        d.SetDetails("Plant 2", "J. Doe", "first line");
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        auto* notes = d.findChild<QPlainTextEdit*>(QStringLiteral("MemoNotes"));
        QVERIFY(notes != nullptr);
        notes->setFocus();
        QTRY_VERIFY(notes->hasFocus());
        QTest::keyClick(notes, Qt::Key_Tab);
        QCOMPARE(d.Notes(), QStringLiteral("first line"));
        QTRY_VERIFY(!notes->hasFocus());
        // Tab reaches OK.
        auto* buttons = d.findChild<QDialogButtonBox*>();
        QVERIFY(buttons != nullptr);
        QVERIFY(buttons->isAncestorOf(QApplication::focusWidget()));
    }

    void tabLeavesTheJournalTable() {
        TWindows rig;
        TJournalEntry entry;
        entry.Time = QDateTime(QDate(2026, 12, 7), QTime(10, 0), QTimeZone::utc());
        entry.Port = "COM1";
        entry.Address = 7;
        entry.Write = {"relay", "Relay 1", {{"Relay 1", "OFF", "ON"}}};
        entry.Outcome = "accepted";
        QString error;
        // Two entries: the table has a cell to the right and a row below to Tab into.
        QVERIFY(rig.Journal->Append(JournalLine(entry), error));
        QVERIFY(rig.Journal->Append(JournalLine(entry), error));
        TFormJournal window(*rig.Journal, rig.Dialogs);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(window.ShownCount(), 2);
        window.GridEntries->setCurrentIndex(window.GridEntries->model()->index(0, 0));
        window.GridEntries->setFocus();
        QTRY_VERIFY(window.GridEntries->hasFocus());
        QTest::keyClick(window.GridEntries, Qt::Key_Tab);
        QTRY_VERIFY(!window.GridEntries->hasFocus());
    }

    // The Record dialog's two rules exclude each other, and the size is open only with its rule.
    void recordSplitIsOneRule() {
        TRecordOptions options;
        options.Split.Kind = TSplitRule::Daily;
        TScriptedDialogs dialogs;
        TFormRecord d(options, dialogs);
        QVERIFY(d.RadioDaily->isChecked());
        QVERIFY(!d.SpinMegabytes->isEnabled());
        d.RadioSize->click();
        QVERIFY(!d.RadioDaily->isChecked());
        QVERIFY(d.SpinMegabytes->isEnabled());
        QCOMPARE(d.Options().Split.Kind, TSplitRule::Size);
        d.RadioDaily->click();
        QVERIFY(!d.SpinMegabytes->isEnabled());
        QCOMPARE(d.Options().Split.Kind, TSplitRule::Daily);
    }

    void communicationClosesFromTheKeyboard_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Escape") << int(Qt::Key_Escape) << int(Qt::NoModifier);
        QTest::newRow("Ctrl+W") << int(Qt::Key_W) << int(Qt::ControlModifier);
    }
    void communicationClosesFromTheKeyboard() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        TCommMonitor monitor;
        TScriptedDialogs dialogs;
        TFormCommunication w(monitor, dialogs);
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QTRY_VERIFY(!w.isVisible());
    }
};

QTEST_MAIN(TestAccessNames)
#include "tst_accessnames.moc"
