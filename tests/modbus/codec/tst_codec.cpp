// Query texts, frames, check fields and response extraction of the Modbus codec, against
// vectors worked out independently of this code.
#include "modbus/KrModbusCodec.h"

#include <QtTest>

namespace {

std::string Bytes(const char* hex) {
    return QByteArray::fromHex(hex).toStdString();
}
std::string Text(const QByteArray& text) {
    return text.toStdString();
}
QByteArray Hex(const std::string& bytes) {
    return QByteArray::fromStdString(bytes).toHex(' ').toUpper();
}

// A text of count pairs, for requests too long to write out.
QByteArray LongText(const char* head, int count, const char* fill) {
    QByteArray text(head);
    for (int i = 0; i < count; ++i) {
        text += ',';
        text += fill;
    }
    return text;
}

TKrCodecSettings Settings(int version, int mode = tmRtu, bool endCheck = true,
                          int ascii = amUpperCase) {
    TKrCodecSettings s;
    s.ProtocolVersion = static_cast<TProtocolVersion>(version);
    s.Mode = static_cast<TTransmissionMode>(mode);
    s.EndCheck = endCheck;
    s.AsciiOutput = static_cast<TAsciiMode>(ascii);
    return s;
}

constexpr int Old = pvOldFormat;
constexpr int GB = pvGB19582_2008;

} // namespace

class TestCodec : public QObject {
    Q_OBJECT
private slots:
    void enumOrdinals();
    void crc16_data();
    void crc16();
    void lrc_data();
    void lrc();
    void parse_data();
    void parse();
    void rtuFrame_data();
    void rtuFrame();
    void asciiFrame_data();
    void asciiFrame();
    void nullQuery_data();
    void nullQuery();
    void extractRtu_data();
    void extractRtu();
    void extractAscii_data();
    void extractAscii();
    void extractOddLengths_data();
    void extractOddLengths();
    void echoRoundTrip_data();
    void echoRoundTrip();
};

void TestCodec::enumOrdinals() {
    // The ordinals are stored and exchanged as numbers elsewhere in the program.
    QCOMPARE(int(tmRtu), 0);
    QCOMPARE(int(tmAscii), 1);
    QCOMPARE(int(pvOldFormat), 0);
    QCOMPARE(int(pvGB19582_2008), 1);
    QCOMPARE(int(amLowerCase), 0);
    QCOMPARE(int(amUpperCase), 1);
    const TKrCodecSettings defaults;
    QCOMPARE(defaults.Mode, tmRtu);
    QCOMPARE(defaults.ProtocolVersion, pvGB19582_2008);
    QCOMPARE(defaults.EndCheck, true);
    QCOMPARE(defaults.AsciiOutput, amUpperCase);
}

void TestCodec::crc16_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("crc");
    QTest::newRow("read 10 from 0") << QByteArray::fromHex("01030000000A") << 0xCDC5;
    QTest::newRow("read 4 from 0x1180") << QByteArray::fromHex("010311800004") << 0xDD40;
    QTest::newRow("address 0") << QByteArray::fromHex("000311800004") << 0x0C41;
    QTest::newRow("measurement block") << QByteArray::fromHex("010314000015") << 0xF581;
    QTest::newRow("check string") << QByteArray("123456789") << 0x4B37;
    QTest::newRow("empty") << QByteArray() << 0xFFFF;
    QTest::newRow("exception 01 83 02") << QByteArray::fromHex("018302") << 0xF1C0;
}

void TestCodec::crc16() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, crc);
    QCOMPARE(int(CalcCRC16(reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size())),
             crc);
    QCOMPARE(int(CalcCRC16(bytes.toStdString())), crc);
}

void TestCodec::lrc_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("lrc");
    QTest::newRow("read 4 from 0x1180") << QByteArray::fromHex("010311800004") << 0x67;
    QTest::newRow("read 10 from 0") << QByteArray::fromHex("01030000000A") << 0xF2;
    QTest::newRow("sum wraps to 0") << QByteArray::fromHex("FF01") << 0x00;
    QTest::newRow("empty") << QByteArray() << 0x00;
    QTest::newRow("raw string payload") << QByteArray::fromHex("012900100005") + "HELLO" << 0x4D;
}

void TestCodec::lrc() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, lrc);
    QCOMPARE(int(CalcLRC(reinterpret_cast<const uint8_t*>(bytes.constData()), bytes.size())), lrc);
    QCOMPARE(int(CalcLRC(bytes.toStdString())), lrc);
}

