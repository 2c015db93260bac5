// The operator's reason for a port that did not open.
#include "serial/OpenFailure.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

QString NameOfGroupOf(const QString& path) {
    struct stat st {};
    if (::stat(path.toLocal8Bit().constData(), &st) != 0)
        return {};
    const group* g = ::getgrgid(st.st_gid);
    return g != nullptr ? QString::fromLocal8Bit(g->gr_name) : QString::number(st.st_gid);
}

} // namespace

class TOpenFailureTest : public QObject {
    Q_OBJECT

private slots:
    void reason_data() {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("reason");
        QTest::newRow("ENOENT") << ENOENT << "x"
                                << "missing";
        QTest::newRow("ENXIO") << ENXIO << "x"
                               << "missing";
        QTest::newRow("ENODEV") << ENODEV << "x"
                                << "missing";
        QTest::newRow("EWOULDBLOCK") << EWOULDBLOCK << "x"
                                     << "busy";
        QTest::newRow("EBUSY") << EBUSY << "x"
                               << "busy";
        QTest::newRow("ENOTTY") << ENOTTY << "x"
                                << "not a serial port";
        QTest::newRow("EISDIR") << EISDIR << "x"
                                << "not a serial port";
        QTest::newRow("EACCES") << EACCES << "x"
                                << "permission denied";
        QTest::newRow("EPERM") << EPERM << "x"
                               << "permission denied";
        // Without a system error the port's own message is all there is to say.
        QTest::newRow("no errno") << 0 << "Cannot setup comm buffer"
                                  << "Cannot setup comm buffer";
        QTest::newRow("other errno") << EIO << "x" << QString::fromLocal8Bit(std::strerror(EIO));
    }
    void reason() {
        QFETCH(int, error);
        QFETCH(QString, message);
        QFETCH(QString, reason);
        QCOMPARE(QString::fromStdString(OpenFailureReason(error, message.toStdString())), reason);
    }

    void advice_data() {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("mode"); // -1: the device could not be looked at
        QTest::addColumn<QString>("group");
        QTest::addColumn<QStringList>("says");    // parts the advice must hold; none: no advice
        QTest::addColumn<QStringList>("notSays"); // parts it must not hold
        const QStringList udev{"/etc/udev/rules.d/",
                               "KERNEL==\"ttyUSB0\", GROUP=\"dialout\", "
                               "MODE=\"0660\"",
                               "udevadm trigger", "sudo usermod -aG dialout ann,", "log in again"};
        QTest::newRow("group may read and write: join it")
            << EACCES << 0660 << "uucp"
            << QStringList{"/dev/ttyUSB0", "\"uucp\"", "sudo usermod -aG uucp ann\n",
                           "log out and log in again"}
            << QStringList{"udev"};
        QTest::newRow("through EPERM, group rw and more")
            << EPERM << 0664 << "dialout" << QStringList{"sudo usermod -aG dialout ann\n"}
            << QStringList{"udev"};
        QTest::newRow("0600 root:root: the group has nothing")
            << EACCES << 0600 << "root" << udev + QStringList{"mode 0600", "group root"}
            << QStringList{"usermod -aG root"};
        QTest::newRow("0620 tty: the group may only write")
            << EACCES << 0620 << "tty" << udev + QStringList{"mode 0620"}
            << QStringList{"usermod -aG tty"};
        QTest::newRow("0640: the group may only read")
            << EACCES << 0640 << "uucp" << udev << QStringList{"usermod -aG uucp"};
        QTest::newRow("device not looked at")
            << EACCES << -1 << "" << QStringList{"/dev/ttyUSB0 cannot be opened by ann"}
            << QStringList{"usermod", "udev"};
        QTest::newRow("held by another program")
            << EWOULDBLOCK << 0660 << "uucp"
            << QStringList{"/dev/ttyUSB0 is in use by another program"} << QStringList{"usermod"};
        QTest::newRow("missing port: nothing to add")
            << ENOENT << 0660 << "uucp" << QStringList{} << QStringList{};
    }
    void advice() {
        QFETCH(int, error);
        QFETCH(int, mode);
        QFETCH(QString, group);
        QFETCH(QStringList, says);
        QFETCH(QStringList, notSays);
        TDeviceAccess access;
        access.Device = "/dev/ttyUSB0";
        access.Known = mode >= 0;
        access.Mode = mode >= 0 ? static_cast<unsigned>(mode) : 0;
        access.Owner = "root";
        access.Group = group.toStdString();
        const QString text = QString::fromStdString(OpenFailureAdvice(error, access, "ann"));
        QCOMPARE(text.isEmpty(), says.isEmpty());
        for (const QString& part : says)
            QVERIFY2(text.contains(part), qPrintable(text));
        for (const QString& part : notSays)
            QVERIFY2(!text.contains(part), qPrintable(text));
    }

    // Mode, owner and group are read from the device: a device its group may not open gets the
    // udev rule, not an invitation to join the group.
    void adviceReadsTheDevice() {
        QTemporaryDir dir;
        const QString device = dir.path() + "/ttyX";
        QFile f(device);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        QCOMPARE(::chmod(device.toLocal8Bit().constData(), 0600), 0);
        const QString text =
            QString::fromStdString(OpenFailureAdviceFor(EACCES, device.toStdString()));
        QVERIFY2(text.contains(QStringLiteral("KERNEL==\"ttyX\"")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("mode 0600")), qPrintable(text));
        QVERIFY2(!text.contains(QStringLiteral("usermod -aG ") + NameOfGroupOf(device)),
                 qPrintable(text));
    }

    // The group is read from the device, not assumed.
    void adviceReadsTheOwningGroup() {
        QTemporaryDir dir;
        const QString device = dir.path() + "/ttyX";
        QFile f(device);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const group* g = ::getgrnam("uucp") != nullptr ? ::getgrnam("uucp") : ::getgrnam("tty");
        if (g == nullptr)
            QSKIP("no group to hand the file to");
        QCOMPARE(::chown(device.toLocal8Bit().constData(), ::getuid(), g->gr_gid), 0);
        QCOMPARE(::chmod(device.toLocal8Bit().constData(), 0660), 0);
        const QString text =
            QString::fromStdString(OpenFailureAdviceFor(EACCES, device.toStdString()));
        QVERIFY2(text.contains(QStringLiteral("sudo usermod -aG %1 ").arg(g->gr_name)),
                 qPrintable(text));
        QVERIFY2(text.contains(device), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TOpenFailureTest)
#include "tst_openfailure.moc"
