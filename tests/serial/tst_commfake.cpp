// TComm and its threads against the scripted device: what a pseudo-terminal
// cannot produce (line errors, modem changes, failures, partial writes).
#include "CommRecorder.h"
#include "serial/Comm.h"
#include "support/FakeSerialDevice.h"

#include <QRegularExpression>
#include <QtTest>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

Q_DECLARE_METATYPE(TLineCounters)
Q_DECLARE_METATYPE(TFakeReadStep)

namespace {

TLineCounters Counters(std::function<void(TLineCounters&)> change) {
    TLineCounters c;
    change(c);
    return c;
}

} // namespace

class TCommFakeTest : public QObject {
    Q_OBJECT

    std::shared_ptr<TFakeLine> FLine;
    std::unique_ptr<TComm> FComm;
    TRecorder FRec;

    void OpenFake() {
        FComm->SetDeviceFactory(
            [line = FLine] { return std::make_unique<TFakeSerialDevice>(line); });
        FComm->OpenPort();
        SOON_COMPARE(FRec.Empties, 1); // the writer reports idle once at its start
    }

private slots:
    void init() {
        FLine = std::make_shared<TFakeLine>();
        FComm = std::make_unique<TComm>();
        FRec = TRecorder{};
        FRec.Bind(*FComm);
        FComm->SetReadIntervalTimeout(2);
    }
    void cleanup() {
        FComm.reset();
        FLine.reset();
    }

    void defaults() {
        TComm c;
        QCOMPARE(c.CommName(), std::string("COM2"));
        QCOMPARE(c.BaudRate(), 9600u);
        QCOMPARE(c.ParityCheck(), false);
        QCOMPARE(c.Outx_CtsFlow(), false);
        QCOMPARE(c.Outx_DsrFlow(), false);
        QCOMPARE(c.DtrControl(), TDtrControl::DtrEnable);
        QCOMPARE(c.DsrSensitivity(), false);
        QCOMPARE(c.TxContinueOnXoff(), true);
        QCOMPARE(c.Outx_XonXoffFlow(), true);
        QCOMPARE(c.Inx_XonXoffFlow(), true);
        QCOMPARE(c.ReplaceWhenParityError(), false);
        QCOMPARE(c.IgnoreNullChar(), false);
        QCOMPARE(c.RtsControl(), TRtsControl::RtsEnable);
        QCOMPARE(c.XonLimit(), std::uint16_t(500));
        QCOMPARE(c.XoffLimit(), std::uint16_t(500));
        QCOMPARE(c.ByteSize(), TByteSize::_8);
        QCOMPARE(c.Parity(), TParity::None);
        QCOMPARE(c.StopBits(), TStopBits::_1);
        QCOMPARE(c.XonChar(), char(17));
        QCOMPARE(c.XoffChar(), char(19));
        QCOMPARE(c.ReplacedChar(), char(0));
        QCOMPARE(c.ReadIntervalTimeout(), 100u);
        QCOMPARE(c.ReadTotalTimeoutMultiplier(), 0u);
        QCOMPARE(c.ReadTotalTimeoutConstant(), 0u);
        QCOMPARE(c.WriteTotalTimeoutMultiplier(), 0u);
        QCOMPARE(c.WriteTotalTimeoutConstant(), 0u);
        QVERIFY(!c.IsOpen());
        QVERIFY(c.SendIdle());
        QVERIFY(!c.WriteData("x", 1));
    }

