// What a port reaches, read from a fake /dev and /sys: USB adapters by their by-id names and
// sysfs descriptions, built-in ports with and without a UART, ports not there; and the lasting
// COM number an adapter gets through the per-user port map.
#include "platform/PortInfo.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using TPortMap = std::map<unsigned, std::string>;
Q_DECLARE_METATYPE(TPortMap)

namespace {

void Write(const QString& path, const QByteArray& text) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(text), text.size());
}

void Link(const QString& path, const QString& target) {
    QDir().mkpath(QFileInfo(path).path());
    QCOMPARE(::symlink(target.toLocal8Bit().constData(), path.toLocal8Bit().constData()), 0);
}

const char* const ById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0";

} // namespace

class TestPortInfo : public QObject {
    Q_OBJECT

    QTemporaryDir FRoot;

private slots:
    void initTestCase() {
        QVERIFY(FRoot.isValid());
        const QString r = FRoot.path();
        // As udev and the kernel lay them out: relative links, the USB device two folders
        // above the tty's interface.
        Write(r + "/dev/ttyUSB0", "");
        Write(r + "/dev/ttyACM0", "");
        Write(r + "/dev/ttyS0", "");
        Write(r + "/dev/ttyS1", "");
        Link(r + ById, "../../ttyUSB0");
        const QString usb = r + "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";
        Write(usb + "/idVendor", "0403\n");
        Write(usb + "/manufacturer", "FTDI\n");
        Write(usb + "/product", "FT232R USB UART\n");
        Write(usb + "/serial", "A10K1234\n");
        QDir().mkpath(usb + "/1-2:1.0/ttyUSB0");
        Link(r + "/sys/class/tty/ttyUSB0/device",
             "../../../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0");
        // A modem-class adapter that names only its product.
        const QString acm = r + "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-3";
        Write(acm + "/idVendor", "2341\n");
        Write(acm + "/product", "RS485 Stick\n");
        QDir().mkpath(acm + "/1-3:1.0");
        Link(r + "/sys/class/tty/ttyACM0/device",
             "../../../devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0");
        Write(r + "/sys/class/tty/ttyS0/type", "4\n");
        Write(r + "/sys/class/tty/ttyS1/type", "0\n");
    }

    void describe_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("byId");
        QTest::addColumn<QString>("reach");
        QTest::newRow("by-id name") << ById << "/dev/ttyUSB0" << ById
                                    << "/dev/ttyUSB0: FTDI FT232R USB UART, serial A10K1234";
        QTest::newRow("kernel name of the same adapter")
            << "/dev/ttyUSB0"
            << "/dev/ttyUSB0" << ById << "/dev/ttyUSB0: FTDI FT232R USB UART, serial A10K1234";
        QTest::newRow("adapter with a product name only") << "/dev/ttyACM0"
                                                          << "/dev/ttyACM0"
                                                          << ""
                                                          << "/dev/ttyACM0: RS485 Stick";
        QTest::newRow("built-in port with a UART") << "/dev/ttyS0"
                                                   << "/dev/ttyS0"
                                                   << ""
                                                   << "/dev/ttyS0";
        QTest::newRow("built-in port without one") << "/dev/ttyS1"
                                                   << "/dev/ttyS1"
                                                   << ""
                                                   << "not present";
        QTest::newRow("adapter not plugged in") << "/dev/ttyUSB1"
                                                << "/dev/ttyUSB1"
                                                << ""
                                                << "not present";
    }
    void describe() {
        QFETCH(QString, path);
        QFETCH(QString, device);
        QFETCH(QString, byId);
        QFETCH(QString, reach);
        const TPortInfo info = DescribePort(path.toStdString(), FRoot.path().toStdString());
        QCOMPARE(QString::fromStdString(info.Device), device);
        QCOMPARE(QString::fromStdString(info.ById), byId);
        QCOMPARE(QString::fromStdString(PortReachText(info)), reach);
    }

    void adaptersListed() {
        const auto list = SerialAdaptersById(FRoot.path().toStdString());
        QCOMPARE(list.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(list[0]), QString(ById));
    }

    void comForAdapter_data() {
        QTest::addColumn<TPortMap>("map");
        QTest::addColumn<int>("number"); // 0: none
        const std::string other = "/dev/serial/by-id/usb-other";
        TPortMap full;
        for (unsigned n = 97; n <= 128; ++n)
            full[n] = other + std::to_string(n);
        TPortMap fullButMine = full;
        fullButMine[3] = ById;
        QTest::newRow("new adapter: first map-only number") << TPortMap{} << 97;
        QTest::newRow("new adapter: next free one")
            << TPortMap{{97, other}, {98, "/dev/ttyUSB0"}, {100, other}} << 99;
        QTest::newRow("known adapter keeps its number, wherever it is")
            << TPortMap{{97, other}, {5, ById}} << 5;
        QTest::newRow("known adapter, every map-only number taken") << fullButMine << 3;
        QTest::newRow("no number left") << full << 0;
    }
    void comForAdapter() {
        QFETCH(TPortMap, map);
        QFETCH(int, number);
        QCOMPARE(int(ComForAdapter(map, ById).value_or(0)), number);
    }

    void linkAndReadBack() {
        QTemporaryDir dir;
        const std::string map = dir.path().toStdString() + "/a/b/ports";
        std::string error;
        QVERIFY2(LinkPort(map, 97, ById, error), error.c_str());
        // Again, to another target: the link is replaced.
        QVERIFY2(LinkPort(map, 97, "/dev/ttyUSB3", error), error.c_str());
        QVERIFY2(LinkPort(map, 4, ById, error), error.c_str());
        Write(QString::fromStdString(map) + "/COM9", "not a link");
        QVERIFY(!LinkPort(map, 9, ById, error));
        QVERIFY(!error.empty());
        const TPortMap read = ReadPortMap(map);
        QCOMPARE(read, (TPortMap{{4, ById}, {97, "/dev/ttyUSB3"}}));
    }
};

QTEST_GUILESS_MAIN(TestPortInfo)
#include "tst_portinfo.moc"
