// The main window with the real link, pages and dialog: start-up, page switching, the status
// bar, connect and disconnect against the meter simulator, closing and stop signals.
#include "comms/CommunicationHost.h"
#include "comms/frmCommunication.h"
#include "link/frmModbus.h"
#include "shell/SignalWatch.h"
#include "shell/frmAbout.h"
#include "support/ScenarioKit.h"
#include "support/ScriptedDialogs.h"
#include "support/ShellTestKit.h"
#include "trend/frmTrend.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolBar>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <map>
#include <memory>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace shelltest;
using scenario::TProgram;

namespace {

QString Hex(const std::string& bytes) {
    QStringList out;
    for (unsigned char c : bytes)
        out << QString("%1").arg(c, 2, 16, QChar('0')).toUpper();
    return out.join(' ');
}

// Some label of the page matches the pattern: the page shows what the meter sent.
bool PageShows(const QWidget* page, const QString& pattern) {
    const QRegularExpression re(pattern);
    for (const QLabel* label : page->findChildren<QLabel*>()) {
        if (re.match(label->text()).hasMatch())
            return true;
    }
    return false;
}

// A phase voltage near the simulator's 230 V.
bool MeteringShowsValues(const QWidget* page) {
    return PageShows(page, R"(^2[0-9]{2}[.,][0-9]+ ?V$)");
}

// The simulator's software version.
bool DeviceInfoShowsValues(const QWidget* page) {
    return PageShows(page, R"(^3\.20$)");
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void firstShow();
    void actionsMenuAndToolBar();
    void statusPanelAndAddress();
    void pageAreaScrolls();
    void opensLargeEnoughForThePage_data();
    void opensLargeEnoughForThePage();
    void startUpCancelSaysWhatNext();
    void trendPageUsesTheWindow_data();
    void trendPageUsesTheWindow();
    void portThatDoesNotExist();
    void portThatCannotBeOpened_data();
    void portThatCannotBeOpened();
    void statusBarPanels_data();
    void statusBarPanels();
    void closeSaves_data();
    void closeSaves();
    void connectPollSwitchDisconnect();
    void disconnectWithoutCycle();
    void aboutIsNewEachTime();
    void stopSignalEndsLikeClosing_data();
    void stopSignalEndsLikeClosing();
};

void TestMainWindow::initTestCase() {
    QVERIFY2(PrivateConfig(), "XDG_CONFIG_HOME must point at a private folder");
    QVERIFY(QFileInfo::exists(SimBinary()));
}

void TestMainWindow::init() {
    ClearStore();
    // COM1 is the simulator's or nobody's: never the machine's first serial port.
    GuardCom1();
}

void TestMainWindow::cleanup() {
    UnmapPort(1);
}

void TestMainWindow::firstShow() {
    TProgram t;
    QCOMPARE(t.W->TimerShowDialog->interval(), 100);
    QVERIFY(t.W->TimerShowDialog->isSingleShot());
    QVERIFY(!t.W->TimerShowDialog->isActive());
    QCOMPARE(t.W->windowTitle(), QString("KT580 Utility Software -- Veltrana Corporation"));
    QVERIFY(t.W->windowState() & Qt::WindowMaximized);

    struct TSeen {
        QString Port, Baud, Parity, Address, Interval;
        QWidget* Dialog = nullptr;
    } seen;
    TModalWatcher watcher([&](QWidget* modal) {
        if (seen.Dialog)
            return;
        TFormConnection& d = t.W->FormConnection();
        seen = {d.ComboPortName->currentText(), d.ComboBaudrate->currentText(),
                d.ComboParity->currentText(),   d.EditDevAddr->text(),
                d.EditQueryInterval->text(),    modal};
        modal->close();
    });
    t.W->show();
    // The dialog waits for the timer, so the window is on the screen first.
    QVERIFY(t.W->TimerShowDialog->isActive());
    QVERIFY(!QApplication::activeModalWidget());
    QTRY_VERIFY(seen.Dialog != nullptr);
    QCOMPARE(seen.Dialog, static_cast<QWidget*>(&t.W->FormConnection()));
    QCOMPARE(seen.Port, QString("COM1"));
    QCOMPARE(seen.Baud, QString("19200"));
    QCOMPARE(seen.Parity, QString("None1"));
    QCOMPARE(seen.Address, QString("1"));
    QCOMPARE(seen.Interval, QString("500"));
    // Once only: the timer is not running any more.
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QVERIFY(!t.W->TimerShowDialog->isActive());
    QCOMPARE(watcher.Seen, 1);

    QCOMPARE(t.W->ActivePage(), TPage::RTMetering);
    QVERIFY(t.W->FormRTMetering()->isVisible());
    QVERIFY(!t.W->FormDeviceInfo()->isVisible());
    QVERIFY(!t.W->FormGeneralSettings()->isVisible());
    QCOMPARE(t.W->StatusText(0), QString("Real-Time Metering @ 1"));
    QVERIFY(t.W->StartConnect()->isEnabled());
    QVERIFY(!t.W->StartDisconnect()->isEnabled());
    // Offline: the page's reads are not queued.
    QVERIFY(t.Link().PendingQueries().empty());
}

void TestMainWindow::actionsMenuAndToolBar() {
    TProgram t;
    struct TRow {
        QAction* Action;
        const char* Category;
        const char* Caption;
        const char* Hint;
    };
    const TRow rows[] = {
        {t.W->StartConnect(), "Start", "&Connect", "Connect"},
        {t.W->StartDisconnect(), "Start", "&Disconnect", "Disconnect"},
        {t.W->StartConnectionSettings(), "Start", "Connection Se&ttings...", "Connection Settings"},
        {t.W->StartExit(), "Start", "E&xit", "Quit the application"},
        {t.W->ReadingsRealTimeMetering(), "Readings", "Real-Time &Metering", "Real-Time Metering"},
        {t.W->ReadingsDeviceInformation(), "Readings", "Device &Information", "Device Information"},
        {t.W->SettingsGeneralSettings(), "Settings", "&General Settings", "General Settings"},
        {t.W->HelpAbout(), "Help", "&About...", "About the software"},
    };
    QSet<qint64> images;
    for (const TRow& r : rows) {
        QCOMPARE(r.Action->property("category").toString(), QString(r.Category));
        QCOMPARE(r.Action->text(), QString(r.Caption));
        QCOMPARE(r.Action->toolTip(), QString(r.Hint));
        QVERIFY(!r.Action->icon().isNull());
        images.insert(r.Action->icon().pixmap(16, 16).toImage().cacheKey());
    }
    QCOMPARE(images.size(), 8);

    const auto describe = [](const QList<QAction*>& actions) {
        QStringList out;
        for (QAction* a : actions)
            out << (a->isSeparator() ? QString("-") : a->text());
        return out;
    };
    const QList<QAction*> menus = t.W->menuBar()->actions();
    QCOMPARE(describe(menus), QStringList({"&Start", "&Readings", "Se&ttings", "&Help"}));
    QCOMPARE(
        describe(menus[0]->menu()->actions()),
        QStringList({"&Connect", "&Disconnect", "-", "&Find Meter...", "Connection Se&ttings...",
                     "-", "Commissioning &Report...", "-", "E&xit"}));
    QCOMPARE(describe(menus[1]->menu()->actions()),
             QStringList({"Real-Time &Metering", "-", "Device &Information", "-", "&Trend",
                          "Installation &Check", "-", "C&ommunication", "&Bus", "Write &Journal"}));
    // The report needs the meter: offline it cannot be started.
    QVERIFY(!t.W->StartCommissioningReport()->isEnabled());
    QCOMPARE(describe(menus[2]->menu()->actions()), QStringList({"&General Settings"}));
    QCOMPARE(describe(menus[3]->menu()->actions()), QStringList({"&About..."}));
    QCOMPARE(describe(t.W->ToolBar1->actions()),
             QStringList({"&Connect", "&Disconnect", "Connection Se&ttings...", "-",
                          "Real-Time &Metering", "Device &Information", "&Trend", "-",
                          "&General Settings", "-", "&About..."}));
    QCOMPARE(t.W->ToolBar1->height(), 26);
    QCOMPARE(t.W->ToolBar1->iconSize(), QSize(16, 16));
}

void TestMainWindow::statusPanelAndAddress() {
    TProgram t;
    QVERIFY(t.ShowAndDismiss());
    QCOMPARE(t.W->StatusText(0), QString("Real-Time Metering @ 1"));
    t.W->ReadingsDeviceInformation()->trigger();
    QCOMPARE(t.W->ActivePage(), TPage::DeviceInfo);
    QCOMPARE(t.W->StatusText(0), QString("Device Information @ 1"));

    // The address changed to 5 in the dialog.
    TModalWatcher watcher([&](QWidget*) {
        t.W->FormConnection().EditDevAddr->setText("5");
        t.W->FormConnection().ButtonOk->click();
    });
    t.W->StartConnectionSettings()->trigger();
    QCOMPARE(watcher.Seen, 1);
    QCOMPARE(t.W->StatusText(0), QString("Device Information @ 5"));
    t.W->SettingsGeneralSettings()->trigger();
    QCOMPARE(t.W->StatusText(0), QString("General Settings @ 5"));

    // With no page shown there is no address to rewrite.
    t.W->ShowPage(nullptr);
    QCOMPARE(t.W->ActivePage(), TPage::None);
    QCOMPARE(t.W->StatusText(0), QString());
    t.W->RefreshStatusAddress();
    QCOMPARE(t.W->StatusText(0), QString());
    QVERIFY(!t.W->FormGeneralSettings()->isVisible());
}

void TestMainWindow::pageAreaScrolls() {
    TProgram t;
    t.W->setWindowState(Qt::WindowNoState);
    t.W->resize(400, 300);
    QVERIFY(t.ShowAndDismiss());
    QWidget* page = t.W->FormRTMetering();
    QCOMPARE(t.W->ScrollBox1->widget()->size(), page->size());
    QVERIFY(page->width() > t.W->ScrollBox1->viewport()->width());
    QTRY_VERIFY(t.W->ScrollBox1->horizontalScrollBar()->maximum() > 0);
    QCOMPARE(page->parentWidget(), t.W->ScrollBox1->widget());
}

// Out of the maximised state the window still has room for its first page: no scroll bars.
void TestMainWindow::opensLargeEnoughForThePage_data() {
    QTest::addColumn<QString>("page");
    for (const char* page : {"metering", "device", "settings", "check", "trend"})
        QTest::newRow(page) << QString::fromLatin1(page);
}

// The window as it first opens shows every page whole: no scroll bar on any of them.
void TestMainWindow::opensLargeEnoughForThePage() {
    QFETCH(QString, page);
    TProgram t;
    t.W->setWindowState(Qt::WindowNoState);
    QVERIFY(t.ShowAndDismiss());
    const std::map<QString, QAction*> actions = {{"metering", t.W->ReadingsRealTimeMetering()},
                                                 {"device", t.W->ReadingsDeviceInformation()},
                                                 {"settings", t.W->SettingsGeneralSettings()},
                                                 {"check", t.W->ReadingsInstallationCheck()},
                                                 {"trend", t.W->ReadingsTrend()}};
    actions.at(page)->trigger();
    QWidget* shown = t.W->ScrollBox1->widget();
    QWidget* viewport = t.W->ScrollBox1->viewport();
    QTRY_VERIFY(viewport->width() >= shown->width() && viewport->height() >= shown->height());
    QCOMPARE(t.W->ScrollBox1->horizontalScrollBar()->maximum(), 0);
    QCOMPARE(t.W->ScrollBox1->verticalScrollBar()->maximum(), 0);
}

void TestMainWindow::startUpCancelSaysWhatNext() {
    TProgram t;
    QVERIFY(!t.W->LabelNextStep->isVisible());
    QVERIFY(t.ShowAndDismiss());
    QTRY_VERIFY(t.W->LabelNextStep->isVisible());
    QCOMPARE(t.W->LabelNextStep->text(),
             QString("Not connected. Choose Start > Connection Settings to pick the meter's port, "
                     "or Start > Find Meter."));
    QVERIFY(t.W->LabelNextStep->width() >=
            t.W->LabelNextStep->fontMetrics().horizontalAdvance(t.W->LabelNextStep->text()));
    t.W->FormModbus().SetState(TConnectionState::Online);
    QVERIFY(!t.W->LabelNextStep->isVisible());
    t.W->FormModbus().SetState(TConnectionState::Offline);
}

// The Trend page grows with the window, its chart taking the room; in a small window it
// keeps its least size and the area scrolls. The specified pages keep their own size.
void TestMainWindow::trendPageUsesTheWindow_data() {
    QTest::addColumn<QSize>("window");
    QTest::newRow("large") << QSize(1280, 1000);
    QTest::newRow("small") << QSize(500, 350);
}

void TestMainWindow::trendPageUsesTheWindow() {
    QFETCH(QSize, window);
    TProgram t;
    t.W->setWindowState(Qt::WindowNoState);
    t.W->resize(window);
    QVERIFY(t.ShowAndDismiss());
    t.W->ReadingsTrend()->trigger();
    QWidget* trend = t.W->FormTrend();
    QWidget* viewport = t.W->ScrollBox1->viewport();
    const QSize least = trend->minimumSize();
    QTRY_COMPARE(trend->size(), least.expandedTo(viewport->size()));
    QCOMPARE(t.W->ScrollBox1->widget()->size(), trend->size());
    auto* chart = trend->findChild<QWidget*>(QStringLiteral("ChartView"));
    QVERIFY(chart);
    if (viewport->width() > least.width()) {
        // The chart takes the width and the height the page gained.
        QTRY_VERIFY(chart->width() > viewport->width() - 250);
        QTRY_VERIFY(chart->height() > viewport->height() - 150);
    }
    // Back to a specified page: its own size again.
    t.W->ReadingsRealTimeMeteringExecute();
    QCOMPARE(t.W->ScrollBox1->widget()->size(), t.W->FormRTMetering()->size());
}

void TestMainWindow::portThatDoesNotExist() {
    MapPort(7, "/nonexistent/kt580-com7");
    TProgram t;
    t.Modbus().SetPortNum(7);
    t.W->StartConnect()->trigger();
    QCOMPARE(t.Dialogs.Boxes.size(), std::size_t(1));
    QCOMPARE(t.Dialogs.Boxes[0].Caption, QString("Error"));
    QCOMPARE(t.Dialogs.Boxes[0].Text,
             QString("Cannot open the serial port 'COM7'\n\n"
                     "COM7 does not exist on this computer (no device behind it)."));
    QCOMPARE(t.Dialogs.Boxes[0].Icon, IDialogs::Critical);
    QCOMPARE(t.Dialogs.Boxes[0].Buttons, IDialogs::Ok);
    QVERIFY(t.W->FormModbus().State() == TConnectionState::Offline);
    QVERIFY(t.W->StartConnect()->isEnabled());
    QVERIFY(!t.W->StartDisconnect()->isEnabled());
    QVERIFY(!t.Modbus().Opened());
    UnmapPort(7);
}

namespace {
// Switches this thread's power to open any file (root's CAP_DAC_OVERRIDE and
// CAP_DAC_READ_SEARCH) off or back on, so that root meets a device's permissions as a user
// does. The port is opened on this thread.
bool SetOpenAnyFile(bool on) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    const unsigned bits = (1U << CAP_DAC_OVERRIDE) | (1U << CAP_DAC_READ_SEARCH);
    data[0].effective = on ? data[0].effective | bits : data[0].effective & ~bits;
    return ::syscall(SYS_capset, &header, data) == 0;
}
} // namespace

