// kt580-query: its command line, and the program itself against the meter simulator.
#include "QueryOptions.h"
#include "meter/QueryAddress.h"
#include "support/SimProcess.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::vector<std::string> StdArgs(const QStringList& args) {
    std::vector<std::string> out;
    for (const QString& a : args) {
        out.push_back(a.toStdString());
    }
    return out;
}

struct TRun {
    int ExitCode = -1;
    QStringList Out;
    QString Err;
};

TRun RunQuery(const QStringList& args, int timeoutMs = 20000) {
    QProcess p;
    p.start(Bin("tools/kt580-query/kt580-query"), args);
    TRun r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.ExitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    r.Err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// True when the port was left marked for exclusive use (TIOCEXCL) or locked: what a program
// that died with the port open leaves behind, and what keeps everybody but root out.
bool PortLeftHeld(const QString& path) {
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return true;
    }
    int exclusive = 1;
    const bool held = ::ioctl(fd, TIOCGEXCL, &exclusive) != 0 || exclusive != 0 ||
                      ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

// Starts kt580-query polling the simulator until stopped and waits for a few outcomes.
bool StartPolling(QProcess& p, const QString& port, const QStringList& extra, QString& out) {
    p.start(Bin("tools/kt580-query/kt580-query"),
            QStringList{"--port", port, "--interval", "20", "--count", "0"} + extra);
    if (!p.waitForStarted()) {
        return false;
    }
    return QTest::qWaitFor(
        [&] {
            out += QString::fromLocal8Bit(p.readAllStandardOutput());
            return out.count(" -> ") >= 3;
        },
        10000);
}

} // namespace

class TestKt580Query : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void options_data();
    void options();
    void badOptions_data();
    void badOptions();
    void optionTexts_data();
    void optionTexts();
    void withAddress_data();
    void withAddress();

    void gatewayOptions_data();
    void gatewayOptions();
    void queriesAgainstSimulator_data();
    void queriesAgainstSimulator();
    void throughGateway_data();
    void throughGateway();
    void pymodbusServer_data();
    void pymodbusServer();
    void roundsAndTrace();
    void severalMeters_data();
    void severalMeters();
    void badUsageExits2_data();
    void badUsageExits2();
    void portThatCannotOpen_data();
    void portThatCannotOpen();
    void busyPort();
    void scan_data();
    void scan();
    void scanFindsNothing();
    void permissionAdvice_data();
    void permissionAdvice();
    void untilInterrupted_data();
    void untilInterrupted();
    void secondSignalEndsAtOnce_data();
    void secondSignalEndsAtOnce();
    void closedOutputReleasesThePort();
};

void TestKt580Query::initTestCase() {
    if (!QFileInfo::exists(Bin("tools/kt580-query/kt580-query")) ||
        !QFileInfo::exists(SimBinary())) {
        QSKIP("kt580-query or kt580-sim is not built");
    }
}

void TestKt580Query::options_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("portNum");
    QTest::addColumn<QString>("portPath");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("address"); // -1: none
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("flags"); // a: ascii, o: old format, t: trace
    const int none = int(TParity::None), s1 = int(TStopBits::_1);
    QTest::newRow("defaults") << QStringList{"01,03,14,00,00,15"} << 1 << "" << 19200 << none << s1
                              << -1 << 500 << 3000 << 1 << "";
    QTest::newRow("COM name") << QStringList{"--port", "COM7", "q"} << 7 << "" << 19200 << none
                              << s1 << -1 << 500 << 3000 << 1 << "";
    QTest::newRow("port number") << QStringList{"--port", "12", "q"} << 12 << "" << 19200 << none
                                 << s1 << -1 << 500 << 3000 << 1 << "";
    QTest::newRow("path") << QStringList{"--port", "/dev/pts/4", "q"} << 1 << "/dev/pts/4" << 19200
                          << none << s1 << -1 << 500 << 3000 << 1 << "";
    QTest::newRow("line") << QStringList{"--baud", "9600", "--parity", "even", "q"} << 1 << ""
                          << 9600 << int(TParity::Even) << s1 << -1 << 500 << 3000 << 1 << "";
    QTest::newRow("two stop bits") << QStringList{"--parity", "none2", "q"} << 1 << "" << 19200
                                   << none << int(TStopBits::_2) << -1 << 500 << 3000 << 1 << "";
    QTest::newRow("odd") << QStringList{"--parity", "odd", "q"} << 1 << "" << 19200
                         << int(TParity::Odd) << s1 << -1 << 500 << 3000 << 1 << "";
    QTest::newRow("timing") << QStringList{"--interval", "0", "--timeout", "250",
                                           "--count",    "0", "q"}
                            << 1 << "" << 19200 << none << s1 << -1 << 0 << 250 << 0 << "";
    QTest::newRow("address and flags")
        << QStringList{"--address", "247", "--ascii", "--old-format", "--trace", "q"} << 1 << ""
        << 19200 << none << s1 << 247 << 500 << 3000 << 1 << "aot";
    QTest::newRow("address list: the first typed")
        << QStringList{"--address", "3,1,7-9", "q"} << 1 << "" << 19200 << none << s1 << 3 << 500
        << 3000 << 1 << "";
}