// A row whose request is the text's own pairs, unless given.
static void Parses(const char* name, const QByteArray& text, int version, int requestLength,
                   int responseLength, int exceptionLength, bool broadcast = false,
                   QByteArray request = {}) {
    if (request.isEmpty()) {
        request = text.toUpper();
        request.replace(',', ' ');
    }
    QTest::newRow(name) << text << version << true << request << requestLength << responseLength
                        << exceptionLength << broadcast;
}

static void Fails(const char* name, const QByteArray& text, int version, bool broadcast = false) {
    QTest::newRow(name) << text << version << false << QByteArray() << 1 << 0 << 0 << broadcast;
}

// Parse results in RTU mode: the request and the lengths on the wire.
void TestCodec::parse_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("request"); // hex, upper case, space separated
    QTest::addColumn<int>("requestLength");
    QTest::addColumn<int>("responseLength");
    QTest::addColumn<int>("exceptionLength");
    QTest::addColumn<bool>("broadcast");
    const QByteArray read4 = "01 03 11 80 00 04";

    // Text syntax.
    Parses("commas", "01,03,11,80,00,04", GB, 8, 13, 5);
    Parses("semicolons", "01;03;11;80;00;04", GB, 8, 13, 5, false, read4);
    Parses("spaces", "01 03 11 80 00 04", GB, 8, 13, 5);
    Parses("lower-case digits", "01,03,1a,bc,00,04", GB, 8, 13, 5);
    Parses("trailing single digit ignored", "01,03,11,80,00,04,5", GB, 8, 13, 5, false, read4);
    Fails("single-digit bytes", "1,3,11,80,0,4", GB);
    Fails("non-hex pair", "01,03,1G,80,00,04", GB);
    Fails("one byte", "01", GB);

    // Old format.
    Parses("old read, extra pairs cut", "01,03,11,80,00,04,99,98", Old, 8, 13, 0, false, read4);
    Parses("old address 0 expects an answer", "00,03,11,80,00,04", Old, 8, 13, 0);
    Fails("old read too short", "01,03,11,80,00", Old);
    Fails("old read 0 registers", "01,03,11,80,00,00", Old);
    Parses("old read 125 registers", "01,04,00,00,00,7D", Old, 8, 255, 0);
    Fails("old read 126 registers", "01,03,00,00,00,7E", Old);
    Parses("old coils 2008", "01,01,00,00,07,D8", Old, 8, 256, 0);
    Fails("old inputs 2009", "01,02,00,00,07,D9", Old);
    Parses("old inputs 9", "01,02,00,00,00,09", Old, 8, 7, 0);
    Parses("old coil on", "01,05,00,00,FF,00", Old, 8, 8, 0);
    Fails("old coil odd value", "01,05,00,00,12,34", Old);
    Parses("old 0x85 off", "01,85,00,00,00,00", Old, 8, 8, 0);
    Fails("old 0x85 odd value", "01,85,00,00,00,01", Old);
    Parses("old 0xC5 expects nothing", "01,C5,00,01,FF,00", Old, 8, 0, 0);
    Fails("old 0xC5 odd value", "01,C5,00,01,00,FF", Old);
    Parses("old register write", "01,06,00,01,12,34", Old, 8, 8, 0);
    Parses("old coils write", "01,0F,00,13,00,0A,02,CD,01,77", Old, 11, 8, 0, false,
           "01 0F 00 13 00 0A 02 CD 01");
    Fails("old coils write count mismatch", "01,0F,00,13,00,0A,03,CD,01,00", Old);
    Fails("old coils write short", "01,0F,00,13,00,0A,02,CD", Old);
    Parses("old registers write", "01,10,00,00,00,02,04,00,01,00,02", Old, 13, 8, 0);
    Fails("old registers write count mismatch", "01,10,00,00,00,02,03,00,01,00", Old);
    Fails("old registers write short", "01,10,00,00,00,02,04,00,01,00", Old);
    Fails("old registers write 0", "01,10,00,00,00,00,00", Old);
    Parses("old 0xB0 write", "01,B0,00,00,00,01,02,AB,CD", Old, 11, 8, 0);
    Fails("old 0x10 of 124 registers over limit", LongText("01,10,00,00,00,7C,F8", 248, "00"), Old);
    Parses("old 0x10 of 123 registers", LongText("01,10,00,00,00,7B,F6", 246, "00"), Old, 255, 8,
           0);
    Parses("old file read, two records", "01,14,0E,06,00,01,00,02,00,03,06,00,01,00,05,00,02", Old,
           19, 19, 0);
    Fails("old file read, byte count not 7n", "01,14,08,06,00,01,00,02,00,03,00", Old);
    Fails("old file read, empty record", "01,14,07,06,00,01,00,02,00,00", Old);
    Parses("old file read, 124 words", "01,14,07,06,00,01,00,02,00,7C", Old, 12, 255, 0);
    Fails("old file read, 126 words over limit", "01,14,07,06,00,01,00,02,00,7E", Old);
    Fails("old file read, short", "01,14,0E,06,00,01,00,02,00,03", Old);
    Parses("old file write", "01,15,0D,06,00,01,00,02,00,03,11,22,33,44,55,66", Old, 18, 18, 0);
    Fails("old file write, remainder of 2", "01,15,0D,06,00,01,00,02,00,02,11,22,33,44,55,66", Old);
    Fails("old file write, record overruns",
          "01,15,0D,06,00,01,00,02,00,04,11,22,33,44,55,66,77,88", Old);
    Fails("old file write, empty record", "01,15,07,06,00,01,00,02,00,00", Old);
    Fails("old file write, byte count 6", "01,15,06,06,00,01,00,02,00", Old);
    Parses("old string read", "01,28,00,10,00,05", Old, 8, 10, 0);
    Fails("old string read 0", "01,28,00,10,00,00", Old);
    const QByteArray hello = "01 29 00 10 00 05 48 45 4C 4C 4F";
    Parses("old string write", "01,29,00,10,00,05,HELLO", Old, 13, 8, 0, false, hello);
    Parses("old string write, payload cut", "01,29,00,10,00,05,HELLO WORLD", Old, 13, 8, 0, false,
           hello);
    Fails("old string write, payload short", "01,29,00,10,00,05,HELL", Old);
    Parses("old string write, payload is not hex", "01,29,00,10,00,03,,;Z", Old, 11, 8, 0, false,
           "01 29 00 10 00 03 2C 3B 5A");
    Parses("old 0x83 at limit", "01,83,00,00,7F,FC", Old, 8, 65536, 0);
    Fails("old 0x83 over limit", "01,83,00,00,7F,FD", Old);
    Parses("old 0x91", "01,91,02,AA,BB,CC", Old, 7, 4, 0, false, "01 91 02 AA BB");
    Fails("old 0x91 short", "01,91,02,AA", Old);
    Parses("old 0xC3 of 0", "01,C3,00,00,00,00", Old, 8, 10, 0);
    Fails("old 0xC3 over limit", "01,C3,00,00,7F,FC", Old);
    Parses("old 0xC4", "01,C4,00", Old, 4, 7, 0, false, "01 C4");
    Fails("old unknown code", "01,07", Old);
    Fails("old 0x6A unknown", "01,6A,00,00,00,01,02,00,01", Old);

    // GB, addressed.
    Parses("GB read 0 registers", "01,03,11,80,00,00", GB, 8, 5, 5);
    Parses("GB read without limit", "01,04,00,00,01,00", GB, 8, 517, 5);
    Parses("GB coils 9", "01,01,00,00,00,09", GB, 8, 7, 5);
    Parses("GB coil any value", "01,05,00,00,12,34", GB, 8, 8, 5);
    Parses("GB registers write, count unchecked", "01,10,00,00,00,02,03,00,01,00", GB, 12, 8, 5);
    Fails("GB registers write short, never padded", "01,10,00,00,00,02,04,00,01", GB);
    Fails("GB coils write short, never padded", "01,0F,00,13,00,0A,02,CD", GB);
    Parses("GB 0x6A write", "01,6A,00,00,00,01,02,00,01,FF", GB, 11, 8, 5, false,
           "01 6A 00 00 00 01 02 00 01");
    Fails("GB 0x6A short, never padded", "01,6A,00,00,00,01,02,00", GB);
    Parses("GB file read, byte count 8", "01,14,08,06,00,01,00,02,00,03,00", GB, 13, 13, 5);
    Parses("GB file read, empty record", "01,14,07,06,00,01,00,02,00,00", GB, 12, 7, 5);
    Parses("GB file read, no limit", "01,14,07,06,00,01,00,02,01,00", GB, 12, 519, 5);
    Fails("GB file read, byte count 6", "01,14,06,06,00,01,00,02,00", GB);
    // The widest lengths a request can ask for: 36 sub-requests of 65535 words each give a
    // response of 3 + 36 * 131072 bytes, far beyond 16 bits; the old format refuses it.
    QByteArray widest = "01,14,FC";
    for (int i = 0; i < 36; ++i)
        widest += ",06,00,01,00,02,FF,FF";
    Parses("GB file read, widest", widest, GB, 257, 4718597, 5);
    Fails("old file read, widest", widest, Old);
    Fails("GB file read, short", "01,14,0E,06,00,01,00,02,00,03", GB);
    Parses("GB file write", "01,15,0D,06,00,01,00,02,00,03,11,22,33,44,55,66", GB, 18, 18, 5);
    Parses("GB file write, empty record", "01,15,07,06,00,01,00,02,00,00", GB, 12, 12, 5);
    Fails("GB file write, remainder of 6", "01,15,0D,06,00,01,00,02,00,00,11,22,33,44,55,66", GB);
    Parses("GB unknown code, every pair kept", "01,2B,0E,01,00", GB, 7, 5, 5);
    Parses("GB unknown code, two bytes", "01,07", GB, 4, 5, 5);
    Fails("GB has no raw string payload", "01,29,00,10,00,05,HELLO", GB);

    // GB broadcasts.
    Fails("broadcast read refused", "00,03,11,80,00,04", GB, true);
    Parses("broadcast register write", "00,06,00,01,00,02", GB, 8, 0, 0, true);
    Parses("broadcast coil write", "00,05,00,01,FF,00,33", GB, 8, 0, 0, true, "00 05 00 01 FF 00");
    Parses("broadcast coils write", "00,0F,00,13,00,0A,02,CD,01", GB, 11, 0, 0, true);
    Fails("broadcast coils write, count mismatch", "00,0F,00,13,00,0A,01,CD", GB, true);
    Fails("broadcast coils write, 0 coils", "00,0F,00,13,00,00,00", GB, true);
    Fails("broadcast coils write short, never padded", "00,0F,00,13,00,0A,02,CD", GB, true);
    Parses("broadcast registers write", "00,10,00,00,00,02,04,00,01,00,02", GB, 13, 0, 0, true);
    Fails("broadcast registers write, count mismatch", "00,10,00,00,00,02,03,00,01,00", GB, true);
    Fails("broadcast registers write short, never padded", "00,10,00,00,00,02,04,00,01", GB, true);
    Parses("broadcast 0x6A write", "00,6A,00,00,00,01,02,00,01", GB, 11, 0, 0, true);
    Parses("broadcast file write", "00,15,07,06,00,01,00,02,00,00", GB, 12, 0, 0, true);
    Fails("broadcast file write, byte count 6", "00,15,06,06,00,01,00,02,00", GB, true);
    Fails("broadcast file write short, never padded", "00,15,07,06,00,01,00,02", GB, true);
    Fails("broadcast unknown code", "00,07", GB, true);
}

