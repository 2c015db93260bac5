// The mapping of line settings onto the kernel's terminal flags, and the
// modem-line requests that go with them.
#include "platform/TermState.h"

#include <QtTest>

#include <termios.h>

Q_DECLARE_METATYPE(TLineSettings)
Q_DECLARE_METATYPE(TModemRequests)

namespace {

// A terminal as a fresh tty comes: cooked, echoing, with hang-up on close.
TTermState Cooked() {
    TTermState t;
    t.Iflag = ICRNL | IXON | IXANY | IMAXBEL | BRKINT;
    t.Oflag = OPOST | ONLCR;
    t.Cflag = CS7 | PARENB | CSTOPB | HUPCL | CREAD;
    t.Lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | IEXTEN;
    t.Cc[VMIN] = 1;
    t.Cc[VTIME] = 5;
    t.Cc[VINTR] = 3;
    t.Speed = 38400;
    return t;
}

TLineSettings Settings(std::function<void(TLineSettings&)> change) {
    TLineSettings s;
    change(s);
    return s;
}

} // namespace

class TTermStateTest : public QObject {
    Q_OBJECT

private slots:
    void framing_data() {
        QTest::addColumn<TLineSettings>("settings");
        QTest::addColumn<uint>("cflagBits"); // CSIZE, PARENB, PARODD, CMSPAR, CSTOPB, CRTSCTS
        QTest::newRow("defaults 8N1") << TLineSettings{} << uint(CS8);
        QTest::newRow("5 bits") << Settings([](auto& s) { s.ByteSize = TByteSize::_5; })
                                << uint(CS5);
        QTest::newRow("6 bits") << Settings([](auto& s) { s.ByteSize = TByteSize::_6; })
                                << uint(CS6);
        QTest::newRow("7 bits") << Settings([](auto& s) { s.ByteSize = TByteSize::_7; })
                                << uint(CS7);
        QTest::newRow("odd") << Settings([](auto& s) { s.Parity = TParity::Odd; })
                             << uint(CS8 | PARENB | PARODD);
        QTest::newRow("even") << Settings([](auto& s) { s.Parity = TParity::Even; })
                              << uint(CS8 | PARENB);
        QTest::newRow("mark") << Settings([](auto& s) { s.Parity = TParity::Mark; })
                              << uint(CS8 | PARENB | PARODD | CMSPAR);
        QTest::newRow("space") << Settings([](auto& s) { s.Parity = TParity::Space; })
                               << uint(CS8 | PARENB | CMSPAR);
        QTest::newRow("2 stop bits")
            << Settings([](auto& s) { s.StopBits = TStopBits::_2; }) << uint(CS8 | CSTOPB);
        QTest::newRow("cts flow") << Settings([](auto& s) { s.Outx_CtsFlow = true; })
                                  << uint(CS8 | CRTSCTS);
        QTest::newRow("rts handshake")
            << Settings([](auto& s) { s.RtsControl = TRtsControl::RtsHandshake; })
            << uint(CS8 | CRTSCTS);
        QTest::newRow("rts toggle is no hardware flow")
            << Settings([](auto& s) { s.RtsControl = TRtsControl::RtsTransmissionAvailable; })
            << uint(CS8);
    }
    void framing() {
        QFETCH(TLineSettings, settings);
        QFETCH(uint, cflagBits);
        TTermState t = Cooked();
        QVERIFY(MapLineSettings(settings, t));
        const uint mask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
        QCOMPARE(t.Cflag & mask, cflagBits);
        // Always raw, local, receiving, and no hang-up when the port is closed.
        QCOMPARE(t.Cflag & (CLOCAL | CREAD | HUPCL), uint(CLOCAL | CREAD));
        QCOMPARE(t.Lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        QCOMPARE(t.Oflag & OPOST, 0u);
        QCOMPARE(t.Iflag & (ICRNL | IXANY | BRKINT | ISTRIP), 0u);
        QCOMPARE(int(t.Cc[VMIN]), 0);
        QCOMPARE(int(t.Cc[VTIME]), 0);
        QCOMPARE(int(t.Cc[VINTR]), 3); // fields the settings do not name keep the driver's value
    }

    void inputFlags_data() {
        QTest::addColumn<TLineSettings>("settings");
        QTest::addColumn<uint>("iflagBits"); // INPCK, PARMRK, IXON, IXOFF
        QTest::newRow("defaults: xon/xoff both ways") << TLineSettings{} << uint(IXON | IXOFF);
        const auto noXon = [](TLineSettings& s) {
            s.Outx_XonXoffFlow = false;
            s.Inx_XonXoffFlow = false;
        };
        QTest::newRow("no flow") << Settings(noXon) << 0u;
        QTest::newRow("out only") << Settings([&](auto& s) {
            noXon(s);
            s.Outx_XonXoffFlow = true;
        }) << uint(IXON);
        QTest::newRow("in only") << Settings([&](auto& s) {
            noXon(s);
            s.Inx_XonXoffFlow = true;
        }) << uint(IXOFF);
        QTest::newRow("parity check") << Settings([&](auto& s) {
            noXon(s);
            s.ParityCheck = true;
        }) << uint(INPCK);
        QTest::newRow("check and replace marks bad bytes") << Settings([&](auto& s) {
            noXon(s);
            s.ParityCheck = true;
            s.ReplaceWhenParityError = true;
        }) << uint(INPCK | PARMRK);
        QTest::newRow("replace without check marks nothing") << Settings([&](auto& s) {
            noXon(s);
            s.ReplaceWhenParityError = true;
        }) << 0u;
    }
    void inputFlags() {
        QFETCH(TLineSettings, settings);
        QFETCH(uint, iflagBits);
        TTermState t = Cooked();
        QVERIFY(MapLineSettings(settings, t));
        QCOMPARE(t.Iflag & (INPCK | PARMRK | IXON | IXOFF | IGNPAR), iflagBits);
    }

    void charsAndSpeed() {
        TLineSettings s;
        s.XonChar = 'Q';
        s.XoffChar = 'S';
        s.BaudRate = 12345;
        TTermState t = Cooked();
        QVERIFY(MapLineSettings(s, t));
        QCOMPARE(int(t.Cc[VSTART]), int('Q'));
        QCOMPARE(int(t.Cc[VSTOP]), int('S'));
        QCOMPARE(t.Speed, 12345u);
    }

    void refused_data() {
        QTest::addColumn<TLineSettings>("settings");
        // The same settings with the refused field at the value the port already has.
        QTest::addColumn<TLineSettings>("taken");
        const auto oneAndAHalf = [](auto& s) {
            s.StopBits = TStopBits::_1_5;
            s.BaudRate = 19200;
            s.Parity = TParity::Even;
        };
        QTest::newRow("1.5 stop bits") << Settings(oneAndAHalf) << Settings([&](auto& s) {
            oneAndAHalf(s);
            s.StopBits = TStopBits::_2; // the cooked port has CSTOPB
        });
        QTest::newRow("0 bit/s") << Settings([](auto& s) { s.BaudRate = 0; })
                                 << Settings([](auto& s) { s.BaudRate = 38400; });
        QTest::newRow("both") << Settings([](auto& s) {
            s.StopBits = TStopBits::_1_5;
            s.BaudRate = 0;
        }) << Settings([](auto& s) {
            s.StopBits = TStopBits::_2;
            s.BaudRate = 38400;
        });
    }
    void refused() {
        QFETCH(TLineSettings, settings);
        QFETCH(TLineSettings, taken);
        TTermState expected = Cooked();
        QVERIFY(MapLineSettings(taken, expected));
        TTermState t = Cooked();
        QVERIFY(!MapLineSettings(settings, t));
        // Raw mode and every other field as if nothing had been refused.
        QCOMPARE(t.Lflag & (ICANON | ECHO | ISIG), 0u);
        QCOMPARE(t.Iflag & ICRNL, 0u);
        QCOMPARE(t.Oflag & OPOST, 0u);
        QVERIFY(t == expected);
    }

    void modemLines_data() {
        QTest::addColumn<TLineSettings>("settings");
        QTest::addColumn<TModemRequests>("expected");
        const auto R = TLineRequest::Raise, L = TLineRequest::Lower, N = TLineRequest::Leave;
        QTest::newRow("defaults raise both") << TLineSettings{} << TModemRequests{R, R, false};
        QTest::newRow("dtr off") << Settings([](auto& s) {
            s.DtrControl = TDtrControl::DtrDisable;
        }) << TModemRequests{L, R, false};
        QTest::newRow("dtr handshake left")
            << Settings([](auto& s) { s.DtrControl = TDtrControl::DtrHandshake; })
            << TModemRequests{N, R, false};
        QTest::newRow("rts off") << Settings([](auto& s) {
            s.RtsControl = TRtsControl::RtsDisable;
        }) << TModemRequests{R, L, false};
        QTest::newRow("rts handshake left to the driver")
            << Settings([](auto& s) { s.RtsControl = TRtsControl::RtsHandshake; })
            << TModemRequests{R, N, false};
        QTest::newRow("rts while sending")
            << Settings([](auto& s) { s.RtsControl = TRtsControl::RtsTransmissionAvailable; })
            << TModemRequests{R, N, true};
    }
    void modemLines() {
        QFETCH(TLineSettings, settings);
        QFETCH(TModemRequests, expected);
        QVERIFY(MapModemLines(settings) == expected);
    }
};

QTEST_GUILESS_MAIN(TTermStateTest)
#include "tst_termstate.moc"
