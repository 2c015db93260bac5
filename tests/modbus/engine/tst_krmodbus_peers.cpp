// The master against slaves it did not write: the meter simulator with its spoilt answers, and a
// libmodbus slave behind a socat pair of pseudo-terminals.
#include "ModbusProbe.h"
#include "support/SimProcess.h"
#include "support/SocatPair.h"

#include <QtTest>

#include <modbus.h>

#include <atomic>
#include <map>
#include <thread>

namespace {

// Polls a rotation of texts until `queries` have finished; returns the error kinds.
std::vector<int> Poll(TKrModbus& m, const std::vector<std::string>& texts, size_t queries,
                      QStringList& log, int timeoutMs) {
    std::vector<int> kinds;
    size_t next = 0;
    m.OnQueryData = [&](TKrModbus&, std::string& fmt) { fmt = texts[next++ % texts.size()]; };
    m.OnAfterResponse = [&](TKrModbus& s) {
        kinds.push_back(s.ErrorKind());
        log << "after";
        if (kinds.size() == queries) {
            s.Stop();
        }
    };
    bool finished = false;
    m.OnQueryFinish = [&](TKrPolling&) { finished = true; };
    if (!m.Start(true)) {
        return kinds;
    }
    (void)QTest::qWaitFor([&] { return finished; }, timeoutMs);
    return kinds;
}

// A libmodbus RTU slave serving a register map on its own thread.
class TLibmodbusSlave {
public:
    explicit TLibmodbusSlave(const QString& path) {
        FMap = modbus_mapping_new_start_address(0, 16, 0, 16, 0x1400, 8, 0x10, 4);
        for (int i = 0; i < 8; ++i) {
            FMap->tab_registers[i] = static_cast<uint16_t>(1000 + i);
        }
        for (int i = 0; i < 4; ++i) {
            FMap->tab_input_registers[i] = static_cast<uint16_t>(0xA000 + i);
        }
        const uint8_t coils[] = {1, 0, 1, 1, 0, 0, 0, 0, 0, 1};
        std::copy(std::begin(coils), std::end(coils), FMap->tab_bits);
        FMap->tab_input_bits[2] = 1;
        FCtx = modbus_new_rtu(path.toLocal8Bit().constData(), 19200, 'N', 8, 1);
        if (FCtx == nullptr || modbus_set_slave(FCtx, 1) != 0 || modbus_connect(FCtx) != 0) {
            return;
        }
        // Wakes now and then to see whether the test is over.
        modbus_set_indication_timeout(FCtx, 0, 50000);
        FThread = std::thread([this] {
            uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
            while (!FStop) {
                const int rc = modbus_receive(FCtx, query);
                if (rc > 0) {
                    modbus_reply(FCtx, query, rc, FMap);
                }
            }
        });
        FReady = true;
    }
    ~TLibmodbusSlave() {
        FStop = true;
        if (FThread.joinable()) {
            FThread.join();
        }
        if (FCtx != nullptr) {
            modbus_close(FCtx);
            modbus_free(FCtx);
        }
        modbus_mapping_free(FMap);
    }
    bool Ready() const { return FReady; }
    // Only after the slave's thread has ended.
    uint16_t Register(int i) const { return FMap->tab_registers[i]; }

private:
    modbus_mapping_t* FMap = nullptr;
    modbus_t* FCtx = nullptr;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    bool FReady = false;
};

} // namespace

class TestKrModbusPeers : public QObject {
    Q_OBJECT

private slots:
    void simulatorFaultsCountedExactly_data();
    void simulatorFaultsCountedExactly();
    void libmodbusSlave();
};

void TestKrModbusPeers::simulatorFaultsCountedExactly_data() {
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<bool>("costFree");
    QTest::newRow("noise and split cost nothing") << QStringList{"noise=0.3", "split=0.3"} << true;
    // A crc fault and a cut can meet in one answer, which then costs one query, not two: they
    // are tested apart. A dropped answer is never spoilt further.
    QTest::newRow("crc and drop each cost one")
        << QStringList{"crc=0.1", "drop=0.08", "noise=0.2", "split=0.2"} << false;
    QTest::newRow("truncate costs one")
        << QStringList{"truncate=0.15", "noise=0.2", "split=0.2"} << false;
}

