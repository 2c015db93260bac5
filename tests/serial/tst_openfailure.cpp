// The operator's reason for a port that did not open.
#include "serial/OpenFailure.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <grp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
        QTest::addColumn<QString>("group");
        QTest::addColumn<QStringList>("says"); // parts the advice must hold; none: no advice
        QTest::newRow("permission, group known")
            << EACCES << "uucp"
            << QStringList{"/dev/ttyUSB0", "\"uucp\"", "sudo usermod -aG uucp ann\n",
                           "log out and log in again"};
        QTest::newRow("permission through EPERM")
            << EPERM << "dialout" << QStringList{"sudo usermod -aG dialout ann\n"};
        QTest::newRow("permission, group unknown")
            << EACCES << "" << QStringList{"/dev/ttyUSB0 cannot be opened by ann"};
        QTest::newRow("held by another program")
            << EWOULDBLOCK << "uucp" << QStringList{"/dev/ttyUSB0 is in use by another program"};
        QTest::newRow("missing port: nothing to add") << ENOENT << "uucp" << QStringList{};
    }
    void advice() {
        QFETCH(int, error);
        QFETCH(QString, group);
        QFETCH(QStringList, says);
        const QString text = QString::fromStdString(
            OpenFailureAdvice(error, "/dev/ttyUSB0", group.toStdString(), "ann"));
        QCOMPARE(text.isEmpty(), says.isEmpty());
        for (const QString& part : says)
            QVERIFY2(text.contains(part), qPrintable(text));
        if (group.isEmpty() || error == ENOENT || error == EWOULDBLOCK)
            QVERIFY(!text.contains(QLatin1String("usermod")));
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
        const QString text =
            QString::fromStdString(OpenFailureAdviceFor(EACCES, device.toStdString()));
        QVERIFY2(text.contains(QStringLiteral("sudo usermod -aG %1 ").arg(g->gr_name)),
                 qPrintable(text));
        QVERIFY2(text.contains(device), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TOpenFailureTest)
#include "tst_openfailure.moc"