    void openAppliesEverything() {
        FComm->SetBaudRate(19200);
        FComm->SetParity(TParity::Even);
        FComm->SetCommName("\\\\.\\COM3");
        QCOMPARE(FLine->LineSettingsCalls(), 0); // closed: stored only
        OpenFake();
        QVERIFY(FComm->IsOpen());
        QCOMPARE(FLine->OpenedPath(), std::string("/dev/ttyS2"));
        QCOMPARE(FLine->LineSettingsCalls(), 1);
        QCOMPARE(FLine->TimeoutCalls(), 1);
        QCOMPARE(FLine->LastLineSettings().BaudRate, 19200u);
        QCOMPARE(FLine->LastLineSettings().Parity, TParity::Even);
        QCOMPARE(FLine->LastTimeouts().ReadIntervalTimeout, 2u);
        QVERIFY(FLine->PurgeCount(TPurge::Rx) >= 1);
        QVERIFY(FLine->PurgeCount(TPurge::Tx) >= 1);
    }

    void settersCallOnlyOnChange_data() {
        QTest::addColumn<QString>("property");
        QTest::addColumn<bool>("lineGroup"); // false: time-out group
        QTest::newRow("BaudRate") << "BaudRate" << true;
        QTest::newRow("ParityCheck") << "ParityCheck" << true;
        QTest::newRow("Outx_CtsFlow") << "Outx_CtsFlow" << true;
        QTest::newRow("Outx_DsrFlow") << "Outx_DsrFlow" << true;
        QTest::newRow("DtrControl") << "DtrControl" << true;
        QTest::newRow("DsrSensitivity") << "DsrSensitivity" << true;
        QTest::newRow("TxContinueOnXoff") << "TxContinueOnXoff" << true;
        QTest::newRow("Outx_XonXoffFlow") << "Outx_XonXoffFlow" << true;
        QTest::newRow("Inx_XonXoffFlow") << "Inx_XonXoffFlow" << true;
        QTest::newRow("ReplaceWhenParityError") << "ReplaceWhenParityError" << true;
        QTest::newRow("IgnoreNullChar") << "IgnoreNullChar" << true;
        QTest::newRow("RtsControl") << "RtsControl" << true;
        QTest::newRow("XonLimit") << "XonLimit" << true;
        QTest::newRow("XoffLimit") << "XoffLimit" << true;
        QTest::newRow("ByteSize") << "ByteSize" << true;
        QTest::newRow("Parity") << "Parity" << true;
        QTest::newRow("StopBits") << "StopBits" << true;
        QTest::newRow("XonChar") << "XonChar" << true;
        QTest::newRow("XoffChar") << "XoffChar" << true;
        QTest::newRow("ReplacedChar") << "ReplacedChar" << true;
        QTest::newRow("ReadIntervalTimeout") << "ReadIntervalTimeout" << false;
        QTest::newRow("ReadTotalTimeoutMultiplier") << "ReadTotalTimeoutMultiplier" << false;
        QTest::newRow("ReadTotalTimeoutConstant") << "ReadTotalTimeoutConstant" << false;
        QTest::newRow("WriteTotalTimeoutMultiplier") << "WriteTotalTimeoutMultiplier" << false;
        QTest::newRow("WriteTotalTimeoutConstant") << "WriteTotalTimeoutConstant" << false;
    }
    void settersCallOnlyOnChange() {
        QFETCH(QString, property);
        QFETCH(bool, lineGroup);
        // Sets the property to its current value (same) or to another one.
        TComm& c = *FComm;
        const auto set = [&](bool change) {
            const QString p = property;
            if (p == "BaudRate")
                c.SetBaudRate(change ? c.BaudRate() + 1 : c.BaudRate());
            else if (p == "ParityCheck")
                c.SetParityCheck(change != c.ParityCheck());
            else if (p == "Outx_CtsFlow")
                c.SetOutx_CtsFlow(change != c.Outx_CtsFlow());
            else if (p == "Outx_DsrFlow")
                c.SetOutx_DsrFlow(change != c.Outx_DsrFlow());
            else if (p == "DtrControl")
                c.SetDtrControl(change ? TDtrControl::DtrDisable : c.DtrControl());
            else if (p == "DsrSensitivity")
                c.SetDsrSensitivity(change != c.DsrSensitivity());
            else if (p == "TxContinueOnXoff")
                c.SetTxContinueOnXoff(change != c.TxContinueOnXoff());
            else if (p == "Outx_XonXoffFlow")
                c.SetOutx_XonXoffFlow(change != c.Outx_XonXoffFlow());
            else if (p == "Inx_XonXoffFlow")
                c.SetInx_XonXoffFlow(change != c.Inx_XonXoffFlow());
            else if (p == "ReplaceWhenParityError")
                c.SetReplaceWhenParityError(change != c.ReplaceWhenParityError());
            else if (p == "IgnoreNullChar")
                c.SetIgnoreNullChar(change != c.IgnoreNullChar());
            else if (p == "RtsControl")
                c.SetRtsControl(change ? TRtsControl::RtsDisable : c.RtsControl());
            else if (p == "XonLimit")
                c.SetXonLimit(c.XonLimit() + (change ? 1 : 0));
            else if (p == "XoffLimit")
                c.SetXoffLimit(c.XoffLimit() + (change ? 1 : 0));
            else if (p == "ByteSize")
                c.SetByteSize(change ? TByteSize::_7 : c.ByteSize());
            else if (p == "Parity")
                c.SetParity(change ? TParity::Odd : c.Parity());
            else if (p == "StopBits")
                c.SetStopBits(change ? TStopBits::_2 : c.StopBits());
            else if (p == "XonChar")
                c.SetXonChar(char(c.XonChar() + (change ? 1 : 0)));
            else if (p == "XoffChar")
                c.SetXoffChar(char(c.XoffChar() + (change ? 1 : 0)));
            else if (p == "ReplacedChar")
                c.SetReplacedChar(char(c.ReplacedChar() + (change ? 1 : 0)));
            else if (p == "ReadIntervalTimeout")
                c.SetReadIntervalTimeout(c.ReadIntervalTimeout() + (change ? 1 : 0));
            else if (p == "ReadTotalTimeoutMultiplier")
                c.SetReadTotalTimeoutMultiplier(c.ReadTotalTimeoutMultiplier() + (change ? 1 : 0));
            else if (p == "ReadTotalTimeoutConstant")
                c.SetReadTotalTimeoutConstant(c.ReadTotalTimeoutConstant() + (change ? 1 : 0));
            else if (p == "WriteTotalTimeoutMultiplier")
                c.SetWriteTotalTimeoutMultiplier(c.WriteTotalTimeoutMultiplier() +
                                                 (change ? 1 : 0));
            else if (p == "WriteTotalTimeoutConstant")
                c.SetWriteTotalTimeoutConstant(c.WriteTotalTimeoutConstant() + (change ? 1 : 0));
            else
                QFAIL("unknown property");
        };
        OpenFake();
        const int line0 = FLine->LineSettingsCalls();
        const int time0 = FLine->TimeoutCalls();
        set(false);
        QCOMPARE(FLine->LineSettingsCalls(), line0);
        QCOMPARE(FLine->TimeoutCalls(), time0);
        const TLineSettings lineBefore = FLine->LastLineSettings();
        const TCommTimeouts timeBefore = FLine->LastTimeouts();
        set(true);
        QCOMPARE(FLine->LineSettingsCalls(), line0 + (lineGroup ? 1 : 0));
        QCOMPARE(FLine->TimeoutCalls(), time0 + (lineGroup ? 0 : 1));
        // The whole group went to the device, with the new value in it.
        QCOMPARE(FLine->LastLineSettings() == lineBefore, !lineGroup);
        QCOMPARE(FLine->LastTimeouts() == timeBefore, lineGroup);
        set(false);
        QCOMPARE(FLine->LineSettingsCalls(), line0 + (lineGroup ? 1 : 0));
        QCOMPARE(FLine->TimeoutCalls(), time0 + (lineGroup ? 0 : 1));
    }

