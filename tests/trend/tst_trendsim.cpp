// The Trend page and a recording against the simulator: the page shown keeps the metering
// rotation going, the file holds one row per measurement read in the simulator's log, and
// ending by Disconnect or by the meter vanishing leaves whole rows only.
#include "TrendRig.h"

#include "support/SimMeter.h"

#include <QChart>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class TestTrendSim : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void recordingAgainstTheSimulator_data();
    void recordingAgainstTheSimulator();
    void pageOpenedWhileConnectedRunsLive();
    void anotherMeterAnotherFile();
};

void TestTrendSim::initTestCase() {
    // The simulator's COM1 entry goes into this test's own configuration folder.
    QVERIFY(!qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"));
}

void TestTrendSim::recordingAgainstTheSimulator_data() {
    QTest::addColumn<QString>("end");
    QTest::newRow("disconnect") << "disconnect";
    QTest::newRow("meter vanishes") << "unplug";
}

void TestTrendSim::recordingAgainstTheSimulator() {
    QFETCH(QString, end);
    TSimMeter sim({"--fault", "drop=0.2", "--seed", "5", "--serial", "TR-1"}, MeterMemory());
    QVERIFY(sim.Started());
    TTrendRig r;
    r.Page.Now = [] { return QDateTime::currentMSecsSinceEpoch(); };
    r.Page.Recorder().Now = r.Page.Now;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    r.TrendDialogs.Records.push_back({path, {}});
    r.Page.ButtonRecordClick();
    Master(r.Link).SetQueryTimeout(1000);
    QVERIFY(ConnectLink(r.Link));
    Master(r.Link).SetQueryTimeout(1000);
    QVERIFY(QTest::qWaitFor([&] { return r.Page.Recorder().Rows() >= 8; }, 60000));
    const bool unplug = end == QLatin1String("unplug");
    if (unplug) {
        // The meter is gone: its reads are lost, and the rows say so with empty cells.
        sim.Stop();
        const qint64 before = r.Page.Recorder().Rows();
        QVERIFY(QTest::qWaitFor([&] { return r.Page.Recorder().Rows() >= before + 2; }, 30000));
    }
    QVERIFY(DisconnectLink(r.Link));
    const qint64 rows = r.Page.Recorder().Rows();
    QVERIFY(r.Page.Recorder().Recording()); // it goes on with the next connection
    sim.Stop();

    // Rows as on disk now, before Stop: every one whole.
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QVERIFY(bytes.endsWith('\n'));
    const QStringList lines = QString::fromUtf8(bytes).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size() - 2, rows);
    QVERIFY2(lines[0].contains(QLatin1String("TR-1")), qPrintable(lines[0]));
    const int cells = int(lines[1].split(u',').size());
    int emptyVolts = 0;
    const int volts = int(lines[1].split(u',').indexOf(QStringLiteral("Volts AN (V)")));
    for (int i = 2; i < lines.size(); ++i) {
        const QStringList row = lines[i].split(u',');
        QCOMPARE(row.size(), cells);
        emptyVolts += row[volts].isEmpty() ? 1 : 0;
    }
    // One row per measurement read the simulator received; the trend asked for nothing else
    // than the metering page does.
    const QStringList requests = sim.Sim.Requests();
    const qint64 logged = requests.count(QStringLiteral("01,03,14,00,00,15"));
    if (unplug) {
        QVERIFY(rows >= logged + 2);
        QVERIFY(rows - emptyVolts <= logged);
        QCOMPARE(lines.last().split(u',')[volts], QString());
    } else {
        QCOMPARE(logged, rows);
    }
    for (const QString& q : requests)
        QVERIFY2(QStringList({"01,03,14,00,00,15", "01,03,11,80,00,0C", "01,03,11,80,00,04",
                              "01,03,11,80,00,04", "01,01,00,00,00,02", "01,02,00,00,00,06",
                              "01,03,F0,00,00,09", "01,03,11,00,00,0D", "01,03,F1,06,00,01",
                              "01,03,F0,40,00,10"})
                     .contains(q),
                 qPrintable(q));
    // Values scaled by the ratios read from the meter (PT 4), as on the metering page; the
    // raw register beside it unscaled. (The link has forgotten the ratios with the meter.)
    const int raw = int(lines[1].split(u',').indexOf(QStringLiteral("0x1400")));
    for (qsizetype i = lines.size() - 1; i >= 2; --i) {
        const QStringList row = lines[i].split(u',');
        if (!row[volts].isEmpty()) {
            QCOMPARE(row[volts], QString::number(row[raw].toInt() * 4 / 10.0, 'f', 1));
            break;
        }
    }
    r.Page.ButtonRecordClick();
    QVERIFY(!r.Page.Recorder().Recording());
}