void TestKt580Query::options() {
    QFETCH(QStringList, args);
    QFETCH(int, portNum);
    QFETCH(QString, portPath);
    QFETCH(int, baud);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(int, address);
    QFETCH(int, interval);
    QFETCH(int, timeout);
    QFETCH(int, count);
    QFETCH(QString, flags);
    const std::vector<std::string> argv = StdArgs(args);
    TQueryOptions o;
    std::string error;
    QVERIFY2(ParseQueryOptions(argv, o, error), error.c_str());
    QCOMPARE(int(o.PortNum), portNum);
    QCOMPARE(QString::fromStdString(o.PortPath), portPath);
    QCOMPARE(o.Baud, baud);
    QCOMPARE(int(o.Parity), parity);
    QCOMPARE(int(o.StopBits), stopBits);
    QCOMPARE(o.Address ? int(*o.Address) : -1, address);
    QCOMPARE(o.IntervalMs, interval);
    QCOMPARE(o.TimeoutMs, timeout);
    QCOMPARE(int(o.Count), count);
    QCOMPARE(o.Ascii, flags.contains('a'));
    QCOMPARE(o.OldFormat, flags.contains('o'));
    QCOMPARE(o.Trace, flags.contains('t'));
    QCOMPARE(o.Queries.back(), argv.back());
}

void TestKt580Query::badOptions_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no query") << QStringList{"--baud", "9600"};
    QTest::newRow("unknown option") << QStringList{"--speed", "9600", "q"};
    QTest::newRow("missing value") << QStringList{"q", "--baud"};
    QTest::newRow("baud 0") << QStringList{"--baud", "0", "q"};
    QTest::newRow("baud text") << QStringList{"--baud", "fast", "q"};
    QTest::newRow("parity") << QStringList{"--parity", "mark", "q"};
    QTest::newRow("address 248") << QStringList{"--address", "248", "q"};
    QTest::newRow("address negative") << QStringList{"--address", "-1", "q"};
    QTest::newRow("interval negative") << QStringList{"--interval", "-5", "q"};
    QTest::newRow("count text") << QStringList{"--count", "many", "q"};
    QTest::newRow("port 0") << QStringList{"--port", "0", "q"};
    QTest::newRow("gateway port 0") << QStringList{"--tcp", "gw:0", "q"};
    QTest::newRow("gateway without host") << QStringList{"--tcp", ":502", "q"};
    QTest::newRow("gateway port missing") << QStringList{"--rtu-over-tcp", "gw:", "q"};
    QTest::newRow("two gateways") << QStringList{"--tcp", "a", "--rtu-over-tcp", "b", "q"};
    QTest::newRow("gateway and serial port") << QStringList{"--tcp", "gw", "--port", "COM2", "q"};
    QTest::newRow("gateway and ascii") << QStringList{"--tcp", "gw", "--ascii", "q"};
    QTest::newRow("gateway scan") << QStringList{"--tcp", "gw", "--scan"};
}

void TestKt580Query::gatewayOptions_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("rtuOverTcp");
    QTest::addColumn<int>("timeout");
    QTest::newRow("host alone: port 502, the gateway's time-out")
        << QStringList{"--tcp", "gw.local", "q"} << "gw.local" << 502 << false << 5000;
    QTest::newRow("host and port, time-out given")
        << QStringList{"--timeout", "800", "--rtu-over-tcp", "10.1.2.3:4001", "q"} << "10.1.2.3"
        << 4001 << true << 800;
    QTest::newRow("IPv6 in brackets")
        << QStringList{"--tcp", "[::1]:1502", "q"} << "::1" << 1502 << false << 5000;
    QTest::newRow("bare IPv6") << QStringList{"--tcp", "fe80::1", "q"} << "fe80::1" << 502 << false
                               << 5000;
}

void TestKt580Query::gatewayOptions() {
    QFETCH(QStringList, args);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(bool, rtuOverTcp);
    QFETCH(int, timeout);
    TQueryOptions o;
    std::string error;
    QVERIFY2(ParseQueryOptions(StdArgs(args), o, error), error.c_str());
    QCOMPARE(QString::fromStdString(o.TcpHost), host);
    QCOMPARE(int(o.TcpPort), port);
    QCOMPARE(o.RtuOverTcp, rtuOverTcp);
    QCOMPARE(o.TimeoutMs, timeout);
}

void TestKt580Query::badOptions() {
    QFETCH(QStringList, args);
    const std::vector<std::string> argv = StdArgs(args);
    TQueryOptions o;
    std::string error;
    QVERIFY(!ParseQueryOptions(argv, o, error));
    QVERIFY(!error.empty());
}