    void oneAndAHalfStopBitsKeepThePort() {
        FComm->SetParity(TParity::Even);
        OpenFake();
        const TTermState before = FLine->Term();
        FComm->SetStopBits(TStopBits::_1_5);
        QCOMPARE(FComm->StopBits(), TStopBits::_1_5); // the property keeps the new value
        QVERIFY(FLine->Term() == before);
        FComm->SetStopBits(TStopBits::_2);
        QVERIFY(!(FLine->Term() == before));
    }

    void commNameTakesEffectAtNextOpen() {
        FComm->SetCommName("/dev/first");
        OpenFake();
        FComm->SetCommName("/dev/second");
        QCOMPARE(FLine->OpenedPath(), std::string("/dev/first"));
        QCOMPARE(FLine->OpenCount(), 1);
        FComm->ClosePort();
        FComm->OpenPort();
        QCOMPARE(FLine->OpenedPath(), std::string("/dev/second"));
    }

    void openFailures_data() {
        QTest::addColumn<TOpenStatus>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("open") << TOpenStatus::OpenFailed << "Error opening serial port";
        QTest::newRow("not comm") << TOpenStatus::NotComm << "File handle is not a comm handle ";
        QTest::newRow("setup") << TOpenStatus::SetupFailed << "Cannot setup comm buffer";
    }
    void openFailures() {
        QFETCH(TOpenStatus, status);
        QFETCH(QString, message);
        FLine->SetOpenResult({status, EACCES});
        FComm->SetDeviceFactory(
            [line = FLine] { return std::make_unique<TFakeSerialDevice>(line); });
        try {
            FComm->OpenPort();
            QFAIL("no exception");
        } catch (const ECommsError& e) {
            QCOMPARE(QString(e.what()), message);
            QCOMPARE(e.SystemError(), EACCES);
        }
        QVERIFY(!FComm->IsOpen());
        QVERIFY(!FComm->WriteData("x", 1));
        FComm->ClosePort();
        Deliver();
        QVERIFY(FRec.Events.isEmpty());
    }