void TestCodec::parse() {
    QFETCH(QByteArray, text);
    QFETCH(int, version);
    QFETCH(bool, ok);
    QFETCH(QByteArray, request);
    QFETCH(int, requestLength);
    QFETCH(int, responseLength);
    QFETCH(int, exceptionLength);
    QFETCH(bool, broadcast);

    TKrQuery query;
    QCOMPARE(ParseQuery(Text(text), Settings(version), query), ok);
    QCOMPARE(Hex(query.Request), request);
    QCOMPARE(query.RequestLength, requestLength);
    QCOMPARE(query.ResponseLength, responseLength);
    QCOMPARE(query.ExceptionLength, exceptionLength);
    QCOMPARE(query.Broadcast, broadcast);

    // The frame on the wire is exactly as long as the parse promised, in both modes.
    const TKrQuery rtu = BuildQueryFrame(Text(text), Settings(version));
    QCOMPARE(int(rtu.QueryFrame.size()), requestLength);
    QCOMPARE(IsNullQuery(rtu.QueryFrame), !ok);
    const TKrQuery ascii = BuildQueryFrame(Text(text), Settings(version, tmAscii));
    QCOMPARE(int(ascii.QueryFrame.size()), ascii.RequestLength);
    QCOMPARE(IsNullQuery(ascii.QueryFrame), !ok);
}

