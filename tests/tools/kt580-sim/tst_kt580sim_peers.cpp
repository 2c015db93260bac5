// The simulator as a process on a pseudo-terminal, checked by masters that share no code
// with it: mbpoll, pymodbus, and raw frames written straight to the terminal.
#include "Crc16.h"
#include "support/SimProcess.h"
#include "support/SocatPair.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <numeric>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct TRun {
    int ExitCode = -1;
    QString Output;
};

TRun Run(const QString& program, const QStringList& args, int timeoutMs = 10000) {
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

// Values to write follow the port on mbpoll's command line.
TRun Mbpoll(const QString& port, const QStringList& args, int baud = 19200,
            const QStringList& writeValues = {}) {
    return Run("/usr/bin/mbpoll", QStringList{"-m", "rtu", "-a", "1", "-b", QString::number(baud),
                                              "-P", "none", "-0", "-1", "-o", "0.3"} +
                                      args + QStringList{port} + writeValues);
}

// "[5120]: \t2301" lines of mbpoll, by reference.
QMap<int, QString> MbpollValues(const QString& output) {
    QMap<int, QString> values;
    const QRegularExpression line("^\\[(\\d+)\\]:\\s+(\\S+)", QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(output); it.hasNext();) {
        const auto m = it.next();
        values[m.captured(1).toInt()] = m.captured(2);
    }
    return values;
}

std::string Frame(const QString& hex) {
    const QByteArray raw = QByteArray::fromHex(hex.toLatin1());
    std::string frame(raw.constData(), static_cast<std::size_t>(raw.size()));
    kt580sim::AppendCrc(frame);
    return frame;
}

QString Hex(const std::string& bytes) {
    return QString::fromLatin1(
        QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toHex(' ').toUpper());
}

// A master reduced to open, write and read on the terminal, for frames no tool sends.
class TRawLine {
public:
    explicit TRawLine(const QString& path, speed_t speed = B19200) {
        FFd = ::open(path.toLatin1().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (FFd >= 0) {
            SetSpeed(speed);
            ::tcflush(FFd, TCIOFLUSH);
        }
    }
    ~TRawLine() {
        if (FFd >= 0) {
            ::close(FFd);
        }
    }
    bool IsOpen() const { return FFd >= 0; }

    void SetSpeed(speed_t speed) {
        termios tio{};
        ::tcgetattr(FFd, &tio);
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
        ::tcsetattr(FFd, TCSANOW, &tio);
    }

    void Write(const std::string& bytes) {
        FLastWrite.start();
        QCOMPARE(::write(FFd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }

    // Reads until `count` bytes have come or `quietMs` pass without a byte. Gaps between
    // chunks, in ms, go to `gaps`; `firstMs` is the time from the write to the first byte,
    // `lastMs` to the last (each measured from the write, so no rounding adds up).
    std::string Read(std::size_t count, int quietMs = 150, QList<qint64>* gaps = nullptr,
                     qint64* firstMs = nullptr, qint64* lastMs = nullptr) {
        std::string data;
        QElapsedTimer sinceLast;
        sinceLast.start();
        while (data.size() < count) {
            pollfd p{FFd, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0) {
                break;
            }
            char buffer[256];
            const ssize_t n = ::read(FFd, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            if (data.empty() && firstMs != nullptr) {
                *firstMs = FLastWrite.elapsed();
            } else if (gaps != nullptr) {
                gaps->append(sinceLast.elapsed());
            }
            sinceLast.restart();
            if (lastMs != nullptr)
                *lastMs = FLastWrite.elapsed();
            data.append(buffer, static_cast<std::size_t>(n));
        }
        return data;
    }

private:
    int FFd = -1;
    QElapsedTimer FLastWrite;
};

} // namespace

class TestKt580SimPeers : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void registersAsComPortAndCleansUp();
    void mbpollReads_data();
    void mbpollReads();
    void mbpollWritesCoilAndReadsItBack();
    void mbpollOutOfRangeSettingIsRefused();
    void wrongLineSpeedIsNotAnswered();
    void rawFrames_data();
    void rawFrames();
    void addressAndSpeedChangeAfterTheAnswer();
    void meterFaults_data();
    void meterFaults();
    void faultsAsTheMasterSeesThem();
    void splitAnswerHasGaps();
    void pacedAnswerWaitsForTheLine();
    void requestLimitEndsTheRun();
    void stateSurvivesARestart();
    void servesADevice();
    void logShowsTraffic();
    void pymodbusClient();
    void badOptionsExitWithCode2_data();
    void badOptionsExitWithCode2();
};

void TestKt580SimPeers::initTestCase() {
    QVERIFY2(QFileInfo(SimBinary()).isExecutable(), qPrintable(SimBinary()));
}

void TestKt580SimPeers::registersAsComPortAndCleansUp() {
    if (!QFileInfo("/usr/bin/mbpoll").isExecutable()) {
        QSKIP("mbpoll is not installed");
    }
    TSimProcess sim;
    QVERIFY(sim.Start({"--com", "7"}));
    const QString link = TestPortMapDir() + "/COM7";
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.Path());
    // The utility opens the map entry, not the pts path: so does this master.
    const TRun run = Mbpoll(link, {"-t", "4", "-r", "0xF106", "-c", "1"});
    QVERIFY2(run.Output.contains("[61702]: \t1"), qPrintable(run.Output));
    const auto summary = sim.Stop();
    QCOMPARE(sim.Process().exitCode(), 0);
    QCOMPARE(summary.value("requests"), 1);
    QCOMPARE(summary.value("answers"), 1);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestKt580SimPeers::mbpollReads_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expect"); // regular expression on mbpoll's output
    QTest::addColumn<int>("values");     // number of values expected
    QTest::newRow("measurement") << "3.20" << QStringList{"-t", "4", "-r", "0x1400", "-c", "21"}
                                 << "\\[5120\\]: \\t2[23]\\d\\d\\n"
                                 << 21;
    QTest::newRow("frequency") << "3.20" << QStringList{"-t", "4", "-r", "0x140F", "-c", "1"}
                               << "\\[5135\\]: \\t(499\\d|500\\d|5010)\\n"
                               << 1;
    QTest::newRow("identity") << "3.20" << QStringList{"-t", "4:hex", "-r", "0xF000", "-c", "9"}
                              << "0x4544\\n.*0x3830\\n.*0x312E\\n.*0x3030\\n.*0x332E\\n"
                                 ".*0x3230\\n"
                              << 9;
    QTest::newRow("serial") << "3.20" << QStringList{"-t", "4:hex", "-r", "0xF040", "-c", "16"}
                            << "\\[61504\\]: \\t0x4B54" << 16;
    QTest::newRow("energy 12") << "3.20" << QStringList{"-t", "4", "-r", "0x1180", "-c", "12"}
                               << "\\[4491\\]:" << 12;
    QTest::newRow("relay alarm block")
        << "3.20" << QStringList{"-t", "4", "-r", "0x120A", "-c", "5"} << "\\[4622\\]:" << 5;
    QTest::newRow("coils") << "3.20" << QStringList{"-t", "0", "-r", "0", "-c", "2"}
                           << "\\[0\\]: \\t0\\n\\[1\\]: \\t0" << 2;
    QTest::newRow("inputs") << "3.20" << QStringList{"-t", "1", "-r", "0", "-c", "6"}
                            << "\\[5\\]: \\t[01]" << 6;
    QTest::newRow("no relay alarm block before 3.20")
        << "3.10" << QStringList{"-t", "4", "-r", "0x120A", "-c", "5"} << "Illegal data address"
        << 0;
    QTest::newRow("4 energy registers only before 3.10")
        << "3.05" << QStringList{"-t", "4", "-r", "0x1180", "-c", "12"} << "Illegal data address"
        << 0;
    QTest::newRow("no DO block on 3.85")
        << "3.85" << QStringList{"-t", "4", "-r", "0x1208", "-c", "2"} << "Illegal data address"
        << 0;
}

void TestKt580SimPeers::mbpollReads() {
    QFETCH(QString, version);
    QFETCH(QStringList, args);
    QFETCH(QString, expect);
    QFETCH(int, values);
    if (!QFileInfo("/usr/bin/mbpoll").isExecutable()) {
        QSKIP("mbpoll is not installed");
    }
    TSimProcess sim;
    QVERIFY(sim.Start({"--version-text", version}));
    const TRun run = Mbpoll(sim.Path(), args);
    QVERIFY2(QRegularExpression(expect, QRegularExpression::DotMatchesEverythingOption)
                 .match(run.Output)
                 .hasMatch(),
             qPrintable(run.Output));
    QCOMPARE(MbpollValues(run.Output).size(), values);
    const auto summary = sim.Stop();
    QCOMPARE(summary.value("requests"), 1);
    QCOMPARE(summary.value("exception02"), values == 0 ? 1 : 0);
}

void TestKt580SimPeers::mbpollWritesCoilAndReadsItBack() {
    if (!QFileInfo("/usr/bin/mbpoll").isExecutable()) {
        QSKIP("mbpoll is not installed");
    }
    TSimProcess sim;
    QVERIFY(sim.Start({}));
    TRun run = Mbpoll(sim.Path(), {"-t", "0", "-r", "1"}, 19200, {"1"});
    QVERIFY2(run.Output.contains("Written 1 references"), qPrintable(run.Output));
    run = Mbpoll(sim.Path(), {"-t", "0", "-r", "0", "-c", "2"});
    auto values = MbpollValues(run.Output);
    QCOMPARE(values.value(0), QString("0"));
    QCOMPARE(values.value(1), QString("1"));
    run = Mbpoll(sim.Path(), {"-t", "0", "-r", "1"}, 19200, {"0"});
    run = Mbpoll(sim.Path(), {"-t", "0", "-r", "0", "-c", "2"});
    values = MbpollValues(run.Output);
    QCOMPARE(values.value(1), QString("0"));
    const auto summary = sim.Stop();
    QCOMPARE(summary.value("requests"), 4);
    QCOMPARE(summary.value("answers"), 4);
}

void TestKt580SimPeers::mbpollOutOfRangeSettingIsRefused() {
    if (!QFileInfo("/usr/bin/mbpoll").isExecutable()) {
        QSKIP("mbpoll is not installed");
    }
    TSimProcess sim;
    QVERIFY(sim.Start({}));
    // CT2 may be 1 or 5 only; libmodbus words exception 04 as a device failure.
    TRun run = Mbpoll(sim.Path(), {"-t", "4", "-r", "0x1109"}, 19200, {"3"});
    QVERIFY2(run.Output.contains("Slave device or server failure"), qPrintable(run.Output));
    run = Mbpoll(sim.Path(), {"-t", "4", "-r", "0x1109", "-c", "1"});
    QCOMPARE(MbpollValues(run.Output).value(0x1109), QString("5"));
    run = Mbpoll(sim.Path(), {"-t", "4", "-r", "0x1109"}, 19200, {"1"});
    QVERIFY2(run.Output.contains("Written 1 references"), qPrintable(run.Output));
    run = Mbpoll(sim.Path(), {"-t", "4", "-r", "0x1109", "-c", "1"});
    QCOMPARE(MbpollValues(run.Output).value(0x1109), QString("1"));
    const auto summary = sim.Stop();
    QCOMPARE(summary.value("exception04"), 1);
    QCOMPARE(summary.value("requests"), 4);
}

void TestKt580SimPeers::wrongLineSpeedIsNotAnswered() {
    if (!QFileInfo("/usr/bin/mbpoll").isExecutable()) {
        QSKIP("mbpoll is not installed");
    }
    TSimProcess sim;
    QVERIFY(sim.Start({"--baud", "9600"}));
    TRun run = Mbpoll(sim.Path(), {"-t", "4", "-r", "0xF106", "-c", "1"}, 19200);
    QVERIFY2(run.Output.contains("timed out"), qPrintable(run.Output));
    run = Mbpoll(sim.Path(), {"-t", "4", "-r", "0xF106", "-c", "1"}, 9600);
    QVERIFY2(run.Output.contains("[61702]: \t1"), qPrintable(run.Output));
    const auto summary = sim.Stop();
    QCOMPARE(summary.value("line_mismatch"), 1);
    QCOMPARE(summary.value("requests"), 1);
}

void TestKt580SimPeers::rawFrames_data() {
    QTest::addColumn<QString>("request"); // hex; "+crc" appends a valid check
    QTest::addColumn<QString>("answer");  // hex without check; empty: none
    QTest::newRow("unsupported function") << "01 2B 0E 01 00+crc"
                                          << "01 AB 01";
    QTest::newRow("count 0") << "01 03 14 00 00 00+crc"
                             << "01 83 03";
    QTest::newRow("count 126") << "01 03 14 00 00 7E+crc"
                               << "01 83 03";
    QTest::newRow("coil value 0x1234") << "01 05 00 00 12 34+crc"
                                       << "01 85 03";
    QTest::newRow("other address") << "02 03 F1 06 00 01+crc"
                                   << "";
    QTest::newRow("broadcast") << "00 05 00 00 FF 00+crc"
                               << "";
    QTest::newRow("bad check") << "01 03 F1 06 00 01 00 00"
                               << "";
    QTest::newRow("noise before the request") << "55 AA 01 03 F1 06 00 01 56 F7"
                                              << "01 03 02 00 01";
}

void TestKt580SimPeers::rawFrames() {
    QFETCH(QString, request);
    QFETCH(QString, answer);
    TSimProcess sim;
    QVERIFY(sim.Start({}));
    TRawLine line(sim.Path());
    QVERIFY(line.IsOpen());
    std::string bytes;
    if (request.endsWith("+crc")) {
        bytes = Frame(request.chopped(4));
    } else {
        const QByteArray raw = QByteArray::fromHex(request.toLatin1());
        bytes.assign(raw.constData(), static_cast<std::size_t>(raw.size()));
    }
    line.Write(bytes);
    const std::string got = line.Read(64, answer.isEmpty() ? 150 : 500);
    if (answer.isEmpty()) {
        QCOMPARE(Hex(got), QString());
    } else {
        QCOMPARE(Hex(got), Hex(Frame(answer)));
    }
    // The meter is not wedged by whatever came before.
    line.Write(Frame("01 03 F1 06 00 01"));
    QCOMPARE(Hex(line.Read(7, 500)), Hex(Frame("01 03 02 00 01")));
}

void TestKt580SimPeers::meterFaults_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<QString>("answer");  // clean, none or crc (the clean one's check spoilt)
    QTest::addColumn<int>("notBeforeMs"); // the first byte of the answer comes this late or later

    QTest::newRow("the first meter") << 1 << "clean" << 0;
    QTest::newRow("a well extra meter") << 2 << "clean" << 0;
    QTest::newRow("silent") << 3 << "none" << 0;
    QTest::newRow("slow") << 4 << "clean" << 150;
    QTest::newRow("garbling") << 5 << "crc" << 0;
}

// Each extra meter's own fault, beside meters that answer well.
void TestKt580SimPeers::meterFaults() {
    QFETCH(int, address);
    QFETCH(QString, answer);
    QFETCH(int, notBeforeMs);
    TSimProcess sim;
    QVERIFY(sim.Start({"--extra-meter", "2,SN2", "--extra-meter", "3,SN3", "--extra-meter", "4,SN4",
                       "--extra-meter", "5,SN5", "--meter-fault", "3:silent", "--meter-fault",
                       "4:slow=150", "--meter-fault", "5:garble"}));
    TRawLine line(sim.Path());
    QVERIFY(line.IsOpen());
    const QString head = QString("%1 03").arg(address, 2, 16, QLatin1Char('0'));
    line.Write(Frame(head + " F1 06 00 01"));
    qint64 firstMs = -1;
    const std::string got = line.Read(7, 1000, nullptr, &firstMs);
    std::string expected = answer == "none" ? std::string() : Frame(head + " 02 00 01");
    if (answer == "crc") {
        expected.back() = static_cast<char>(static_cast<unsigned char>(expected.back()) ^ 0xFF);
    }
    QCOMPARE(Hex(got), Hex(expected));
    if (!expected.empty()) {
        QVERIFY2(firstMs >= notBeforeMs, qPrintable(QString::number(firstMs)));
    }
}

void TestKt580SimPeers::addressAndSpeedChangeAfterTheAnswer() {
    TSimProcess sim;
    QVERIFY(sim.Start({}));
    TRawLine line(sim.Path());
    QVERIFY(line.IsOpen());
    // Block 0x1100 with address 5 and 9600 baud, even parity.
    line.Write(Frame("01 10 11 00 00 0D 1A 00 00 00 05 25 80 00 00 00 00 01 90 00 00 01 90 00 "
                     "05 00 05 00 00 00 03 00 00"));
    QCOMPARE(Hex(line.Read(8, 500)), Hex(Frame("01 10 11 00 00 0D")));
    // Still at 19200 on our side: the meter no longer hears us.
    line.Write(Frame("05 03 F1 06 00 01"));
    QCOMPARE(Hex(line.Read(7, 150)), QString());
    line.SetSpeed(B9600);
    line.Write(Frame("01 03 F1 06 00 01"));
    QCOMPARE(Hex(line.Read(7, 150)), QString());
    line.Write(Frame("05 03 F1 06 00 01"));
    QCOMPARE(Hex(line.Read(7, 500)), Hex(Frame("05 03 02 00 01")));
    const auto summary = sim.Stop();
    QCOMPARE(summary.value("requests"), 2);
    QCOMPARE(summary.value("other_address"), 1);
    QCOMPARE(summary.value("line_mismatch"), 1);
}

void TestKt580SimPeers::faultsAsTheMasterSeesThem() {
    if (!QFileInfo("/usr/bin/mbpoll").isExecutable()) {
        QSKIP("mbpoll is not installed");
    }
    {
        TSimProcess sim;
        QVERIFY(sim.Start({"--fault", "drop=1", "--seed", "3"}));
        const TRun run = Mbpoll(sim.Path(), {"-t", "4", "-r", "0xF106", "-c", "1"});
        QVERIFY2(run.Output.contains("timed out"), qPrintable(run.Output));
        const auto summary = sim.Stop();
        QCOMPARE(summary.value("requests"), 1);
        QCOMPARE(summary.value("answers"), 0);
        QCOMPARE(summary.value("fault_drop"), 1);
    }
    {
        TSimProcess sim;
        QVERIFY(sim.Start({"--fault", "crc=1", "--seed", "3"}));
        const TRun run = Mbpoll(sim.Path(), {"-t", "4", "-r", "0xF106", "-c", "1"});
        QVERIFY2(run.Output.contains("CRC"), qPrintable(run.Output));
        const auto summary = sim.Stop();
        QCOMPARE(summary.value("answers"), 1);
        QCOMPARE(summary.value("fault_crc"), 1);
    }
    {
        TSimProcess sim;
        QVERIFY(sim.Start({"--fault", "noise=1", "--seed", "3"}));
        TRawLine line(sim.Path());
        line.Write(Frame("01 03 F1 06 00 01"));
        const std::string got = line.Read(64, 150);
        const std::string answer = Frame("01 03 02 00 01");
        QVERIFY2(got.size() > answer.size(), qPrintable(Hex(got)));
        QCOMPARE(Hex(got.substr(got.size() - answer.size())), Hex(answer));
        // The first address byte on the line is where the real answer starts.
        QCOMPARE(got.find('\x01'), got.size() - answer.size());
        const auto summary = sim.Stop();
        QCOMPARE(summary.value("fault_noise"), 1);
    }
}

void TestKt580SimPeers::splitAnswerHasGaps() {
    TSimProcess sim;
    QVERIFY(sim.Start({"--fault", "split=1", "--seed", "11"}));
    TRawLine line(sim.Path());
    line.Write(Frame("01 03 14 00 00 15"));
    QList<qint64> gaps;
    qint64 first = -1;
    const std::string got = line.Read(47, 200, &gaps, &first);
    QCOMPARE(got.size(), std::size_t(47));
    QVERIFY(kt580sim::CrcMatches(got, got.size()));
    // The pieces are separated by pauses longer than 5 ms, so the whole answer takes
    // longer than that; a loaded machine may read several pieces at once, so only the
    // time from the first byte to the last is checked.
    const qint64 spread = std::accumulate(gaps.begin(), gaps.end(), qint64(0));
    QVERIFY2(spread > 5, qPrintable(QString::number(spread)));
    QCOMPARE(sim.Stop().value("fault_split"), 1);
}

void TestKt580SimPeers::pacedAnswerWaitsForTheLine() {
    TSimProcess sim;
    QVERIFY(sim.Start({"--pace", "--delay", "20", "--baud", "9600"}));
    TRawLine line(sim.Path(), B9600);
    line.Write(Frame("01 03 F1 06 00 01"));
    QList<qint64> gaps;
    qint64 first = -1;
    qint64 last = -1;
    const std::string got = line.Read(7, 300, &gaps, &first, &last);
    QCOMPARE(Hex(got), Hex(Frame("01 03 02 00 01")));
    // 3.5 characters of 11 bits at 9600 baud (4 ms) plus the 20 ms turnaround at least.
    QVERIFY2(first >= 23, qPrintable(QString::number(first)));
    // Bytes trickle out one per character time (1.1 ms), not in one block: the last
    // one cannot arrive before six more character times have passed. Only lower
    // bounds are checked, since a loaded machine may hand several bytes over at once.
    QVERIFY2(last >= 29, qPrintable(QString::number(last)));
}

void TestKt580SimPeers::requestLimitEndsTheRun() {
    TSimProcess sim;
    QVERIFY(sim.Start({"--requests", "2", "--link",
                       QDir::tempPath() + "/kt580-sim-test-link-" + QString::number(::getpid())}));
    const QString link = QDir::tempPath() + "/kt580-sim-test-link-" + QString::number(::getpid());
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.Path());
    TRawLine line(link);
    line.Write(Frame("01 03 12 0A 00 06"));
    QCOMPARE(Hex(line.Read(5, 500)), Hex(Frame("01 83 02")));
    line.Write(Frame("01 01 00 00 00 02"));
    QCOMPARE(Hex(line.Read(6, 500)), Hex(Frame("01 01 01 00")));
    const auto summary = sim.WaitForExit();
    QCOMPARE(sim.Process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.Process().exitCode(), 0);
    QCOMPARE(summary.value("requests"), 2);
    QCOMPARE(summary.value("answers"), 2);
    QCOMPARE(summary.value("exception02"), 1);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestKt580SimPeers::stateSurvivesARestart() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString state = dir.filePath("meter.state");
    {
        TSimProcess sim;
        QVERIFY(sim.Start({"--state", state}));
        TRawLine line(sim.Path());
        // CT1 100 and Ep_total preset to 12345.6 kWh.
        line.Write(Frame("01 06 11 08 00 64"));
        QCOMPARE(line.Read(8, 500).size(), std::size_t(8));
        line.Write(Frame("01 10 11 80 00 02 04 E2 40 00 01"));
        QCOMPARE(line.Read(8, 500).size(), std::size_t(8));
        sim.Stop();
    }
    QVERIFY(QFileInfo::exists(state));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"meter.state"});
    TSimProcess sim;
    QVERIFY(sim.Start({"--state", state}));
    TRawLine line(sim.Path());
    line.Write(Frame("01 03 11 08 00 01"));
    QCOMPARE(Hex(line.Read(7, 500)), Hex(Frame("01 03 02 00 64")));
    line.Write(Frame("01 03 11 80 00 02"));
    const std::string energy = line.Read(9, 500);
    QCOMPARE(energy.size(), std::size_t(9));
    const uint32_t tenths = (uint8_t(energy[3]) << 8 | uint8_t(energy[4])) |
                            (uint32_t(uint8_t(energy[5]) << 8 | uint8_t(energy[6])) << 16);
    // Preset value plus whatever the load added in the meantime (well below a tenth).
    QVERIFY2(tenths >= 123456 && tenths <= 123457, qPrintable(QString::number(tenths)));
    sim.Stop();
}