    void secondOpenLeavesPortAlone() {
        OpenFake();
        try {
            FComm->OpenPort();
            QFAIL("no exception");
        } catch (const ECommsError& e) {
            QCOMPARE(QString(e.what()), QString("This serial port already opened"));
        }
        QVERIFY(FComm->IsOpen());
        QCOMPARE(FLine->OpenCount(), 1);
        QVERIFY(FComm->WriteData("ab", 2));
        FLine->Push(TFakeReadStep::Bytes("xy"));
        SOON_COMPARE(FRec.Received, QByteArray("xy"));
        SOON_COMPARE(FLine->Written(), std::string("ab"));
    }

    void closeTwiceAndClosed() {
        FComm->ClosePort();
        OpenFake();
        FComm->ClosePort();
        FComm->ClosePort();
        QVERIFY(!FComm->IsOpen());
        QCOMPARE(FLine->CloseCount(), 1);
        QVERIFY(!FLine->IsOpen());
        QVERIFY(FComm->SendIdle());
    }

    void writeRefusals() {
        OpenFake();
        QVERIFY(!FComm->WriteData("x", 0));
        QVERIFY(!FComm->WriteData(nullptr, 3));
        // A block behind the refused ones: had they been queued, they would go out before it.
        QVERIFY(FComm->WriteData("!", 1));
        SOON_COMPARE(FRec.Empties, 2);
        QCOMPARE(FLine->Written(), std::string("!"));
        QCOMPARE(FLine->WriteCalls(), std::vector<std::size_t>{0});
    }