void TestKrModbusPeers::simulatorFaultsCountedExactly() {
    QFETCH(QStringList, faults);
    QFETCH(bool, costFree);
    if (!QFileInfo::exists(SimBinary())) {
        QSKIP("kt580-sim is not built");
    }
    QStringList args{"--seed", "11"};
    for (const QString& f : faults) {
        args << "--fault" << f;
    }
    TSimProcess sim(args, TSimProcess::Unmapped);
    QVERIFY(sim.Started());
    const QString path = sim.Path();

    const size_t queries = 80;
    std::vector<int> kinds;
    QStringList log;
    {
        TKrModbus m;
        m.Comm().SetCommName(path.toStdString());
        m.SetBaudrate(19200);
        m.SetParity(TParity::None);
        m.SetFrameInterval(5);
        m.SetQueryInterval(0);
        // Generous: a time-out is what a spoilt answer costs, and only a spoilt one. A short
        // one would also catch an answer the scheduler held up, and credit it to the next query.
        m.SetQueryTimeout(1500);
        m.SetIgnoreNullQuery(true);
        RecordEvents(m, log);
        QVERIFY(m.Open());
        kinds = Poll(
            m, {"01,03,14,00,00,15", "01,03,11,80,00,04", "01,01,00,00,00,02", "01,02,00,00,00,06"},
            queries, log, 150000);
        m.Close();
    }
    const auto stats = sim.Stop();
    for (const char* counter : {"requests", "fault_crc", "fault_drop", "fault_truncate"})
        QVERIFY2(stats.contains(counter), counter);
    QCOMPARE(kinds.size(), queries);
    const qint64 errors = std::count_if(kinds.begin(), kinds.end(), [](int k) { return k != 0; });
    const qint64 spoilt =
        stats.value("fault_crc") + stats.value("fault_drop") + stats.value("fault_truncate");
    QCOMPARE(stats.value("requests"), qint64(queries));
    QCOMPARE(errors, spoilt);
    if (costFree) {
        QVERIFY(stats.value("fault_noise") > 0 && stats.value("fault_split") > 0);
        QCOMPARE(errors, qint64(0));
    } else {
        QVERIFY(spoilt > 0);
    }
    // Every good answer raised its read event: one per query without error.
    const qint64 good = log.filter(QRegularExpression("^F0[123] 1 ")).size();
    QCOMPARE(good, qint64(queries) - errors);
}

void TestKrModbusPeers::libmodbusSlave() {
    if (!TSocatPair::Installed()) {
        QSKIP("socat is not available");
    }
    TSocatPair socat;
    const QStringList ptys = socat.Ends();
    QCOMPARE(ptys.size(), 2);

    QStringList log;
    std::vector<int> kinds;
    std::vector<uint16_t> afterWrite;
    {
        TLibmodbusSlave slave(ptys[0]);
        QVERIFY(slave.Ready());
        TKrModbus m;
        m.Comm().SetCommName(ptys[1].toStdString());
        m.SetBaudrate(19200);
        m.SetParity(TParity::None);
        m.SetFrameInterval(5);
        m.SetQueryInterval(0);
        m.SetQueryTimeout(1000);
        RecordEvents(m, log);
        QVERIFY(m.Open());
        // Only slave 1 is addressed: libmodbus 3.1.6 loses the frame after one for another slave.
        const std::vector<std::string> texts{
            "01,03,14,00,00,03", "01,04,00,10,00,02",       "01,01,00,00,00,0A",
            "01,02,00,00,00,04", "01,06,14,01,12,34",       "01,10,14,05,00,02,04,00,07,00,08",
            "01,05,00,01,FF,00", "01,0F,00,04,00,03,01,05", "01,03,14,00,00,08",
            "01,03,20,00,00,01", "01,01,00,00,00,08"};
        kinds = Poll(m, texts, texts.size(), log, 20000);
        m.Close();
    }

    QCOMPARE(kinds, (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0}));
    log.removeAll("after");
    QCOMPARE(log, (QStringList{
                      "F03 1 5120 [1000,1001,1002]",
                      "F04 1 16 [40960,40961]",
                      "F01 1 0 [1,0,1,1,0,0,0,0,0,1]",
                      "F02 1 0 [0,0,1,0]",
                      "F06 1 5121 4660",
                      "F10 1 5125 2",
                      "F05 1 1 65280",
                      "F0F 1 4 3",
                      "F03 1 5120 [1000,4660,1002,1003,1004,7,8,1007]",
                      "fex 1 3 2", // no register at 0x2000: illegal data address
                      "F01 1 0 [1,1,1,1,1,0,1,0]",
                  }));
}

QTEST_GUILESS_MAIN(TestKrModbusPeers)
#include "tst_krmodbus_peers.moc"