// The whole message of each refusal; an empty one: accepted.
void TestKt580Query::optionTexts_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");
    QTest::newRow("help alone") << QStringList{"-h"} << "";
    QTest::newRow("scan every meter") << QStringList{"--scan", "--all"} << "";
    QTest::newRow("single dash is a query") << QStringList{"-x"} << "";
    QTest::newRow("unknown") << QStringList{"q", "--speed"} << "unknown option --speed";
    QTest::newRow("no value") << QStringList{"q", "--csv"} << "option --csv needs a value";
    QTest::newRow("COM too high") << QStringList{"--port", "COM65536", "q"}
                                  << "bad value 'COM65536' for --port: a port number up to 65535";
    QTest::newRow("port 0") << QStringList{"--port", "0", "q"}
                            << "bad value '0' for --port: a port number 1..65535";
    QTest::newRow("parity") << QStringList{"--parity", "none", "q"}
                            << "bad value 'none' for --parity: none1, none2, even or odd";
    QTest::newRow("timeout") << QStringList{"--timeout", "3600001", "q"}
                             << "bad value '3600001' for --timeout: milliseconds 0..3600000";
    QTest::newRow("count") << QStringList{"--count", "-1", "q"}
                           << "bad value '-1' for --count: a count 0..1000000000";
    QTest::newRow("csv size") << QStringList{"--csv", "r.csv", "--csv-max-mb", "0"}
                              << "bad value '0' for --csv-max-mb: megabytes 1..1000000";
    QTest::newRow("csv and query") << QStringList{"--csv", "r.csv", "q"}
                                   << "--csv records the metering reads; it takes no QUERY";
    QTest::newRow("size without csv")
        << QStringList{"--csv-max-mb", "1", "q"} << "--csv-max-mb needs --csv";
    QTest::newRow("scan and query")
        << QStringList{"--scan", "q"} << "--scan takes no query and no --csv";
    QTest::newRow("all without scan") << QStringList{"--all", "q"} << "--all goes with --scan";
    QTest::newRow("nothing to do") << QStringList{"--trace"} << "no query given";
    // What a scan or a recording cannot honour is refused, not ignored.
    QTest::newRow("empty port") << QStringList{"--scan", "--port", ""}
                                << "bad value '' for --port: a port name, number or path";
    QTest::newRow("scan at a rate it does not try")
        << QStringList{"--scan", "--baud", "115200"}
        << "--scan tries the baud rates 1200, 2400, 4800, 9600, 19200, 38400 and 57600; 115200 "
           "is not one of them";
    const QString scanTakes =
        " does not go with --scan (it takes --port, --baud, --parity, --address, --timeout and "
        "--all)";
    QTest::newRow("scan with a count")
        << QStringList{"--scan", "--count", "5"} << "--count" + scanTakes;
    QTest::newRow("scan with an interval")
        << QStringList{"--interval", "10", "--scan"} << "--interval" + scanTakes;
    QTest::newRow("scan with ascii") << QStringList{"--scan", "--ascii"} << "--ascii" + scanTakes;
    QTest::newRow("scan with a wait too short")
        << QStringList{"--scan", "--timeout", "5"}
        << "--timeout with --scan: at least 10 ms for a meter to begin its answer";
    QTest::newRow("scan for the broadcast address")
        << QStringList{"--scan", "--address", "0"}
        << "--scan looks for meters at addresses 1..247; 0 is the broadcast address";
    QTest::newRow("scan with a wait") << QStringList{"--scan", "--timeout", "300"} << "";
    QTest::newRow("address list backwards")
        << QStringList{"--address", "1,9-7", "q"}
        << "bad value '1,9-7' for --address: an address 0..247 or a list such as 1,3,7-9; '9-7' "
           "runs backwards: write it 7-9.";
    QTest::newRow("address list twice")
        << QStringList{"--address", "1-3,2", "q"}
        << "bad value '1-3,2' for --address: an address 0..247 or a list such as 1,3,7-9; '2': "
           "address 2 is already in the list.";
    QTest::newRow("address list to record")
        << QStringList{"--csv", "r.csv", "--address", "1,3"} << "";
    QTest::newRow("address list to scan") << QStringList{"--scan", "--address", "1-2"}
                                          << "--scan takes one address to try first, not a list";
    QTest::newRow("recording to a device")
        << QStringList{"--csv", "/dev/null"}
        << "--csv records only to a regular file; /dev/null is a device";
    QTest::newRow("recording to a folder")
        << QStringList{"--csv", "/"} << "--csv needs a file name, not a folder: /";
    QTest::newRow("recording to a folder without slash")
        << QStringList{"--csv", "/tmp"} << "--csv records only to a regular file; /tmp is a folder";
}

void TestKt580Query::optionTexts() {
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    const std::vector<std::string> argv = StdArgs(args);
    TQueryOptions o;
    std::string got;
    QCOMPARE(ParseQueryOptions(argv, o, got), error.isEmpty());
    QCOMPARE(QString::fromStdString(got), error);
    // A scan honours the wait it is given.
    if (error.isEmpty() && args.contains("--scan") && args.contains("--timeout"))
        QCOMPARE(o.ScanWaitMs.value_or(-1), args.at(args.indexOf("--timeout") + 1).toInt());
}