    void chunking_data() {
        QTest::addColumn<QList<QByteArray>>("steps");
        QTest::addColumn<QList<int>>("chunks");
        QTest::newRow("one burst") << QList<QByteArray>{"abc"} << QList<int>{3};
        QTest::newRow("bursts joined within the interval")
            << QList<QByteArray>{"ab", "cd", "e"} << QList<int>{5};
        QTest::newRow("long burst split at 2048")
            << QList<QByteArray>{QByteArray(5000, 'x')} << QList<int>{2048, 2048, 904};
        QTest::newRow("exactly 2048")
            << QList<QByteArray>{QByteArray(2048, 'y')} << QList<int>{2048};
        QTest::newRow("2048 then one")
            << QList<QByteArray>{QByteArray(2000, 'a'), QByteArray(49, 'b')} << QList<int>{2048, 1};
    }
    void chunking() {
        QFETCH(QList<QByteArray>, steps);
        QFETCH(QList<int>, chunks);
        // A long interval: the pushed steps all count as one burst.
        FComm->SetReadIntervalTimeout(200);
        OpenFake();
        QByteArray all;
        for (const QByteArray& s : steps) {
            FLine->Push(TFakeReadStep::Bytes(s.toStdString()));
            all += s;
        }
        SOON_COMPARE(FRec.Received.size(), all.size());
        QCOMPARE(FRec.Received, all);
        QCOMPARE(FRec.ChunkSizes, chunks);
    }

    void immediateIntervals_data() {
        QTest::addColumn<uint>("interval");
        QTest::newRow("zero") << 0u;
        QTest::newRow("all ones") << 0xFFFFFFFFu;
    }
    void immediateIntervals() {
        // Each read is handed over at once, however close the next bytes follow.
        QFETCH(uint, interval);
        FComm->SetReadIntervalTimeout(interval);
        OpenFake();
        FLine->Push(TFakeReadStep::Bytes("ab"));
        FLine->Push(TFakeReadStep::Bytes("cde"));
        SOON_COMPARE(FRec.Received, QByteArray("abcde"));
        QCOMPARE(FRec.ChunkSizes, (QList<int>{2, 3}));
    }

    void intervalSeparatesBursts() {
        FComm->SetReadIntervalTimeout(1);
        OpenFake();
        FLine->Push(TFakeReadStep::Bytes("first"));
        SOON_COMPARE(FRec.ChunkSizes.size(), 1);
        FLine->Push(TFakeReadStep::Bytes("second"));
        SOON_COMPARE(FRec.ChunkSizes.size(), 2);
        QCOMPARE(FRec.Received, QByteArray("firstsecond"));
    }

    void lineErrors_data() {
        QTest::addColumn<TLineCounters>("counters");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("frame") << Counters([](auto& c) { c.Frame = 1; }) << QStringList{"error 8"};
        QTest::newRow("parity") << Counters([](auto& c) { c.Parity = 3; })
                                << QStringList{"error 4"};
        QTest::newRow("overrun") << Counters([](auto& c) { c.Overrun = 1; })
                                 << QStringList{"error 2"};
        QTest::newRow("break") << Counters([](auto& c) { c.Brk = 1; }) << QStringList{"error 16"};
        QTest::newRow("buffer overrun")
            << Counters([](auto& c) { c.BufOverrun = 2; }) << QStringList{"error 1"};
        QTest::newRow("frame and parity") << Counters([](auto& c) {
            c.Frame = 1;
            c.Parity = 1;
        }) << QStringList{"error 12"};
        QTest::newRow("cts") << Counters([](auto& c) { c.Cts = 1; }) << QStringList{"modem 8"};
        QTest::newRow("carrier detect")
            << Counters([](auto& c) { c.Dcd = 1; }) << QStringList{"modem 8"};
        QTest::newRow("cts and carrier") << Counters([](auto& c) {
            c.Cts = 1;
            c.Dcd = 1;
        }) << QStringList{"modem 8"};
        QTest::newRow("dsr") << Counters([](auto& c) { c.Dsr = 1; }) << QStringList{"modem 16"};
        QTest::newRow("ring") << Counters([](auto& c) { c.Ring = 1; }) << QStringList{"modem 4"};
        QTest::newRow("all modem") << Counters([](auto& c) { c.Cts = c.Dsr = c.Ring = c.Dcd = 5; })
                                   << QStringList{"modem 28"};
        QTest::newRow("error before modem") << Counters([](auto& c) {
            c.Overrun = 1;
            c.Dsr = 1;
        }) << QStringList{"error 2", "modem 16"};
    }
    void lineErrors() {
        QFETCH(TLineCounters, counters);
        QFETCH(QStringList, events);
        OpenFake();
        FLine->Push(TFakeReadStep::Bytes("a"));
        FLine->Push(TFakeReadStep::NewCounters(counters));
        FLine->Push(TFakeReadStep::Bytes("b"));
        // Unchanged counters report nothing.
        FLine->Push(TFakeReadStep::NewCounters(counters));
        SOON_COMPARE(FRec.Received, QByteArray("ab"));
        // Bytes behind the script: whatever the reader made of it is posted before them.
        FLine->Push(TFakeReadStep::Bytes("!"));
        SOON_COMPARE(FRec.Received, QByteArray("ab!"));
        Deliver();
        // How the bytes were cut into chunks depends on how soon the reader came round; the
        // line events do not.
        QStringList expected{"empty"};
        expected << events;
        QCOMPARE(FRec.Events.filter(QRegularExpression("^(?!data )")), expected);
        QCOMPARE(FRec.Hangups, 0);
    }

