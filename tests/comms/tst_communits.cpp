// The communication statistics: response-time figures, line load, frame decoding, the frame
// log and its files, the verdict on the line and the monitor that counts each query once.
#include "comms/CommTestKit.h"
#include "comms/FrameDecode.h"
#include "comms/FrameLog.h"
#include "comms/LineLoad.h"
#include "comms/LineVerdict.h"
#include "comms/LogFile.h"
#include "comms/LogModel.h"
#include "comms/ResponseTimes.h"
#include "serial/LineEvents.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(TVerdictKind)

namespace {

const std::string Read21 = Hex("01 03 14 00 00 15");

std::string Answer(const char* hex) {
    return WithCrc(Hex(hex));
}

// A device that accepts `room` bytes and then refuses every write.
class TFullDevice : public QIODevice {
public:
    explicit TFullDevice(qint64 room) : FRoom(room) { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 len) override {
        if (FRoom < len)
            return -1;
        FRoom -= len;
        return len;
    }

private:
    qint64 FRoom;
};

} // namespace

class TestCommUnits : public QObject {
    Q_OBJECT
private slots:
    void responseTimes_data();
    void responseTimes();
    void responseTimesWindowIsBounded();
    void lineLoad_data();
    void lineLoad();
    void describe_data();
    void describe();
    void foreignAnswer_data();
    void foreignAnswer();
    void frameLogRing();
    void logFiles_data();
    void logFiles();
    void logWriteFailures();
    void verdict_data();
    void verdict();
    void monitorCountsEachQueryOnce();
    void monitorResponseTimeFromEndOfRequest();
    void monitorStartsAfreshOnNextConnect();
    void monitorVerdictFollowsInterval();
    void monitorNamesStrayBytes_data();
    void monitorNamesStrayBytes();
    void logModelFollowsByRows();
};

void TestCommUnits::responseTimes_data() {
    QTest::addColumn<QList<int>>("samplesMs");
    QTest::addColumn<QList<double>>("lastMinMedianP95Max");
    QTest::newRow("one") << QList<int>{7} << QList<double>{7, 7, 7, 7, 7};
    QTest::newRow("odd count") << QList<int>{30, 10, 20} << QList<double>{20, 10, 20, 30, 30};
    // Nearest rank: the median of four is the second, the 95th percentile the fourth.
    QTest::newRow("even count") << QList<int>{4, 1, 3, 2} << QList<double>{2, 1, 2, 4, 4};
    QList<int> hundred;
    for (int i = 100; i >= 1; --i)
        hundred << i;
    QTest::newRow("1..100") << hundred << QList<double>{1, 1, 50, 95, 100};
}

void TestCommUnits::responseTimes() {
    QFETCH(QList<int>, samplesMs);
    QFETCH(QList<double>, lastMinMedianP95Max);
    TResponseTimes t;
    QVERIFY(!t.Figures().MedianMs);
    for (int ms : samplesMs)
        t.Add(ms * 1000);
    const TTimingFigures f = t.Figures();
    QCOMPARE(QList<double>({*f.LastMs, *f.MinMs, *f.MedianMs, *f.P95Ms, *f.MaxMs}),
             lastMinMedianP95Max);
}

