// Response validation and event dispatch of the master, one query at a time, without a port.
#include "ModbusProbe.h"
#include "modbus/KrChecksum.h"
#include "support/PtyPeer.h"

#include <QtTest>

namespace {

std::string Rtu(const char* hex) {
    return WithCrc(Hex(hex));
}

std::string Ascii(const std::string& bytes, const std::string& raw = {}) {
    static const char* digits = "0123456789ABCDEF";
    std::string frame = ":";
    for (unsigned char c : bytes) {
        frame += digits[c >> 4];
        frame += digits[c & 15];
    }
    frame += raw;
    const unsigned char lrc = CalcLRC(bytes + raw);
    frame += digits[lrc >> 4];
    frame += digits[lrc & 15];
    return frame + "\r\n";
}

} // namespace

class TestKrModbusDispatch : public QObject {
    Q_OBJECT

private slots:
    void outcome_data();
    void outcome();
    void exceptionEventChoice_data();
    void exceptionEventChoice();
    void lineTimes_data();
    void lineTimes();
    void parityCheck_data();
    void parityCheck();
    void dataBits_data();
    void dataBits();
    void defaults();
    void portNumAndFlow();
    void emptyAnswerRepeatsPrevious();
};

void TestKrModbusDispatch::outcome_data() {
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<uint>("lineError");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("exceptionCode");

    const int gb = pvGB19582_2008, old = pvOldFormat, rtu = tmRtu, ascii = tmAscii;
    auto row = [](const char* name, int version, int mode, const char* text,
                  const std::string& received, uint lineError, QStringList events, int kind,
                  int code = -1) {
        QTest::newRow(name) << version << mode << QByteArray(text)
                            << QByteArray::fromStdString(received) << lineError << events << kind
                            << code;
    };
    const QStringList after{"after"};

    // Both formats: reads, writes and the error kinds.
    row("gb F03", gb, rtu, "01,03,14,00,00,02", Rtu("01 03 04 09 0D 08 FB"), 0,
        {"F03 1 5120 [2317,2299]", "after"}, 0);
    row("gb F03 after noise", gb, rtu, "01,03,14,00,00,02",
        Hex("AA 55") + Rtu("01 03 04 00 01 00 02"), 0, {"F03 1 5120 [1,2]", "after"}, 0);
    row("gb F04", gb, rtu, "0A,04,00,10,00,01", Rtu("0A 04 02 FF FE"), 0,
        {"F04 10 16 [65534]", "after"}, 0);
    row("gb F01 bit order", gb, rtu, "01,01,00,00,00,0A", Rtu("01 01 02 05 02"), 0,
        {"F01 1 0 [1,0,1,0,0,0,0,0,0,1]", "after"}, 0);
    row("gb F02", gb, rtu, "01,02,00,00,00,06", Rtu("01 02 01 21"), 0,
        {"F02 1 0 [1,0,0,0,0,1]", "after"}, 0);
    row("gb F05", gb, rtu, "01,05,00,01,FF,00", Rtu("01 05 00 01 FF 00"), 0,
        {"F05 1 1 65280", "after"}, 0);
    row("gb F06", gb, rtu, "01,06,11,0D,00,0A", Rtu("01 06 11 0D 00 0A"), 0,
        {"F06 1 4365 10", "after"}, 0);
    row("gb F0F", gb, rtu, "01,0F,00,00,00,0A,02,05,02", Rtu("01 0F 00 00 00 0A"), 0,
        {"F0F 1 0 10", "after"}, 0);
    row("gb F10", gb, rtu, "01,10,11,00,00,02,04,00,01,00,02", Rtu("01 10 11 00 00 02"), 0,
        {"F10 1 4352 2", "after"}, 0);
    row("gb F6A", gb, rtu, "01,6A,00,00,00,01,02,00,01", Rtu("01 6A 00 00 00 01"), 0,
        {"F6A 1 0 1", "after"}, 0);
    row("gb F14", gb, rtu, "01,14,07,06,00,01,00,02,00,02", Rtu("01 14 06 05 06 00 0A 00 0B"), 0,
        {"F14 1 {6,1,2,[10,11]}", "after"}, 0);
    row("gb F15", gb, rtu, "01,15,09,06,00,01,00,02,00,01,12,34",
        Rtu("01 15 09 06 00 01 00 02 00 01 12 34"), 0, {"F15 1 {6,1,2,[4660]}", "after"}, 0);
    row("gb generic code", gb, rtu, "01,2B,0E,01,00", Rtu("01 2B 00"), 0, after, 0);
    row("gb no bytes", gb, rtu, "01,03,14,00,00,02", "", 0, {"error 1", "after"}, 1);
    row("gb short", gb, rtu, "01,03,14,00,00,02", Hex("01 03 04"), 0, {"error 2", "after"}, 2);
    row("gb bad crc", gb, rtu, "01,03,14,00,00,02", Hex("01 03 04 00 01 00 02 00 00"), 0,
        {"error 2", "after"}, 2);
    row("gb short frame, valid crc", gb, rtu, "01,03,14,00,00,02", Rtu("01 03 02 00 0A"), 0,
        {"error 2", "after"}, 2);
    row("gb wrong byte count", gb, rtu, "01,03,14,00,00,02", Rtu("01 03 05 00 01 00 02"), 0,
        {"error 3", "after"}, 3);
    row("gb F10 other start", gb, rtu, "01,10,11,00,00,01,02,00,05", Rtu("01 10 11 01 00 01"), 0,
        {"error 3", "after"}, 3);
    row("gb exception", gb, rtu, "01,03,14,00,00,02", Rtu("01 83 02"), 0, {"fex 1 3 2", "after"}, 4,
        2);
    row("gb parity error", gb, rtu, "01,03,14,00,00,02", Rtu("01 03 04 00 01 00 02"), 0x04,
        {"error 2", "after"}, 2);
    row("gb framing error", gb, rtu, "01,03,14,00,00,02", Rtu("01 03 04 00 01 00 02"), 0x08,
        {"error 2", "after"}, 2);
    row("gb overrun", gb, rtu, "01,03,14,00,00,02", Rtu("01 03 04 00 01 00 02"), 0x02,
        {"error 2", "after"}, 2);
    row("gb break is no line error", gb, rtu, "01,03,14,00,00,02", Rtu("01 03 04 00 01 00 02"),
        0x10, {"F03 1 5120 [1,2]", "after"}, 0);
    row("gb broadcast", gb, rtu, "00,06,00,01,00,02", Rtu("00 06 00 01 00 02"), 0, after, 0);
    row("gb null query", gb, rtu, "\0", Rtu("01 03 02 00 01"), 0, after, 0);
    row("gb unusable text", gb, rtu, "1,3,11,80,0,4", "", 0, after, 0);
    row("gb ascii F03", gb, ascii, "01,03,14,00,00,02", Ascii(Hex("01 03 04 00 01 00 02")), 0,
        {"F03 1 5120 [1,2]", "after"}, 0);
    row("gb ascii exception", gb, ascii, "01,03,14,00,00,02", Ascii(Hex("01 83 02")), 0,
        {"error 2", "after"}, 2);
    row("gb ascii none", gb, ascii, "01,03,14,00,00,02", "", 0, {"error 1", "after"}, 1);

    // Old format: short answers count as missing, no exceptions, its own function codes.
    row("old F03", old, rtu, "01,03,14,00,00,02", Rtu("01 03 04 00 01 00 02"), 0,
        {"F03 1 5120 [1,2]", "after"}, 0);
    row("old slave 0 answers", old, rtu, "00,03,14,00,00,01", Rtu("00 03 02 00 07"), 0,
        {"F03 0 5120 [7]", "after"}, 0);
    row("old no bytes", old, rtu, "01,03,14,00,00,02", "", 0, {"error 1", "after"}, 1);
    row("old short", old, rtu, "01,03,14,00,00,02", Hex("01 03 04 00"), 0, {"error 1", "after"}, 1);
    row("old exception is short", old, rtu, "01,03,14,00,00,02", Rtu("01 83 02"), 0,
        {"error 1", "after"}, 1);
    row("old exception padded", old, rtu, "01,03,14,00,00,02", Rtu("01 83 02") + Hex("00 00 00 00"),
        0, {"error 2", "after"}, 2);
    row("old bad crc", old, rtu, "01,03,14,00,00,02", Hex("01 03 04 00 01 00 02 12 34"), 0,
        {"error 2", "after"}, 2);
    row("old wrong byte count", old, rtu, "01,03,14,00,00,02", Rtu("01 03 02 00 01 00 02"), 0,
        {"error 3", "after"}, 3);
    row("old parity error ignored", old, rtu, "01,03,14,00,00,02", Rtu("01 03 04 00 01 00 02"),
        0x04, {"F03 1 5120 [1,2]", "after"}, 0);
    row("old F01", old, rtu, "01,01,00,00,00,0A", Rtu("01 01 02 05 02"), 0,
        {"F01 1 0 [1,0,1,0,0,0,0,0,0,1]", "after"}, 0);
    row("old F28", old, rtu, "01,28,00,10,00,05", Rtu("01 28 05 48 45 4C 4C 4F"), 0,
        {"F28 1 16 HELLO", "after"}, 0);
    row("old F28 count differs", old, rtu, "01,28,00,10,00,05", Rtu("01 28 04 48 45 4C 4C 4F"), 0,
        {"error 3", "after"}, 3);
    row("old F29", old, rtu, "01,29,00,10,00,05,HELLO", Rtu("01 29 00 10 00 05"), 0,
        {"F29 1 16 5", "after"}, 0);
    row("old F83", old, rtu, "01,83,00,10,00,02", Rtu("01 83 00 10 00 04 00 01 00 02"), 0,
        {"F83 1 16 [1,2]", "after"}, 0);
    row("old F83 length word", old, rtu, "01,83,00,10,00,02", Rtu("01 83 00 10 00 05 00 01 00 02"),
        0, {"error 3", "after"}, 3);
    row("old F85", old, rtu, "01,85,00,01,FF,00", Rtu("01 85 00 01 FF 00"), 0,
        {"F85 1 1 65280", "after"}, 0);
    row("old F91", old, rtu, "01,91,01,AA", Rtu("01 91"), 0, {"F91", "after"}, 0);
    row("old FB0", old, rtu, "01,B0,00,01,00,01,02,00,07", Rtu("01 B0 00 01 00 01"), 0,
        {"FB0 1 1 1", "after"}, 0);
    row("old FC3", old, rtu, "01,C3,00,00,00,02", Rtu("01 C3 00 08 12 34 00 04 00 01 00 02"), 0,
        {"FC3 1 4660 4 [1,2]", "after"}, 0);
    row("old FC3 length word", old, rtu, "01,C3,00,00,00,02",
        Rtu("01 C3 00 07 12 34 00 04 00 01 00 02"), 0, {"error 3", "after"}, 3);
    row("old FC4", old, rtu, "01,C4", Rtu("01 C4 07 AB CD"), 0, {"FC4 7 43981", "after"}, 0);
    row("old C5 expects nothing", old, rtu, "01,C5,00,01,FF,00", Rtu("01 C5 00 01 FF 00"), 0, after,
        0);
    row("old ascii F03", old, ascii, "01,03,14,00,00,01", Ascii(Hex("01 03 02 00 2A")), 0,
        {"F03 1 5120 [42]", "after"}, 0);
    row("old ascii F28 raw", old, ascii, "01,28,00,10,00,03", Ascii(Hex("01 28 03"), "abc"), 0,
        {"F28 1 16 abc", "after"}, 0);
    row("old ascii bad lrc", old, ascii, "01,03,14,00,00,01", ":010302002A00\r\n", 0,
        {"error 2", "after"}, 2);
}