void TestKt580SimPeers::servesADevice() {
    if (!TSocatPair::Installed()) {
        QSKIP("socat is not installed");
    }
    // Two adapters back to back, as socat joins two pseudo-terminals.
    TSocatPair socat;
    const QStringList ends = socat.Ends();
    QCOMPARE(ends.size(), 2);
    {
        TSimProcess sim;
        QVERIFY(sim.Start({"--device", ends[0], "--address", "3"}));
        QCOMPARE(sim.Path(), ends[0]);
        // A second meter cannot take the same device.
        const TRun second = Run(SimBinary(), {"--device", ends[0]}, 5000);
        QCOMPARE(second.ExitCode, 1);
        QVERIFY2(second.Output.contains("in use"), qPrintable(second.Output));
        TRawLine line(ends[1]);
        QVERIFY(line.IsOpen());
        line.Write(Frame("03 03 F1 06 00 01"));
        QCOMPARE(Hex(line.Read(7, 1000)), Hex(Frame("03 03 02 00 01")));
        QCOMPARE(sim.Stop().value("answers"), 1);
    }
}

void TestKt580SimPeers::logShowsTraffic() {
    TSimProcess sim;
    QVERIFY(sim.Start({"--log"}));
    TRawLine line(sim.Path());
    line.Write(Frame("01 05 00 00 12 34"));
    QCOMPARE(line.Read(5, 500).size(), std::size_t(5));
    sim.Stop();
    const QString log = sim.Log();
    const QString request = Hex(Frame("01 05 00 00 12 34"));
    const QString answer = Hex(Frame("01 85 03"));
    QVERIFY2(
        QRegularExpression("\\d\\d:\\d\\d:\\d\\d\\.\\d{3} RX " + request).match(log).hasMatch(),
        qPrintable(log));
    QVERIFY2(QRegularExpression("\\d\\d:\\d\\d:\\d\\d\\.\\d{3} TX " + answer).match(log).hasMatch(),
             qPrintable(log));
}