void TestCommUnits::responseTimesWindowIsBounded() {
    // Percentiles over the recent window; minimum and maximum since the reset.
    TResponseTimes t(10);
    t.Add(500'000);
    for (int i = 0; i < 10; ++i)
        t.Add(1000);
    const TTimingFigures f = t.Figures();
    QCOMPARE(*f.P95Ms, 1.0);
    QCOMPARE(*f.MaxMs, 500.0);
    QCOMPARE(t.Count(), std::size_t(11));
    t.Reset();
    QVERIFY(!t.Figures().MaxMs);
}

void TestCommUnits::lineLoad_data() {
    QTest::addColumn<int>("periodMs");
    QTest::addColumn<int>("queries");
    QTest::addColumn<int>("txBytes");
    QTest::addColumn<int>("rxBytes");
    QTest::addColumn<int>("baud");
    QTest::addColumn<double>("rate");
    QTest::addColumn<double>("share");
    QTest::newRow("none yet") << 100 << 1 << 8 << 47 << 19200 << 0.0 << 0.0;
    // 55 characters of 10 bits at 19200 baud every 100 ms: 28.6 ms of 100.
    QTest::newRow("19200") << 100 << 11 << 8 << 47 << 19200 << 10.0 << 550.0 / 19200 / 0.1;
    QTest::newRow("57600 busy") << 20 << 65 << 8 << 47 << 57600 << 50.0 << 550.0 / 57600 / 0.02;
}

void TestCommUnits::lineLoad() {
    QFETCH(int, periodMs);
    QFETCH(int, queries);
    QFETCH(int, txBytes);
    QFETCH(int, rxBytes);
    QFETCH(int, baud);
    QFETCH(double, rate);
    QFETCH(double, share);
    TLineLoad load(64);
    for (int i = 0; i < queries; ++i) {
        load.QuerySent(std::int64_t(i) * periodMs * 1000, txBytes, 10, baud);
        load.AnswerBytes(rxBytes);
    }
    QVERIFY(qAbs(load.QueriesPerSecond() - rate) < 1e-9);
    QVERIFY2(qAbs(load.LineShare() - share) < 1e-9, qPrintable(QString::number(load.LineShare())));
}

void TestCommUnits::describe_data() {
    QTest::addColumn<QString>("request");  // hex, without CRC
    QTest::addColumn<QString>("received"); // hex as received ("" = nothing)
    QTest::addColumn<QString>("text");     // empty received: the request's text
    QTest::newRow("read request") << "01 03 14 00 00 15" << QString()
                                  << "addr 1, fn 03 read registers, reg 0x1400, count 21, "
                                     "CRC good";
    QTest::newRow("write register") << "05 06 11 0B 01 F4" << QString()
                                    << "addr 5, fn 06 write register, reg 0x110B = 500, "
                                       "CRC good";
    QTest::newRow("broadcast")
        << "00 06 11 00 00 07" << QString()
        << "addr 0, fn 06 write register, reg 0x1100 = 7, broadcast, CRC good";
    QTest::newRow("values") << "01 03 14 00 00 02"
                            << "01 03 04 09 06 00 32"
                            << "addr 1, fn 03 read registers, 2310 50, CRC good";
    QTest::newRow("coils") << "01 01 00 00 00 02"
                           << "01 01 01 02"
                           << "addr 1, fn 01 read coils, 01, CRC good";
    QTest::newRow("exception")
        << "01 03 12 08 00 02"
        << "01 83 02"
        << "addr 1, fn 83 read registers, exception 02 Illegal data address, "
           "CRC good";
    QTest::newRow("write echo") << "01 10 11 00 00 0D"
                                << "01 10 11 00 00 0D"
                                << "addr 1, fn 10 write registers, reg 0x1100, count 13, CRC good";
    QTest::newRow("another address") << "01 03 14 00 00 01"
                                     << "02 03 02 00 07"
                                     << "addr 2, fn 03 read registers, 7, from another address, "
                                        "CRC good";
    QTest::newRow("too short") << "01 03 14 00 00 01"
                               << "!01 03"
                               << "2 bytes, too short for a "
                                  "frame, CRC bad";
}

void TestCommUnits::describe() {
    QFETCH(QString, request);
    QFETCH(QString, received);
    QFETCH(QString, text);
    const std::string req = Hex(qPrintable(request));
    if (received.isNull()) {
        QCOMPARE(DescribeRequest(WithCrc(req)), text);
        return;
    }
    // A leading "!" marks bytes taken as they are, without a CRC added.
    const std::string rx = received.startsWith('!') ? Hex(qPrintable(received.mid(1)))
                                                    : WithCrc(Hex(qPrintable(received)));
    QCOMPARE(DescribeAnswer(rx, req), text);
    // One bit flipped in the check field is told apart.
    if (!received.startsWith('!')) {
        std::string bad = rx;
        bad.back() = static_cast<char>(bad.back() ^ 0x01);
        QVERIFY(DescribeAnswer(bad, req).endsWith(QLatin1String("CRC bad")));
    }
}

void TestCommUnits::foreignAnswer_data() {
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("noise"); // bytes before the frame
    QTest::addColumn<QString>("frame"); // a CRC is added unless it ends in "!"
    QTest::addColumn<int>("address");   // -1: none
    QTest::newRow("own address") << "01 03 14 00 00 01"
                                 << ""
                                 << "01 03 02 00 07" << -1;
    QTest::newRow("address 2") << "01 03 14 00 00 01"
                               << ""
                               << "02 03 02 00 07" << 2;
    QTest::newRow("after noise") << "01 03 14 00 00 01"
                                 << "FF 00"
                                 << "02 03 02 00 07" << 2;
    QTest::newRow("exception") << "01 03 12 08 00 02"
                               << ""
                               << "09 83 02" << 9;
    QTest::newRow("write echo") << "01 06 11 0B 00 10"
                                << ""
                                << "03 06 11 0B 00 10" << 3;
    QTest::newRow("bad crc") << "01 03 14 00 00 01"
                             << ""
                             << "02 03 02 00 07 00 00!" << -1;
    QTest::newRow("cut short") << "01 03 14 00 00 01"
                               << ""
                               << "02 03 02 00!" << -1;
    QTest::newRow("other function") << "01 03 14 00 00 01"
                                    << ""
                                    << "02 04 02 00 07" << -1;
    QTest::newRow("broadcast asks none") << "00 06 11 00 00 07"
                                         << ""
                                         << "02 06 11 00 00 07" << -1;
}

void TestCommUnits::foreignAnswer() {
    QFETCH(QString, request);
    QFETCH(QString, noise);
    QFETCH(QString, frame);
    QFETCH(int, address);
    const bool raw = frame.endsWith('!');
    const std::string bytes = Hex(qPrintable(frame.remove('!')));
    const std::string rx = Hex(qPrintable(noise)) + (raw ? bytes : WithCrc(bytes));
    const auto found = ForeignAnswerAddress(rx, Hex(qPrintable(request)));
    QCOMPARE(found ? int(*found) : -1, address);
}

void TestCommUnits::frameLogRing() {
    TFrameLog log(3);
    for (int i = 0; i < 5; ++i)
        log.Add(TLogEntry{0, i, TLogEntry::Tx, std::string(1, char('a' + i)), {}, {}});
    QCOMPARE(log.Size(), std::size_t(3));
    QCOMPARE(log.At(0).Bytes, std::string("c"));
    QCOMPARE(log.At(2).Bytes, std::string("e"));
    QCOMPARE(log.At(0).Serial, std::uint64_t(3));
    QCOMPARE(log.NextSerial(), std::uint64_t(6));
    log.Clear();
    QCOMPARE(log.Size(), std::size_t(0));
    log.Add(TLogEntry{0, 9, TLogEntry::Tx, "z", {}, {}});
    QCOMPARE(log.At(0).Bytes, std::string("z"));
    QCOMPARE(log.At(0).Serial, std::uint64_t(6));
}

void TestCommUnits::logFiles_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("errorsOnly");
    QTest::addColumn<QStringList>("lines");
    const QString tx = "00:00:01.000  TX  addr 1, fn 03 read registers, reg 0x1400, count 1, "
                       "CRC good  01 03 14 00 00 01 81 FA";
    QTest::newRow("text") << "log.txt" << false
                          << QStringList{tx,
                                         "00:00:01.020  RX  addr 1, fn 03 read registers, 7, CRC "
                                         "good  01 03 02 00 07 F9 86",
                                         tx, "00:00:03.000  RX  no response"};
    QTest::newRow("text errors only")
        << "log.TXT" << true << QStringList{"00:00:03.000  RX  no response"};
    QTest::newRow("csv") << "log.CSV" << true
                         << QStringList{"time,direction,bytes,decoded",
                                        "00:00:03.000,RX,,no response"};
    QTest::newRow("csv quotes") << "log.csv" << false
                                << QStringList{"time,direction,bytes,decoded",
                                               "00:00:01.000,TX,01 03 14 00 00 01 81 FA,\"addr 1, "
                                               "fn 03 read registers, reg 0x1400, count 1, CRC "
                                               "good\"",
                                               "00:00:01.020,RX,01 03 02 00 07 F9 86,\"addr 1, fn "
                                               "03 read registers, 7, CRC good\"",
                                               "00:00:01.000,TX,01 03 14 00 00 01 81 FA,\"addr 1, "
                                               "fn 03 read registers, reg 0x1400, count 1, CRC "
                                               "good\"",
                                               "00:00:03.000,RX,,no response"};
}