void TestKt580Query::withAddress_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("result");
    QTest::newRow("placeholder") << "00,03,14,00,00,15" << 1 << "01,03,14,00,00,15";
    QTest::newRow("ten") << "00,03,14,00,00,15" << 10 << "0A,03,14,00,00,15";
    QTest::newRow("247") << "01,06,00,01,00,02" << 247 << "F7,06,00,01,00,02";
    QTest::newRow("broadcast") << "01,06,00,01,00,02" << 0 << "00,06,00,01,00,02";
}

void TestKt580Query::withAddress() {
    QFETCH(QString, text);
    QFETCH(int, address);
    QFETCH(QString, result);
    QCOMPARE(QString::fromStdString(WithAddress(text.toStdString(), uint8_t(address))), result);
}

void TestKt580Query::queriesAgainstSimulator_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("line"); // a regular expression for the one outcome line
    QTest::addColumn<QString>("totals");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("measurement block")
        << QStringList{"01,03,14,00,00,15"}
        << R"(^01,03,14,00,00,15 -> F03 slave=1 start=0x1400 values=(\d+ ){20}\d+$)"
        << "sent=1 ok=1 errors=0 exceptions=0" << 0;
    QTest::newRow("placeholder replaced by the address")
        << QStringList{"--address", "1", "00,03,11,80,00,04"}
        << R"(^01,03,11,80,00,04 -> F03 slave=1 start=0x1180 values=(\d+ ){3}\d+$)"
        << "sent=1 ok=1 errors=0 exceptions=0" << 0;
    QTest::newRow("relay coil write")
        << QStringList{"01,05,00,00,FF,00"}
        << R"(^01,05,00,00,FF,00 -> F05 slave=1 start=0x0000 value=0xFF00$)"
        << "sent=1 ok=1 errors=0 exceptions=0" << 0;
    QTest::newRow("relay states")
        << QStringList{"01,01,00,00,00,02"}
        << R"(^01,01,00,00,00,02 -> F01 slave=1 start=0x0000 values=[01] [01]$)"
        << "sent=1 ok=1 errors=0 exceptions=0" << 0;
    QTest::newRow("no such register: exception")
        << QStringList{"01,03,20,00,00,01"}
        << R"(^01,03,20,00,00,01 -> EXCEPTION slave=1 function=0x03 code=2$)"
        << "sent=1 ok=0 errors=0 exceptions=1" << 1;
    QTest::newRow("nobody at address 9") << QStringList{"--timeout", "200", "09,03,14,00,00,15"}
                                         << R"(^09,03,14,00,00,15 -> ERROR kind=1$)"
                                         << "sent=1 ok=0 errors=1 exceptions=0" << 1;
    QTest::newRow("unusable text") << QStringList{"01,03,zz"} << R"(^01,03,zz -> NULL$)"
                                   << "sent=0 ok=0 errors=0 exceptions=0" << 1;
}

void TestKt580Query::queriesAgainstSimulator() {
    QFETCH(QStringList, args);
    QFETCH(QString, line);
    QFETCH(QString, totals);
    QFETCH(int, exitCode);
    TSimProcess sim({}, TSimProcess::Unmapped);
    QVERIFY(sim.Started());
    const TRun r = RunQuery(QStringList{"--port", sim.Path(), "--interval", "50"} + args);
    QCOMPARE(r.Out.size(), 2);
    QVERIFY2(QRegularExpression(line).match(r.Out[0]).hasMatch(), qPrintable(r.Out[0]));
    QCOMPARE(r.Out[1], totals);
    QCOMPARE(r.ExitCode, exitCode);
}

// The master through the simulator's gateway: the answers come back to it as RTU frames, so
// the outcome lines are those of the serial line.
void TestKt580Query::throughGateway_data() {
    QTest::addColumn<QString>("framing");
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("line"); // a regular expression every outcome line matches
    QTest::addColumn<QString>("totals");
    const QString block = R"(^01,03,14,00,00,15 -> F03 slave=1 start=0x1400 values=(\d+ ){20}\d+$)";
    QTest::newRow("modbus tcp, metering block")
        << "modbus-tcp" << QStringList{} << QStringList{"01,03,14,00,00,15"} << block
        << "sent=1 ok=1 errors=0 exceptions=0";
    QTest::newRow("modbus tcp, unit id from --address")
        << "modbus-tcp" << QStringList{} << QStringList{"--address", "1", "00,03,14,00,00,15"}
        << block << "sent=1 ok=1 errors=0 exceptions=0";
    QTest::newRow("modbus tcp, no meter at unit 9: exception 0B")
        << "modbus-tcp" << QStringList{} << QStringList{"--address", "9", "00,03,14,00,00,15"}
        << R"(^09,03,14,00,00,15 -> EXCEPTION slave=9 function=0x03 code=11$)"
        << "sent=1 ok=0 errors=0 exceptions=1";
    QTest::newRow("modbus tcp, the gateway closes after each answer")
        << "modbus-tcp" << QStringList{"--close-after-answer"}
        << QStringList{"--count", "3", "01,03,14,00,00,15"} << block
        << "sent=3 ok=3 errors=0 exceptions=0";
    QTest::newRow("rtu over tcp, metering block twice")
        << "rtu-over-tcp" << QStringList{"--gateway-latency", "20"}
        << QStringList{"--count", "2", "01,03,14,00,00,15"} << block
        << "sent=2 ok=2 errors=0 exceptions=0";
}

