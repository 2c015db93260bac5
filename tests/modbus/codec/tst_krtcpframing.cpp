// The framing between the master's RTU frames and a gateway's TCP stream: requests out as MBAP
// frames with rising transaction ids, answers back as RTU frames with a correct CRC, and every
// answer that is not the one asked for (late, from another unit, a broken header) refused.
#include "modbus/KrChecksum.h"
#include "modbus/KrTcpFraming.h"

#include <QtTest>

Q_DECLARE_METATYPE(TKrTcpFraming)

namespace {

std::string Bytes(const QString& hex) {
    return QByteArray::fromHex(hex.toLatin1()).toStdString();
}

QString Hex(const std::string& bytes) {
    return QString::fromLatin1(QByteArray::fromStdString(bytes).toHex(' ').toUpper());
}

// The RTU frame the master expects: the bytes and their CRC, low byte first.
QString WithCrc(const QString& hex) {
    std::string b = Bytes(hex);
    const std::uint16_t crc = CalcCRC16(b);
    b += static_cast<char>(crc & 0xFF);
    b += static_cast<char>(crc >> 8);
    return Hex(b);
}

// Read 10 holding registers from 0 of unit 1, and of unit 7, as the master frames them.
const QString ReadUnit1 = "01 03 00 00 00 0A C5 CD";
const QString ReadUnit7 = "07 03 00 00 00 0A C5 AB";

} // namespace

class TestKrTcpFraming : public QObject {
    Q_OBJECT

private slots:
    void Outgoing_data();
    void Outgoing();
    void Incoming_data();
    void Incoming();
};

void TestKrTcpFraming::Outgoing_data() {
    QTest::addColumn<TKrTcpFraming>("framing");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("sent");

    QTest::newRow("mbap, ids rise, unit = address")
        << TKrTcpFraming::ModbusTcp << QStringList{ReadUnit1, ReadUnit7}
        << QStringList{"00 01 00 00 00 06 01 03 00 00 00 0A",
                       "00 02 00 00 00 06 07 03 00 00 00 0A"};
    QTest::newRow("mbap, broadcast write")
        << TKrTcpFraming::ModbusTcp << QStringList{WithCrc("00 06 00 10 00 01")}
        << QStringList{"00 01 00 00 00 06 00 06 00 10 00 01"};
    // A refused frame takes no id: the next request still gets 1.
    QTest::newRow("mbap, wrong crc refused")
        << TKrTcpFraming::ModbusTcp << QStringList{"01 03 00 00 00 0A C5 CE", ReadUnit1}
        << QStringList{"", "00 01 00 00 00 06 01 03 00 00 00 0A"};
    QTest::newRow("mbap, no pdu refused")
        << TKrTcpFraming::ModbusTcp << QStringList{"01 C5 CD", "01"} << QStringList{"", ""};
    QTest::newRow("rtu over tcp, as it is")
        << TKrTcpFraming::RtuOverTcp << QStringList{ReadUnit1, "01 03 00 00 00 0A C5 CE"}
        << QStringList{ReadUnit1, "01 03 00 00 00 0A C5 CE"};
}

void TestKrTcpFraming::Outgoing() {
    QFETCH(TKrTcpFraming, framing);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, sent);

    TKrTcpFramer framer(framing);
    QStringList out;
    for (const QString& r : requests)
        out << Hex(framer.Outgoing(Bytes(r)));
    QCOMPARE(out, sent);
}

void TestKrTcpFraming::Incoming_data() {
    QTest::addColumn<TKrTcpFraming>("framing");
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QString>("rtu");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("broken");

    // Every row asks unit 7 with transaction 2 (after one request to unit 1).
    const QString answer = "00 02 00 00 00 07 07 03 04 12 34 56 78";
    QTest::newRow("answer whole") << TKrTcpFraming::ModbusTcp << QStringList{answer}
                                  << WithCrc("07 03 04 12 34 56 78") << "" << false;
    QTest::newRow("answer cut in three")
        << TKrTcpFraming::ModbusTcp << QStringList{"00 02 00", "00 00 07 07 03", "04 12 34 56 78"}
        << WithCrc("07 03 04 12 34 56 78") << "" << false;
    QTest::newRow("exception 0B") << TKrTcpFraming::ModbusTcp
                                  << QStringList{"00 02 00 00 00 03 07 83 0B"}
                                  << WithCrc("07 83 0B") << "" << false;
    QTest::newRow("late answer, then the answer, in one chunk")
        << TKrTcpFraming::ModbusTcp
        << QStringList{"00 01 00 00 00 07 01 03 04 00 00 00 00 " + answer}
        << WithCrc("07 03 04 12 34 56 78") << "late answer (transaction 1" << false;
    QTest::newRow("another unit") << TKrTcpFraming::ModbusTcp
                                  << QStringList{"00 02 00 00 00 03 08 83 0B"} << ""
                                  << "from unit 8 to a request to unit 7" << false;
    QTest::newRow("not modbus") << TKrTcpFraming::ModbusTcp
                                << QStringList{"00 02 00 01 00 03 07 83 0B"} << ""
                                << "protocol identifier" << true;
    QTest::newRow("length 1") << TKrTcpFraming::ModbusTcp << QStringList{"00 02 00 00 00 01 07"}
                              << ""
                              << "no room for a function code" << true;
    QTest::newRow("length past any frame")
        << TKrTcpFraming::ModbusTcp << QStringList{"00 02 00 00 01 00 07 03"} << ""
        << "longer than any Modbus frame" << true;
    // More than the decoder holds at once: it must take the rest after giving its frames out.
    QTest::newRow("a flood of answers")
        << TKrTcpFraming::ModbusTcp << QStringList{answer.repeated(40)}
        << WithCrc("07 03 04 12 34 56 78").repeated(40) << "" << false;
    QTest::newRow("rtu over tcp, as it is")
        << TKrTcpFraming::RtuOverTcp << QStringList{"07 03", "04 12 34"} << "07 03 04 12 34"
        << "" << false;
}

void TestKrTcpFraming::Incoming() {
    QFETCH(TKrTcpFraming, framing);
    QFETCH(QStringList, chunks);
    QFETCH(QString, rtu);
    QFETCH(QString, fault);
    QFETCH(bool, broken);

    TKrTcpFramer framer(framing);
    framer.Outgoing(Bytes(ReadUnit1));
    framer.Outgoing(Bytes(ReadUnit7));
    std::string got;
    std::string faults;
    bool wasBroken = false;
    for (const QString& c : chunks) {
        const TKrTcpIncoming in = framer.Incoming(Bytes(c));
        got += in.Rtu;
        faults += in.Fault;
        wasBroken = wasBroken || in.Broken;
    }
    QCOMPARE(Hex(got), Hex(Bytes(rtu)));
    if (fault.isEmpty())
        QCOMPARE(QString::fromStdString(faults), QString());
    else
        QVERIFY2(QString::fromStdString(faults).contains(fault), faults.c_str());
    QCOMPARE(wasBroken, broken);
}

QTEST_GUILESS_MAIN(TestKrTcpFraming)
#include "tst_krtcpframing.moc"