void TestCodec::rtuFrame_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("version");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("read 10 from 0")
        << QByteArray("01,03,00,00,00,0A") << GB << QByteArray("01 03 00 00 00 0A C5 CD");
    QTest::newRow("read 4 from 0x1180")
        << QByteArray("01,03,11,80,00,04") << GB << QByteArray("01 03 11 80 00 04 40 DD");
    QTest::newRow("old format, address 0")
        << QByteArray("00,03,11,80,00,04") << Old << QByteArray("00 03 11 80 00 04 41 0C");
    QTest::newRow("measurement block")
        << QByteArray("01,03,14,00,00,15") << GB << QByteArray("01 03 14 00 00 15 81 F5");
    QTest::newRow("broadcast write")
        << QByteArray("00,06,00,01,00,02") << GB << QByteArray("00 06 00 01 00 02 58 1A");
    QTest::newRow("string write, raw payload")
        << QByteArray("01,29,00,10,00,05,HELLO") << Old
        << QByteArray("01 29 00 10 00 05 48 45 4C 4C 4F 93 E5");
    QTest::newRow("file read") << QByteArray("01,14,0E,06,00,01,00,02,00,03,06,00,01,00,05,00,02")
                               << GB
                               << QByteArray("01 14 0E 06 00 01 00 02 00 03 06 00 01 00 05 00 02 "
                                             "70 F1");
}