void TestMainWindow::portThatCannotBeOpened_data() {
    QTest::addColumn<QString>("why");
    QTest::addColumn<QStringList>("says");
    QTest::newRow("permission") << "permission"
                                << QStringList{"belongs to the group \"dialout\"",
                                               "sudo usermod -aG dialout root",
                                               "a new group counts only from a new login"};
    QTest::newRow("held by another program")
        << "held" << QStringList{"is in use by another program"};
}

void TestMainWindow::portThatCannotBeOpened() {
    QFETCH(QString, why);
    QFETCH(QStringList, says);
    const group* dialout = ::getgrnam("dialout");
    if (::getuid() != 0 || dialout == nullptr)
        QSKIP("needs root (to hand the terminal to another group) and the group dialout");
    int master = -1, slave = -1;
    char name[256] = {};
    QVERIFY(::openpty(&master, &slave, name, nullptr, nullptr) == 0);
    QVERIFY(MapPort(8, name));
    int holder = -1;
    // Whatever happens below, the test process gets its power back.
    const std::unique_ptr<void, void (*)(void*)> restore(&holder,
                                                         [](void*) { SetOpenAnyFile(true); });
    if (why == "permission") {
        // As a user's adapter is: root's terminal, read and written by the group dialout.
        QCOMPARE(::chown(name, 65534, dialout->gr_gid), 0);
        QCOMPARE(::chmod(name, 0660), 0);
        QVERIFY(SetOpenAnyFile(false));
    } else {
        holder = ::open(name, O_RDWR | O_NOCTTY);
        QVERIFY(holder >= 0);
        QCOMPARE(::flock(holder, LOCK_EX | LOCK_NB), 0);
    }
    TProgram t;
    t.Modbus().SetPortNum(8);
    t.W->StartConnect()->trigger();
    QVERIFY(SetOpenAnyFile(true));
    if (holder >= 0)
        ::close(holder);
    ::close(slave);
    ::close(master);
    UnmapPort(8);

    QCOMPARE(t.Dialogs.Boxes.size(), std::size_t(1));
    const QString text = t.Dialogs.Boxes[0].Text;
    QVERIFY2(text.startsWith("Cannot open the serial port 'COM8'\n\n"), qPrintable(text));
    QVERIFY2(text.contains(QString::fromLocal8Bit(name)), qPrintable(text));
    for (const QString& part : says)
        QVERIFY2(text.contains(part), qPrintable(text));
    QVERIFY(t.W->FormModbus().State() == TConnectionState::Offline);
    QVERIFY(!t.Modbus().Opened());
}

