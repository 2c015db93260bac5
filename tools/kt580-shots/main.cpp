// kt580-shots [DIR] [--windows] [--dark] [--size WxH] [--prefix P] [--trend S]
// [--communication NAME] [--bus NAME]: runs the utility's main window in this process, answers the
// connection dialog with OK, connects to the meter mapped as COM1 and saves a screenshot of each
// page once it shows live values, then prints the paths. With --windows the connection dialog, the
// Record dialog, the Write Journal window and the About box are saved too; --dark runs with a dark
// palette; --size gives the main window that size; --prefix goes before each file name; --trend
// also saves the Trend page after S seconds of polling on it, with a recording running. With
// --communication NAME only the Communication window is saved, as NAME, after some seconds of
// traffic, whatever the meter answers; with --bus NAME only the Bus window, polling addresses 1
// to 8 for some seconds. Used where no one can look at a screen.
#include "busview/frmBus.h"
#include "commissioning/Commissioning.h"
#include "commissioning/WriteJournal.h"
#include "commissioning/frmJournal.h"
#include "comms/CommunicationHost.h"
#include "comms/frmCommunication.h"
#include "link/frmModbus.h"
#include "shell/QtDialogs.h"
#include "shell/frmAbout.h"
#include "shell/frmConnection.h"
#include "shell/frmFindMeter.h"
#include "shell/frmMain.h"
#include "support/ProgramRig.h"
#include "trend/TrendDialogs.h"
#include "trend/frmTrend.h"
#include "widgets/ProgramStyle.h"

#include <QLabel>
#include <QRadioButton>
#include <QTreeWidget>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

// Some turns more of the cycle, so every block of the page has been read at least once.
void Settle(TFormModbus& link, int& sent, int turns) {
    const int until = sent + turns;
    WaitFor([&] { return sent >= until && link.PendingQueries().empty(); }, 15000);
    // The last query sent is answered only when the scan interval has passed since its send.
    Idle(Master(link).QueryInterval() + 300);
}

QString Prefix;

// A dark desktop palette, as a dark colour scheme gives it.
QPalette DarkPalette() {
    QPalette p;
    const QColor window(0x35, 0x35, 0x35);
    const QColor base(0x2a, 0x2a, 0x2a);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, QColor(0xe8, 0xe8, 0xe8));
    p.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xe8));
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xe8));
    p.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x6c, 0xb4, 0xff));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x80));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x80));
    return p;
}

QString Save(QWidget* widget, const QString& dir, const char* name) {
    QString path = QDir(dir).absoluteFilePath(Prefix + QString::fromLatin1(name));
    if (!widget->grab().save(path))
        return QString();
    return path;
}

// The action images at 1x and 2x side by side, to check them by eye.
QString SaveIconSheet(const TFormKT580& window, const QString& dir) {
    const QList<QAction*> actions = {window.StartConnect(),
                                     window.StartDisconnect(),
                                     window.StartConnectionSettings(),
                                     window.StartExit(),
                                     window.ReadingsRealTimeMetering(),
                                     window.ReadingsDeviceInformation(),
                                     window.SettingsGeneralSettings(),
                                     window.HelpAbout()};
    QImage sheet(8 * 56, 40, QImage::Format_ARGB32);
    sheet.fill(Qt::white);
    QPainter p(&sheet);
    for (int i = 0; i < actions.size(); ++i) {
        p.drawPixmap(i * 56 + 2, 12, actions[i]->icon().pixmap(QSize(16, 16), 1.0));
        QPixmap twice = actions[i]->icon().pixmap(QSize(16, 16), 2.0);
        twice.setDevicePixelRatio(1.0);
        p.drawPixmap(i * 56 + 20, 4, twice);
    }
    p.end();
    const QString path = QDir(dir).absoluteFilePath(QStringLiteral("action-images.png"));
    return sheet.save(path) ? path : QString();
}

struct TShotOptions {
    QString Dir = QStringLiteral("screenshots");
    bool Windows = false;
    int TrendSeconds = 0;
    QByteArray Communication; // the file name for the Communication window alone
    QByteArray Bus;           // the file name for the Bus window alone
    QSize Size;               // the main window's size, where no window manager maximises it
};