    void noLineEventsWithoutCounters() {
        FLine->SetCountersSupported(false);
        OpenFake();
        FLine->Push(TFakeReadStep::NewCounters(Counters([](auto& c) { c.Frame = 4; }),
                                               TCounterStatus::Unsupported));
        FLine->Push(TFakeReadStep::Bytes("z"));
        SOON_COMPARE(FRec.Received, QByteArray("z"));
        FLine->Push(TFakeReadStep::Bytes("!")); // behind the script, as in lineErrors
        SOON_COMPARE(FRec.Received, QByteArray("z!"));
        Deliver();
        QCOMPARE(FRec.Events, (QStringList{"empty", "data 1", "data 1"}));
    }

    void readerEnds_data() {
        QTest::addColumn<TFakeReadStep>("step");
        QTest::addColumn<int>("hangups");
        QTest::newRow("read fails") << TFakeReadStep::ReadFails(TIoStatus::Fatal) << 1;
        QTest::newRow("wait fails") << TFakeReadStep::WaitFails(TWaitStatus::Fatal) << 1;
        QTest::newRow("counters fail")
            << TFakeReadStep::NewCounters(TLineCounters{}, TCounterStatus::Fatal) << 1;
        QTest::newRow("invalid on read") << TFakeReadStep::ReadFails(TIoStatus::Invalid) << 0;
        QTest::newRow("invalid on wait") << TFakeReadStep::WaitFails(TWaitStatus::Invalid) << 0;
        QTest::newRow("invalid on counters")
            << TFakeReadStep::NewCounters(TLineCounters{}, TCounterStatus::Invalid) << 0;
        QTest::newRow("empty read") << TFakeReadStep::ReadFails(TIoStatus::Empty) << 0;
    }
    void readerEnds() {
        QFETCH(TFakeReadStep, step);
        QFETCH(int, hangups);
        OpenFake();
        FLine->Push(TFakeReadStep::Bytes("before"));
        SOON_COMPARE(FRec.Received, QByteArray("before"));
        FLine->Push(step);
        // The reader has ended: nothing after the failure is read any more, and
        // further failures report nothing.
        FLine->Push(TFakeReadStep::Bytes("after"));
        FLine->Push(TFakeReadStep::ReadFails(TIoStatus::Fatal));
        SOON_COMPARE(FRec.Hangups, hangups);
        // The reader purges the line once more as it ends, after everything it posted.
        SOON_VERIFY(FLine->PurgeCount(TPurge::Rx) >= 2);
        Deliver();
        QCOMPARE(FRec.Hangups, hangups);
        QCOMPARE(FRec.Received, QByteArray("before"));
        QVERIFY(FComm->IsOpen()); // the owner decides what to do
        QVERIFY(FLine->PurgeCount(TPurge::Rx) >= 2);
        // A lost line takes no more writes; a quiet end of the reader leaves the writer alone.
        QCOMPARE(FComm->WriteData("w", 1), hangups == 0);
        FComm->ClosePort();
        QVERIFY(!FLine->IsOpen());
    }