void TestKt580Query::throughGateway() {
    QFETCH(QString, framing);
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, args);
    QFETCH(QString, line);
    QFETCH(QString, totals);
    TSimProcess sim;
    QVERIFY(sim.Start(QStringList{"--" + QString(framing).replace("modbus-", ""), "0"} + simArgs));
    const QString endpoint = QStringLiteral("127.0.0.1:%1").arg(sim.Port(framing));
    const QString option = framing == "modbus-tcp" ? "--tcp" : "--rtu-over-tcp";
    const TRun r = RunQuery(QStringList{option, endpoint, "--interval", "20"} + args);
    QVERIFY2(!r.Out.isEmpty(), qPrintable(r.Err));
    QCOMPARE(r.Out.last(), totals);
    for (qsizetype i = 0; i + 1 < r.Out.size(); ++i)
        QVERIFY2(QRegularExpression(line).match(r.Out[i]).hasMatch(), qPrintable(r.Out[i]));
    QCOMPARE(r.ExitCode, totals.contains("ok=0") ? 1 : 0);
    QCOMPARE(r.Err, QString());
}

// pymodbus as the Modbus TCP server: the master's framing against a server that shares no code
// with it. Unit 17 holds the metering block as 2301 + i, unit 18 as 100 + i; nothing lies past
// the block. The server prints the port it listens on once it serves.
void TestKt580Query::pymodbusServer_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("exitCode");
    QString block17 = "2301";
    QString block18 = "100";
    for (int i = 1; i < 21; ++i) {
        block17 += ' ' + QString::number(2301 + i);
        block18 += ' ' + QString::number(100 + i);
    }
    QTest::newRow("metering block, unit 17")
        << QStringList{"--address", "17", "00,03,14,00,00,15"}
        << "11,03,14,00,00,15 -> F03 slave=17 start=0x1400 values=" + block17 << 0;
    QTest::newRow("the unit id picks the slave")
        << QStringList{"--address", "18", "00,03,14,00,00,15"}
        << "12,03,14,00,00,15 -> F03 slave=18 start=0x1400 values=" + block18 << 0;
    QTest::newRow("one register past the block: exception 2")
        << QStringList{"--address", "17", "00,03,14,00,00,16"}
        << "11,03,14,00,00,16 -> EXCEPTION slave=17 function=0x03 code=2" << 1;
}

void TestKt580Query::pymodbusServer() {
    QFETCH(QStringList, args);
    QFETCH(QString, line);
    QFETCH(int, exitCode);
    const QString script = R"(
import asyncio, sys
from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.server.async_io import ModbusTcpServer

def unit(first):
    block = ModbusSequentialDataBlock(0x1400, [first + i for i in range(21)])
    return ModbusSlaveContext(hr=block, zero_mode=True)

async def main():
    context = ModbusServerContext(slaves={17: unit(2301), 18: unit(100)}, single=False)
    server = ModbusTcpServer(context, address=('127.0.0.1', 0))
    task = asyncio.create_task(server.serve_forever())
    await server.serving
    print(server.server.sockets[0].getsockname()[1], flush=True)
    await task

asyncio.run(main())
)";
    QProcess server;
    server.start("/usr/bin/python3", {"-c", script});
    if (!server.waitForStarted(5000))
        QSKIP("python3 cannot start");
    const QDeadlineTimer deadline(20000);
    while (!server.canReadLine() && server.state() == QProcess::Running && !deadline.hasExpired())
        server.waitForReadyRead(int(deadline.remainingTime()));
    const QString port = QString::fromLatin1(server.readLine()).trimmed();
    if (port.isEmpty() && server.readAllStandardError().contains("No module named 'pymodbus"))
        QSKIP("pymodbus is not installed");
    QVERIFY2(port.toUInt() > 0, qPrintable(server.readAllStandardError()));

    const TRun r = RunQuery(QStringList{"--tcp", "127.0.0.1:" + port} + args);
    server.kill();
    server.waitForFinished();
    QVERIFY2(!r.Out.isEmpty(), qPrintable(r.Err));
    QCOMPARE(r.Out.first(), line);
    QCOMPARE(r.ExitCode, exitCode);
}

