// The Modbus TCP codec and the framing detector, against frames written out by hand: the
// stream cut anywhere, the headers a broken or hostile peer sends, and a peer that floods.
#include "modbus/FramingDetect.h"
#include "modbus/MbapFrame.h"

#include <QtTest>

Q_DECLARE_METATYPE(TWireFraming)

namespace {

std::string Bytes(const QString& hex) {
    return QByteArray::fromHex(hex.toLatin1()).toStdString();
}

QString Hex(const std::string& bytes) {
    return QString::fromLatin1(QByteArray::fromStdString(bytes).toHex(' ').toUpper());
}

QString Describe(const TMbapResult& r) {
    switch (r.Status) {
    case TMbapStatus::Frame:
    case TMbapStatus::OtherTransaction:
        return QStringLiteral("%1 t%2 u%3 %4")
            .arg(r.Status == TMbapStatus::Frame ? "frame" : "other")
            .arg(r.Frame.TransactionId)
            .arg(r.Frame.UnitId)
            .arg(Hex(r.Frame.Pdu));
    case TMbapStatus::LengthTooShort:
        return "too short";
    case TMbapStatus::LengthTooLong:
        return "too long";
    case TMbapStatus::NotModbus:
        return "not modbus";
    case TMbapStatus::NeedMore:
        break;
    }
    return "more";
}

// Feeds each chunk whole, in pieces of `step` bytes (0: as it is), and lists what comes out;
// a broken stream is listed once and ends the run.
QStringList Drive(TMbapDecoder& decoder, const QStringList& chunks, int step) {
    QStringList out;
    for (const QString& chunk : chunks) {
        const std::string bytes = Bytes(chunk);
        std::string_view left(bytes);
        while (!left.empty()) {
            const std::size_t piece = step > 0 ? std::size_t(step) : left.size();
            left.remove_prefix(decoder.Feed(left.substr(0, std::min(piece, left.size()))));
            for (TMbapResult r = decoder.Next(); r.Status != TMbapStatus::NeedMore;
                 r = decoder.Next()) {
                out << Describe(r);
                if (IsStreamBroken(r.Status))
                    return out;
            }
        }
    }
    if (decoder.Buffered() > 0)
        out << QStringLiteral("held %1").arg(decoder.Buffered());
    return out;
}

} // namespace

class TestMbapFrame : public QObject {
    Q_OBJECT
private slots:
    void encode_data();
    void encode();
    void decode_data();
    void decode();
    void brokenStreamStaysBrokenUntilReset();
    void floodIsBounded();
    void detect_data();
    void detect();
};

void TestMbapFrame::encode_data() {
    QTest::addColumn<int>("transaction");
    QTest::addColumn<int>("unit");
    QTest::addColumn<QString>("pdu");
    QTest::addColumn<QString>("frame");
    QTest::newRow("read 21 registers") << 1 << 1 << "03 14 00 00 15"
                                       << "00 01 00 00 00 06 01 03 14 00 00 15";
    QTest::newRow("high transaction and unit") << 0xABCD << 255 << "04 00 00 00 01"
                                               << "AB CD 00 00 00 06 FF 04 00 00 00 01";
    QTest::newRow("one byte PDU") << 7 << 3 << "11"
                                  << "00 07 00 00 00 02 03 11";
    QTest::newRow("empty PDU") << 1 << 1 << ""
                               << "";
    const QString longest = QString("10 ") + QString("00 ").repeated(252);
    QTest::newRow("longest PDU") << 2 << 1 << longest.trimmed()
                                 << ("00 02 00 00 00 FE 01 " + longest).trimmed().toUpper();
    QTest::newRow("PDU one byte too long") << 2 << 1 << (longest + "00") << "";
}

void TestMbapFrame::encode() {
    QFETCH(int, transaction);
    QFETCH(int, unit);
    QFETCH(QString, pdu);
    QFETCH(QString, frame);
    QCOMPARE(Hex(EncodeMbap(std::uint16_t(transaction), std::uint8_t(unit), Bytes(pdu))), frame);
}

void TestMbapFrame::decode_data() {
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<int>("expect"); // transaction the master waits for, -1: any
    QTest::addColumn<QStringList>("results");
    const QString answer = "00 05 00 00 00 07 01 03 04 08 FC 00 32";
    const QStringList answerOut{"frame t5 u1 03 04 08 FC 00 32"};
    QTest::newRow("whole") << QStringList{answer} << 5 << answerOut;
    QTest::newRow("cut in the header")
        << QStringList{"00 05 00", "00 00 07 01 03 04 08 FC 00 32"} << 5 << answerOut;
    QTest::newRow("cut after the header")
        << QStringList{"00 05 00 00 00 07 01", "03 04 08", "FC 00 32"} << 5 << answerOut;
    QTest::newRow("two frames and the start of a third")
        << QStringList{"00 01 00 00 00 03 11 83 02 00 02 00 00 00 02 11 07 00 03 00"} << -1
        << QStringList{"frame t1 u17 83 02", "frame t2 u17 07", "held 3"};
    QTest::newRow("late answer, then the awaited one")
        << QStringList{"00 04 00 00 00 03 01 83 0B", answer} << 5
        << QStringList{"other t4 u1 83 0B", "frame t5 u1 03 04 08 FC 00 32"};
    QTest::newRow("length 0") << QStringList{"00 01 00 00 00 00 01 03"} << 1
                              << QStringList{"too short"};
    QTest::newRow("length 1, nothing after the unit")
        << QStringList{"00 01 00 00 00 01 01"} << 1 << QStringList{"too short"};
    QTest::newRow("length 255") << QStringList{"00 01 00 00 00 FF"} << 1 << QStringList{"too long"};
    QTest::newRow("length 65535") << QStringList{"00 01 00 00 FF FF 01"} << 1
                                  << QStringList{"too long"};
    QTest::newRow("protocol 1") << QStringList{"00 01 00 01 00 06 01 03 00 00 00 01"} << 1
                                << QStringList{"not modbus"};
    QTest::newRow("a good frame before a bad header")
        << QStringList{"00 01 00 00 00 02 01 07 00 02 00 00 00 00"} << -1
        << QStringList{"frame t1 u1 07", "too short"};
    QTest::newRow("header only, stream ends")
        << QStringList{"00 01 00 00 00 06 01 03"} << 1 << QStringList{"held 8"};
}