void TestMainWindow::statusBarPanels_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("panel");
    QTest::addColumn<QString>("line");
    const QString verdict =
        "Values not current. Nothing comes back at all. Check the wiring (A and B swapped?) and "
        "the adapter, the device address, the baud rate, and that Modbus is switched on in the "
        "meter.";
    QTest::newRow("801") << 801 << 200 << "TXD:  01 03";
    QTest::newRow("803") << 803 << 200 << "";
    QTest::newRow("804") << 804 << 201 << "";
    QTest::newRow("1000") << 1000 << 250 << "";
    QTest::newRow("650") << 650 << 162 << "";
    QTest::newRow("1000, a verdict") << 1000 << 250 << verdict;
    QTest::newRow("650, a verdict") << 650 << 162 << verdict;
}

// Four equal panels; the line's verdict in panel 1 can be read whole, in the bar itself.
void TestMainWindow::statusBarPanels() {
    QFETCH(int, width);
    QFETCH(int, panel);
    QFETCH(QString, line);
    TProgram t;
    t.W->setWindowState(Qt::WindowNoState);
    t.W->resize(width, 400);
    QVERIFY(t.ShowAndDismiss());
    QTRY_COMPARE(t.W->StatusBar->width(), width);
    QCOMPARE(t.W->StatusBar->height(), 19);
    t.W->SetStatusText(1, line);
    const auto panels = t.W->StatusBar->findChildren<QLabel*>(QRegularExpression("^Panel"),
                                                              Qt::FindDirectChildrenOnly);
    QCOMPARE(panels.size(), 4);
    for (int i = 0; i < 4; ++i) {
        QLabel* p = t.W->StatusBar->findChild<QLabel*>(QString("Panel%1").arg(i));
        QVERIFY(p);
        QCOMPARE(p->width(), panel);
        QCOMPARE(p->x(), i * panel);
    }
    QLabel* p = t.W->StatusBar->findChild<QLabel*>("Panel1");
    // All of the text's lines fit the panel, and the panel the bar; one line keeps one row.
    const int lines =
        QFontMetrics(p->font())
            .boundingRect(p->contentsRect().adjusted(p->indent(), 0, 0, 0), Qt::TextWordWrap, line)
            .height();
    QVERIFY2(lines <= p->contentsRect().height(), qPrintable(line));
    QTRY_COMPARE(t.W->StatusBar->height(), p->height());
    if (QFontMetrics(p->font()).horizontalAdvance(line) < p->contentsRect().width())
        QCOMPARE(t.W->StatusBar->height(), 19);
    QCOMPARE(p->toolTip(), line);
    QCOMPARE(p->accessibleDescription(), line);
}

