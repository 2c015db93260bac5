// Checking and decoding a response against its request, as a pure function: the whole outcome
// of a query, including what no event shows (the extraction, the no-response flag, values
// decoded for an event nobody handles).
#include "modbus/KrChecksum.h"
#include "modbus/KrResponse.h"
#include "support/PtyPeer.h"

#include <QtTest>

namespace {

std::string Rtu(const char* hex) {
    return WithCrc(Hex(hex));
}

QString List(auto values) {
    QStringList parts;
    for (auto v : values) {
        parts << QString::number(static_cast<int>(v));
    }
    return "[" + parts.join(',') + "]";
}

// Every field of a decoded response that its event carries, as one line.
QString Describe(const TKrDecoded& d) {
    static const char* const names[] = {"none", "F01", "F02", "F03", "F04", "F05", "F06",
                                        "F0F",  "F10", "F14", "F15", "F28", "F29", "F6A",
                                        "F83",  "F85", "F91", "FB0", "FC3", "FC4"};
    QString text = QString("%1 slave=%2 start=%3")
                       .arg(names[static_cast<int>(d.Event)])
                       .arg(d.Slave)
                       .arg(d.StartAddr);
    if (d.Value != 0) {
        text += QString(" value=%1").arg(d.Value);
    }
    if (d.BitCount != 0) {
        text += " bits=" + List(d.Bits());
    }
    if (!d.Words.empty()) {
        text += " words=" + List(d.Words);
    }
    for (const TFileSubResp& f : d.Files) {
        text += QString(" file{%1,%2,%3,%4}")
                    .arg(f.RefType)
                    .arg(f.FileNum)
                    .arg(f.RecNum)
                    .arg(List(f.RecData));
    }
    if (!d.Text.empty()) {
        text += " text=" + QString::fromLatin1(d.Text.data(), qsizetype(d.Text.size()));
    }
    if (d.DevStatus != 0 || d.RTDLength != 0) {
        text += QString(" status=%1 rtd=%2").arg(d.DevStatus).arg(d.RTDLength);
    }
    return text;
}

using K = TKrResponseOutcome::TKind;

} // namespace

Q_DECLARE_METATYPE(TKrResponseOutcome::TKind)

class TestKrResponse : public QObject {
    Q_OBJECT

private slots:
    void evaluate_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<bool>("lineError");
        QTest::addColumn<TKrResponseOutcome::TKind>("kind");
        QTest::addColumn<int>("errorKind");
        QTest::addColumn<int>("exceptionCode");
        QTest::addColumn<bool>("noResponse");
        QTest::addColumn<bool>("extracted");
        QTest::addColumn<QString>("decoded"); // empty unless the kind is Response

        const int gb = pvGB19582_2008, old = pvOldFormat, rtu = tmRtu, ascii = tmAscii;
        auto row = [](const char* name, int version, int mode, const char* text,
                      const std::string& received, bool lineError, K kind, int errorKind, int code,
                      bool noResponse, bool extracted, const char* decoded = "") {
            QTest::newRow(name) << version << mode << QByteArray(text)
                                << QByteArray::fromStdString(received) << lineError << kind
                                << errorKind << code << noResponse << extracted << QString(decoded);
        };