void TestKt580SimPeers::pymodbusClient() {
    if (Run("/usr/bin/python3", {"-c", "import pymodbus.client"}).ExitCode != 0) {
        QSKIP("pymodbus is not installed");
    }
    TSimProcess sim;
    QVERIFY(sim.Start({"--version-text", "3.20", "--address", "17"}));
    const QString script = R"(
import sys
from pymodbus.client import ModbusSerialClient
c = ModbusSerialClient(port=sys.argv[1], baudrate=19200, parity='N', stopbits=1, bytesize=8,
                       timeout=1)
assert c.connect()
r = c.read_holding_registers(0x1400, 21, slave=17)
print('volts', r.registers[0])
r = c.write_registers(0x1184, [0xE240, 0x0001], slave=17)
print('preset', r.isError())
r = c.read_holding_registers(0x1180, 12, slave=17)
print('ep_imp', r.registers[4] + 65536 * r.registers[5])
r = c.write_registers(0x110D, [10], slave=17)
r = c.read_holding_registers(0x1180, 12, slave=17)
print('after_reset', max(r.registers[2:]))
r = c.write_coil(0, True, slave=17)
r = c.read_coils(0, 2, slave=17)
print('coils', int(r.bits[0]), int(r.bits[1]))
r = c.read_discrete_inputs(0, 6, slave=17)
print('inputs', len(r.bits[:6]))
r = c.write_registers(0x1300, [17], slave=17)
print('ao_object_17', r.isError(), getattr(r, 'exception_code', None))
r = c.read_holding_registers(0x120E, 2, slave=17)
print('past_120E', r.isError(), getattr(r, 'exception_code', None))
c.close()
)";
    const TRun run = Run("/usr/bin/python3", {"-c", script, sim.Path()}, 20000);
    QVERIFY2(run.ExitCode == 0, qPrintable(run.Output));
    const auto value = [&](const QString& key) {
        const auto m = QRegularExpression("^" + key + " (.*)$", QRegularExpression::MultilineOption)
                           .match(run.Output);
        return m.hasMatch() ? m.captured(1).trimmed() : QString("<missing>");
    };
    const int volts = value("volts").toInt();
    QVERIFY2(volts > 2250 && volts < 2370, qPrintable(run.Output));
    QCOMPARE(value("preset"), QString("False"));
    QCOMPARE(value("ep_imp"), QString("123456"));
    // Only the fractions gathered since the reset can show; not a single whole tenth.
    QCOMPARE(value("after_reset"), QString("0"));
    QCOMPARE(value("coils"), QString("1 0"));
    QCOMPARE(value("inputs"), QString("6"));
    QCOMPARE(value("ao_object_17"), QString("True 4"));
    QCOMPARE(value("past_120E"), QString("True 2"));
    const auto summary = sim.Stop();
    QCOMPARE(summary.value("exception04"), 1);
    QCOMPARE(summary.value("exception02"), 1);
}

void TestKt580SimPeers::badOptionsExitWithCode2_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("unknown") << QStringList{"--bogus"} << 2 << "unknown option '--bogus'";
    QTest::newRow("bad address") << QStringList{"--address", "300"} << 2 << "--address";
    QTest::newRow("bad fault") << QStringList{"--fault", "crc"} << 2 << "KIND=RATE";
    QTest::newRow("help") << QStringList{"--help"} << 0 << "--fault KIND=RATE";
    // Someone who sees "[Simulator]" in the utility's title learns from here why.
    QTest::newRow("help: the port map note")
        << QStringList{"--help"} << 0 << "a note COMn.simulator beside it";
    QTest::newRow("help: the title mark") << QStringList{"--help"} << 0 << "says [Simulator]";
}

void TestKt580SimPeers::badOptionsExitWithCode2() {
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QString, text);
    const TRun run = Run(SimBinary(), args, 5000);
    QCOMPARE(run.ExitCode, code);
    QVERIFY2(run.Output.contains(text), qPrintable(run.Output));
}

QTEST_GUILESS_MAIN(TestKt580SimPeers)
#include "tst_kt580sim_peers.moc"