void TestMainWindow::closeSaves_data() {
    QTest::addColumn<bool>("byExit");
    QTest::addColumn<bool>("changed");
    QTest::newRow("Exit, first run") << true << false;
    QTest::newRow("close button, first run") << false << false;
    QTest::newRow("Exit, values changed") << true << true;
    QTest::newRow("close button, values changed") << false << true;
}

void TestMainWindow::closeSaves() {
    QFETCH(bool, byExit);
    QFETCH(bool, changed);
    TProgram t;
    QVERIFY(t.ShowAndDismiss());
    if (changed) {
        t.Modbus().SetPortNum(3);
        t.Modbus().SetBaudrate(9600);
        t.Modbus().SetParity(TParity::Odd);
        t.Modbus().SetStopBits(TStopBits::_1);
        t.Modbus().SetQueryInterval(250);
        t.Link().SetDeviceAddress(7);
    }
    QVERIFY(!Store().childGroups().contains("ComPort"));
    if (byExit)
        t.W->StartExit()->trigger();
    else
        QVERIFY(t.W->close());
    QVERIFY(!t.W->isVisible());
    QSettings s = Store();
    s.beginGroup("ComPort");
    QCOMPARE(s.childKeys().size(), 6);
    QCOMPARE(s.value("PortNum").toInt(), changed ? 3 : 1);
    QCOMPARE(s.value("Baudrate").toInt(), changed ? 9600 : 19200);
    QCOMPARE(s.value("Parity").toInt(), changed ? 1 : 0);
    QCOMPARE(s.value("StopBits").toInt(), 0);
    QCOMPARE(s.value("QueryInterval").toInt(), changed ? 250 : 500);
    QCOMPARE(s.value("DevAddr").toInt(), changed ? 7 : 1);
}