void TestKrModbusDispatch::outcome() {
    QFETCH(int, version);
    QFETCH(int, mode);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, received);
    QFETCH(uint, lineError);
    QFETCH(QStringList, events);
    QFETCH(int, kind);
    QFETCH(int, exceptionCode);

    TModbusProbe m;
    m.SetProtocolVersion(static_cast<TProtocolVersion>(version));
    m.SetMode(static_cast<TTransmissionMode>(mode));
    QStringList log;
    RecordEvents(m, log);
    // A text of one zero byte must stay one byte long.
    const std::string queryText =
        text == QByteArray(1, '\0') ? std::string(1, '\0') : text.toStdString();
    m.Run(queryText, received.toStdString(), lineError);
    QCOMPARE(log, events);
    QCOMPARE(int(m.ErrorKind()), kind);
    QCOMPARE(m.ExceptionCode(), exceptionCode);
}

void TestKrModbusDispatch::exceptionEventChoice_data() {
    QTest::addColumn<bool>("bindFEx");
    QTest::addColumn<QStringList>("events");
    QTest::newRow("FEx bound hides the other") << true << QStringList{"fex 1 3 2", "after"};
    QTest::newRow("only the exception event") << false << QStringList{"exception 1 2", "after"};
}

void TestKrModbusDispatch::exceptionEventChoice() {
    QFETCH(bool, bindFEx);
    QFETCH(QStringList, events);
    TModbusProbe m;
    QStringList log;
    RecordEvents(m, log, bindFEx);
    m.Run("01,03,14,00,00,02", Rtu("01 83 02"));
    QCOMPARE(log, events);
    QCOMPARE(int(m.ErrorKind()), 4);
    QCOMPARE(m.ExceptionCode(), 2);
    QVERIFY(!m.NoResponse());

    // The next good query clears the outcome.
    log.clear();
    m.Run("01,03,14,00,00,01", Rtu("01 03 02 00 05"));
    QCOMPARE(int(m.ErrorKind()), 0);
    QCOMPARE(m.ExceptionCode(), -1);
}