TShotOptions ParseShotOptions(int argc, char* argv[]) {
    TShotOptions o;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--windows")) {
            o.Windows = true;
        } else if (arg == QLatin1String("--dark")) {
            QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
            QApplication::setPalette(DarkPalette());
        } else if (arg == QLatin1String("--prefix") && i + 1 < argc) {
            Prefix = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == QLatin1String("--trend") && i + 1 < argc) {
            o.TrendSeconds = QString::fromLocal8Bit(argv[++i]).toInt();
        } else if (arg == QLatin1String("--communication") && i + 1 < argc) {
            o.Communication = argv[++i];
        } else if (arg == QLatin1String("--bus") && i + 1 < argc) {
            o.Bus = argv[++i];
        } else if (arg == QLatin1String("--size") && i + 1 < argc) {
            const QStringList wh = QString::fromLocal8Bit(argv[++i]).split(QLatin1Char('x'));
            if (wh.size() == 2)
                o.Size = QSize(wh[0].toInt(), wh[1].toInt());
        } else {
            o.Dir = arg;
        }
    }
    return o;
}

// Opens the Communication window, lets the traffic run, saves the window and disconnects.
int SaveCommunication(TFormKT580& window, const QString& dir, const QByteArray& name) {
    window.ReadingsCommunicationExecute();
    // Enough queries for the figures and the verdict, and one refresh after them.
    Idle(6000);
    const QString path = Save(window.Communication().Window(), dir, name.constData());
    DisconnectWindow(window);
    window.close();
    if (path.isEmpty())
        return 1;
    std::printf("%s\n", qPrintable(path));
    return 0;
}

// Polls meters 1 to 8 on the line, opens the Bus window, lets the schedule find out which
// answer, saves the window and disconnects.
int SaveBus(TFormKT580& window, const QString& dir, const QByteArray& name) {
    TFormModbus& link = window.FormModbus();
    link.SetQueryTimeout(400);
    link.SetOtherMetersInterval(500);
    link.SetBusAddresses({1, 2, 3, 4, 5, 6, 7, 8});
    window.ReadingsBusExecute();
    Idle(20000);
    window.BusWindow()->Refresh();
    const QString path = Save(window.BusWindow(), dir, name.constData());
    DisconnectWindow(window);
    window.close();
    if (path.isEmpty())
        return 1;
    std::printf("%s\n", qPrintable(path));
    return 0;
}

void UseSystemLocale() {
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QLocale::setDefault(locale);
}

// Shows the main window and answers the connection dialog that comes up by itself after the
// first show with OK (saving it, and the action images, with --windows).
bool ShowWindow(TFormKT580& window, const TShotOptions& options, QStringList& extra) {
    const QString& dir = options.Dir;
    TConnectionAnswer answer(window, [&](TFormConnection& dialog) {
        if (options.Windows)
            extra << Save(&dialog, dir, "connection-settings.png");
        // The pages are taken from the meter on COM1; the other choices stay the stored ones.
        dialog.SelectPort(1);
    });
    window.show();
    if (options.Size.isValid()) {
        window.setWindowState(Qt::WindowNoState);
        window.resize(options.Size);
    } else if (!(window.windowState() & Qt::WindowMaximized) || window.width() < 700) {
        // Without a window manager (a virtual display) nobody maximises the window.
        if (const QScreen* screen = window.screen())
            window.setGeometry(screen->availableGeometry());
    }
    if (options.Windows)
        extra << SaveIconSheet(window, dir);
    if (!answer.Wait(10000)) {
        std::fprintf(stderr, "kt580-shots: the connection dialog did not come up\n");
        return false;
    }
    return true;
}

// Find Meter on the same port, caught while it sweeps for more meters after the first.
QString SaveFindMeter(TFormKT580& window, const QString& dir) {
    TFormFindMeter& find = window.FormConnection().FindMeter();
    find.Prepare(1, {19200, TScanSetting::None1}, 1);
    find.RadioEvery->setChecked(true);
    find.show();
    find.ButtonStartClick();
    WaitFor([&] { return find.ListFound->topLevelItemCount() > 0; }, 20000);
    WaitFor([&] { return find.LabelTrying->text().contains(QLatin1String("address 9")); }, 20000);
    QString path = Save(&find, dir, "find-meter.png");
    find.ButtonCancelClick();
    find.hide();
    return path;
}

// The metering, device information and settings pages, each once its blocks have been read;
// false when the meter gives no values.
bool SavePages(TFormKT580& window, int& sent, const QString& dir, QStringList& pages) {
    TFormModbus& link = window.FormModbus();
    if (!WaitForValues(window, 20000)) {
        std::fprintf(stderr, "kt580-shots: no values from the meter\n");
        return false;
    }
    Settle(link, sent, 8);
    pages << Save(&window, dir, "real-time-metering.png");

    window.ReadingsDeviceInformation()->trigger();
    Settle(link, sent, 4);
    pages << Save(&window, dir, "device-information.png");

    window.SettingsGeneralSettings()->trigger();
    Settle(link, sent, 6);
    pages << Save(&window, dir, "general-settings.png");

    window.ReadingsInstallationCheck()->trigger();
    Settle(link, sent, 4);
    pages << Save(&window, dir, "installation-check.png");
    return true;
}