void TestMainWindow::connectPollSwitchDisconnect() {
    TSimProcess sim(QStringList{});
    QVERIFY(sim.Started());
    TProgram t;
    QVERIFY(t.ShowAndDismiss());
    t.Modbus().SetQueryInterval(20);
    QStringList sent;
    t.Modbus().WatchSent([&](const std::string& d) { sent << Hex(d); });

    t.W->StartConnect()->trigger();
    QVERIFY(t.Dialogs.Boxes.empty());
    QCOMPARE(t.W->FormModbus().State(), TConnectionState::Online);
    QVERIFY(t.Modbus().Running());
    QVERIFY(!t.W->StartConnect()->isEnabled());
    QVERIFY(t.W->StartDisconnect()->isEnabled());
    QVERIFY(!LockFree(sim.Path()));

    // Live values on the metering page: the measurement block has been decoded.
    QTRY_VERIFY_WITH_TIMEOUT(MeteringShowsValues(t.W->FormRTMetering()), 10000);
    // The rotation has gone round once: inputs read after the measurement, energy and relays.
    QTRY_VERIFY(sent.filter(QRegularExpression("^01 02 00 00 00 06")).size() >= 1);

    // The Communication window stays open while the pages change.
    t.W->ReadingsCommunication()->trigger();
    QWidget* communication = t.W->Communication().Window();
    QVERIFY(communication && communication->isVisible());
    t.W->ReadingsDeviceInformation()->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(DeviceInfoShowsValues(t.W->FormDeviceInfo()), 10000);
    t.W->SettingsGeneralSettings()->trigger();
    QTRY_VERIFY(t.Link().PendingQueries().empty());
    const int settingsReadsEnd = sent.size();
    QVERIFY(communication->isVisible());

    t.W->StartDisconnect()->trigger();
    QVERIFY(t.W->FormModbus().State() != TConnectionState::Online);
    if (t.W->FormModbus().State() == TConnectionState::Disconnecting) {
        // Disconnecting: the query in progress finishes first.
        QVERIFY(!t.W->StartConnect()->isEnabled());
        QVERIFY(t.W->StartDisconnect()->isEnabled());
    }
    QTRY_VERIFY(t.W->FormModbus().State() == TConnectionState::Offline);
    // Every frame of the connection is in the window's counters, each query counted once.
    const TCommCounters counters = t.W->Communication().Counters();
    QCOMPARE(counters.Sent, t.Link().SentCount());
    QCOMPARE(counters.Answered + counters.Failed(), counters.Sent);
    QVERIFY(t.W->StartConnect()->isEnabled());
    QVERIFY(!t.W->StartDisconnect()->isEnabled());
    QVERIFY(!t.Modbus().Opened());
    QVERIFY(!t.Modbus().Running());
    QCOMPARE(t.W->StatusText(1), QString());
    QCOMPARE(t.W->StatusText(2), QString());
    QVERIFY(LockFree(sim.Path()));
    QCOMPARE(sent.size(), settingsReadsEnd);

    sim.Stop();
    const QStringList seen = sim.Frames();
    // The simulator received exactly what the master sent.
    QCOMPARE(seen, sent);

    // And what was sent follows the plan: the metering page's one-shot reads, the rotation,
    // then the reads of each page shown, and nothing while the settings page stays shown.
    const QString identity = "01 03 F0 00 00 09", settings1100 = "01 03 11 00 00 0D",
                  aoType = "01 03 F1 06 00 01", measurement = "01 03 14 00 00 15",
                  energy = "01 03 11 80 00 0C", relays = "01 01 00 00 00 02",
                  inputs = "01 02 00 00 00 06", serial = "01 03 F0 40 00 10";
    QStringList bodies;
    for (const QString& frame : sent) {
        QCOMPARE(frame.size(), 8 * 3 - 1); // every request is 6 bytes and its CRC
        bodies << frame.left(17);
    }
    int i = 0;
    QCOMPARE(bodies.mid(i, 3), QStringList({identity, settings1100, aoType}));
    i += 3;
    const QStringList rotation = {measurement, energy, relays, inputs};
    int step = 0;
    while (i < bodies.size() && bodies[i] != identity) {
        // Until the identity block has been read the short energy block is read.
        QString expected = rotation[step % 4];
        if (expected == energy && bodies[i] == "01 03 11 80 00 04")
            expected = bodies[i];
        QCOMPARE(bodies[i], expected);
        ++step;
        ++i;
    }
    QVERIFY(step >= 4);
    QCOMPARE(bodies.mid(i, 4), QStringList({identity, identity, serial, aoType}));
    i += 4;
    // The serial number goes first, once a connection, so a backup before a write is named.
    QCOMPARE(bodies.mid(i),
             QStringList({serial, identity, settings1100, "01 03 12 00 00 08", "01 03 13 00 00 0C",
                          "01 03 12 08 00 02", "01 03 12 0A 00 05"}));
}