void TestCommUnits::logFiles() {
    QFETCH(QString, name);
    QFETCH(bool, errorsOnly);
    QFETCH(QStringList, lines);
    const std::string req = Hex("01 03 14 00 00 01");
    TFrameLog log;
    log.Add({0, 1000, TLogEntry::Tx, WithCrc(req), {}, {}});
    log.Add({0, 1020, TLogEntry::Rx, Answer("01 03 02 00 07"), req, TFrameOutcome::Answered});
    log.Add({0, 1000, TLogEntry::Tx, WithCrc(req), {}, {}});
    log.Add({0, 3000, TLogEntry::Rx, {}, req, TFrameOutcome::NoResponse});
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(WriteLog(buffer, log, errorsOnly, LogFormatFor(name), QTimeZone::utc()));
    QCOMPARE(QString::fromUtf8(buffer.data()), lines.join('\n') + '\n');

    // The same through the file: complete, and the format from the name.
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QString error;
    QVERIFY(SaveLogFile(path, log, errorsOnly, error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count('\n'), lines.size());
}

void TestCommUnits::logWriteFailures() {
    TFrameLog log;
    for (int i = 0; i < 50; ++i)
        log.Add({0, i, TLogEntry::Tx, WithCrc(Read21), {}, {}});
    for (qint64 room : {qint64(0), qint64(10), qint64(1000)}) {
        TFullDevice full(room);
        QVERIFY2(!WriteLog(full, log, false, TLogFormat::Csv), qPrintable(QString::number(room)));
    }
    // A file that cannot be written reports why, and an existing file keeps its content.
    QTemporaryDir dir;
    QString error;
    QVERIFY(!SaveLogFile(dir.filePath("missing/log.txt"), log, false, error));
    QVERIFY(!error.isEmpty());
}

void TestCommUnits::verdict_data() {
    QTest::addColumn<QString>("summary"); // key=value pairs
    QTest::addColumn<TVerdictKind>("kind");
    QTest::addColumn<QString>("says");
    QTest::newRow("too few") << "queries=2 answered=2" << TVerdictKind::Waiting << "Not enough";
    QTest::newRow("healthy") << "queries=50 answered=50 bytes=2000" << TVerdictKind::Healthy
                             << "healthy";
    QTest::newRow("silence") << "queries=50 noresponse=50" << TVerdictKind::NoBytes << "wiring";
    QTest::newRow("garbled") << "queries=50 badframe=50 bytes=900" << TVerdictKind::Garbled
                             << "termination";
    QTest::newRow("garbled parity") << "queries=50 badframe=40 noresponse=10 bytes=900 parity=40"
                                    << TVerdictKind::Garbled << "parity errors";
    QTest::newRow("garbled framing") << "queries=50 badframe=50 bytes=900 framing=3"
                                     << TVerdictKind::Garbled << "framing errors";
    QTest::newRow("one good answer is not garbled")
        << "queries=50 answered=1 badframe=49 bytes=900" << TVerdictKind::Intermittent << "49 of";
    QTest::newRow("another address") << "queries=20 otheraddress=20 foreign=7 bytes=300"
                                     << TVerdictKind::OtherAddress << "address to 7";
    QTest::newRow("another address among answers")
        << "queries=20 answered=15 otheraddress=5 foreign=7 bytes=300" << TVerdictKind::Intermittent
        << "5 of";
    QTest::newRow("exception 02") << "queries=20 answered=19 ex02=1 bytes=300"
                                  << TVerdictKind::Exception02 << "lacks a register";
    QTest::newRow("exception 04") << "queries=20 answered=19 ex04=1 bytes=300"
                                  << TVerdictKind::Exception04 << "refused a value";
    QTest::newRow("exception 03") << "queries=20 answered=19 exother=3 bytes=300"
                                  << TVerdictKind::OtherException
                                  << "exception 03 (Illegal data value)";
    QTest::newRow("interval cured it")
        << "queries=50 answered=40 noresponse=10 bytes=900 interval=100 at0=40/10 at100=12/0"
        << TVerdictKind::IntervalTimeouts << "from 0 ms to 100 ms";
    QTest::newRow("too few at new interval")
        << "queries=50 answered=40 noresponse=10 bytes=900 interval=100 at0=40/10 at100=9/0"
        << TVerdictKind::Intermittent << "10 without answer";
    QTest::newRow("still timing out")
        << "queries=50 answered=48 noresponse=2 bytes=900 interval=100 at0=40/10 at100=12/1"
        << TVerdictKind::Intermittent << "2 of";
    QTest::newRow("cured, window clean")
        << "queries=50 answered=50 bytes=900 interval=200 at0=40/10 at200=60/0"
        << TVerdictKind::IntervalTimeouts << "200 ms or more";
    QTest::newRow("a stray time-out at the new interval")
        << "queries=50 answered=49 noresponse=1 bytes=900 interval=150 at0=60/25 at150=100/2"
        << TVerdictKind::IntervalTimeouts << "from 0 ms to 150 ms";
    QTest::newRow("time-outs go on at the new interval")
        << "queries=50 answered=45 noresponse=5 bytes=900 interval=150 at0=60/25 at150=100/10"
        << TVerdictKind::Intermittent << "5 without answer";
    QTest::newRow("as many time-outs before")
        << "queries=50 answered=49 noresponse=1 bytes=900 interval=150 at0=100/4 at150=100/3"
        << TVerdictKind::Intermittent << "1 without answer";
    QTest::newRow("stray bytes before the answers") << "queries=50 answered=50 bytes=2000 strays=50"
                                                    << TVerdictKind::StrayBytes << "second master";
    QTest::newRow("stray bytes among failures")
        << "queries=50 answered=45 noresponse=5 bytes=2000 strays=20" << TVerdictKind::StrayBytes
        << "noise on the line";
    QTest::newRow("a stray byte or two is chance")
        << "queries=50 answered=50 bytes=2000 strays=2" << TVerdictKind::Healthy << "healthy";
    QTest::newRow("timeouts at a longer interval only")
        << "queries=50 answered=50 bytes=900 interval=100 at500=40/10 at100=60/0"
        << TVerdictKind::Healthy << "healthy";
}

void TestCommUnits::verdict() {
    QFETCH(QString, summary);
    QFETCH(TVerdictKind, kind);
    QFETCH(QString, says);
    TLineSummary s;
    for (const QString& pair : summary.split(' ')) {
        const QString key = pair.section('=', 0, 0);
        const QString value = pair.section('=', 1);
        const int n = value.toInt();
        if (key.startsWith("at")) {
            s.ByInterval[key.mid(2).toInt()] = {value.section('/', 0, 0).toULongLong(),
                                                value.section('/', 1).toULongLong()};
            continue;
        }
        int* field = key == "queries"        ? &s.Queries
                     : key == "answered"     ? &s.Answered
                     : key == "noresponse"   ? &s.NoResponse
                     : key == "badframe"     ? &s.BadFrame
                     : key == "otheraddress" ? &s.OtherAddress
                     : key == "foreign"      ? &s.ForeignAddress
                     : key == "ex02"         ? &s.Exception02
                     : key == "ex04"         ? &s.Exception04
                     : key == "exother"      ? &s.OtherExceptions
                     : key == "parity"       ? &s.ParityErrors
                     : key == "framing"      ? &s.FramingErrors
                     : key == "interval"     ? &s.QueryInterval
                     : key == "strays"       ? &s.StrayBytes
                                             : nullptr;
        if (key == "bytes")
            s.BytesReceived = static_cast<std::uint64_t>(n);
        else if (field)
            *field = n;
        else
            QFAIL(qPrintable("unknown key " + key));
        if (key == "exother")
            s.LastOtherException = 3;
    }
    const TLineVerdict v = JudgeLine(s);
    QCOMPARE(v.Kind, kind);
    QVERIFY2(v.Text.contains(says), qPrintable(v.Text));
}

void TestCommUnits::monitorCountsEachQueryOnce() {
    TStepClock clock;
    TCommMonitor m(clock.Clock());
    RunQuery(m, clock, Read21, Answer("01 03 02 00 07"), 0);
    RunQuery(m, clock, Read21, {}, 1);
    RunQuery(m, clock, Read21, Hex("01 03 02 00 07 00 00"), 2);
    RunQuery(m, clock, Read21, Answer("01 03 04 00 07 00 08"), 3);
    RunQuery(m, clock, Read21, Answer("02 03 02 00 07"), 2);
    RunQuery(m, clock, Hex("01 03 12 08 00 02"), Answer("01 83 02"), 4, 2);
    RunQuery(m, clock, Hex("01 06 11 0B 01 F4"), Answer("01 86 04"), 4, 4);
    RunQuery(m, clock, Hex("01 06 11 0B 01 F4"), Answer("01 86 04"), 4, 4);
    RunQuery(m, clock, Hex("00 06 11 0B 00 10"), {}, 0);
    // A null query sends nothing, and its end counts nothing; a line error is counted by kind.
    m.QueryEnded({0, -1, false, Read21, {}});
    m.LineErrors(LineEvents::ErrParity | LineEvents::ErrFrame);
    m.LineErrors(LineEvents::ErrOverrun);
    const TCommCounters& c = m.Counters();
    QCOMPARE(c.Sent, std::uint64_t(9));
    QCOMPARE(c.Answered, std::uint64_t(1));
    QCOMPARE(c.NoResponse, std::uint64_t(1));
    QCOMPARE(c.BadFrame, std::uint64_t(1));
    QCOMPARE(c.Mismatch, std::uint64_t(1));
    QCOMPARE(c.OtherAddress, std::uint64_t(1));
    QCOMPARE(c.Exceptions, (std::map<int, std::uint64_t>{{2, 1}, {4, 2}}));
    QCOMPARE(c.Broadcasts, std::uint64_t(1));
    QCOMPARE(c.Failed(), std::uint64_t(7));
    QCOMPARE(c.BytesSent, std::uint64_t(9 * 8));
    QCOMPARE(c.BytesReceived, std::uint64_t(7 + 7 + 9 + 7 + 5 + 5 + 5));
    QCOMPARE(c.ParityErrors, std::uint64_t(1));
    QCOMPARE(c.FramingErrors, std::uint64_t(1));
    QCOMPARE(c.OverrunErrors, std::uint64_t(1));
    // Every frame sent and every query's answer is in the log; the broadcast has no answer entry.
    QCOMPARE(m.Log().Size(), std::size_t(9 + 8));
    int errors = 0;
    for (std::size_t i = 0; i < m.Log().Size(); ++i)
        errors += m.Log().At(i).IsError() ? 1 : 0;
    QCOMPARE(errors, 7);
}

void TestCommUnits::monitorResponseTimeFromEndOfRequest() {
    TStepClock clock;
    TCommMonitor m(clock.Clock());
    // 8 characters of 10 bits at 19200 baud take 4.17 ms on the line: an answer complete 20 ms
    // after the send took 15.8 ms from the end of the request.
    RunQuery(m, clock, Read21, Answer("01 03 02 00 07"), 0, -1, 20, 500, 19200);
    QCOMPARE(*m.Timing().LastMs, 15.834);
    // Failed queries add no response time; an exception does (the meter did answer).
    RunQuery(m, clock, Read21, Hex("01 03"), 2, -1, 100);
    QCOMPARE(*m.Timing().MaxMs, 15.834);
    RunQuery(m, clock, Hex("01 03 12 08 00 02"), Answer("01 83 02"), 4, 2, 40);
    QCOMPARE(*m.Timing().MaxMs, 35.834);
    QCOMPARE(*m.Timing().MedianMs, 15.834);
}

void TestCommUnits::monitorStartsAfreshOnNextConnect() {
    TStepClock clock;
    TCommMonitor m(clock.Clock());
    RunQuery(m, clock, Read21, {}, 1);
    m.PollingEnded();
    // After the disconnect the figures stay to be looked at...
    QCOMPARE(m.Counters().NoResponse, std::uint64_t(1));
    // ...until the next connect sends its first frame; the log keeps its history.
    RunQuery(m, clock, Read21, Answer("01 03 02 00 07"), 0);
    QCOMPARE(m.Counters().Sent, std::uint64_t(1));
    QCOMPARE(m.Counters().NoResponse, std::uint64_t(0));
    QCOMPARE(m.Log().Size(), std::size_t(4));
    // A query cut short by the disconnect is not counted when polling ends inside it.
    m.FrameSent(WithCrc(Read21), {19200, 10, 500});
    m.PollingEnded();
    m.QueryEnded({1, -1, false, Read21, {}});
    QCOMPARE(m.Counters().NoResponse, std::uint64_t(0));
}

void TestCommUnits::monitorVerdictFollowsInterval() {
    TStepClock clock;
    TCommMonitor m(clock.Clock());
    for (int i = 0; i < 20; ++i)
        RunQuery(m, clock, Read21, i % 2 ? std::string() : Answer("01 03 02 00 07"), i % 2 ? 1 : 0,
                 -1, 20, 0);
    QCOMPARE(m.Verdict().Kind, TVerdictKind::Intermittent);
    // The first query at the new interval still follows the old pace; its time-out says
    // nothing about the new interval.
    RunQuery(m, clock, Read21, {}, 1, -1, 20, 100);
    for (int i = 0; i < 10; ++i)
        RunQuery(m, clock, Read21, Answer("01 03 02 00 07"), 0, -1, 20, 100);
    QCOMPARE(m.Verdict().Kind, TVerdictKind::IntervalTimeouts);
    QVERIFY(m.Verdict().Text.contains("from 0 ms to 100 ms"));
    // A stray time-out now and then at the new interval does not undo the finding.
    for (int i = 0; i < 120; ++i)
        RunQuery(m, clock, Read21, i % 60 == 30 ? std::string() : Answer("01 03 02 00 07"),
                 i % 60 == 30 ? 1 : 0, -1, 20, 100);
    QCOMPARE(m.Verdict().Kind, TVerdictKind::IntervalTimeouts);
    // Time-outs as often as before at the new interval: no longer cured.
    for (int i = 0; i < 100; ++i)
        RunQuery(m, clock, Read21, i % 2 ? std::string() : Answer("01 03 02 00 07"), i % 2 ? 1 : 0,
                 -1, 20, 100);
    QCOMPARE(m.Verdict().Kind, TVerdictKind::Intermittent);
}

// Bytes ahead of every answer (noise, or another master's traffic) are named; the answer
// found after them is still an answer.
void TestCommUnits::monitorNamesStrayBytes_data() {
    QTest::addColumn<QString>("before"); // hex ahead of each answer
    QTest::addColumn<int>("every");      // on every n-th answer
    QTest::addColumn<TVerdictKind>("kind");
    QTest::newRow("clean line") << "" << 1 << TVerdictKind::Healthy;
    QTest::newRow("noise before every answer") << "FF 00 3A" << 1 << TVerdictKind::StrayBytes;
    QTest::newRow("a byte that looks like the address") << "01" << 1 << TVerdictKind::StrayBytes;
    QTest::newRow("another master's request before")
        << "02 03 00 00 00 01 84 39" << 4 << TVerdictKind::StrayBytes;
    QTest::newRow("once in fifty") << "FF" << 50 << TVerdictKind::Healthy;
}

void TestCommUnits::monitorNamesStrayBytes() {
    QFETCH(QString, before);
    QFETCH(int, every);
    TStepClock clock;
    TCommMonitor m(clock.Clock());
    const std::string noise = Hex(before.toLatin1().constData());
    for (int i = 0; i < 50; ++i)
        RunQuery(m, clock, Read21,
                 (i % every == 0 ? noise : std::string()) + Answer("01 03 02 00 07"), 0);
    QCOMPARE(m.Summary().Answered, 50);
    QTEST(m.Verdict().Kind, "kind");
    QCOMPARE(StrayBytesBefore(noise + Answer("01 03 02 00 07"), Read21), noise.size());
}

// The log view's model follows the ring by rows inserted at the end and removed at the start,
// never by a reset, and shows the entries it says it shows.
void TestCommUnits::logModelFollowsByRows() {
    TFrameLog log(6);
    TLogModel model(log);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    const auto add = [&log](TFrameOutcome outcome) {
        log.Add({0, 0, TLogEntry::Tx, Read21, {}, TFrameOutcome::Answered});
        log.Add({0, 0, TLogEntry::Rx, {}, Read21, outcome});
    };
    const auto serials = [&model] {
        QList<quint64> out;
        for (int row = 0; row < model.rowCount(); ++row)
            out << model.Entry(row).Serial;
        return out;
    };
    add(TFrameOutcome::Answered);
    add(TFrameOutcome::NoResponse);
    model.Update();
    model.Update(); // nothing new: nothing signalled
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(serials(), QList<quint64>({1, 2, 3, 4}));
    // Past the ring's size: the oldest rows go from the start, the new come at the end.
    add(TFrameOutcome::Answered);
    add(TFrameOutcome::BadFrame);
    model.Update();
    QCOMPARE(removed.size(), 1);
    QCOMPARE(removed.last().at(1).toInt(), 0);
    QCOMPARE(removed.last().at(2).toInt(), 1);
    QCOMPARE(serials(), QList<quint64>({3, 4, 5, 6, 7, 8}));
    QCOMPARE(model.data(model.index(5), Qt::DisplayRole).toString(), LogLineText(log.At(5)));
    // Errors only: the failed answers' entries, followed the same way.
    model.SetErrorsOnly(true);
    QCOMPARE(serials(), QList<quint64>({4, 8}));
    const qsizetype resetsBefore = resets.size();
    add(TFrameOutcome::NoResponse);
    add(TFrameOutcome::Answered);
    model.Update();
    QCOMPARE(serials(), QList<quint64>({8, 10}));
    QCOMPARE(resets.size(), resetsBefore);
    QVERIFY(inserted.size() >= 2 && removed.size() >= 2);
}

QTEST_GUILESS_MAIN(TestCommUnits)
#include "tst_communits.moc"
