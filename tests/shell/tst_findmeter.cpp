// Find Meter and what the Connection Settings dialog shows of the ports, without a meter: the
// meter chosen applied and connected to, Use into the connection controls, a port that does not
// open or that the user may not open, what a port reaches as adapters come and go through the
// device monitor's seam, and the lasting COM number an adapter is given. The scan against the
// simulator is tst_findmeter_sim.
#include "platform/PosixSerialDevice.h"
#include "shell/DeviceMonitor.h"
#include "shell/frmConnection.h"
#include "shell/frmFindMeter.h"
#include "support/FakeSerialDevice.h"
#include "support/ProgramRig.h"
#include "support/ShellTestKit.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using namespace shelltest;

namespace {

using TRig = TConnectionRig;

void Touch(const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

// Generous for a loaded machine; these tests are not about the wait.
constexpr int Wait = 60000;

const char* const ById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0";

} // namespace

class TestFindMeter : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(PrivateConfig()); }

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
        QCOMPARE(int(rig.Modbus().PortNum()), 12);
        QCOMPARE(rig.Modbus().Baudrate(), 4800);
        QCOMPARE(rig.Modbus().Parity(), TParity::Odd);
        QVERIFY(!rig.Dialog->isVisible());
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
        rig.Link->SetState(online ? TConnectionState::Online : TConnectionState::Offline);
        rig.Dialog->show();
        rig.Dialog->UseMeter({"COM12", 33, {4800, TScanSetting::Odd}, "KT580", "3.20", "S"});
        QCOMPARE(rig.Dialog->ComboPortName->currentText(), port);
        QCOMPARE(rig.Dialog->ComboBaudrate->currentText(), QStringLiteral("4800"));
        QCOMPARE(rig.Dialog->ComboParity->currentText(), QStringLiteral("Odd"));
        QCOMPARE(rig.Dialog->EditDevAddr->text(), QStringLiteral("33"));
        // Only OK applies them.
        QCOMPARE(rig.Modbus().Baudrate(), 19200);
        QCOMPARE(rig.Dialog->ButtonFindMeter->isEnabled(), !online);
        rig.Dialog->ButtonOkClick();
        QCOMPARE(rig.Modbus().Baudrate(), 4800);
        QCOMPARE(rig.Modbus().Parity(), TParity::Odd);
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