    void partialWritesResume() {
        FLine->SetWriteLimit(3);
        OpenFake();
        const std::string block = "0123456789";
        QVERIFY(FComm->WriteData(block.data(), std::uint16_t(block.size())));
        SOON_COMPARE(FRec.Empties, 2);
        QCOMPARE(FLine->Written(), block);
        QCOMPARE(FLine->WriteCalls(), (std::vector<std::size_t>{0, 3, 6, 9}));
    }

    void writesInOrderThenOneEmpty() {
        OpenFake();
        // Hold the writer inside the first block so that the second one queues behind it.
        FLine->SetWritable(false);
        QVERIFY(FComm->WriteData("first-", 6));
        SOON_VERIFY(!FComm->SendIdle());
        QVERIFY(FComm->WriteData("second", 6));
        Deliver();
        QCOMPARE(FRec.Empties, 1);
        FLine->SetWritable(true);
        SOON_COMPARE(FRec.Empties, 2);
        QCOMPARE(FLine->Written(), std::string("first-second"));
        SOON_VERIFY(FComm->SendIdle());
        // A block behind them: whatever the writer reported for the two is posted before it
        // goes out, and it reports idle once more.
        QVERIFY(FComm->WriteData("!", 1));
        SOON_COMPARE(FLine->Written(), std::string("first-second!"));
        SOON_COMPARE(FRec.Empties, 3);
        Deliver();
        QCOMPARE(FRec.Empties, 3);
    }

    void writerEnds_data() {
        QTest::addColumn<TIoStatus>("failure");
        QTest::addColumn<int>("hangups");
        QTest::newRow("fatal") << TIoStatus::Fatal << 1;
        QTest::newRow("invalid") << TIoStatus::Invalid << 0;
        QTest::newRow("nothing written") << TIoStatus::Ok << 0;
    }
    void writerEnds() {
        QFETCH(TIoStatus, failure);
        QFETCH(int, hangups);
        OpenFake();
        FLine->PushWriteFailure(failure);
        QVERIFY(FComm->WriteData("lost", 4));
        // Refused once the writer has ended, after everything it posted.
        SOON_VERIFY(!FComm->WriteData("x", 1));
        Deliver();
        QCOMPARE(FRec.Hangups, hangups);
        QCOMPARE(FRec.Empties, 1); // the failed block never counts as sent
        QCOMPARE(FLine->Written(), std::string());
        QVERIFY(FComm->SendIdle());
        QVERIFY(FLine->PurgeCount(TPurge::Tx) >= 2);
        // The reader goes on.
        FLine->Push(TFakeReadStep::Bytes("still"));
        SOON_COMPARE(FRec.Received, QByteArray("still"));
    }

    void unboundEventsSkipped() {
        FComm->OnReceiveData = nullptr;
        FComm->OnReceiveError = nullptr;
        FComm->OnModemStateChange = nullptr;
        FComm->OnSendDataEmpty = nullptr;
        FComm->SetDeviceFactory(
            [line = FLine] { return std::make_unique<TFakeSerialDevice>(line); });
        FComm->OpenPort(); // bound hang-up only
        FLine->Push(TFakeReadStep::Bytes("ignored"));
        FLine->Push(TFakeReadStep::NewCounters(Counters([](auto& c) {
            c.Frame = 1;
            c.Cts = 1;
        })));
        FLine->Push(TFakeReadStep::ReadFails(TIoStatus::Fatal));
        SOON_COMPARE(FRec.Hangups, 1);
        QCOMPARE(FRec.Events, QStringList{"hangup"});
    }

