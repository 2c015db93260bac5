// Find Meter and what the Connection Settings dialog shows of the ports: the dialog's scan
// against the simulator (found, several, Cancel), Use into the connection controls, what a
// port reaches as adapters come and go through the device monitor's seam, and the lasting COM
// number an adapter is given.
#include "link/frmModbus.h"
#include "platform/PosixSerialDevice.h"
#include "shell/DeviceMonitor.h"
#include "shell/frmConnection.h"
#include "shell/frmFindMeter.h"
#include "support/FakeSerialDevice.h"
#include "support/FakeShell.h"
#include "support/LinkTestAccess.h"
#include "support/ScriptedDialogs.h"
#include "support/ShellTestKit.h"
#include "support/SimProcess.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using namespace shelltest;

namespace {

struct TRig {
    TFakeShell Shell;
    TScriptedDialogs Dialogs;
    TDeviceMonitor Monitor;
    std::unique_ptr<TFormModbus> Link;
    std::unique_ptr<TFormConnection> Dialog;
    TRig() {
        Shell.IsConnected = false;
        Link = std::make_unique<TFormModbus>(Shell, Dialogs);
        Dialog = std::make_unique<TFormConnection>(*Link, Shell, Dialogs);
        Dialog->SetDeviceMonitor(&Monitor);
    }
    ~TRig() {
        Dialog.reset();
        Link.reset();
    }
};

QStringList Rows(const QTreeWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QStringList cells;
        for (int c = 0; c < list->columnCount(); ++c)
            cells << list->topLevelItem(i)->text(c);
        rows << cells.join(' ');
    }
    return rows;
}

void Touch(const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

// The test's probes may wait this long for a meter to begin: the unpaced simulator answers
// at once, but a busy machine may hold it back; these tests are not about the wait.
constexpr double Turnaround = 0.060;
constexpr int Wait = 60000;

const char* const ById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0";

} // namespace