void TestKt580Query::roundsAndTrace() {
    TSimProcess sim({}, TSimProcess::Unmapped);
    QVERIFY(sim.Started());
    const TRun r = RunQuery({"--port", sim.Path(), "--interval", "20", "--count", "2", "--trace",
                             "01,03,14,00,00,01", "01,03,F0,00,00,09"});
    QCOMPARE(r.ExitCode, 0);
    const QStringList results = r.Out.filter(" -> ");
    QCOMPARE(results.size(), 4);
    QVERIFY(results[0].startsWith("01,03,14,00,00,01 -> F03"));
    QVERIFY(results[1].startsWith("01,03,F0,00,00,09 -> F03"));
    QVERIFY(results[2].startsWith("01,03,14,00,00,01 -> F03"));
    QVERIFY(results[3].startsWith("01,03,F0,00,00,09 -> F03"));
    QCOMPARE(r.Out.last(), QString("sent=4 ok=4 errors=0 exceptions=0"));
    // Every frame sent, in hex with a millisecond stamp, ahead of its outcome.
    const QStringList sent = r.Out.filter(QRegularExpression(R"(^ *\d+ ms TX )"));
    QCOMPARE(sent.size(), 4);
    QVERIFY(sent[0].endsWith("TX 01 03 14 00 00 01 81 FA"));
    QVERIFY(r.Out.indexOf(sent[0]) < r.Out.indexOf(results[0]));
    QVERIFY(!r.Out.filter(QRegularExpression(R"(^ *\d+ ms RX 01 03 02 )")).isEmpty());
}

void TestKt580Query::severalMeters_data() {
    QTest::addColumn<QString>("addresses");
    QTest::addColumn<QStringList>("lines"); // the outcomes' heads in order, then the totals
    QTest::addColumn<int>("exitCode");
    QTest::newRow("all answer") << "3,1"
                                << QStringList{"03,03,F1,06,00,01 -> F03 slave=3",
                                               "01,03,F1,06,00,01 -> F03 slave=1",
                                               "03,03,F1,06,00,01 -> F03 slave=3",
                                               "01,03,F1,06,00,01 -> F03 slave=1",
                                               "address=3 sent=2 ok=2 errors=0 exceptions=0",
                                               "address=1 sent=2 ok=2 errors=0 exceptions=0",
                                               "sent=4 ok=4 errors=0 exceptions=0"}
                                << 0;
    QTest::newRow("one silent, one garbling")
        << "1,5-6"
        << QStringList{"01,03,F1,06,00,01 -> F03 slave=1",
                       "05,03,F1,06,00,01 -> ERROR",
                       "06,03,F1,06,00,01 -> ERROR",
                       "01,03,F1,06,00,01 -> F03 slave=1",
                       "05,03,F1,06,00,01 -> ERROR",
                       "06,03,F1,06,00,01 -> ERROR",
                       "address=1 sent=2 ok=2 errors=0 exceptions=0",
                       "address=5 sent=2 ok=0 errors=2 exceptions=0",
                       "address=6 sent=2 ok=0 errors=2 exceptions=0",
                       "sent=6 ok=2 errors=4 exceptions=0"}
        << 1;
}

// A list of meters on one line, each asked every text in turn and totalled on its own.
void TestKt580Query::severalMeters() {
    QFETCH(QString, addresses);
    QFETCH(QStringList, lines);
    QFETCH(int, exitCode);
    TSimProcess sim({"--extra-meter", "3,SN3", "--extra-meter", "5,SN5", "--extra-meter", "6,SN6",
                     "--meter-fault", "5:silent", "--meter-fault", "6:garble"},
                    TSimProcess::Unmapped);
    QVERIFY(sim.Started());
    const TRun r = RunQuery({"--port", sim.Path(), "--interval", "20", "--timeout", "300",
                             "--count", "2", "--address", addresses, "00,03,F1,06,00,01"});
    QCOMPARE(r.Out.size(), lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QVERIFY2(r.Out[i].startsWith(lines[i]), qPrintable(r.Out[i]));
    }
    QCOMPARE(r.Out.last(), lines.last());
    QCOMPARE(r.ExitCode, exitCode);
}

void TestKt580Query::badUsageExits2_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no query") << QStringList{};
    QTest::newRow("bad parity") << QStringList{"--parity", "mark", "01,03,14,00,00,01"};
    QTest::newRow("scan of an empty port name") << QStringList{"--scan", "--port", ""};
    QTest::newRow("scan with a count") << QStringList{"--scan", "--count", "5"};
    QTest::newRow("recording to /dev/null") << QStringList{"--csv", "/dev/null", "--count", "1"};
}

void TestKt580Query::badUsageExits2() {
    QFETCH(QStringList, args);
    const TRun r = RunQuery(args);
    QCOMPARE(r.ExitCode, 2);
    QVERIFY(r.Err.contains("Usage: kt580-query"));
    QVERIFY(r.Out.isEmpty());
}

void TestKt580Query::portThatCannotOpen_data() {
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << "/nonexistent/ttyX"
                             << "missing";
    QTest::newRow("not a terminal") << "/dev/null"
                                    << "not a serial port";
    QTest::newRow("a COM port without device") << "COM128"
                                               << "missing";
}

void TestKt580Query::portThatCannotOpen() {
    QFETCH(QString, port);
    QFETCH(QString, reason);
    const TRun r = RunQuery({"--port", port, "01,03,14,00,00,01"});
    QCOMPARE(r.ExitCode, 2);
    QVERIFY2(r.Err.contains("cannot open") && r.Err.contains(reason), qPrintable(r.Err));
}