// The Trend page after some seconds of polling on it, with a recording running.
QString SaveTrend(TFormKT580& window, const QString& dir, int seconds) {
    TFormTrend& trend = *window.FormTrend();
    trend.SetSpan(0);
    const QString recordings =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    trend.StartRecording({recordings + QStringLiteral("/kt580-shots.csv"), {}});
    window.ReadingsTrend()->trigger();
    Idle(seconds * 1000);
    trend.Refresh();
    trend.Recorder().Stop();
    return Save(&window, dir, "trend.png");
}

// The Write Journal window with two writes of this session in it.
QString SaveJournal(TFormKT580& window, const QString& dir) {
    TCommissioning& commissioning = window.Commissioning();
    for (const char* outcome : {"accepted", "no answer"}) {
        TJournalEntry e;
        e.Time = QDateTime::currentDateTime();
        e.Port = QStringLiteral("COM1");
        e.Baudrate = 19200;
        e.Parity = QStringLiteral("None");
        e.Address = 1;
        e.SerialNumber = QStringLiteral("KT580-0042-7731");
        e.Write = {QStringLiteral("relay"),
                   QStringLiteral("Relay 1"),
                   {{QStringLiteral("Relay 1"), QStringLiteral("OFF"), QStringLiteral("ON")}}};
        e.Outcome = QString::fromLatin1(outcome);
        QString error;
        commissioning.Journal().Append(JournalLine(e), error);
    }
    commissioning.ShowJournal();
    QWidget* journal = commissioning.JournalWindow();
    Idle(500);
    QString path = journal ? Save(journal, dir, "write-journal.png") : QString();
    if (journal)
        journal->close();
    return path;
}

// The Record dialog as "Record..." opens it, shown without its modal loop.
QString SaveRecord(TFormKT580& window, IDialogs& dialogs, const QString& dir) {
    TFormRecord record(TRecordOptions{}, dialogs, &window);
    record.show();
    Idle(300);
    return Save(&record, dir, "record.png");
}

// The About box, saved and closed from within its modal loop.
void SaveAbout(TFormKT580& window, const QString& dir, QStringList& extra) {
    QTimer about;
    about.setInterval(20);
    QObject::connect(&about, &QTimer::timeout, [&] {
        if (auto* box = dynamic_cast<TFormAbout*>(QApplication::activeModalWidget())) {
            about.stop();
            extra << Save(box, dir, "about.png");
            box->Button1->click();
        }
    });
    about.start();
    window.HelpAboutExecute();
}

// Prints the paths saved; 1 when one of them could not be saved.
int PrintPaths(const QStringList& paths) {
    int status = 0;
    for (const QString& path : paths) {
        if (path.isEmpty()) {
            status = 1;
            continue;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return status;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    UseSystemLocale();
    const TShotOptions options = ParseShotOptions(argc, argv);
    // As the utility itself starts, over the style --dark may have chosen.
    InstallProgramStyle();
    const QString& dir = options.Dir;
    QDir().mkpath(dir);

    TQtDialogs dialogs;
    TFormKT580 window(dialogs);
    int sent = 0;
    Master(window.FormModbus()).WatchSent([&sent](const std::string&) { ++sent; });

    QStringList extra;
    if (!ShowWindow(window, options, extra))
        return 1;
    if (options.Windows)
        extra << SaveFindMeter(window, dir);

    if (!ConnectWindow(window)) {
        std::fprintf(stderr, "kt580-shots: cannot connect to COM1\n");
        return 1;
    }
    if (!options.Communication.isEmpty())
        return SaveCommunication(window, dir, options.Communication);
    if (!options.Bus.isEmpty())
        return SaveBus(window, dir, options.Bus);
    QStringList pages;
    if (!SavePages(window, sent, dir, pages))
        return 1;
    if (options.TrendSeconds > 0)
        extra << SaveTrend(window, dir, options.TrendSeconds);
    if (options.Windows) {
        extra << SaveJournal(window, dir);
        extra << SaveRecord(window, dialogs, dir);
        SaveAbout(window, dir, extra);
    }

    DisconnectWindow(window);
    window.close();
    return PrintPaths(pages + extra);
}