    void handlerMayClosePort() {
        OpenFake();
        FComm->OnReceiveData = [](TComm& sender, const char*, std::uint16_t) {
            sender.ClosePort();
        };
        FLine->Push(TFakeReadStep::Bytes("a"));
        FLine->Push(TFakeReadStep::ReadFails(TIoStatus::Fatal));
        SOON_VERIFY(!FComm->IsOpen());
        Deliver();                 // the threads have ended with the close
        QCOMPARE(FRec.Hangups, 0); // posted in the closed period: dropped
    }

    void closeWhileWaitingPostsNothing() {
        OpenFake();
        FLine->SetWritable(false);
        QVERIFY(FComm->WriteData("stuck", 5));
        SOON_VERIFY(!FComm->SendIdle());
        // Not yet delivered: the burst stays open for longer than the test may run, so a thread
        // that missed the close event would keep ClosePort waiting until the test times out.
        FComm->SetReadIntervalTimeout(600000);
        FLine->SetCountersSupported(false);
        FLine->Push(TFakeReadStep::Bytes("pending"));
        SOON_VERIFY(FLine->ReadScriptEmpty());
        const QStringList before = FRec.Events;
        FComm->ClosePort();
        Deliver();
        QCOMPARE(FRec.Events, before);
        QVERIFY(FComm->SendIdle());
        QCOMPARE(FLine->CloseCount(), 1);
    }

    void destroyWhileOpenCloses() {
        OpenFake();
        FComm.reset();
        QVERIFY(!FLine->IsOpen());
        Deliver(); // nothing is left to reach the component that is gone
    }

    // Runs out of descriptors on purpose: the component needs two events to open and
    // one more for the writer's queue.
    void resourceFailures_data() {
        QTest::addColumn<int>("freeDescriptors");
        QTest::addColumn<QString>("message");
        QTest::newRow("no event") << 0 << "Unable to create event";
        QTest::newRow("no writer queue") << 2 << "Unable to create write thread";
    }
    void resourceFailures() {
        QFETCH(int, freeDescriptors);
        QFETCH(QString, message);
        FComm->SetDeviceFactory(
            [line = FLine] { return std::make_unique<TFakeSerialDevice>(line); });
        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_NOFILE, &old), 0);
        // Fill every free number below a lowered limit, then give back exactly N.
        std::vector<int> fillers;
        rlimit low = old;
        low.rlim_cur = 0;
        for (int fd = 0; fd < 4096; ++fd) {
            if (fcntl(fd, F_GETFD) != -1) {
                low.rlim_cur = rlim_t(fd + 1);
            }
        }
        low.rlim_cur += 8;
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);
        for (;;) {
            const int fd = dup(0);
            if (fd < 0) {
                break;
            }
            fillers.push_back(fd);
        }
        for (int i = 0; i < freeDescriptors && !fillers.empty(); ++i) {
            close(fillers.back());
            fillers.pop_back();
        }
        QString got;
        try {
            FComm->OpenPort();
        } catch (const ECommsError& e) {
            got = e.what();
        }
        const bool open = FComm->IsOpen();
        for (int fd : fillers) {
            close(fd);
        }
        setrlimit(RLIMIT_NOFILE, &old);
        QCOMPARE(got, message);
        QVERIFY(!open);
        QVERIFY(!FLine->IsOpen());
        QCOMPARE(FLine->CloseCount(), 1);
        // Nothing half-made survives: the next open works.
        FComm->OpenPort();
        SOON_COMPARE(FRec.Empties, 1);
    }
};

QTEST_GUILESS_MAIN(TCommFakeTest)
#include "tst_commfake.moc"