void TestKt580Query::scan_data() {
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("first meter, at another rate")
        << QStringList{"--baud", "9600", "--address", "1", "--serial", "Q-1"}
        << QStringList{"--scan"} << 0
        << QStringList{"address=1 baud=9600 parity=none1 model=KT580 software=3.20 serial=Q-1"};
    QTest::newRow("every meter: the one asked for first, then in address order")
        << QStringList{"--address", "1", "--serial", "A", "--extra-meter", "3,B"}
        << QStringList{"--scan", "--all", "--address", "3"} << 0
        << QStringList{"address=3 baud=19200 parity=none1 model=KT580 software=3.20 serial=B",
                       "address=1 baud=19200 parity=none1 model=KT580 software=3.20 serial=A"};
    QTest::newRow("a meter that answers after 30 ms")
        << QStringList{"--pace", "--delay", "30", "--serial", "S-30"} << QStringList{"--scan"} << 0
        << QStringList{"address=1 baud=19200 parity=none1 model=KT580 software=3.20 serial=S-30"};
    QTest::newRow("a 9600 meter behind an adapter that passes chunks every 16 ms")
        << QStringList{"--baud",  "9600", "--pace",   "--delay", "20",
                       "--chunk", "16",   "--serial", "C-1"}
        << QStringList{"--scan"} << 0
        << QStringList{"address=1 baud=9600 parity=none1 model=KT580 software=3.20 serial=C-1"};
    QTest::newRow("a device that answers every address: listed once")
        << QStringList{"--echo-any-address", "--serial", "G"}
        << QStringList{"--scan", "--all", "--timeout", "50"} << 0
        << QStringList{"address=1 baud=19200 parity=none1 model=KT580 software=3.20 serial=G"};
}

void TestKt580Query::scan() {
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    TSimProcess sim(simArgs, TSimProcess::Unmapped);
    QVERIFY(!sim.Path().isEmpty());
    const TRun r = RunQuery(QStringList{"--port", sim.Path()} + args, 120000);
    QCOMPARE(r.ExitCode, exitCode);
    QStringList expected;
    for (const QString& line : lines)
        expected << sim.Path() + " " + line;
    QCOMPARE(r.Out, expected);
    // A device at every address takes two probes, not a sweep of 247.
    if (simArgs.contains("--echo-any-address")) {
        QVERIFY2(r.Err.contains("one device answers every address"), qPrintable(r.Err));
        QVERIFY(sim.Requests(true).size() < 20);
    }
}

void TestKt580Query::scanFindsNothing() {
    // A terminal nobody answers on, probed at one address only would still take minutes over
    // every setting; SIGINT ends it early, and nothing found is exit status 1.
    int master = -1, slave = -1;
    char name[256] = {};
    QVERIFY(::openpty(&master, &slave, name, nullptr, nullptr) == 0);
    QProcess p;
    p.start(Bin("tools/kt580-query/kt580-query"), {"--port", name, "--scan"});
    QVERIFY(p.waitForStarted());
    // Once its first probe arrives on the other side, its signal handlers are in place.
    QByteArray heard;
    QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                 char buffer[64];
                                 const ssize_t n = ::read(master, buffer, sizeof buffer);
                                 if (n > 0)
                                     heard.append(buffer, n);
                                 return heard.size() >= 8;
                             }()),
                             10000);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    QVERIFY(p.waitForFinished(5000));
    const bool held = PortLeftHeld(name);
    ::close(slave);
    ::close(master);
    QCOMPARE(p.exitCode(), 1);
    QCOMPARE(p.readAllStandardOutput(), QByteArray());
    QVERIFY(QString::fromLocal8Bit(p.readAllStandardError()).contains("scan stopped"));
    QVERIFY(!held);
}

void TestKt580Query::permissionAdvice_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("query") << QStringList{"01,03,14,00,00,01"};
    QTest::newRow("scan") << QStringList{"--scan"};
}

void TestKt580Query::permissionAdvice() {
    QFETCH(QStringList, args);
    // A terminal another user cannot open: the program runs as nobody against a pty owned by
    // root and its group, which is read from the device.
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    if (::getuid() != 0 || setpriv.isEmpty())
        QSKIP("needs root and setpriv to run as another user");
    int master = -1, slave = -1;
    char name[256] = {};
    QVERIFY(::openpty(&master, &slave, name, nullptr, nullptr) == 0);
    QVERIFY(::chmod(name, 0660) == 0);
    struct stat st {};
    QVERIFY(::stat(name, &st) == 0);
    const group* g = ::getgrgid(st.st_gid);
    QVERIFY(g != nullptr);
    const QString groupName = QString::fromLocal8Bit(g->gr_name);
    QProcess p;
    p.start(setpriv, QStringList{"--reuid=65534", "--regid=65534", "--clear-groups",
                                 Bin("tools/kt580-query/kt580-query"), "--port", name} +
                         args);
    QVERIFY(p.waitForFinished(20000));
    ::close(slave);
    ::close(master);
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    if (err.contains("Permission denied") && err.contains("kt580-query") && !err.contains(name))
        QSKIP("the build folder is not reachable by another user");
    QCOMPARE(p.exitCode(), 2);
    QVERIFY2(err.contains("permission denied"), qPrintable(err));
    const passwd* nobody = ::getpwuid(65534);
    QVERIFY(nobody != nullptr);
    QVERIFY2(err.contains(QStringLiteral("sudo usermod -aG %1 %2").arg(groupName, nobody->pw_name)),
             qPrintable(err));
    QVERIFY2(err.contains(QString::fromLocal8Bit(name)), qPrintable(err));
    QVERIFY2(err.contains("new login"), qPrintable(err));
}