void TestCodec::rtuFrame() {
    QFETCH(QByteArray, text);
    QFETCH(int, version);
    QFETCH(QByteArray, frame);
    const TKrQuery query = BuildQueryFrame(Text(text), Settings(version));
    QCOMPARE(Hex(query.QueryFrame), frame);
    QCOMPARE(int(query.QueryFrame.size()), query.RequestLength);
    QCOMPARE(Hex(BuildRtuFrame(query.Request)), frame);
}

void TestCodec::asciiFrame_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("ascii");
    QTest::addColumn<bool>("endCheck");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("responseLength");
    QTest::addColumn<int>("exceptionLength");

    const int upper = amUpperCase;
    const int lower = amLowerCase;
    const QByteArray read4 = "01,03,11,80,00,04";
    const QByteArray read10 = "01,03,00,00,00,0A";
    QTest::newRow("GB upper") << read4 << GB << upper << true << QByteArray(":01031180000467\r\n")
                              << 27 << 9;
    QTest::newRow("GB lower, same LRC")
        << read4 << GB << lower << true << QByteArray(":01031180000467\r\n") << 27 << 9;
    QTest::newRow("GB lower") << QByteArray("01,03,1A,BC,00,04") << GB << lower << true
                              << QByteArray(":01031abc000422\r\n") << 27 << 9;
    QTest::newRow("GB lower, LRC digits too")
        << read10 << GB << lower << true << QByteArray(":01030000000af2\r\n") << 51 << 9;
    QTest::newRow("GB upper, 10 registers")
        << read10 << GB << upper << true << QByteArray(":01030000000AF2\r\n") << 51 << 9;
    QTest::newRow("GB without end check")
        << read10 << GB << upper << false << QByteArray(":01030000000AF2\r\n") << 49 << 3;
    QTest::newRow("GB broadcast") << QByteArray("00,06,00,01,00,02") << GB << upper << true
                                  << QByteArray(":000600010002F7\r\n") << 0 << 0;
    QTest::newRow("old read") << read10 << Old << upper << true << QByteArray(":01030000000AF2\r\n")
                              << 51 << 0;
    QTest::newRow("old read, no end check")
        << read10 << Old << upper << false << QByteArray(":01030000000AF2\r\n") << 49 << 0;
    QTest::newRow("old 0xC5 expects nothing")
        << QByteArray("01,C5,00,01,FF,00") << Old << upper << true
        << QByteArray(":01C50001FF003A\r\n") << 0 << 0;
    // The string of a 0x28 answer comes back as raw characters: 5 instead of 10.
    QTest::newRow("old string read") << QByteArray("01,28,00,10,00,05") << Old << upper << true
                                     << QByteArray(":012800100005C2\r\n") << 16 << 0;
    QTest::newRow("old string read, no end check")
        << QByteArray("01,28,00,10,00,05") << Old << upper << false
        << QByteArray(":012800100005C2\r\n") << 14 << 0;
    QTest::newRow("old string write, raw payload")
        << QByteArray("01,29,00,10,00,05,HELLO") << Old << upper << true
        << QByteArray(":012900100005HELLO4D\r\n") << 17 << 0;
    // The payload is the operator's data: lower-casing it would change what is written and
    // break the LRC, which was taken over the payload as given.
    QTest::newRow("old string write, lower case keeps payload")
        << QByteArray("01,29,00,1A,00,05,HeLLo") << Old << lower << true
        << QByteArray(":0129001a0005HeLLo03\r\n") << 17 << 0;
}