        // Valid responses and their values.
        row("gb F03", gb, rtu, "01,03,14,00,00,02", Rtu("01 03 04 09 0D 08 FB"), false, K::Response,
            0, -1, false, true, "F03 slave=1 start=5120 words=[2317,2299]");
        row("gb F01 bit order", gb, rtu, "01,01,00,00,00,0A", Rtu("01 01 02 05 02"), false,
            K::Response, 0, -1, false, true, "F01 slave=1 start=0 bits=[1,0,1,0,0,0,0,0,0,1]");
        row("gb F05 echo", gb, rtu, "01,05,00,01,FF,00", Rtu("01 05 00 01 FF 00"), false,
            K::Response, 0, -1, false, true, "F05 slave=1 start=1 value=65280");
        row("gb F10 count", gb, rtu, "01,10,11,00,00,02,04,00,01,00,02", Rtu("01 10 11 00 00 02"),
            false, K::Response, 0, -1, false, true, "F10 slave=1 start=4352 value=2");
        row("gb F14 groups from both", gb, rtu, "01,14,07,06,00,01,00,02,00,02",
            Rtu("01 14 06 05 06 00 0A 00 0B"), false, K::Response, 0, -1, false, true,
            "F14 slave=1 start=1798 file{6,1,2,[10,11]}");
        row("gb F15 groups from the request", gb, rtu, "01,15,09,06,00,01,00,02,00,01,12,34",
            Rtu("01 15 09 06 00 01 00 02 00 01 12 34"), false, K::Response, 0, -1, false, true,
            "F15 slave=1 start=2310 file{6,1,2,[4660]}");
        row("gb F6A", gb, rtu, "01,6A,00,00,00,01,02,00,01", Rtu("01 6A 00 00 00 01"), false,
            K::Response, 0, -1, false, true, "F6A slave=1 start=0 value=1");
        row("gb generic code has no event", gb, rtu, "01,2B,0E,01,00", Rtu("01 2B 00"), false,
            K::Response, 0, -1, false, true, "none slave=1 start=3585");
        row("gb ascii F03", gb, ascii, "01,03,14,00,00,01", ":010302002AD0\r\n", false, K::Response,
            0, -1, false, true, "F03 slave=1 start=5120 words=[42]");

        // Nothing awaited.
        row("gb broadcast", gb, rtu, "00,06,00,01,00,02", Rtu("00 06 00 01 00 02"), false,
            K::Ignored, 0, -1, false, false);
        row("gb broadcast, silence", gb, rtu, "00,06,00,01,00,02", "", false, K::Ignored, 0, -1,
            true, false);
        row("gb unusable text", gb, rtu, "1,3,11,80,0,4", "", false, K::Ignored, 0, -1, true,
            false);

        // Errors, and how far the checks got.
        row("gb silence", gb, rtu, "01,03,14,00,00,02", "", false, K::Error, 1, -1, true, false);
        row("gb line error", gb, rtu, "01,03,14,00,00,02", Rtu("01 03 04 00 01 00 02"), true,
            K::Error, 2, -1, false, false);
        row("gb shorter than an exception", gb, rtu, "01,03,14,00,00,02", Hex("01 03 04"), false,
            K::Error, 2, -1, false, false);
        row("gb bad crc", gb, rtu, "01,03,14,00,00,02", Hex("01 03 04 00 01 00 02 00 00"), false,
            K::Error, 2, -1, false, true);
        row("gb wrong byte count", gb, rtu, "01,03,14,00,00,02", Rtu("01 03 05 00 01 00 02"), false,
            K::Error, 3, -1, false, true);
        row("gb write echo differs", gb, rtu, "01,06,11,0D,00,0A", Rtu("01 06 11 0D 00 0B"), false,
            K::Error, 3, -1, false, true);
        row("gb exception", gb, rtu, "01,03,14,00,00,02", Rtu("01 83 02"), false, K::Exception, 4,
            2, false, true);

