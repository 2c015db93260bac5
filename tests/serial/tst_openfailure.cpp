// The operator's reason for a port that did not open.
#include "serial/OpenFailure.h"

#include <QtTest>

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
};

QTEST_GUILESS_MAIN(TOpenFailureTest)
#include "tst_openfailure.moc"
