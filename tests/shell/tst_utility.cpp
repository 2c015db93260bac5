// The program itself: it takes no options, and a stop signal ends it the way closing its
// window does, with the connection values saved.
#include "ShellTestKit.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

using namespace shelltest;

namespace {

// True once the process has its own handler for sig (the SigCgt mask of /proc/PID/status).
bool Catches(qint64 pid, int sig) {
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            bool ok = false;
            const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
            return ok && (mask & (1ull << (sig - 1)));
        }
    }
    return false;
}

} // namespace

class TestUtility : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void stopSignal_data();
    void stopSignal();
    void storedValuesInAFifo();
};

void TestUtility::initTestCase() {
    QVERIFY(PrivateConfig());
    QVERIFY(QFileInfo::exists(Bin("src/shell/kt580-utility")));
}

void TestUtility::stopSignal_data() {
    QTest::addColumn<int>("sig");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("SIGTERM") << SIGTERM << QStringList();
    QTest::newRow("SIGINT") << SIGINT << QStringList();
    QTest::newRow("SIGHUP, options ignored") << SIGHUP << QStringList({"--help", "-style=bogus"});
}

void TestUtility::stopSignal() {
    QFETCH(int, sig);
    QFETCH(QStringList, args);
    QTemporaryDir config;
    QVERIFY(config.isValid());
    // COM1 leads nowhere: the program never reaches a real port here.
    QVERIFY(QDir().mkpath(config.path() + "/Veltrana/Marbrook/ports"));
    QVERIFY(
        QFile::link("/nonexistent/kt580-none", config.path() + "/Veltrana/Marbrook/ports/COM1"));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(Bin("src/shell/kt580-utility"), args);
    QVERIFY(p.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(Catches(p.processId(), sig), 10000);
    ::kill(static_cast<pid_t>(p.processId()), sig);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QSettings s(config.path() + "/Veltrana/Marbrook.conf", QSettings::IniFormat);
    s.beginGroup("ComPort");
    QCOMPARE(s.childKeys().size(), 6);
    QCOMPARE(s.value("PortNum").toInt(), 1);
    QCOMPARE(s.value("Baudrate").toInt(), 19200);
    QCOMPARE(s.value("DevAddr").toInt(), 1);
}

void TestUtility::storedValuesInAFifo() {
    QTemporaryDir config;
    QVERIFY(config.isValid());
    QVERIFY(QDir().mkpath(config.path() + "/Veltrana/Marbrook/ports"));
    QVERIFY(
        QFile::link("/nonexistent/kt580-none", config.path() + "/Veltrana/Marbrook/ports/COM1"));
    const QString store = config.path() + "/Veltrana/Marbrook.conf";
    QCOMPARE(::mkfifo(store.toLocal8Bit().constData(), 0600), 0);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(Bin("src/shell/kt580-utility"), {});
    QVERIFY(p.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(Catches(p.processId(), SIGTERM), 10000);
    // The program starts with the defaults and ends on the stop signal as usual; a store it
    // waited on for a writer would keep it from doing either.
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    const bool ended = p.waitForFinished(10000);
    if (!ended) {
        p.kill();
        p.waitForFinished();
    }
    QVERIFY(ended);
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    // Neither read nor replaced.
    struct stat info {};
    QCOMPARE(::stat(store.toLocal8Bit().constData(), &info), 0);
    QVERIFY(S_ISFIFO(info.st_mode));
}

QTEST_MAIN(TestUtility)
#include "tst_utility.moc"
