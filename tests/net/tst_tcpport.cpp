// TTcpPort against the simulator as a gateway: the measurement block read in both framings, the
// failures an operator meets (a refused connection, a name that does not resolve), a gateway
// that closes after every answer, and one switched off and on again on the same port.
#include "modbus/KrChecksum.h"
#include "modbus/MbapFrame.h"
#include "net/ReconnectBackoff.h"
#include "net/TcpPort.h"
#include "serial/CommsError.h"
#include "support/SimProcess.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kWait = 15000;

// What the port raised, and on which thread.
struct TTcpRecorder {
    int Connects = 0;
    TTcpState State = TTcpState::Failed;
    QString Text;
    QByteArray Received;
    int Hangups = 0;
    int Empties = 0;
    bool OffThread = false;

    void Bind(TTcpPort& port) {
        port.OnConnect = [this](TTcpPort&, TTcpState state, const std::string& text) {
            Note();
            ++Connects;
            State = state;
            Text = QString::fromStdString(text);
        };
        port.OnReceiveData = [this](TTcpPort&, const char* buffer, std::uint16_t length) {
            Note();
            Received.append(buffer, length);
        };
        port.OnRequestHangup = [this](TTcpPort& sender) {
            Note();
            ++Hangups;
            Text = QString::fromStdString(sender.LastErrorText());
        };
        port.OnSendDataEmpty = [this](TTcpPort&) {
            Note();
            ++Empties;
        };
    }
    void Note() { OffThread |= QThread::currentThread() != qApp->thread(); }
};

// Read of the 21 registers of the measurement block at unit 1.
const std::string kReadPdu("\x03\x14\x00\x00\x15", 5);
constexpr int kBlockBytes = 42;

std::string RtuRequest() {
    std::string frame = "\x01" + kReadPdu;
    const std::uint16_t crc = CalcCRC16(frame);
    frame += char(crc & 0xFF);
    frame += char(crc >> 8);
    return frame;
}

// A port number no one listens on: bound but never listening, for as long as it lives.
class TDeadPort {
public:
    TDeadPort() {
        FFd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(FFd, reinterpret_cast<sockaddr*>(&address), size);
        ::getsockname(FFd, reinterpret_cast<sockaddr*>(&address), &size);
        FPort = ntohs(address.sin_port);
    }
    ~TDeadPort() { ::close(FFd); }
    TDeadPort(const TDeadPort&) = delete;
    TDeadPort& operator=(const TDeadPort&) = delete;
    // Frees the number for a server that is to take it.
    std::uint16_t Release() {
        ::close(FFd);
        FFd = -1;
        return FPort;
    }
    std::uint16_t Port() const { return FPort; }

private:
    int FFd = -1;
    std::uint16_t FPort = 0;
};

} // namespace

class TTcpPortTest : public QObject {
    Q_OBJECT

    // Opens `port` on the simulator's endpoint and waits for the outcome.
    static bool Connect(TTcpPort& port, TTcpRecorder& rec, std::uint16_t number) {
        const int before = rec.Connects;
        port.SetHostName("127.0.0.1");
        port.SetPortNumber(number);
        port.OpenPort();
        return QTest::qWaitFor([&] { return rec.Connects > before; }, kWait) &&
               rec.State == TTcpState::Connected && port.Connected();
    }

    // Sends one MBAP read of the measurement block and returns its decoded answer.
    static TMbapResult ReadBlock(TTcpPort& port, TTcpRecorder& rec, std::uint16_t transaction) {
        rec.Received.clear();
        const std::string request = EncodeMbap(transaction, 1, kReadPdu);
        TMbapResult result;
        if (!port.WriteData(request.data(), std::uint16_t(request.size())))
            return result;
        TMbapDecoder decoder;
        decoder.Expect(transaction);
        // The result says whether it came in time.
        (void)QTest::qWaitFor(
            [&] {
                decoder.Reset();
                decoder.Feed(rec.Received.toStdString());
                result = decoder.Next();
                return result.Status != TMbapStatus::NeedMore;
            },
            kWait);
        return result;
    }

private slots:
    void readsTheMeasurementBlock_data();
    void readsTheMeasurementBlock();
    void failedConnectionsAreExplained_data();
    void failedConnectionsAreExplained();
    void gatewayClosingAfterEachAnswer();
    void gatewaySwitchedOffAndOn();
};

