// The verdicts that belong to an Ethernet gateway: the framing it speaks, its exceptions for
// the line behind it, answers from the gateway alone, and a gateway slower than the time-out.
#include "comms/GatewayVerdict.h"

#include <QtTest>

Q_DECLARE_METATYPE(TGatewayVerdictKind)

namespace {

// "queries=10 answered=0 ... at500=10/6": the same shorthand as the line's verdict table.
TGatewaySummary Summary(const QString& text) {
    TGatewaySummary s;
    for (const QString& pair : text.split(' ', Qt::SkipEmptyParts)) {
        const QString key = pair.section('=', 0, 0);
        const QString value = pair.section('=', 1);
        if (key == "rtu") {
            s.Framing = TGatewayFraming::RtuOverTcp;
            continue;
        }
        if (key.startsWith("at")) {
            s.ByTimeout[key.mid(2).toInt()] = {value.section('/', 0, 0).toULongLong(),
                                               value.section('/', 1).toULongLong()};
            continue;
        }
        int* field = key == "queries"      ? &s.Queries
                     : key == "answered"   ? &s.Answered
                     : key == "noresponse" ? &s.NoResponse
                     : key == "other"      ? &s.OtherFraming
                     : key == "ex0a"       ? &s.Exception0A
                     : key == "ex0b"       ? &s.Exception0B
                     : key == "gateway"    ? &s.GatewayUnitAnswers
                     : key == "unit"       ? &s.GatewayUnit
                     : key == "timeout"    ? &s.TimeoutMs
                                           : nullptr;
        if (field == nullptr)
            qFatal("unknown key %s", qPrintable(key));
        *field = value.toInt();
    }
    return s;
}

} // namespace

class TestGatewayVerdict : public QObject {
    Q_OBJECT
private slots:
    void verdict_data();
    void verdict();
    void otherFramingCounted_data();
    void otherFramingCounted();
};

void TestGatewayVerdict::verdict_data() {
    QTest::addColumn<QString>("summary");
    QTest::addColumn<TGatewayVerdictKind>("kind");
    QTest::addColumn<QString>("says");
    QTest::newRow("RTU bytes on Modbus TCP, even on the first query")
        << "queries=1 other=1" << TGatewayVerdictKind::ChooseRtuOverTcp
        << "the gateway speaks RTU over TCP: choose it";
    QTest::newRow("MBAP bytes on RTU over TCP")
        << "rtu queries=5 other=5 noresponse=5" << TGatewayVerdictKind::ChooseModbusTcp
        << "the gateway speaks Modbus TCP: choose it";
    QTest::newRow("other framing after good answers is noise, not the setting")
        << "queries=10 answered=9 other=1" << TGatewayVerdictKind::None << "";
    QTest::newRow("exception 0A") << "queries=5 ex0a=5" << TGatewayVerdictKind::NoSerialPath
                                  << "the gateway has no path to the serial line";
    QTest::newRow("exception 0B")
        << "queries=5 ex0b=5" << TGatewayVerdictKind::MeterSilent
        << "the meter behind the gateway did not answer: check its address and the gateway's "
           "serial settings";
    QTest::newRow("0A names the path before 0B names the meter")
        << "queries=6 ex0a=3 ex0b=3" << TGatewayVerdictKind::NoSerialPath
        << "the gateway has no path to the serial line";
    QTest::newRow("too few queries for an exception")
        << "queries=2 ex0b=2" << TGatewayVerdictKind::None << "";
    QTest::newRow("only unit 255 answers")
        << "queries=6 noresponse=6 gateway=2 unit=255" << TGatewayVerdictKind::OnlyGatewayAnswers
        << "Only the gateway itself answers (at unit identifier 255)";
    QTest::newRow("only unit 0 answers")
        << "queries=6 noresponse=6 gateway=1 unit=0" << TGatewayVerdictKind::OnlyGatewayAnswers
        << "(at unit identifier 0)";
    QTest::newRow("the gateway answers and so does the meter")
        << "queries=6 answered=6 gateway=2" << TGatewayVerdictKind::None << "";
    QTest::newRow("time-outs stop when the time-out grows")
        << "queries=20 answered=20 timeout=1000 at300=20/8 at1000=20/0"
        << TGatewayVerdictKind::SlowGateway
        << "Time-outs stopped when the time-out grew from 300 ms to 1000 ms";
    QTest::newRow("time-outs go on at the longer time-out")
        << "queries=20 answered=12 noresponse=8 timeout=1000 at300=20/8 at1000=20/8"
        << TGatewayVerdictKind::None << "";
    QTest::newRow("a shorter time-out that never failed")
        << "queries=20 answered=20 timeout=1000 at300=20/0 at1000=20/0" << TGatewayVerdictKind::None
        << "";
    QTest::newRow("healthy") << "queries=20 answered=20" << TGatewayVerdictKind::None << "";
}

void TestGatewayVerdict::verdict() {
    QFETCH(QString, summary);
    QFETCH(TGatewayVerdictKind, kind);
    QFETCH(QString, says);
    const TGatewayVerdict v = JudgeGateway(Summary(summary));
    QCOMPARE(v.Kind, kind);
    if (says.isEmpty())
        QVERIFY2(v.Text.isEmpty(), qPrintable(v.Text));
    else
        QVERIFY2(v.Text.contains(says), qPrintable(v.Text));
}

void TestGatewayVerdict::otherFramingCounted_data() {
    QTest::addColumn<bool>("rtuOverTcp");
    QTest::addColumn<QString>("bytes");
    QTest::addColumn<bool>("other");
    QTest::newRow("RTU answer on Modbus TCP") << false << "01 03 02 00 01 79 84" << true;
    QTest::newRow("MBAP answer on Modbus TCP")
        << false << "00 01 00 00 00 05 01 03 02 00 01" << false;
    QTest::newRow("MBAP answer on RTU over TCP")
        << true << "00 01 00 00 00 05 01 03 02 00 01" << true;
    QTest::newRow("RTU answer on RTU over TCP") << true << "01 03 02 00 01 79 84" << false;
    QTest::newRow("garbage on either") << true << "FF 00 FF 00 FF 00" << false;
}

void TestGatewayVerdict::otherFramingCounted() {
    QFETCH(bool, rtuOverTcp);
    QFETCH(QString, bytes);
    QFETCH(bool, other);
    TGatewaySummary s;
    s.Framing = rtuOverTcp ? TGatewayFraming::RtuOverTcp : TGatewayFraming::ModbusTcp;
    QCOMPARE(CountOtherFraming(s, QByteArray::fromHex(bytes.toLatin1()).toStdString()), other);
    QCOMPARE(s.OtherFraming, other ? 1 : 0);
}

QTEST_APPLESS_MAIN(TestGatewayVerdict)
#include "tst_gatewayverdict.moc"
