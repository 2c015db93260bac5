// The meter model: register blocks in, what is known of the meter and the events out. Each row
// is one meter's life on the line: the answers and lost reads of its queries, in order.
#include "meter/MeterModel.h"
#include "meter/QueryPlan.h"
#include "support/MeterRegisters.h"

#include <QtTest>

#include <array>
#include <vector>

namespace {

// Block 0x1100 with PT1 (two registers), PT2, CT1 and CT2 in place.
std::vector<std::uint16_t> Ratios(int pt1, int pt2, int ct1, int ct2) {
    return {0,
            1,
            9600,
            0,
            0,
            std::uint16_t(pt1),
            0,
            std::uint16_t(pt2),
            std::uint16_t(ct1),
            std::uint16_t(ct2),
            0,
            0,
            0};
}

// The measurement block: every voltage `volts`, every current `amps`, 50 Hz.
std::vector<std::uint16_t> Measurement(int volts, int amps) {
    std::vector<std::uint16_t> m(21, 0);
    for (int k : {0, 1, 2, 3, 4, 5, 9, 10})
        m[std::size_t(k)] = std::uint16_t(volts);
    for (int k : {6, 7, 8, 11, 20})
        m[std::size_t(k)] = std::uint16_t(amps);
    m[15] = 5000;
    m[17] = 'L';
    return m;
}

QString Number(const std::optional<double>& v, int decimals) {
    return v ? QString::number(*v, 'f', decimals) : QStringLiteral("-");
}

// What a follower hears, one line per event.
class TLog : public IMeterEvents {
public:
    void IdentityRead(const TMeterModel& m) override { Lines << "identity " + m.SoftwareVersion(); }
    void SerialNumberRead(const TMeterModel& m) override { Lines << "serial " + m.SerialNumber(); }
    void SettingsRead(const TMeterModel&, std::uint16_t start,
                      std::span<const std::uint16_t>) override {
        Lines << QStringLiteral("settings %1").arg(start, 0, 16);
    }
    void MeteringRead(const TMeterModel&, const TMeterReading& r) override {
        if (r.Block == TMeteringBlock::Measurement)
            Lines << QStringLiteral("measurement Va=%1 Ia=%2 F=%3")
                         .arg(Number(r.Value(0), 1), Number(r.Value(6), 3), Number(r.Value(15), 2));
        else if (r.Block == TMeteringBlock::Energy)
            Lines << "energy Ep=" + Number(r.Value(0), 1) + " Eq=" + Number(r.Value(2), 1);
        else
            Lines << QStringLiteral("bits %1").arg(r.Raw.size());
    }
    void MeteringLost(const TMeterModel&, TMeteringBlock block) override {
        Lines << QStringLiteral("lost %1").arg(int(block));
    }
    QStringList Lines;
};

// One step of a row: "id V" identity of version V, "sn S" serial number, "ratios PT1 PT2 CT1
// CT2", "m VOLTS AMPS" measurement, "e" energy, "relays", "lost", "written" (the meter
// confirmed a write of block 0x1100), "ask id" / "ask ratios" / "poll" (that read goes out)
// and "end" (the query ends; a read asked and not answered is missing). A turn that asked
// again is followed by one that does not, so the missing read shows after a poll.
void Step(TMeterModel& m, const QString& step) {
    const QStringList w = step.split(' ');
    const auto n = [&](int i) { return w.value(i).toInt(); };
    if (w[0] == "id")
        m.RegistersRead(0xF000, TextRegisters("ED801.00" + w[1].toLatin1() + "160121", 9));
    else if (w[0] == "sn")
        m.RegistersRead(0xF040, TextRegisters(w[1].toLatin1(), 16));
    else if (w[0] == "ratios")
        m.RegistersRead(0x1100, Ratios(n(1), n(2), n(3), n(4)));
    else if (w[0] == "m")
        m.RegistersRead(0x1400, Measurement(n(1), n(2)));
    else if (w[0] == "e")
        m.RegistersRead(0x1180, std::vector<std::uint16_t>{0x86A0, 1, 25, 0});
    else if (w[0] == "relays")
        m.BitsRead(TMeteringBlock::Relays, std::array<bool, 2>{true, false});
    else if (w[0] == "lost")
        m.MeteringLost(TMeteringBlock::Measurement);
    else if (w[0] == "written")
        m.RatiosWritten();
    else if (step == "ask id")
        m.QueryStarted(qry::Identity);
    else if (step == "ask ratios")
        m.QueryStarted(qry::Settings1100);
    else if (w[0] == "poll")
        m.QueryStarted(qry::Measurement);
    else if (w[0] == "end")
        m.QueryEnded();
    else
        QFAIL(qPrintable("unknown step " + step));
}

QString Facts(const TMeterModel& m) {
    const char* missing = m.MissingRead();
    return QStringLiteral("version=%1 serial=%2 ratios=%3 pt=%4 ct=%5 missing=%6")
        .arg(m.SoftwareVersion(), m.SerialNumber(), m.RatiosKnown() ? "known" : "unknown")
        .arg(m.Scaling().PTRatio)
        .arg(m.Scaling().CTRatio)
        .arg(!missing                                ? "none"
             : std::string(missing) == qry::Identity ? "identity"
                                                     : "ratios");
}

} // namespace