// As the operator opens it: connected first (the page exists, hidden, from the start), then
// the page shown, nothing else touched. It follows the clock and draws the live lines.
void TestTrendSim::pageOpenedWhileConnectedRunsLive() {
    TSimMeter sim({"--serial", "TR-2"}, MeterMemory());
    QVERIFY(sim.Started());
    TTrendRig r;
    r.Page.Now = [] { return QDateTime::currentMSecsSinceEpoch(); };
    QVERIFY(ConnectLink(r.Link));
    r.Page.show();
    const auto drawn = [&] {
        for (QAbstractSeries* s : r.Page.Chart()->series())
            if (s->name() == QLatin1String("Volts AN") &&
                !static_cast<QLineSeries*>(s)->points().isEmpty())
                return true;
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(drawn(), 30000);
    QVERIFY(!r.Page.Paused());
    QCOMPARE(r.Page.findChild<QPushButton*>(QStringLiteral("ButtonPause"))->text(),
             QStringLiteral("Pause"));
    // The time axis ends about now, not at the epoch.
    const auto* axis = qobject_cast<QDateTimeAxis*>(r.Page.Chart()->axes(Qt::Horizontal).first());
    QVERIFY(axis);
    QVERIFY(qAbs(axis->max().toMSecsSinceEpoch() - QDateTime::currentMSecsSinceEpoch()) < 60000);
    QVERIFY(DisconnectLink(r.Link));
}

// Recording through Disconnect and Connect to another meter on the same port: the rows of
// each meter go to a file of their own that names it.
void TestTrendSim::anotherMeterAnotherFile() {
    TTrendRig r;
    r.Page.Now = [] { return QDateTime::currentMSecsSinceEpoch(); };
    r.Page.Recorder().Now = r.Page.Now;
    QTemporaryDir dir;
    r.TrendDialogs.Records.push_back({dir.filePath(QStringLiteral("run.csv")), {}});
    r.Page.ButtonRecordClick();
    for (const char* serial : {"TR-A", "TR-B"}) {
        TSimMeter sim({"--serial", serial}, MeterMemory());
        QVERIFY(sim.Started());
        const qint64 before = r.Page.Recorder().Rows();
        QVERIFY(ConnectLink(r.Link));
        QVERIFY(QTest::qWaitFor([&] { return r.Page.Recorder().Rows() >= before + 3; }, 60000));
        QVERIFY(DisconnectLink(r.Link));
        sim.Stop();
    }
    r.Page.ButtonRecordClick();
    const QStringList files = r.Page.Recorder().Files();
    QCOMPARE(files.size(), 2);
    qint64 rows = 0;
    for (int i = 0; i < 2; ++i) {
        QFile f(files[i]);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(lines[0].startsWith(QStringLiteral("# KT580 serial number TR-%1,")
                                         .arg(QLatin1Char(i == 0 ? 'A' : 'B'))),
                 qPrintable(lines[0]));
        rows += lines.size() - 2;
    }
    QCOMPARE(rows, r.Page.Recorder().Rows());
}

QTEST_MAIN(TestTrendSim)
#include "tst_trendsim.moc"