void TestMbapFrame::decode() {
    QFETCH(QStringList, chunks);
    QFETCH(int, expect);
    QFETCH(QStringList, results);
    // The same stream whole and trickled one byte at a time must decode alike.
    for (const int step : {0, 1}) {
        TMbapDecoder decoder;
        if (expect >= 0)
            decoder.Expect(std::uint16_t(expect));
        QCOMPARE(Drive(decoder, chunks, step), results);
    }
}

void TestMbapFrame::brokenStreamStaysBrokenUntilReset() {
    TMbapDecoder decoder;
    const std::string bad = Bytes("00 01 00 01 00 06 01 03 00 00 00 01");
    const std::string good = Bytes("00 02 00 00 00 03 01 83 02");
    QCOMPARE(decoder.Feed(bad), bad.size());
    QCOMPARE(decoder.Next().Status, TMbapStatus::NotModbus);
    // Framing is lost: a frame that looks good after it is not to be trusted.
    QCOMPARE(decoder.Feed(good), std::size_t(0));
    QCOMPARE(decoder.Next().Status, TMbapStatus::NotModbus);
    decoder.Reset();
    QCOMPARE(decoder.Feed(good), good.size());
    QCOMPARE(Describe(decoder.Next()), QString("frame t2 u1 83 02"));
}

void TestMbapFrame::floodIsBounded() {
    // A peer that sends a megabyte of frames at once: the decoder takes only what fits and
    // still hands every frame out.
    const std::string frame = Bytes("00 09 00 00 00 07 01 03 04 00 01 00 02");
    std::string flood;
    constexpr int Count = 80000;
    for (int i = 0; i < Count; ++i)
        flood += frame;
    TMbapDecoder decoder;
    std::string_view left(flood);
    int frames = 0;
    std::size_t mostHeld = 0;
    while (!left.empty()) {
        const std::size_t taken = decoder.Feed(left);
        QVERIFY(taken > 0);
        left.remove_prefix(taken);
        mostHeld = std::max(mostHeld, decoder.Buffered());
        for (TMbapResult r = decoder.Next(); r.Status == TMbapStatus::Frame; r = decoder.Next())
            ++frames;
    }
    QCOMPARE(frames, Count);
    QVERIFY(mostHeld <= MaxAduSize);
    QCOMPARE(decoder.Buffered(), std::size_t(0));
}

void TestMbapFrame::detect_data() {
    QTest::addColumn<QString>("bytes");
    QTest::addColumn<TWireFraming>("framing");
    QTest::newRow("RTU read answer") << "01 03 02 00 01 79 84" << TWireFraming::Rtu;
    QTest::newRow("RTU answer with bytes behind it")
        << "01 03 02 00 01 79 84 FF FF" << TWireFraming::Rtu;
    QTest::newRow("RTU exception") << "01 83 02 C0 F1" << TWireFraming::Rtu;
    QTest::newRow("RTU write echo") << "01 06 00 00 00 05 49 C9" << TWireFraming::Rtu;
    QTest::newRow("RTU with a bad CRC") << "01 03 02 00 01 79 85" << TWireFraming::Unknown;
    QTest::newRow("MBAP read answer")
        << "00 01 00 00 00 05 01 03 02 00 01" << TWireFraming::ModbusTcp;
    QTest::newRow("MBAP exception") << "00 01 00 00 00 03 01 83 0B" << TWireFraming::ModbusTcp;
    QTest::newRow("MBAP cut short") << "00 01 00 00 00 05 01 03 02 00" << TWireFraming::Unknown;
    QTest::newRow("MBAP with protocol 1")
        << "00 01 00 01 00 05 01 03 02 00 01" << TWireFraming::Unknown;
    QTest::newRow("too short to tell") << "01 83 02 C0" << TWireFraming::Unknown;
    QTest::newRow("garbage") << "FF 00 FF 00 FF 00 FF 00" << TWireFraming::Unknown;
}

void TestMbapFrame::detect() {
    QFETCH(QString, bytes);
    QFETCH(TWireFraming, framing);
    QCOMPARE(DetectFraming(Bytes(bytes)), framing);
}

QTEST_APPLESS_MAIN(TestMbapFrame)
#include "tst_mbapframe.moc"