class TestMeterModel : public QObject {
    Q_OBJECT

private slots:
    void life_data();
    void life();
};

void TestMeterModel::life_data() {
    QTest::addColumn<bool>("connected"); // the identity and ratios are asked at once
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QString>("facts");

    QTest::newRow("a new meter knows nothing")
        << false << QStringList{} << QStringList{}
        << "version= serial= ratios=unknown pt=1 ct=1 missing=none";
    QTest::newRow("connected: identity asked first, then the ratios")
        << true << QStringList{"ask id", "id 3.05", "end", "poll", "end"}
        << QStringList{"identity 3.05"}
        << "version=3.05 serial= ratios=unknown pt=1 ct=1 missing=ratios";
    QTest::newRow("measurement before the ratios: nothing scaled by them")
        << false << QStringList{"m 2300 1500"} << QStringList{"measurement Va=- Ia=- F=50.00"}
        << "version= serial= ratios=unknown pt=1 ct=1 missing=none";
    QTest::newRow("ratios read: measurements scaled by them")
        << false << QStringList{"ratios 400 100 50 5", "m 2300 1500"}
        << QStringList{"settings 1100", "measurement Va=920.0 Ia=15.000 F=50.00"}
        << "version= serial= ratios=known pt=4 ct=10 missing=none";
    QTest::newRow("ratios written: unknown until read back")
        << false << QStringList{"ratios 400 100 50 5", "written", "m 2300 1500"}
        << QStringList{"settings 1100", "measurement Va=- Ia=- F=50.00"}
        << "version= serial= ratios=unknown pt=4 ct=10 missing=none";
    QTest::newRow("a PT2 of 0 keeps the ratio before")
        << false << QStringList{"ratios 400 100 50 5", "ratios 400 0 50 5", "m 2300 1500"}
        << QStringList{"settings 1100", "settings 1100", "measurement Va=920.0 Ia=15.000 F=50.00"}
        << "version= serial= ratios=known pt=4 ct=10 missing=none";
    QTest::newRow("identity answer lost: asked again")
        << true << QStringList{"ask id", "end", "poll", "end"} << QStringList{}
        << "version= serial= ratios=unknown pt=1 ct=1 missing=identity";
    QTest::newRow("ratio answer lost: asked again, the identity kept")
        << true << QStringList{"ask id",     "id 3.20", "end",  "poll", "end",
                               "ask ratios", "end",     "poll", "end"}
        << QStringList{"identity 3.20"}
        << "version=3.20 serial= ratios=unknown pt=1 ct=1 missing=ratios";
    QTest::newRow("energy, relays, serial number and a lost read")
        << false << QStringList{"e", "relays", "sn KT-9", "lost"}
        << QStringList{"energy Ep=10000.0 Eq=2.5", "bits 2", "serial KT-9", "lost 0"}
        << "version= serial=KT-9 ratios=unknown pt=1 ct=1 missing=none";
}

void TestMeterModel::life() {
    QFETCH(bool, connected);
    QFETCH(QStringList, steps);
    TMeterEventStream events;
    TLog log;
    events.Follow(&log);
    TMeterModel model(TLinkLine{1, 19200, TParity::None, TStopBits::_1, 1}, events, connected);
    for (const QString& step : steps)
        Step(model, step);
    QTEST(log.Lines, "events");
    QTEST(Facts(model), "facts");
}

QTEST_GUILESS_MAIN(TestMeterModel)
#include "tst_metermodel.moc"