        // The old format: short is missing, line errors do not count, its own codes.
        row("old F03", old, rtu, "01,03,14,00,00,02", Rtu("01 03 04 00 01 00 02"), true,
            K::Response, 0, -1, false, true, "F03 slave=1 start=5120 words=[1,2]");
        row("old silence", old, rtu, "01,03,14,00,00,02", "", false, K::Error, 1, -1, false, false);
        row("old exception is short", old, rtu, "01,03,14,00,00,02", Rtu("01 83 02"), false,
            K::Error, 1, -1, false, false);
        row("old F6A expects nothing", old, rtu, "01,6A,00,00,00,01,02,00,01",
            Rtu("01 6A 00 00 00 01"), false, K::Ignored, 0, -1, false, false);
        row("old F28", old, rtu, "01,28,00,10,00,05", Rtu("01 28 05 48 45 4C 4C 4F"), false,
            K::Response, 0, -1, false, true, "F28 slave=1 start=16 text=HELLO");
        row("old F83", old, rtu, "01,83,00,10,00,02", Rtu("01 83 00 10 00 04 00 01 00 02"), false,
            K::Response, 0, -1, false, true, "F83 slave=1 start=16 words=[1,2]");
        row("old FC3", old, rtu, "01,C3,00,00,00,02", Rtu("01 C3 00 08 12 34 00 04 00 01 00 02"),
            false, K::Response, 0, -1, false, true,
            "FC3 slave=1 start=0 words=[1,2] status=4660 rtd=4");
        row("old FC4 slave from the response", old, rtu, "01,C4", Rtu("01 C4 07 AB CD"), false,
            K::Response, 0, -1, false, true, "FC4 slave=7 start=0 status=43981 rtd=0");
        row("old FC3 length word", old, rtu, "01,C3,00,00,00,02",
            Rtu("01 C3 00 07 12 34 00 04 00 01 00 02"), false, K::Error, 3, -1, false, true);
    }
    void evaluate() {
        QFETCH(int, version);
        QFETCH(int, mode);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, received);
        QFETCH(bool, lineError);
        QFETCH(TKrResponseOutcome::TKind, kind);
        QFETCH(int, errorKind);
        QFETCH(int, exceptionCode);
        QFETCH(bool, noResponse);
        QFETCH(bool, extracted);
        QFETCH(QString, decoded);

        TKrCodecSettings settings;
        settings.ProtocolVersion = static_cast<TProtocolVersion>(version);
        settings.Mode = static_cast<TTransmissionMode>(mode);
        const TKrQuery query = BuildQueryFrame(text.toStdString(), settings);
        const std::string bytes = received.toStdString();
        const TKrResponseOutcome o =
            EvaluateResponse(settings, {query.Request, query.ResponseLength, query.ExceptionLength,
                                        query.Broadcast, lineError, bytes});
        QCOMPARE(o.Kind, kind);
        QCOMPARE(int(o.ErrorKind), errorKind);
        QCOMPARE(o.ExceptionCode, exceptionCode);
        QCOMPARE(o.NoResponse, noResponse);
        QCOMPARE(o.Extracted, extracted);
        // A frame found is the request's address and function with its data, no check field.
        const bool found =
            kind == K::Response || kind == K::Exception || (kind == K::Error && errorKind == 3);
        QCOMPARE(o.ValidResponse.empty(), !found);
        if (found) {
            QCOMPARE(o.ValidResponse.substr(0, 1), query.Request.substr(0, 1));
        }
        QCOMPARE(kind == K::Response ? Describe(o.Decoded) : QString(), decoded);
    }

    // The decoders read only what is there: a response cut short gives zeros, never foreign
    // memory, whatever its request promised.
    void decodeShortResponse_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QString>("decoded");
        QTest::newRow("words") << QByteArray::fromStdString(Hex("01 03 00 00 00 03"))
                               << QByteArray::fromStdString(Hex("01 03 06 00 05 01"))
                               << "F03 slave=1 start=0 words=[5,256,0]";
        QTest::newRow("bits") << QByteArray::fromStdString(Hex("01 01 00 00 00 0A"))
                              << QByteArray::fromStdString(Hex("01 01 02 FF"))
                              << "F01 slave=1 start=0 bits=[1,1,1,1,1,1,1,1,0,0]";
        QTest::newRow("file groups")
            << QByteArray::fromStdString(Hex("01 14 07 06 00 01 00 02 00 02"))
            << QByteArray::fromStdString(Hex("01 14 06 05 06 00 0A"))
            << "F14 slave=1 start=1798 file{6,1,2,[10,0]}";
    }
    void decodeShortResponse() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, response);
        QFETCH(QString, decoded);
        TKrCodecSettings settings;
        QCOMPARE(Describe(DecodeResponse(settings, request.toStdString(), response.toStdString())),
                 decoded);
    }
};

QTEST_GUILESS_MAIN(TestKrResponse)
#include "tst_krresponse.moc"
