// COM names to device paths: the fixed table, the per-user links, plain paths.
#include "platform/PortName.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>

class TPortNameTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(FConfig.isValid());
        qputenv("XDG_CONFIG_HOME", FConfig.path().toLocal8Bit());
    }

    void number_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("number"); // -1: not a COM name
        QTest::newRow("device form") << "\\\\.\\COM7" << 7;
        QTest::newRow("bare") << "COM2" << 2;
        QTest::newRow("three digits") << "\\\\.\\COM128" << 128;
        QTest::newRow("large") << "COM300" << 300;
        QTest::newRow("zero") << "COM0" << -1;
        QTest::newRow("leading zero") << "COM01" << -1;
        QTest::newRow("no digits") << "\\\\.\\COM" << -1;
        QTest::newRow("trailing text") << "COM3x" << -1;
        QTest::newRow("lower case") << "com3" << -1;
        QTest::newRow("path") << "/dev/ttyS0" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("sign") << "COM-1" << -1;
    }
    void number() {
        QFETCH(QString, name);
        QFETCH(int, number);
        const auto got = ComPortNumber(name.toStdString());
        QCOMPARE(got.has_value(), number >= 0);
        if (got) {
            QCOMPARE(static_cast<int>(*got), number);
        }
    }

    void table_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path"); // "@" stands for the link folder
        QTest::newRow("COM1") << "\\\\.\\COM1"
                              << "/dev/ttyS0";
        QTest::newRow("COM2 bare") << "COM2"
                                   << "/dev/ttyS1";
        QTest::newRow("COM32") << "\\\\.\\COM32"
                               << "/dev/ttyS31";
        QTest::newRow("COM33") << "\\\\.\\COM33"
                               << "/dev/ttyUSB0";
        QTest::newRow("COM64") << "\\\\.\\COM64"
                               << "/dev/ttyUSB31";
        QTest::newRow("COM65") << "\\\\.\\COM65"
                               << "/dev/ttyACM0";
        QTest::newRow("COM96") << "\\\\.\\COM96"
                               << "/dev/ttyACM31";
        QTest::newRow("COM97 only by link") << "\\\\.\\COM97"
                                            << "@/COM97";
        QTest::newRow("COM128 only by link") << "\\\\.\\COM128"
                                             << "@/COM128";
        QTest::newRow("path as given") << "/tmp/some tty"
                                       << "/tmp/some tty";
        QTest::newRow("relative path") << "ttyX"
                                       << "ttyX";
    }
    void table() {
        QFETCH(QString, name);
        QFETCH(QString, path);
        path.replace("@", QString::fromStdString(PortMapDir()));
        QCOMPARE(QString::fromStdString(ResolvePortName(name.toStdString())), path);
    }

    void mapDirFollowsConfigHome() {
        QCOMPARE(QString::fromStdString(PortMapDir()), FConfig.path() + "/Veltrana/Marbrook/ports");
        // A relative XDG_CONFIG_HOME is not a configuration folder.
        qputenv("XDG_CONFIG_HOME", "relative/dir");
        const QString home = qEnvironmentVariable("HOME");
        QCOMPARE(QString::fromStdString(PortMapDir()), home + "/.config/Veltrana/Marbrook/ports");
        qputenv("XDG_CONFIG_HOME", FConfig.path().toLocal8Bit());
    }

    void linkTakesPrecedence() {
        const QString dir = QString::fromStdString(PortMapDir());
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(QFile::link("/dev/null", dir + "/COM1"));
        QVERIFY(QFile::link("/dev/null", dir + "/COM100"));
        // A dangling link still names the port: opening it then fails as a missing device.
        QVERIFY(QFile::link(dir + "/nothing-here", dir + "/COM5"));
        QCOMPARE(QString::fromStdString(ResolvePortName("\\\\.\\COM1")), dir + "/COM1");
        QCOMPARE(QString::fromStdString(ResolvePortName("\\\\.\\COM100")), dir + "/COM100");
        QCOMPARE(QString::fromStdString(ResolvePortName("COM5")), dir + "/COM5");
        QCOMPARE(QString::fromStdString(ResolvePortName("\\\\.\\COM2")), QString("/dev/ttyS1"));
        QVERIFY(QFile::remove(dir + "/COM1"));
        QCOMPARE(QString::fromStdString(ResolvePortName("\\\\.\\COM1")), QString("/dev/ttyS0"));
    }

    void simulatorOnPort_data() {
        QTest::addColumn<QString>("link"); // the COM7 entry's target; empty for no entry
        QTest::addColumn<QString>("note"); // the simulator's note; empty for none
        QTest::addColumn<QString>("name"); // the port name asked about
        QTest::addColumn<bool>("simulator");
        QTest::newRow("the simulator's entry") << "/dev/pts/7"
                                               << "/dev/pts/7"
                                               << "\\\\.\\COM7" << true;
        QTest::newRow("bare name") << "/dev/pts/7"
                                   << "/dev/pts/7"
                                   << "COM7" << true;
        QTest::newRow("an entry the operator made") << "/dev/ttyUSB0"
                                                    << ""
                                                    << "COM7" << false;
        QTest::newRow("a note left by an earlier run") << "/dev/ttyUSB0"
                                                       << "/dev/pts/7"
                                                       << "COM7" << false;
        QTest::newRow("a note without its entry") << ""
                                                  << "/dev/pts/7"
                                                  << "COM7" << false;
        QTest::newRow("another port") << "/dev/pts/7"
                                      << "/dev/pts/7"
                                      << "COM8" << false;
        QTest::newRow("a path") << "/dev/pts/7"
                                << "/dev/pts/7"
                                << "/dev/pts/7" << false;
    }
    void simulatorOnPort() {
        QFETCH(QString, link);
        QFETCH(QString, note);
        QFETCH(QString, name);
        QFETCH(bool, simulator);
        QVERIFY(QDir().mkpath(QString::fromStdString(PortMapDir())));
        const QString entry = QString::fromStdString(PortLinkPath(7));
        const QString notePath = QString::fromStdString(SimulatorNotePath(7));
        QFile::remove(entry);
        QFile::remove(notePath);
        if (!link.isEmpty())
            QVERIFY(QFile::link(link, entry));
        if (!note.isEmpty()) {
            QFile file(notePath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(note.toLocal8Bit() + "\n");
        }
        QCOMPARE(SimulatorOnPort(name.toStdString()), simulator);
        QFile::remove(entry);
        QFile::remove(notePath);
    }

private:
    QTemporaryDir FConfig;
};

QTEST_GUILESS_MAIN(TPortNameTest)
#include "tst_portname.moc"