void TestKt580Query::busyPort() {
    int master = -1, slave = -1;
    char name[256] = {};
    QVERIFY(::openpty(&master, &slave, name, nullptr, nullptr) == 0);
    // Another program holding the port: the same lock a serial port of ours takes.
    const int held = ::open(name, O_RDWR | O_NOCTTY);
    QVERIFY(held >= 0);
    QVERIFY(::flock(held, LOCK_EX | LOCK_NB) == 0);
    const TRun r = RunQuery({"--port", name, "01,03,14,00,00,01"});
    ::close(held);
    ::close(slave);
    ::close(master);
    QCOMPARE(r.ExitCode, 2);
    QVERIFY2(r.Err.contains("busy"), qPrintable(r.Err));
}

void TestKt580Query::untilInterrupted_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
    // A closed terminal ends it the same way, not with the port still held.
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestKt580Query::untilInterrupted() {
    QFETCH(int, signal);
    TSimProcess sim({}, TSimProcess::Unmapped);
    QVERIFY(sim.Started());
    QProcess p;
    QString out;
    QVERIFY(StartPolling(p, sim.Path(), {"01,03,14,00,00,01"}, out));
    ::kill(static_cast<pid_t>(p.processId()), signal);
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    out += QString::fromLocal8Bit(p.readAllStandardOutput());
    const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
    const int n = int(lines.filter(" -> ").size());
    QCOMPARE(lines.last(), QString("sent=%1 ok=%1 errors=0 exceptions=0").arg(n));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!PortLeftHeld(sim.Path()));
}

void TestKt580Query::secondSignalEndsAtOnce_data() {
    // Two different signals: a second one of the same kind may merge with the first while the
    // first is still pending.
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::newRow("SIGINT, SIGTERM") << SIGINT << SIGTERM;
    QTest::newRow("SIGTERM, SIGINT") << SIGTERM << SIGINT;
    QTest::newRow("SIGHUP, SIGINT") << SIGHUP << SIGINT;
}

void TestKt580Query::secondSignalEndsAtOnce() {
    QFETCH(int, first);
    QFETCH(int, second);
    TSimProcess sim({}, TSimProcess::Unmapped);
    QVERIFY(sim.Started());
    // Nobody answers address 9: the query in progress would run for the whole minute.
    QProcess p;
    p.start(Bin("tools/kt580-query/kt580-query"),
            {"--port", sim.Path(), "--timeout", "60000", "--trace", "09,03,14,00,00,01"});
    QVERIFY(p.waitForStarted());
    QString out;
    QTRY_VERIFY_WITH_TIMEOUT(
        (out += QString::fromLocal8Bit(p.readAllStandardOutput()), out.contains(" TX ")), 10000);
    ::kill(static_cast<pid_t>(p.processId()), first);
    ::kill(static_cast<pid_t>(p.processId()), second);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    out += QString::fromLocal8Bit(p.readAllStandardOutput());
    QCOMPARE(out.split('\n', Qt::SkipEmptyParts).last(),
             QString("sent=1 ok=0 errors=0 exceptions=0"));
    QCOMPARE(p.exitCode(), 1);
    QVERIFY(!PortLeftHeld(sim.Path()));
}

void TestKt580Query::closedOutputReleasesThePort() {
    TSimProcess sim({}, TSimProcess::Unmapped);
    QVERIFY(sim.Started());
    // kt580-query ... | head -n 3: the reader goes away after three lines.
    QProcess query;
    QProcess head;
    query.setStandardOutputProcess(&head);
    head.start("head", {"-n", "3"});
    query.start(Bin("tools/kt580-query/kt580-query"),
                {"--port", sim.Path(), "--interval", "20", "--count", "0", "01,03,14,00,00,01"});
    QVERIFY(head.waitForStarted());
    QVERIFY(query.waitForStarted());
    QVERIFY(head.waitForFinished(10000));
    QCOMPARE(QString::fromLocal8Bit(head.readAllStandardOutput()).count(" -> "), 3);
    QVERIFY(query.waitForFinished(10000));
    QCOMPARE(query.exitStatus(), QProcess::NormalExit);
    QCOMPARE(query.exitCode(), 1);
    QVERIFY(!PortLeftHeld(sim.Path()));
}

QTEST_GUILESS_MAIN(TestKt580Query)
#include "tst_kt580query.moc"