void TestCodec::asciiFrame() {
    QFETCH(QByteArray, text);
    QFETCH(int, version);
    QFETCH(int, ascii);
    QFETCH(bool, endCheck);
    QFETCH(QByteArray, frame);
    QFETCH(int, responseLength);
    QFETCH(int, exceptionLength);
    const TKrQuery query = BuildQueryFrame(Text(text), Settings(version, tmAscii, endCheck, ascii));
    QCOMPARE(QByteArray::fromStdString(query.QueryFrame), frame);
    QCOMPARE(query.RequestLength, int(frame.size()));
    QCOMPARE(query.ResponseLength, responseLength);
    QCOMPARE(query.ExceptionLength, exceptionLength);
    // The LRC in the frame is the one of the request bytes, whatever the letter case.
    const QByteArray lrcDigits = frame.mid(frame.size() - 4, 2);
    QCOMPARE(lrcDigits.toInt(nullptr, 16), int(CalcLRC(query.Request)));
}

void TestCodec::nullQuery_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("mode");
    QTest::newRow("zero byte, RTU") << QByteArray(1, '\0') << GB << int(tmRtu);
    QTest::newRow("zero byte, ASCII") << QByteArray(1, '\0') << GB << int(tmAscii);
    QTest::newRow("zero byte, old") << QByteArray(1, '\0') << Old << int(tmRtu);
    QTest::newRow("empty text") << QByteArray() << GB << int(tmRtu);
    QTest::newRow("zero bytes inside a text") << QByteArray("01,03\0\0\0", 9) << GB << int(tmRtu);
    QTest::newRow("unknown old code, ASCII") << QByteArray("01,07") << Old << int(tmAscii);
}

void TestCodec::nullQuery() {
    QFETCH(QByteArray, text);
    QFETCH(int, version);
    QFETCH(int, mode);
    const TKrQuery query = BuildQueryFrame(Text(text), Settings(version, mode));
    QCOMPARE(query.QueryFrame.size(), size_t(1));
    QCOMPARE(query.QueryFrame[0], '\0');
    QVERIFY(IsNullQuery(query.QueryFrame));
    QCOMPARE(query.RequestLength, 1);
    QCOMPARE(query.ResponseLength, 0);
    QCOMPARE(query.ExceptionLength, 0);
    QVERIFY(query.Request.empty());
    // The null query is one zero byte, neither the empty string nor any other single byte.
    QVERIFY(!IsNullQuery(std::string()));
    QVERIFY(!IsNullQuery(std::string(2, '\0')));
    QVERIFY(!IsNullQuery(std::string("0")));
    QCOMPARE(NullQuery(), std::string(1, '\0'));
}

// Extraction in RTU mode. The response column is hex with its real CRC written out.
void TestCodec::extractRtu_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("version");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("valid");

    const QByteArray answer = "01 03 08 00 01 00 02 00 03 00 04 0D 14";
    const QByteArray data = "01 03 08 00 01 00 02 00 03 00 04";
    const QByteArray read = "01,03,11,80,00,04";
    QTest::newRow("exact") << read << GB << answer << true << data;
    QTest::newRow("exact, old") << read << Old << answer << true << data;
    QTest::newRow("after noise") << read << GB << "FF 00 7E " + answer << true << data;
    QTest::newRow("after noise, old") << read << Old << "FF 00 7E " + answer << true << data;
    QTest::newRow("after noise holding the address")
        << read << GB << "01 05 01 " + answer << true << data;
    QTest::newRow("trailing bytes cut") << read << GB << answer + " 55 66" << true << data;
    QTest::newRow("one byte missing")
        << read << GB << QByteArray("01 03 08 00 01 00 02 00 03 00 04 0D") << false << QByteArray();
    QTest::newRow("noise but buffer not longer than expected")
        << read << Old << QByteArray("FF 01 03 08 00 01 00 02 00 03 00 04 0D") << false
        << QByteArray();
    QTest::newRow("bad CRC") << read << GB << QByteArray("01 03 08 00 01 00 02 00 03 00 04 14 0D")
                             << false << QByteArray();
    QTest::newRow("bad CRC, old") << read << Old
                                  << QByteArray("01 03 08 00 01 00 02 00 03 00 05 0D 14") << false
                                  << QByteArray();
    QTest::newRow("other slave") << read << GB
                                 << QByteArray("02 03 08 00 01 00 02 00 03 00 04 02 50") << false
                                 << QByteArray();
    QTest::newRow("empty buffer") << read << GB << QByteArray() << false << QByteArray();
    QTest::newRow("exception, GB")
        << read << GB << QByteArray("01 83 02 C0 F1") << true << QByteArray("01 83 02");
    QTest::newRow("exception after noise, GB")
        << read << GB << QByteArray("00 00 01 83 02 C0 F1") << true << QByteArray("01 83 02");
    QTest::newRow("exception padded to full length, old")
        << read << Old << QByteArray("01 83 02 C0 F1 00 00 00 00 00 00 00 00") << false
        << QByteArray();
    QTest::newRow("exception, bad CRC")
        << read << GB << QByteArray("01 83 02 C0 F2") << false << QByteArray();
    // A shorter frame with a valid CRC of its own must not pass for the 4-register answer:
    // the caller would read register values beyond its end.
    QTest::newRow("short frame with valid CRC")
        << read << GB << QByteArray("01 03 02 00 0A 38 43") << false << QByteArray();
    QTest::newRow("short frame with valid CRC, old")
        << read << Old << QByteArray("01 03 02 00 0A 38 43") << false << QByteArray();
    QTest::newRow("old format, address 0")
        << QByteArray("00,06,00,01,00,02") << Old << QByteArray("00 06 00 01 00 02 58 1A") << true
        << QByteArray("00 06 00 01 00 02");
    QTest::newRow("0xC4 answer") << QByteArray("01,C4") << Old << QByteArray("01 C4 05 12 34 39 86")
                                 << true << QByteArray("01 C4 05 12 34");
    QTest::newRow("0x91 answer") << QByteArray("01,91,00") << Old << QByteArray("AA 01 91 C1 8C")
                                 << true << QByteArray("01 91");
}