void TTcpPortTest::readsTheMeasurementBlock_data() {
    QTest::addColumn<QString>("framing");
    QTest::newRow("Modbus TCP") << "modbus-tcp";
    QTest::newRow("RTU over TCP") << "rtu-over-tcp";
}

void TTcpPortTest::readsTheMeasurementBlock() {
    QFETCH(QString, framing);
    TSimProcess sim;
    QVERIFY(sim.Start({"--tcp", "0", "--rtu-over-tcp", "0"}));
    TTcpPort port;
    QCOMPARE(port.PortNumber(), TTcpPort::DefaultPort);
    TTcpRecorder rec;
    rec.Bind(port);
    QVERIFY2(Connect(port, rec, sim.Port(framing)), qPrintable(rec.Text));
    QVERIFY_THROWS_EXCEPTION(ECommsError, port.OpenPort());
    if (framing == "modbus-tcp") {
        const TMbapResult answer = ReadBlock(port, rec, 0x1234);
        QCOMPARE(answer.Status, TMbapStatus::Frame);
        QCOMPARE(answer.Frame.UnitId, 1);
        QCOMPARE(answer.Frame.Pdu.size(), std::size_t(2 + kBlockBytes));
        QCOMPARE(answer.Frame.Pdu.substr(0, 2), std::string("\x03\x2A", 2));
    } else {
        const std::string request = RtuRequest();
        QVERIFY(port.WriteData(request.data(), std::uint16_t(request.size())));
        QTRY_VERIFY_WITH_TIMEOUT(rec.Received.size() >= 5 + kBlockBytes, kWait);
        QCOMPARE(rec.Received.size(), 5 + kBlockBytes);
        QCOMPARE(rec.Received.left(3), QByteArray("\x01\x03\x2A", 3));
        QCOMPARE(CalcCRC16(rec.Received.toStdString()), 0); // a frame with its CRC checks to 0
    }
    QTRY_VERIFY_WITH_TIMEOUT(port.SendIdle(), kWait);
    QVERIFY(rec.Empties >= 1);
    QVERIFY(!rec.OffThread);
    port.ClosePort();
    QVERIFY(!port.IsOpen());
    QVERIFY(!port.WriteData("x", 1));
    QCOMPARE(rec.Hangups, 0); // closing is the owner's doing: nothing is reported
}

void TTcpPortTest::failedConnectionsAreExplained_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("deadPort");
    QTest::addColumn<TTcpState>("state");
    QTest::addColumn<QString>("sentence");
    QTest::newRow("refused") << "127.0.0.1" << true << TTcpState::Refused
                             << "The gateway at 127.0.0.1:%1 refused the connection: check the "
                                "host and port.";
    QTest::newRow("unknown name") << "kt580-gateway.invalid" << false << TTcpState::NameNotFound
                                  << "The gateway's name \"kt580-gateway.invalid\" is not known on "
                                     "this network: check the host name, or enter the gateway's "
                                     "IP address instead.";
}

