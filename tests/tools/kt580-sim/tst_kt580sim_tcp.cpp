// The simulator as a gateway on TCP, checked by masters that share no code with it (mbpoll,
// pymodbus) and by a raw client that sends what no master sends: broken headers, a request
// trickled byte by byte, a connection closed in the middle of a frame.
#include "Crc16.h"
#include "support/SimProcess.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct TRun {
    int ExitCode = -1;
    QString Output;
};

TRun Run(const QString& program, const QStringList& args, int timeoutMs = 20000) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    TRun run;
    if (!p.waitForStarted(5000)) {
        run.Output = "cannot start " + program;
        return run;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
    }
    run.ExitCode = p.exitCode();
    run.Output = QString::fromLatin1(p.readAll());
    return run;
}

std::string Bytes(const QString& hex) {
    return QByteArray::fromHex(hex.toLatin1()).toStdString();
}

QString Hex(const std::string& bytes) {
    return QString::fromLatin1(QByteArray::fromStdString(bytes).toHex(' ').toUpper());
}

// The good request each framing's client sends after a bad one: one register of the
// measurement block at unit 1, and the start of its answer.
std::string GoodRequest(const QString& framing) {
    if (framing == "modbus-tcp")
        return Bytes("00 2A 00 00 00 06 01 03 14 00 00 01");
    std::string frame = Bytes("01 03 14 00 00 01");
    kt580sim::AppendCrc(frame);
    return frame;
}
QString GoodAnswerHead(const QString& framing) {
    return framing == "modbus-tcp" ? "00 2A 00 00 00 05 01 03 02" : "01 03 02";
}
std::size_t GoodAnswerSize(const QString& framing) {
    return framing == "modbus-tcp" ? 11 : 7;
}

// A client reduced to connect, send and receive, for bytes no master sends.
class TRawClient {
public:
    explicit TRawClient(quint16 port) {
        FFd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        const int on = 1;
        ::setsockopt(FFd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (::connect(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(FFd);
            FFd = -1;
        }
    }
    ~TRawClient() { Close(); }
    TRawClient(const TRawClient&) = delete;
    TRawClient& operator=(const TRawClient&) = delete;

    bool IsOpen() const { return FFd >= 0; }
    void Close() {
        if (FFd >= 0)
            ::close(FFd);
        FFd = -1;
    }

    // One send per byte when trickling, so the server sees the request in many reads.
    bool Send(const std::string& bytes, bool trickle = false) {
        const std::size_t step = trickle ? 1 : bytes.size();
        for (std::size_t at = 0; at < bytes.size(); at += step)
            if (::send(FFd, bytes.data() + at, std::min(step, bytes.size() - at), MSG_NOSIGNAL) < 0)
                return false;
        return true;
    }

    // Reads until `count` bytes came, the peer closed, or `timeoutMs` passed.
    std::string Read(std::size_t count, int timeoutMs = 5000) {
        std::string data;
        QElapsedTimer timer;
        timer.start();
        while (data.size() < count && !timer.hasExpired(timeoutMs)) {
            pollfd p{FFd, POLLIN, 0};
            if (::poll(&p, 1, int(timeoutMs - timer.elapsed())) <= 0)
                break;
            char buffer[512];
            const ssize_t n = ::recv(FFd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                FPeerClosed = true;
                break;
            }
            data.append(buffer, std::size_t(n));
        }
        return data;
    }

    // Whether the server closes the connection within `timeoutMs` (bytes before it are dropped).
    bool ClosedByPeer(int timeoutMs = 5000) {
        QElapsedTimer timer;
        timer.start();
        while (!FPeerClosed && !timer.hasExpired(timeoutMs))
            Read(65536, int(timeoutMs - timer.elapsed()));
        return FPeerClosed;
    }

private:
    int FFd = -1;
    bool FPeerClosed = false;
};

} // namespace

class TestKt580SimTcp : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void mbpollOverModbusTcp_data();
    void mbpollOverModbusTcp();
    void pymodbusClient_data();
    void pymodbusClient();
    void badClientLeavesTheServerUp_data();
    void badClientLeavesTheServerUp();
    void closesAfterEachAnswer();
    void gatewayOptionsWithoutTcpAreRefused();
};

void TestKt580SimTcp::initTestCase() {
    QVERIFY2(QFileInfo(SimBinary()).isExecutable(), qPrintable(SimBinary()));
}