class TestFindMeter : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(PrivateConfig()); }

    void scanInTheDialog_data() {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<bool>("every");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("38400 baud, found among the likely addresses")
            << QStringList{"--baud", "38400", "--serial", "F-1"} << false
            << QStringList{"COM9 1 38400 None1 KT580 3.20 F-1"};
        QTest::newRow("every meter of a line")
            << QStringList{"--address", "5", "--serial", "F-5", "--extra-meter", "2,F-2"} << true
            << QStringList{"COM9 2 19200 None1 KT580 3.20 F-2",
                           "COM9 5 19200 None1 KT580 3.20 F-5"};
    }
    void scanInTheDialog() {
        QFETCH(QStringList, simArgs);
        QFETCH(bool, every);
        QFETCH(QStringList, rows);
        TSimProcess sim(simArgs, 9);
        QVERIFY(!sim.Path().isEmpty());
        TFormFindMeter d;
        d.SetTurnaround(Turnaround);
        d.Prepare(9, {19200, TScanSetting::None1}, 1);
        QCOMPARE(d.ComboPort->currentText(), QStringLiteral("COM9"));
        (every ? d.RadioEvery : d.RadioFirst)->setChecked(true);
        int finished = 0;
        d.OnScanFinished = [&finished] { ++finished; };
        d.show();
        QVERIFY(d.ButtonStart->isDefault());
        d.ButtonStart->click();
        QVERIFY(!d.ButtonStart->isEnabled());
        QVERIFY(d.ButtonCancel->isEnabled());
        QVERIFY(!d.LabelRemaining->text().isEmpty());
        // Read once the window has shown the scan's end, whatever the load.
        QTRY_COMPARE_WITH_TIMEOUT(finished, 1, Wait);
        QVERIFY(!d.Scanning());
        QVERIFY(d.ButtonStart->isEnabled());
        QCOMPARE(Rows(d.ListFound), rows);
        QCOMPARE(d.ProgressScan->value(), d.ProgressScan->maximum());
        QVERIFY(d.LabelTrying->text().startsWith("Meters found"));
        QVERIFY(LockFree(sim.Path()));
        // Enter now uses the meter found rather than searching again.
        QVERIFY(d.ButtonUse->isDefault());
        QVERIFY(!d.ButtonStart->isDefault());
        // Use hands back the meter chosen.
        d.ListFound->setCurrentItem(d.ListFound->topLevelItem(rows.size() - 1));
        d.ButtonUse->click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(d.Chosen().has_value());
        QCOMPARE(QString::number(d.Chosen()->Address), rows.last().section(' ', 1, 1));
        QVERIFY(!d.ConnectAsked());
    }

    void doubleClickUsesAndConnects() {
        TSimProcess sim({"--address", "7", "--serial", "D-7"}, 9);
        QVERIFY(!sim.Path().isEmpty());
        TFormFindMeter d;
        d.SetTurnaround(Turnaround);
        d.Prepare(9, {19200, TScanSetting::None1}, 1);
        int finished = 0;
        d.OnScanFinished = [&finished] { ++finished; };
        d.show();
        d.ButtonStart->click();
        QTRY_COMPARE_WITH_TIMEOUT(finished, 1, Wait);
        QCOMPARE(d.ListFound->topLevelItemCount(), 1);
        const QRect cell = d.ListFound->visualItemRect(d.ListFound->topLevelItem(0));
        // A double-click as the window sees it: a click, then the second press.
        QTest::mouseClick(d.ListFound->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(d.ListFound->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(d.Chosen().has_value());
        QCOMPARE(int(d.Chosen()->Address), 7);
        QVERIFY(d.ConnectAsked());
    }

    // The meter chosen to connect to is applied as OK would, and only then is the connection
    // asked for.
    void connectToMeterAppliesThenConnects() {
        TRig rig;
        int connects = 0;
        int addressAtConnect = 0;
        rig.Dialog->OnConnect = [&] {
            ++connects;
            addressAtConnect = rig.Link->DeviceAddress();
        };
        rig.Dialog->ConnectToMeter({"COM12", 33, {4800, TScanSetting::Odd}, "KT580", "3.20", "S"});
        QCOMPARE(connects, 1);
        QCOMPARE(addressAtConnect, 33);
        QCOMPARE(int(TLinkTestAccess::Master(*rig.Link).PortNum()), 12);
        QCOMPARE(TLinkTestAccess::Master(*rig.Link).Baudrate(), 4800);
        QCOMPARE(TLinkTestAccess::Master(*rig.Link).Parity(), TParity::Odd);
        QVERIFY(!rig.Dialog->isVisible());
    }

    void cancelClosesThePort() {
        // Out of reach of the likely addresses and the first settings: the scan runs on.
        TSimProcess sim({"--address", "200", "--baud", "1200"}, 9);
        QVERIFY(!sim.Path().isEmpty());
        TFormFindMeter d;
        d.SetTurnaround(Turnaround);
        d.Prepare(9, {19200, TScanSetting::None1}, 1);
        d.show();
        d.ButtonStart->click();
        QTRY_VERIFY(d.LabelTrying->text().startsWith("Trying "));
        QVERIFY(!LockFree(sim.Path()));
        d.ButtonCancel->click();
        // Cancel returns with the port closed.
        QVERIFY(!d.Scanning());
        QVERIFY(LockFree(sim.Path()));
        QCOMPARE(d.LabelTrying->text(), QStringLiteral("Cancelled"));
        QVERIFY(d.ButtonStart->isEnabled());
        QVERIFY(!d.ButtonUse->isEnabled());
        QVERIFY(d.ProgressScan->value() < d.ProgressScan->maximum());
    }

    void portThatDoesNotOpen() {
        MapPort(9, "/nonexistent/kt580-com9");
        TFormFindMeter d;
        d.Prepare(9, {19200, TScanSetting::None1}, 1);
        d.ButtonStartClick();
        QTRY_VERIFY(!d.Scanning());
        QTRY_COMPARE(d.LabelTrying->text(), QStringLiteral("COM9: missing"));
        QCOMPARE(d.ListFound->topLevelItemCount(), 0);
        UnmapPort(9);
    }

    // A port the user may not open: the dialog gives the same advice as the main window, read
    // from the device's owner, group and mode.
    void permissionAdvice_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("says");
        QTest::addColumn<QString>("notSays");
        QTest::newRow("its group may read and write") << 0660 << "sudo usermod -aG "
                                                      << "udev";
        QTest::newRow("only its owner may") << 0600 << "KERNEL==\"ttyPERM\""
                                            << "usermod -aG root";
    }
    void permissionAdvice() {
        QFETCH(int, mode);
        QFETCH(QString, says);
        QFETCH(QString, notSays);
        QTemporaryDir dir;
        const QString device = dir.path() + "/ttyPERM";
        Touch(device);
        QCOMPARE(::chmod(device.toLocal8Bit().constData(), static_cast<mode_t>(mode)), 0);
        QVERIFY(MapPort(9, device));
        TFormFindMeter d;
        auto line = std::make_shared<TFakeLine>();
        line->SetOpenResult({TOpenStatus::OpenFailed, EACCES});
        d.SetDeviceFactory([line] { return std::make_unique<TFakeSerialDevice>(line); });
        int finished = 0;
        d.OnScanFinished = [&finished] { ++finished; };
        d.Prepare(9, {19200, TScanSetting::None1}, 1);
        d.ButtonStartClick();
        QTRY_COMPARE_WITH_TIMEOUT(finished, 1, Wait);
        QCOMPARE(d.LabelTrying->text(), QStringLiteral("COM9: permission denied"));
        QVERIFY2(d.LabelNotes->text().contains(says), qPrintable(d.LabelNotes->text()));
        QVERIFY2(d.LabelNotes->text().contains(device), qPrintable(d.LabelNotes->text()));
        QVERIFY2(!d.LabelNotes->text().contains(notSays), qPrintable(d.LabelNotes->text()));
        UnmapPort(9);
    }

    void useFillsTheConnectionDialog_data() {
        QTest::addColumn<bool>("online");
        QTest::addColumn<QString>("port");
        QTest::newRow("offline: the port too") << false << "COM12";
        QTest::newRow("online: the port stays") << true << "COM1";
    }
    void useFillsTheConnectionDialog() {
        QFETCH(bool, online);
        QFETCH(QString, port);
        TRig rig;
        rig.Shell.IsConnected = online;
        rig.Dialog->show();
        rig.Dialog->UseMeter({"COM12", 33, {4800, TScanSetting::Odd}, "KT580", "3.20", "S"});
        QCOMPARE(rig.Dialog->ComboPortName->currentText(), port);
        QCOMPARE(rig.Dialog->ComboBaudrate->currentText(), QStringLiteral("4800"));
        QCOMPARE(rig.Dialog->ComboParity->currentText(), QStringLiteral("Odd"));
        QCOMPARE(rig.Dialog->EditDevAddr->text(), QStringLiteral("33"));
        // Only OK applies them.
        QCOMPARE(TLinkTestAccess::Master(*rig.Link).Baudrate(), 19200);
        QCOMPARE(rig.Dialog->ButtonFindMeter->isEnabled(), !online);
        rig.Dialog->ButtonOkClick();
        QCOMPARE(TLinkTestAccess::Master(*rig.Link).Baudrate(), 4800);
        QCOMPARE(TLinkTestAccess::Master(*rig.Link).Parity(), TParity::Odd);
        QCOMPARE(int(rig.Link->DeviceAddress()), 33);
        QCOMPARE(rig.Dialog->ButtonFindMeter->isEnabled(), !online);
    }

    void adaptersComeAndGo() {
        QTemporaryDir root;
        const QString r = root.path();
        TRig rig;
        rig.Dialog->DeviceRoot = r.toStdString();
        rig.Dialog->show();
        rig.Dialog->ComboPortName->setCurrentIndex(32); // COM33: ttyUSB0 by the fixed table
        QCOMPARE(rig.Dialog->LabelReach->text(), QStringLiteral("not present"));
        QVERIFY(!rig.Dialog->ComboAdapter->isEnabled());

        // Plugged in: udev makes the node, the by-id link and the sysfs entries, then tells.
        Touch(r + "/dev/ttyUSB0");
        QDir().mkpath(r + "/dev/serial/by-id");
        QVERIFY(QFile::link("../../ttyUSB0", r + ById));
        const QString usb = r + "/sys/devices/usb1/1-2";
        Touch(usb + "/idVendor");
        QFile maker(usb + "/manufacturer");
        QVERIFY(maker.open(QIODevice::WriteOnly));
        maker.write("FTDI\n");
        maker.close();
        QDir().mkpath(usb + "/1-2:1.0");
        QDir().mkpath(r + "/sys/class/tty/ttyUSB0");
        QVERIFY(
            QFile::link("../../../devices/usb1/1-2/1-2:1.0", r + "/sys/class/tty/ttyUSB0/device"));
        rig.Monitor.Notify("add", "/dev/ttyUSB0");
        QCOMPARE(rig.Dialog->LabelReach->text(), QStringLiteral("/dev/ttyUSB0: FTDI"));
        QVERIFY(rig.Dialog->ComboPortName->itemData(32, Qt::FontRole).value<QFont>().bold());
        QVERIFY(!rig.Dialog->ComboPortName->itemData(33, Qt::FontRole).isValid());
        QCOMPARE(rig.Dialog->ComboAdapter->count(), 2);
        QVERIFY(rig.Dialog->ComboAdapter->isEnabled());

        // Chosen: it gets COM97 for good, a link to its by-id name.
        rig.Dialog->ChooseAdapter(1);
        QCOMPARE(rig.Dialog->ComboPortName->currentText(), QStringLiteral("COM97"));
        QCOMPARE(QFile::symLinkTarget(TestPortMapDir() + "/COM97"), QString(ById));
        QCOMPARE(rig.Dialog->LabelReach->text(), QStringLiteral("/dev/ttyUSB0: FTDI"));
        rig.Dialog->ChooseAdapter(1);
        QCOMPARE(rig.Dialog->ComboPortName->currentText(), QStringLiteral("COM97"));
        QVERIFY(!QFileInfo::exists(TestPortMapDir() + "/COM98"));

        // Pulled out: node and link go; the same COM number shows it absent.
        QFile::remove(r + ById);
        QFile::remove(r + "/dev/ttyUSB0");
        rig.Monitor.Notify("remove", "/dev/ttyUSB0");
        QCOMPARE(rig.Dialog->LabelReach->text(), QStringLiteral("not present"));
        QVERIFY(!rig.Dialog->ComboPortName->itemData(96, Qt::FontRole).isValid());
        QCOMPARE(rig.Dialog->ComboAdapter->count(), 1);
        rig.Dialog->hide();
        UnmapPort(97);
    }
};

QTEST_MAIN(TestFindMeter)
#include "tst_findmeter.moc"