void TestMainWindow::disconnectWithoutCycle() {
    TSimProcess sim(QStringList{});
    QVERIFY(sim.Started());
    TProgram t;
    QVERIFY(t.ShowAndDismiss());
    t.W->StartConnect()->trigger();
    QVERIFY(t.W->FormModbus().State() != TConnectionState::Offline);
    // The cycle ends without its finish event, as it does when the master is cancelled.
    t.Modbus().Cancel();
    QVERIFY(!t.Modbus().Running());
    t.W->SetStatusText(1, "TXD:  01 03");
    t.W->StartDisconnect()->trigger();
    // At once, without waiting for a query to end.
    QVERIFY(t.W->FormModbus().State() == TConnectionState::Offline);
    QVERIFY(!t.Modbus().Opened());
    QVERIFY(LockFree(sim.Path()));
    QCOMPARE(t.W->StatusText(1), QString());
    QVERIFY(t.W->StartConnect()->isEnabled());
    QVERIFY(!t.W->StartDisconnect()->isEnabled());
    // Disconnect again while offline changes nothing.
    t.W->StartDisconnectExecute();
    QVERIFY(t.W->FormModbus().State() == TConnectionState::Offline);
}

void TestMainWindow::aboutIsNewEachTime() {
    TProgram t;
    t.W->VersionLookup = [](const QString& name) -> std::optional<QString> {
        if (name == "FileVersion")
            return QString("7.1.3.9");
        return std::nullopt;
    };
    QList<QPointer<QWidget>> boxes;
    QStringList labels;
    TModalWatcher watcher([&](QWidget* modal) {
        auto* about = dynamic_cast<TFormAbout*>(modal);
        QVERIFY(about);
        boxes << about;
        labels << about->LabelVersion->text();
        about->Button1->click();
    });
    t.W->HelpAbout()->trigger();
    QCOMPARE(boxes.size(), 1);
    QVERIFY(boxes[0].isNull()); // released when it closed
    t.W->HelpAbout()->trigger();
    QCOMPARE(boxes.size(), 2);
    QVERIFY(boxes[1].isNull());
    QCOMPARE(labels, QStringList({"Version 7.1.3", "Version 7.1.3"}));
}