void TestKrModbusDispatch::lineTimes_data() {
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("sendTime");
    QTest::addColumn<int>("frameGap");
    const int gb = pvGB19582_2008;
    // An 8-byte request: (8 + 3.5) * 11 * 1000 = 126500 bit-milliseconds.
    QTest::newRow("19200") << 19200 << int(tmRtu) << gb << 7 << 2;
    QTest::newRow("9600") << 9600 << int(tmRtu) << gb << 13 << 4;
    QTest::newRow("gap 2.5 to even") << 15400 << int(tmRtu) << gb << 8 << 2;
    QTest::newRow("gap 3.5 to even, send 11.5") << 11000 << int(tmRtu) << gb << 12 << 4;
    QTest::newRow("send 5.5 to even") << 23000 << int(tmRtu) << gb << 6 << 2;
    QTest::newRow("send 2.5 to even") << 50600 << int(tmRtu) << gb << 2 << 1;
    QTest::newRow("baud 0") << 0 << int(tmRtu) << gb << 0 << 0;
    QTest::newRow("baud negative") << -9600 << int(tmRtu) << gb << 0 << 0;
    QTest::newRow("ascii") << 19200 << int(tmAscii) << gb << 0 << 0;
    QTest::newRow("old format") << 19200 << int(tmRtu) << int(pvOldFormat) << 0 << 0;
}