void TestCodec::extractRtu() {
    QFETCH(QByteArray, text);
    QFETCH(int, version);
    QFETCH(QByteArray, response);
    QFETCH(bool, ok);
    QFETCH(QByteArray, valid);
    const TKrCodecSettings settings = Settings(version);
    const TKrQuery query = BuildQueryFrame(Text(text), settings);
    QVERIFY(!IsNullQuery(query.QueryFrame));
    std::string validResponse = "untouched";
    QCOMPARE(ExtractResponse(settings, query, Bytes(response.constData()), validResponse), ok);
    if (ok) {
        QCOMPARE(Hex(validResponse), valid);
    } else {
        QCOMPARE(validResponse, std::string("untouched"));
    }
}

void TestCodec::extractAscii_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("version");
    QTest::addColumn<bool>("endCheck");
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("valid");

    const QByteArray read = "01,03,00,00,00,01";
    const QByteArray data = "01 03 02 00 0A";
    QTest::newRow("exact") << read << GB << true << QByteArray(":010302000AF0\r\n") << true << data;
    QTest::newRow("exact, old") << read << Old << true << QByteArray(":010302000AF0\r\n") << true
                                << data;
    QTest::newRow("lower case") << read << GB << true << QByteArray(":010302000af0\r\n") << true
                                << data;
    QTest::newRow("after noise") << read << GB << true << QByteArray("\x00:x:010302000AF0\r\n", 18)
                                 << true << data;
    QTest::newRow("after noise, trailing bytes")
        << read << GB << true << QByteArray("zz:010302000AF0\r\n:01") << true << data;
    QTest::newRow("bad LRC") << read << GB << true << QByteArray(":010302000AF1\r\n") << false
                             << QByteArray();
    QTest::newRow("LRC not hex") << read << GB << true << QByteArray(":010302000AG0\r\n") << false
                                 << QByteArray();
    QTest::newRow("data not hex") << read << GB << true << QByteArray(":0103020Z0AF0\r\n") << false
                                  << QByteArray();
    QTest::newRow("no CR LF") << read << GB << true << QByteArray(":010302000AF0xx") << false
                              << QByteArray();
    QTest::newRow("CR LF one late")
        << read << GB << true << QByteArray(":010302000AF0x\r\n") << false << QByteArray();
    QTest::newRow("no end check, no CR LF")
        << read << GB << false << QByteArray(":010302000AF0") << true << data;
    QTest::newRow("no end check, anything after")
        << read << GB << false << QByteArray(":010302000AF0xx") << true << data;
    QTest::newRow("no end check, one short")
        << read << GB << false << QByteArray(":010302000AF") << false << QByteArray();
    QTest::newRow("other slave") << read << GB << true << QByteArray(":020302000AEF\r\n") << false
                                 << QByteArray();
    QTest::newRow("exception never found in ASCII")
        << read << GB << true << QByteArray(":0183027A\r\n\r\n\r\n") << false << QByteArray();
    QTest::newRow("exception, no end check")
        << read << GB << false << QByteArray(":0183027A\r\n\r\n") << false << QByteArray();
    QTest::newRow("string read, raw payload")
        << QByteArray("01,28,00,10,00,05") << Old << true << QByteArray(":012805HELLO5E\r\n")
        << true << QByteArray("01 28 05 48 45 4C 4C 4F");
    QTest::newRow("string read, raw payload, no end check")
        << QByteArray("01,28,00,10,00,05") << Old << false << QByteArray("x:012805HELLO5E") << true
        << QByteArray("01 28 05 48 45 4C 4C 4F");
    QTest::newRow("string read, bad LRC")
        << QByteArray("01,28,00,10,00,05") << Old << true << QByteArray(":012805HELLo5E\r\n")
        << false << QByteArray();
}