void TestKt580SimTcp::mbpollOverModbusTcp_data() {
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("mbpollArgs");
    QTest::addColumn<QString>("expect"); // regular expression on mbpoll's output
    QTest::addColumn<int>("answers");    // as the simulator counts them
    QTest::newRow("measurement") << QStringList{}
                                 << QStringList{"-a", "1", "-t", "4", "-r", "0x1400", "-c", "21"}
                                 << "\\[5120\\]: \\t2[23]\\d\\d\\n(.|\\n)*\\[5140\\]:" << 1;
    QTest::newRow("identity") << QStringList{}
                              << QStringList{"-a", "1", "-t", "4:hex", "-r", "0xF000", "-c", "3"}
                              << "0x4544\\n.*0x3830\\n"
                              << 1;
    QTest::newRow("extra meter at its own unit")
        << QStringList{"--extra-meter", "5,KTX5"}
        << QStringList{"-a", "5", "-t", "4:hex", "-r", "0xF040", "-c", "2"}
        << "\\[61504\\]: \\t0x4B54\\n\\[61505\\]: \\t0x5835" << 1;
    QTest::newRow("no meter at the unit: exception 0B")
        << QStringList{} << QStringList{"-a", "9", "-t", "4", "-r", "0x1400", "-c", "1"}
        << "Target device failed to respond" << 1;
    QTest::newRow("slow gateway within the time-out")
        << QStringList{"--gateway-latency", "300"}
        << QStringList{"-a", "1", "-o", "5", "-t", "4", "-r", "0x140F", "-c", "1"}
        << "\\[5135\\]: \\t(499\\d|500\\d|5010)\\n"
        << 1;
    QTest::newRow("slow gateway past the time-out")
        << QStringList{"--gateway-latency", "1500"}
        << QStringList{"-a", "1", "-o", "0.2", "-t", "4", "-r", "0x140F", "-c", "1"}
        << "Connection timed out" << 1;
}

void TestKt580SimTcp::mbpollOverModbusTcp() {
    if (!QFileInfo("/usr/bin/mbpoll").isExecutable())
        QSKIP("mbpoll is not installed");
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, mbpollArgs);
    QFETCH(QString, expect);
    QFETCH(int, answers);
    TSimProcess sim;
    QVERIFY(sim.Start(QStringList{"--tcp", "0", "--log"} + simArgs));
    const quint16 port = sim.Port("modbus-tcp");
    QVERIFY2(port > 0, qPrintable(sim.Path()));
    const TRun run =
        Run("/usr/bin/mbpoll", QStringList{"-m", "tcp", "-p", QString::number(port), "-0", "-1"} +
                                   mbpollArgs + QStringList{"127.0.0.1"});
    QVERIFY2(QRegularExpression(expect).match(run.Output).hasMatch(), qPrintable(run.Output));
    // The answer went out even when the master had given up on it.
    QTRY_VERIFY_WITH_TIMEOUT(sim.Log().contains(" TX "), 10000);
    const auto summary = sim.Stop();
    QCOMPARE(summary.value("answers"), answers);
}

void TestKt580SimTcp::pymodbusClient_data() {
    QTest::addColumn<QString>("framing");
    QTest::addColumn<QString>("framer"); // pymodbus's framer class
    QTest::newRow("Modbus TCP") << "modbus-tcp"
                                << "ModbusSocketFramer";
    QTest::newRow("RTU over TCP") << "rtu-over-tcp"
                                  << "ModbusRtuFramer";
}

void TestKt580SimTcp::pymodbusClient() {
    if (Run("/usr/bin/python3", {"-c", "import pymodbus.client"}).ExitCode != 0)
        QSKIP("pymodbus is not installed");
    QFETCH(QString, framing);
    QFETCH(QString, framer);
    TSimProcess sim;
    QVERIFY(sim.Start(
        {"--tcp", "0", "--rtu-over-tcp", "0", "--address", "17", "--extra-meter", "18,KTX18"}));
    const QString script = R"(
import sys
from pymodbus.client import ModbusTcpClient
from pymodbus.framer.socket_framer import ModbusSocketFramer
from pymodbus.framer.rtu_framer import ModbusRtuFramer
c = ModbusTcpClient('127.0.0.1', port=int(sys.argv[1]), framer=globals()[sys.argv[2]], timeout=3)
assert c.connect()
r = c.read_holding_registers(0x1400, 21, slave=17)
print('volts', r.registers[0], len(r.registers))
r = c.write_registers(0x1184, [0xE240, 0x0001], slave=17)
print('preset', r.isError())
r = c.read_holding_registers(0x1180, 12, slave=17)
print('ep_imp', r.registers[4] + 65536 * r.registers[5])
r = c.read_holding_registers(0xF040, 2, slave=18)
print('extra', hex(r.registers[0]))
r = c.read_holding_registers(0x1400, 1, slave=9)
print('no_meter', r.isError(), getattr(r, 'exception_code', None))
r = c.read_holding_registers(0x120E, 2, slave=17)
print('past_120E', r.isError(), getattr(r, 'exception_code', None))
c.close()
)";
    const TRun run =
        Run("/usr/bin/python3", {"-c", script, QString::number(sim.Port(framing)), framer}, 30000);
    QVERIFY2(run.ExitCode == 0, qPrintable(run.Output));
    const auto value = [&](const QString& key) {
        const auto m = QRegularExpression("^" + key + " (.*)$", QRegularExpression::MultilineOption)
                           .match(run.Output);
        return m.hasMatch() ? m.captured(1).trimmed() : QString("missing in: " + run.Output);
    };
    QVERIFY2(QRegularExpression("^2[23]\\d\\d 21$").match(value("volts")).hasMatch(),
             qPrintable(value("volts")));
    QCOMPARE(value("preset"), QString("False"));
    QCOMPARE(value("ep_imp"), QString("123456"));
    QCOMPARE(value("extra"), QString("0x4b54"));
    QCOMPARE(value("no_meter"), QString("True 11"));
    QCOMPARE(value("past_120E"), QString("True 2"));
}