void TestKrModbusDispatch::lineTimes() {
    QFETCH(int, baud);
    QFETCH(int, mode);
    QFETCH(int, version);
    QFETCH(int, sendTime);
    QFETCH(int, frameGap);
    TModbusProbe m;
    m.SetBaudrate(baud);
    m.SetMode(static_cast<TTransmissionMode>(mode));
    m.SetProtocolVersion(static_cast<TProtocolVersion>(version));
    m.OnQueryData = [](TKrModbus&, std::string& fmt) { fmt = "01,03,11,80,00,04"; };
    m.BuildQuery();
    m.LineTimes();
    QCOMPARE(m.SendTime(), sendTime);
    QCOMPARE(m.FrameGap(), frameGap);
}

void TestKrModbusDispatch::parityCheck_data() {
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("parity");
    QTest::addColumn<bool>("check");
    QTest::newRow("gb none") << int(pvGB19582_2008) << int(TParity::None) << false;
    QTest::newRow("gb even") << int(pvGB19582_2008) << int(TParity::Even) << true;
    QTest::newRow("gb odd") << int(pvGB19582_2008) << int(TParity::Odd) << true;
    QTest::newRow("gb space") << int(pvGB19582_2008) << int(TParity::Space) << true;
    QTest::newRow("old even") << int(pvOldFormat) << int(TParity::Even) << false;
}

void TestKrModbusDispatch::parityCheck() {
    QFETCH(int, version);
    QFETCH(int, parity);
    QFETCH(bool, check);
    // Either order of setting gives the same check.
    TKrModbus a;
    a.SetProtocolVersion(static_cast<TProtocolVersion>(version));
    a.SetParity(static_cast<TParity>(parity));
    QCOMPARE(a.Comm().ParityCheck(), check);
    TKrModbus b;
    b.SetParity(static_cast<TParity>(parity));
    b.SetProtocolVersion(static_cast<TProtocolVersion>(version));
    QCOMPARE(b.Comm().ParityCheck(), check);
    QCOMPARE(int(b.Parity()), parity);
}

