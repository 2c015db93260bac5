// TComm on pseudo-terminal pairs: a real tty driver under the threads.
#include "CommRecorder.h"
#include "platform/PortName.h"
#include "serial/Comm.h"
#include "support/PtyPair.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>

namespace {

// Bytes waiting in the terminal's input queue.
int PendingInput(int fd) {
    int count = -1;
    return ::ioctl(fd, FIONREAD, &count) == 0 ? count : -1;
}

QString OpenError(TComm& comm) {
    try {
        comm.OpenPort();
    } catch (const ECommsError& e) {
        return QString::fromLatin1(e.what());
    }
    return QString();
}

} // namespace

class TCommPtyTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TPtyPair> FPty;
    std::unique_ptr<TComm> FComm;
    TRecorder FRec;

    // Opens the component on the pty and waits until its writer is up.
    bool Open() {
        FComm->SetCommName(FPty->SlaveName());
        if (!OpenError(*FComm).isEmpty()) {
            return false;
        }
        return QTest::qWaitFor([&] { return FRec.Empties == 1; }, 5000);
    }

private slots:
    void init() {
        FPty = std::make_unique<TPtyPair>();
        QVERIFY(FPty->Valid());
        FComm = std::make_unique<TComm>();
        FRec = TRecorder{};
        FRec.Bind(*FComm);
        FComm->SetReadIntervalTimeout(2);
        FComm->SetOutx_XonXoffFlow(false);
        FComm->SetInx_XonXoffFlow(false);
    }
    void cleanup() {
        FComm.reset();
        FPty.reset();
    }

    void openCloseReopen() {
        QVERIFY(Open());
        QVERIFY(FPty->WriteMaster("ping"));
        QTRY_COMPARE(FRec.Received, QByteArray("ping"));
        FComm->ClosePort();
        QVERIFY(!FComm->IsOpen());
        FRec = TRecorder{};
        FRec.Bind(*FComm);
        QVERIFY(Open());
        QVERIFY(FComm->WriteData("pong", 4));
        QCOMPARE(FPty->ReadMaster(4, 3000), std::string("pong"));
        QVERIFY(FPty->WriteMaster(std::string("\0\xff\x80", 3)));
        QTRY_COMPARE(FRec.Received, QByteArray("\0\xff\x80", 3));
    }

    void secondOpenRaisesAndPortWorksOn() {
        QVERIFY(Open());
        QCOMPARE(OpenError(*FComm), QString("This serial port already opened"));
        QVERIFY(FComm->IsOpen());
        QVERIFY(FComm->WriteData("still", 5));
        QCOMPARE(FPty->ReadMaster(5, 3000), std::string("still"));
        QVERIFY(FPty->WriteMaster("here"));
        QTRY_COMPARE(FRec.Received, QByteArray("here"));
    }

    void openFailures_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << "/dev/kt-no-such-port"
                                 << "Error opening serial port";
        QTest::newRow("COM name without device") << "\\\\.\\COM120"
                                                 << "Error opening serial port";
        QTest::newRow("null device") << "/dev/null"
                                     << "File handle is not a comm handle ";
        QTest::newRow("regular file") << "@file"
                                      << "File handle is not a comm handle ";
    }
    void openFailures() {
        QFETCH(QString, name);
        QFETCH(QString, message);
        QTemporaryDir dir;
        if (name == "@file") {
            name = dir.path() + "/file";
            QFile f(name);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        FComm->SetCommName(name.toStdString());
        QCOMPARE(OpenError(*FComm), message);
        QVERIFY(!FComm->IsOpen());
        QVERIFY(!FComm->WriteData("x", 1));
        FComm->ClosePort();
        Deliver(); // no thread was started
        QCOMPARE(FRec.Total(), 0);
    }

    void portHeldElsewhere() {
        QVERIFY(Open());
        TComm other;
        other.SetCommName(FPty->SlaveName());
        QCOMPARE(OpenError(other), QString("Error opening serial port"));
        FComm->ClosePort();
        // Held by another program through the lock.
        const int fd = ::open(FPty->SlaveName().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        try {
            other.OpenPort();
            QFAIL("opened a locked port");
        } catch (const ECommsError& e) {
            QCOMPARE(QString(e.what()), QString("Error opening serial port"));
            QCOMPARE(e.SystemError(), EWOULDBLOCK);
        }
        ::close(fd);
        QCOMPARE(OpenError(other), QString());
        other.ClosePort();
    }

    void longBurstInChunks() {
        FComm->SetReadIntervalTimeout(50);
        QVERIFY(Open());
        std::string burst;
        for (int i = 0; i < 5000; ++i) {
            burst.push_back(char(i * 7 + i / 256));
        }
        QVERIFY(FPty->WriteMaster(burst));
        QTRY_COMPARE(FRec.Received.size(), qsizetype(burst.size()));
        QCOMPARE(FRec.Received, QByteArray::fromStdString(burst));
        QVERIFY(FRec.ChunkSizes.size() >= 3);
        for (int n : FRec.ChunkSizes) {
            QVERIFY(n >= 1 && n <= 2048);
        }
    }

    void twoWritesInOrder() {
        QVERIFY(Open());
        std::string a(1500, 'a'), b(1500, 'b');
        a.back() = '!';
        QVERIFY(FComm->WriteData(a.data(), std::uint16_t(a.size())));
        QVERIFY(FComm->WriteData(b.data(), std::uint16_t(b.size())));
        QCOMPARE(FPty->ReadMaster(3000, 5000), a + b);
        // Idle is reported once both are out (once more if the writer caught up in between).
        QTRY_VERIFY(FRec.Empties >= 2);
        QTRY_VERIFY(FComm->SendIdle());
        // Idle is set before it is reported, so a repeated report would already be posted.
        Deliver();
        QVERIFY(FRec.Empties <= 3);
    }

    void closeWhileWaiting() {
        QVERIFY(Open());
        // An open burst that stays open for longer than the test may run: a reader that missed
        // the close event would keep ClosePort waiting until the test times out.
        FComm->SetReadIntervalTimeout(600000);
        QVERIFY(FPty->WriteMaster("partial"));
        // The reader has taken the bytes from the terminal and holds them.
        QTRY_COMPARE(PendingInput(FPty->Slave()), 0);
        const int before = FRec.Total();
        FComm->ClosePort();
        Deliver();
        QCOMPARE(FRec.Total(), before);
        QVERIFY(FRec.Received.isEmpty());
    }

    void unpluggedAdapter() {
        QVERIFY(Open());
        FPty->CloseMaster();
        QTRY_COMPARE(FRec.Hangups, 1);
        QVERIFY(!FComm->WriteData("x", 1)); // the writer has ended, after what it posted
        Deliver();
        QCOMPARE(FRec.Hangups, 1);
        QVERIFY(FComm->IsOpen());
        FComm->ClosePort();
        QVERIFY(!FComm->IsOpen());
    }

    void comNameThroughPortMap() {
        const QString dir = QString::fromStdString(PortMapDir());
        QVERIFY(QDir().mkpath(dir));
        const QString link = dir + "/COM105";
        QFile::remove(link);
        QVERIFY(QFile::link(QString::fromStdString(FPty->SlaveName()), link));
        FComm->SetCommName("\\\\.\\COM105");
        QCOMPARE(OpenError(*FComm), QString());
        QTRY_COMPARE(FRec.Empties, 1);
        QVERIFY(FComm->WriteData("via map", 7));
        QCOMPARE(FPty->ReadMaster(7, 3000), std::string("via map"));
        FComm->ClosePort();
        QVERIFY(QFile::remove(link));
    }
};

QTEST_GUILESS_MAIN(TCommPtyTest)
#include "tst_commpty.moc"