void TestMainWindow::stopSignalEndsLikeClosing_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestMainWindow::stopSignalEndsLikeClosing() {
    QFETCH(int, signal);
    TSimProcess sim(QStringList{});
    QVERIFY(sim.Started());
    auto t = std::make_unique<TProgram>();
    TSignalWatch watch([&](int) { t->W->CloseFromOutside(); });
    QVERIFY(t->ShowAndDismiss());
    t->Modbus().SetQueryInterval(20);
    t->W->StartConnect()->trigger();
    QVERIFY(t->W->FormModbus().State() != TConnectionState::Offline);
    t->Link().SetDeviceAddress(1);
    t->Modbus().SetQueryInterval(40);

    // The signal arrives while the connection dialog is open.
    bool raised = false;
    TModalWatcher watcher([&](QWidget*) {
        if (!raised) {
            raised = true;
            ::raise(signal);
        }
    });
    QMetaObject::invokeMethod(
        t->W.get(), [&] { t->W->StartConnectionSettings()->trigger(); }, Qt::QueuedConnection);
    QTRY_VERIFY(raised);
    QTRY_VERIFY(!t->W->isVisible());
    QVERIFY(!t->W->FormConnection().isVisible());
    QVERIFY(!QApplication::activeModalWidget());
    QSettings s = Store();
    s.beginGroup("ComPort");
    QCOMPARE(s.childKeys().size(), 6);
    QCOMPARE(s.value("QueryInterval").toInt(), 40);
    // The program then ends: the window goes, the port closes and its lock is released.
    t.reset();
    QVERIFY(LockFree(sim.Path()));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