void TestKrModbusDispatch::dataBits_data() {
    QTest::addColumn<int>("written");
    QTest::addColumn<int>("read");
    QTest::newRow("5") << 5 << 5;
    QTest::newRow("7") << 7 << 7;
    QTest::newRow("8") << 8 << 8;
    QTest::newRow("9 gives 8") << 9 << 8;
    QTest::newRow("4 gives 8") << 4 << 8;
    QTest::newRow("0 gives 8") << 0 << 8;
}

void TestKrModbusDispatch::dataBits() {
    QFETCH(int, written);
    QFETCH(int, read);
    TKrModbus m;
    m.SetDataBits(5);
    m.SetDataBits(static_cast<uint16_t>(written));
    QCOMPARE(int(m.DataBits()), read);
}

void TestKrModbusDispatch::defaults() {
    TKrModbus m;
    QCOMPARE(m.FrameInterval(), 0);
    QCOMPARE(m.QueryInterval(), 1000);
    QCOMPARE(m.QueryTimeout(), 3000);
    QCOMPARE(m.PreviewTimeout(), 0);
    QCOMPARE(m.IgnoreNullQuery(), false);
    QCOMPARE(m.Mode(), tmRtu);
    QCOMPARE(m.EndCheck(), true);
    QCOMPARE(m.AsciiOutput(), amUpperCase);
    QCOMPARE(m.ProtocolVersion(), pvGB19582_2008);
    QCOMPARE(m.Parity(), TParity::Even);
    QCOMPARE(m.Comm().ParityCheck(), true);
    QCOMPARE(m.RtsCtsFlow(), false);
    QCOMPARE(m.Opened(), false);
    QCOMPARE(m.Running(), false);
    QCOMPARE(m.ErrorKind(), uint8_t(0));
    QCOMPARE(m.ExceptionCode(), -1);
    // Binary frames must pass untouched: no software flow control, short chunk silence.
    QCOMPARE(m.Comm().TxContinueOnXoff(), false);
    QCOMPARE(m.Comm().Inx_XonXoffFlow(), false);
    QCOMPARE(m.Comm().Outx_XonXoffFlow(), false);
    QCOMPARE(m.Comm().ReadIntervalTimeout(), 5U);
    // Nothing to poll before the port is open.
    bool asked = false;
    m.OnQueryData = [&asked](TKrModbus&, std::string&) { asked = true; };
    QVERIFY(!m.Start(true));
    QVERIFY(!m.Running());
    QVERIFY(!asked);
}

void TestKrModbusDispatch::portNumAndFlow() {
    TKrModbus m;
    m.SetPortNum(7);
    QCOMPARE(m.Comm().CommName(), std::string("\\\\.\\COM7"));
    QCOMPARE(int(m.PortNum()), 7);
    m.Comm().SetCommName("/dev/pts/99");
    QCOMPARE(int(m.PortNum()), 0);

    m.Comm().SetRtsControl(TRtsControl::RtsDisable);
    m.SetRtsCtsFlow(true);
    QVERIFY(m.RtsCtsFlow());
    QCOMPARE(m.Comm().RtsControl(), TRtsControl::RtsHandshake);
    QVERIFY(m.Comm().Outx_CtsFlow());
    // Setting it again must not forget the mode to go back to.
    m.SetRtsCtsFlow(true);
    m.SetRtsCtsFlow(false);
    QVERIFY(!m.RtsCtsFlow());
    QCOMPARE(m.Comm().RtsControl(), TRtsControl::RtsDisable);
    QVERIFY(!m.Comm().Outx_CtsFlow());
}

void TestKrModbusDispatch::emptyAnswerRepeatsPrevious() {
    TModbusProbe m;
    QStringList log;
    RecordEvents(m, log);
    m.Run("01,03,14,00,00,01", Rtu("01 03 02 00 05"));
    QCOMPARE(m.QueryFrame(), Rtu("01 03 14 00 00 01"));
    // An empty answer keeps the previous frame and checks the new bytes against its request.
    log.clear();
    m.Run("", Rtu("01 03 02 00 06"));
    QCOMPARE(m.QueryFrame(), Rtu("01 03 14 00 00 01"));
    QCOMPARE(log, (QStringList{"F03 1 5120 [6]", "after"}));
}

QTEST_GUILESS_MAIN(TestKrModbusDispatch)
#include "tst_krmodbus_dispatch.moc"