void TTcpPortTest::failedConnectionsAreExplained() {
    QFETCH(QString, host);
    QFETCH(bool, deadPort);
    QFETCH(TTcpState, state);
    QFETCH(QString, sentence);
    const TDeadPort dead;
    TTcpPort port;
    TTcpRecorder rec;
    rec.Bind(port);
    port.SetHostName(host.toStdString());
    port.SetPortNumber(deadPort ? dead.Port() : TTcpPort::DefaultPort);
    port.OpenPort();
    // The outcome comes as an event, never from inside OpenPort.
    QCOMPARE(rec.Connects, 0);
    QTRY_COMPARE_WITH_TIMEOUT(rec.Connects, 1, kWait);
    QCOMPARE(rec.State, state);
    // A machine whose name server is out of reach cannot say the name is unknown.
    const bool noNameServer =
        state == TTcpState::NameNotFound && rec.Text.contains("the name server did not answer");
    if (!noNameServer)
        QCOMPARE(rec.Text, sentence.replace("%1", QString::number(dead.Port())));
    QCOMPARE(QString::fromStdString(port.LastErrorText()), rec.Text);
    QVERIFY(!port.Connected());
    QVERIFY(port.IsOpen());
    QVERIFY(!port.WriteData("x", 1));
    QCOMPARE(rec.Hangups, 0);
    QVERIFY(!rec.OffThread);
}

void TTcpPortTest::gatewayClosingAfterEachAnswer() {
    // The owner acts as the master's transport will: the close after an answer costs no wait.
    TSimProcess sim;
    QVERIFY(sim.Start({"--tcp", "0", "--close-after-answer"}));
    TTcpPort port;
    TTcpRecorder rec;
    rec.Bind(port);
    TReconnectBackoff backoff;
    QElapsedTimer clock;
    clock.start();
    for (std::uint16_t transaction = 1; transaction <= 2; ++transaction) {
        QTRY_COMPARE_WITH_TIMEOUT(backoff.DelayAt(clock.elapsed()), 0, kWait);
        port.ClosePort();
        port.SetHostName("127.0.0.1");
        port.SetPortNumber(sim.Port("modbus-tcp"));
        port.OpenPort();
        // The request goes out as soon as the connection is made.
        const TMbapResult answer = ReadBlock(port, rec, transaction);
        QCOMPARE(rec.State, TTcpState::Connected);
        backoff.Connected();
        QCOMPARE(answer.Status, TMbapStatus::Frame);
        QCOMPARE(answer.Frame.TransactionId, transaction);
        QTRY_COMPARE_WITH_TIMEOUT(rec.Hangups, int(transaction), kWait);
        QVERIFY2(rec.Text.contains("closed the connection"), qPrintable(rec.Text));
        QVERIFY(!port.WriteData("x", 1));
        backoff.Dropped(clock.elapsed(), true);
        QCOMPARE(backoff.DelayAt(clock.elapsed()), 0);
    }
    QCOMPARE(sim.Stop().value("answers"), 2);
}

void TTcpPortTest::gatewaySwitchedOffAndOn() {
    TDeadPort reserved;
    const std::uint16_t number = reserved.Release();
    TSimProcess sim;
    QVERIFY(sim.Start({"--tcp", QString::number(number)}));
    TTcpPort port;
    TTcpRecorder rec;
    rec.Bind(port);
    QVERIFY2(Connect(port, rec, number), qPrintable(rec.Text));
    QCOMPARE(ReadBlock(port, rec, 7).Status, TMbapStatus::Frame);

    sim.Stop();
    QTRY_COMPARE_WITH_TIMEOUT(rec.Hangups, 1, kWait);
    QCOMPARE(rec.Text, QString("The gateway at 127.0.0.1:%1 closed the connection: if this "
                               "repeats, check that it is switched on and that its idle time-out "
                               "is longer than the polling interval.")
                           .arg(number));
    QVERIFY(!port.Connected());
    port.ClosePort();
    QVERIFY(!Connect(port, rec, number));
    QCOMPARE(rec.State, TTcpState::Refused);
    port.ClosePort();

    QVERIFY(sim.Restart());
    QCOMPARE(sim.Port("modbus-tcp"), number);
    QVERIFY2(Connect(port, rec, number), qPrintable(rec.Text));
    QCOMPARE(ReadBlock(port, rec, 8).Status, TMbapStatus::Frame);
    QCOMPARE(rec.Hangups, 1);
}

QTEST_GUILESS_MAIN(TTcpPortTest)
#include "tst_tcpport.moc"
