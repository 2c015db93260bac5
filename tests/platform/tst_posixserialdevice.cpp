// The POSIX device on pseudo-terminals and on files that are no terminals.
#include "platform/Event.h"
#include "platform/PosixSerialDevice.h"
#include "platform/Termios2.h"
#include "support/PtyPair.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>

Q_DECLARE_METATYPE(TOpenStatus)

class TPosixSerialDeviceTest : public QObject {
    Q_OBJECT

private slots:
    void openKinds_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<TOpenStatus>("status");
        QTest::addColumn<int>("error");
        QTest::newRow("missing") << "/dev/kt-no-such-port" << TOpenStatus::OpenFailed << ENOENT;
        QTest::newRow("null device") << "/dev/null" << TOpenStatus::NotComm << ENOTTY;
        QTest::newRow("regular file") << "@file" << TOpenStatus::NotComm << ENOTTY;
        QTest::newRow("folder") << "@" << TOpenStatus::OpenFailed << EISDIR;
        QTest::newRow("pty") << "@pty" << TOpenStatus::Ok << 0;
    }
    void openKinds() {
        QFETCH(QString, path);
        QFETCH(TOpenStatus, status);
        QFETCH(int, error);
        QTemporaryDir dir;
        TPtyPair pty;
        QVERIFY(pty.Valid());
        QFile file(dir.path() + "/file");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x");
        file.close();
        if (path == "@pty") {
            path = QString::fromStdString(pty.SlaveName());
        } else if (path.startsWith("@")) {
            path = dir.path() + "/" + path.mid(1);
        }
        TPosixSerialDevice device;
        const TOpenResult r = device.Open(path.toStdString());
        QCOMPARE(r.Status, status);
        QCOMPARE(r.Error, error);
    }

    void secondOpenRefused() {
        TPtyPair pty;
        QVERIFY(pty.Valid());
        TPosixSerialDevice first, second;
        QCOMPARE(first.Open(pty.SlaveName()).Status, TOpenStatus::Ok);
        const TOpenResult r = second.Open(pty.SlaveName());
        QCOMPARE(r.Status, TOpenStatus::OpenFailed);
        QVERIFY(r.Error == EWOULDBLOCK || r.Error == EBUSY);
        first.Close();
        QCOMPARE(second.Open(pty.SlaveName()).Status, TOpenStatus::Ok);
    }

    void lockHeldElsewhereRefused() {
        // Another program holding the lock (root ignores TIOCEXCL, not the lock).
        TPtyPair pty;
        QVERIFY(pty.Valid());
        const int other = ::open(pty.SlaveName().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(other >= 0);
        QCOMPARE(::flock(other, LOCK_EX | LOCK_NB), 0);
        TPosixSerialDevice device;
        const TOpenResult r = device.Open(pty.SlaveName());
        QCOMPARE(r.Status, TOpenStatus::OpenFailed);
        QCOMPARE(r.Error, EWOULDBLOCK);
        ::close(other);
        QCOMPARE(device.Open(pty.SlaveName()).Status, TOpenStatus::Ok);
    }

    void settingsAppliedAndRestored() {
        TPtyPair pty;
        QVERIFY(pty.Valid());
        termios cooked{};
        QCOMPARE(tcgetattr(pty.Slave(), &cooked), 0);
        cooked.c_lflag |= ICANON | ECHO;
        cooked.c_iflag |= ICRNL;
        cfsetospeed(&cooked, B2400);
        QCOMPARE(tcsetattr(pty.Slave(), TCSANOW, &cooked), 0);
        QCOMPARE(tcgetattr(pty.Slave(), &cooked), 0);
        {
            TPosixSerialDevice device;
            QCOMPARE(device.Open(pty.SlaveName()).Status, TOpenStatus::Ok);
            TLineSettings s;
            s.BaudRate = 19200;
            QVERIFY(device.ApplyLineSettings(s));
            termios now{};
            QCOMPARE(tcgetattr(pty.Slave(), &now), 0);
            QCOMPARE(cfgetospeed(&now), speed_t(B19200));
            QCOMPARE(now.c_lflag & (ICANON | ECHO), tcflag_t(0));
            QCOMPARE(int(now.c_cc[VMIN]), 0);

            // A rate without a B constant goes through termios2.
            s.BaudRate = 12345;
            QVERIFY(device.ApplyLineSettings(s));
            TTermState state;
            QCOMPARE(ReadTermState(pty.Slave(), state), 0);
            QCOMPARE(state.Speed, 12345u);

            // 1.5 stop bits are refused; the speed with them is still taken.
            s.BaudRate = 4800;
            s.StopBits = TStopBits::_1_5;
            QVERIFY(!device.ApplyLineSettings(s));
            QCOMPARE(ReadTermState(pty.Slave(), state), 0);
            QCOMPARE(state.Speed, 4800u);
            QCOMPARE(state.Cflag & CSTOPB, 0u);
        }
        termios after{};
        QCOMPARE(tcgetattr(pty.Slave(), &after), 0);
        QCOMPARE(after.c_lflag, cooked.c_lflag);
        QCOMPARE(after.c_iflag, cooked.c_iflag);
        QCOMPARE(cfgetospeed(&after), cfgetospeed(&cooked));
    }

    void refusedFieldStillRaw_data() {
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<int>("baudRate");
        QTest::newRow("1.5 stop bits") << int(TStopBits::_1_5) << 19200;
        QTest::newRow("0 bit/s") << int(TStopBits::_1) << 0;
    }
    void refusedFieldStillRaw() {
        QFETCH(int, stopBits);
        QFETCH(int, baudRate);
        TPtyPair pty;
        QVERIFY(pty.Valid());
        // The port as a fresh tty comes: echoing, line editing, CR to LF.
        termios cooked{};
        QCOMPARE(tcgetattr(pty.Slave(), &cooked), 0);
        cooked.c_lflag |= ICANON | ECHO | ECHOCTL | ISIG | IEXTEN;
        cooked.c_iflag |= ICRNL;
        cooked.c_oflag |= OPOST | ONLCR;
        QCOMPARE(tcsetattr(pty.Slave(), TCSANOW, &cooked), 0);

        TPosixSerialDevice device;
        QCOMPARE(device.Open(pty.SlaveName()).Status, TOpenStatus::Ok);
        TLineSettings s;
        s.StopBits = static_cast<TStopBits>(stopBits);
        s.BaudRate = static_cast<std::uint32_t>(baudRate);
        // As the master sets its port: binary frames, no software flow control.
        s.Outx_XonXoffFlow = false;
        s.Inx_XonXoffFlow = false;
        QVERIFY(!device.ApplyLineSettings(s));

        // A meter's answer with a CR and control bytes in it arrives as it was sent.
        const std::string answer("\x01\x03\x02\x00\x11\x0D\x00\x13\x7F", 9);
        QVERIFY(pty.WriteMaster(answer));
        auto stop = TEvent::Create();
        QVERIFY(stop);
        std::string got;
        QElapsedTimer clock;
        clock.start();
        while (got.size() < answer.size() && clock.elapsed() < 2000) {
            if (device.Wait(TWaitFor::Readable, *stop, 50) == TWaitStatus::Ready) {
                char buf[64];
                const TIoResult r = device.Read(buf, sizeof buf);
                got.append(buf, r.Status == TIoStatus::Ok ? r.Count : 0);
            }
        }
        QCOMPARE(QByteArray::fromStdString(got).toHex(' '),
                 QByteArray::fromStdString(answer).toHex(' '));
        // Nothing went back onto the line: the first byte there is the one we write now.
        QCOMPARE(device.Write("Z", 1).Count, std::size_t(1));
        QCOMPARE(QByteArray::fromStdString(pty.ReadMaster(1, 2000)), QByteArray("Z"));
    }

    void readWriteWait() {
        TPtyPair pty;
        QVERIFY(pty.Valid());
        TPosixSerialDevice device;
        QCOMPARE(device.Open(pty.SlaveName()).Status, TOpenStatus::Ok);
        QVERIFY(device.ApplyLineSettings(TLineSettings{}));
        auto stop = TEvent::Create();
        QVERIFY(stop);

        QCOMPARE(device.Wait(TWaitFor::Readable, *stop, 10), TWaitStatus::TimedOut);
        QVERIFY(pty.WriteMaster(std::string("he\0lo", 5)));
        QCOMPARE(device.Wait(TWaitFor::Readable, *stop, 2000), TWaitStatus::Ready);
        char buf[64];
        const TIoResult r = device.Read(buf, sizeof buf);
        QCOMPARE(r.Status, TIoStatus::Ok);
        QCOMPARE(std::string(buf, r.Count), std::string("he\0lo", 5));
        QCOMPARE(device.Read(buf, sizeof buf).Status, TIoStatus::Empty);

        const TIoResult w = device.Write("abc", 3);
        QCOMPARE(w.Status, TIoStatus::Ok);
        QCOMPARE(w.Count, std::size_t(3));
        QCOMPARE(pty.ReadMaster(3, 2000), std::string("abc"));

        stop->Set();
        QCOMPARE(device.Wait(TWaitFor::Readable, *stop, -1), TWaitStatus::Stopped);
        QCOMPARE(device.Wait(TWaitFor::Writable, *stop, -1), TWaitStatus::Stopped);
    }

    void nullsDroppedOnRequest() {
        TPtyPair pty;
        QVERIFY(pty.Valid());
        TPosixSerialDevice device;
        QCOMPARE(device.Open(pty.SlaveName()).Status, TOpenStatus::Ok);
        TLineSettings s;
        s.IgnoreNullChar = true;
        QVERIFY(device.ApplyLineSettings(s));
        auto stop = TEvent::Create();
        QVERIFY(pty.WriteMaster(std::string("\0\0", 2)));
        QCOMPARE(device.Wait(TWaitFor::Readable, *stop, 2000), TWaitStatus::Ready);
        char buf[16];
        // All bytes dropped is "nothing yet", not an empty read that would end the reader.
        QCOMPARE(device.Read(buf, sizeof buf).Status, TIoStatus::WouldBlock);
        QVERIFY(pty.WriteMaster(std::string("a\0b", 3)));
        QCOMPARE(device.Wait(TWaitFor::Readable, *stop, 2000), TWaitStatus::Ready);
        const TIoResult r = device.Read(buf, sizeof buf);
        QCOMPARE(std::string(buf, r.Count), std::string("ab"));
    }

    void vanishedAndInvalid() {
        TPtyPair pty;
        QVERIFY(pty.Valid());
        TPosixSerialDevice device;
        QCOMPARE(device.Open(pty.SlaveName()).Status, TOpenStatus::Ok);
        auto stop = TEvent::Create();
        TLineCounters c;
        QCOMPARE(device.LineCounters(c), TCounterStatus::Unsupported);

        pty.CloseMaster();
        TWaitStatus w = device.Wait(TWaitFor::Readable, *stop, 2000);
        if (w == TWaitStatus::Ready) {
            char buf[16];
            QCOMPARE(device.Read(buf, sizeof buf).Status, TIoStatus::Fatal);
        } else {
            QCOMPARE(w, TWaitStatus::Fatal);
        }
        QCOMPARE(device.Write("x", 1).Status, TIoStatus::Fatal);

        device.Close();
        char buf[4];
        QCOMPARE(device.Read(buf, sizeof buf).Status, TIoStatus::Invalid);
        QCOMPARE(device.Write("x", 1).Status, TIoStatus::Invalid);
        QCOMPARE(device.Wait(TWaitFor::Readable, *stop, 0), TWaitStatus::Invalid);
    }
};

QTEST_GUILESS_MAIN(TPosixSerialDeviceTest)
#include "tst_posixserialdevice.moc"