void TestCodec::extractAscii() {
    QFETCH(QByteArray, text);
    QFETCH(int, version);
    QFETCH(bool, endCheck);
    QFETCH(QByteArray, response);
    QFETCH(bool, ok);
    QFETCH(QByteArray, valid);
    const TKrCodecSettings settings = Settings(version, tmAscii, endCheck);
    const TKrQuery query = BuildQueryFrame(Text(text), settings);
    QVERIFY(!IsNullQuery(query.QueryFrame));
    std::string validResponse = "untouched";
    QCOMPARE(ExtractResponse(settings, query, response.toStdString(), validResponse), ok);
    if (ok) {
        QCOMPARE(Hex(validResponse), valid);
    } else {
        QCOMPARE(validResponse, std::string("untouched"));
    }
}

// Lengths that no parse produces must fail cleanly, never walk off the buffer.
void TestCodec::extractOddLengths_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("responseLength");
    QTest::addColumn<int>("exceptionLength");
    QTest::newRow("RTU, negative exception length") << int(tmRtu) << 13 << -5;
    QTest::newRow("RTU, both negative") << int(tmRtu) << -1 << -1;
    QTest::newRow("RTU, zero response length") << int(tmRtu) << 0 << 5;
    QTest::newRow("RTU, shorter than a frame") << int(tmRtu) << 3 << 3;
    QTest::newRow("ASCII, negative exception length") << int(tmAscii) << 15 << -5;
    QTest::newRow("ASCII, shorter than a frame") << int(tmAscii) << 2 << 0;
}

void TestCodec::extractOddLengths() {
    QFETCH(int, mode);
    QFETCH(int, responseLength);
    QFETCH(int, exceptionLength);
    const TKrCodecSettings settings = Settings(GB, mode);
    const std::string request = Bytes("01 03 00 00 00 01");
    for (const std::string& response : {std::string(), std::string("\x01"), Bytes("AA BB CC"),
                                        std::string(":\r\n"), Bytes("01 03 C0")}) {
        std::string valid;
        QVERIFY(
            !ExtractResponse(settings, request, responseLength, exceptionLength, response, valid));
        QVERIFY(valid.empty());
    }
}

// A meter echoes writes; the frame we send, received back, must extract to the request.
void TestCodec::echoRoundTrip_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("ascii");
    QTest::newRow("GB RTU") << QByteArray("01,06,00,01,00,02") << GB << int(tmRtu)
                            << int(amUpperCase);
    QTest::newRow("old RTU") << QByteArray("F7,05,00,01,FF,00") << Old << int(tmRtu)
                             << int(amUpperCase);
    QTest::newRow("GB ASCII upper")
        << QByteArray("01,06,AB,CD,EF,12") << GB << int(tmAscii) << int(amUpperCase);
    QTest::newRow("GB ASCII lower")
        << QByteArray("01,06,AB,CD,EF,12") << GB << int(tmAscii) << int(amLowerCase);
    QTest::newRow("file write echo")
        << QByteArray("01,15,0D,06,00,01,00,02,00,03,11,22,33,44,55,66") << GB << int(tmRtu)
        << int(amUpperCase);
}

void TestCodec::echoRoundTrip() {
    QFETCH(QByteArray, text);
    QFETCH(int, version);
    QFETCH(int, mode);
    QFETCH(int, ascii);
    const TKrCodecSettings settings = Settings(version, mode, true, ascii);
    const TKrQuery query = BuildQueryFrame(Text(text), settings);
    QCOMPARE(int(query.QueryFrame.size()), query.ResponseLength);
    std::string validResponse;
    QVERIFY(ExtractResponse(settings, query, query.QueryFrame, validResponse));
    QCOMPARE(Hex(validResponse), Hex(query.Request));
}

QTEST_GUILESS_MAIN(TestCodec)
#include "tst_codec.moc"