void TestKt580SimTcp::badClientLeavesTheServerUp_data() {
    QTest::addColumn<QString>("framing");
    QTest::addColumn<QString>("bytes");
    QTest::addColumn<bool>("trickle");
    QTest::addColumn<QString>(
        "outcome"); // closed by the server, answered, or hung up by the client
    QTest::newRow("length 0") << "modbus-tcp"
                              << "00 01 00 00 00 00 01" << false << "closed";
    QTest::newRow("length 1") << "modbus-tcp"
                              << "00 01 00 00 00 01 01" << false << "closed";
    QTest::newRow("length 65535") << "modbus-tcp"
                                  << "00 01 00 00 FF FF 01 03 14 00 00 01" << false << "closed";
    QTest::newRow("protocol 1") << "modbus-tcp"
                                << "00 01 00 01 00 06 01 03 14 00 00 01" << false << "closed";
    QTest::newRow("Modbus TCP trickled") << "modbus-tcp"
                                         << "" << true << "answered";
    QTest::newRow("Modbus TCP hung up mid-frame")
        << "modbus-tcp"
        << "00 01 00 00 00 06 01 03 14" << false << "hung up";
    QTest::newRow("RTU trickled") << "rtu-over-tcp"
                                  << "" << true << "answered";
    QTest::newRow("RTU hung up mid-frame") << "rtu-over-tcp"
                                           << "01 03 14 00" << false << "hung up";
    QTest::newRow("RTU garbage") << "rtu-over-tcp"
                                 << "FF FE FD FC FB FA F9 F8 F7 F6" << false << "hung up";
}

void TestKt580SimTcp::badClientLeavesTheServerUp() {
    QFETCH(QString, framing);
    QFETCH(QString, bytes);
    QFETCH(bool, trickle);
    QFETCH(QString, outcome);
    TSimProcess sim;
    QVERIFY(sim.Start({"--tcp", "0", "--rtu-over-tcp", "0", "--log"}));
    const quint16 port = sim.Port(framing);
    {
        TRawClient bad(port);
        QVERIFY(bad.IsOpen());
        // An empty row sends the good request, trickled.
        QVERIFY(bad.Send(bytes.isEmpty() ? GoodRequest(framing) : Bytes(bytes), trickle));
        if (outcome == "closed") {
            QVERIFY(bad.ClosedByPeer());
            QTRY_VERIFY_WITH_TIMEOUT(sim.Log().contains("bad Modbus TCP header"), 10000);
        } else if (outcome == "answered") {
            const std::string answer = bad.Read(GoodAnswerSize(framing));
            QVERIFY2(Hex(answer).startsWith(GoodAnswerHead(framing)), qPrintable(Hex(answer)));
        } else {
            bad.Close();
            QTRY_VERIFY_WITH_TIMEOUT(sim.Log().contains("disconnected"), 10000);
        }
    }
    TRawClient good(port);
    QVERIFY(good.Send(GoodRequest(framing)));
    const std::string answer = good.Read(GoodAnswerSize(framing));
    QVERIFY2(Hex(answer).startsWith(GoodAnswerHead(framing)), qPrintable(Hex(answer)));
    QCOMPARE(sim.Process().state(), QProcess::Running);
}

void TestKt580SimTcp::closesAfterEachAnswer() {
    TSimProcess sim;
    QVERIFY(sim.Start({"--tcp", "0", "--close-after-answer"}));
    for (int client = 0; client < 2; ++client) {
        TRawClient c(sim.Port("modbus-tcp"));
        QVERIFY(c.Send(GoodRequest("modbus-tcp")));
        QVERIFY(Hex(c.Read(GoodAnswerSize("modbus-tcp"))).startsWith(GoodAnswerHead("modbus-tcp")));
        QVERIFY(c.ClosedByPeer());
    }
    QCOMPARE(sim.Stop().value("answers"), 2);
}

void TestKt580SimTcp::gatewayOptionsWithoutTcpAreRefused() {
    for (const QStringList& args :
         {QStringList{"--gateway-latency", "100"}, QStringList{"--close-after-answer"},
          QStringList{"--tcp", "0", "--com", "3"}}) {
        const TRun run = Run(SimBinary(), args);
        QVERIFY2(run.ExitCode == 2, qPrintable(args.join(' ') + ": " + run.Output));
    }
}

QTEST_GUILESS_MAIN(TestKt580SimTcp)
#include "tst_kt580sim_tcp.moc"
