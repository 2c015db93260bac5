// kt580-query --csv against the simulator: one row per measurement read the simulator logged,
// an empty cell for each answer it dropped, the meter named in the first line; and the options.
#include "CsvRunner.h"
#include "QueryOptions.h"
#include "support/SimProcess.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList ReadLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace

class TestQueryCsv : public QObject {
    Q_OBJECT

private slots:
    void options_data();
    void options();
    void recordsOneRowPerMeasurementRead();
    void noScaledValueWithoutTheRatios_data();
    void noScaledValueWithoutTheRatios();
    void meterRecordPath_data();
    void meterRecordPath();
    void severalMetersEachToItsFile_data();
    void severalMetersEachToItsFile();
};

void TestQueryCsv::options_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<long long>("count");
    QTest::addColumn<long long>("maxBytes");
    QTest::newRow("until interrupted by default")
        << QStringList{"--csv", "r.csv"} << true << 0LL << 0LL;
    QTest::newRow("count of rows")
        << QStringList{"--csv", "r.csv", "--count", "5"} << true << 5LL << 0LL;
    QTest::newRow("split by size")
        << QStringList{"--csv", "r.csv", "--csv-max-mb", "2"} << true << 0LL << 2LL * 1024 * 1024;
    QTest::newRow("no queries with csv")
        << QStringList{"--csv", "r.csv", "01,03,14,00,00,15"} << false << 0LL << 0LL;
    QTest::newRow("size without csv")
        << QStringList{"--csv-max-mb", "2", "01,03,14,00,00,15"} << false << 0LL << 0LL;
    QTest::newRow("empty file name") << QStringList{"--csv", ""} << false << 0LL << 0LL;
}

void TestQueryCsv::options() {
    QFETCH(QStringList, args);
    std::vector<std::string> list;
    for (const QString& a : args)
        list.push_back(a.toStdString());
    TQueryOptions o;
    std::string error;
    QTEST(ParseQueryOptions(list, o, error), "ok");
    if (!error.empty())
        return;
    QTEST(o.Count, "count");
    QTEST(o.CsvMaxBytes, "maxBytes");
}

void TestQueryCsv::recordsOneRowPerMeasurementRead() {
    TSimProcess sim({"--fault", "drop=0.3", "--seed", "11", "--serial", "SN,7"});
    QVERIFY(!sim.Path().isEmpty());
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("run.csv"));
    QProcess query;
    query.start(qEnvironmentVariable("KT_BIN_DIR") + "/tools/kt580-query/kt580-query",
                {"--port", sim.Path(), "--interval", "20", "--timeout", "1000", "--csv", file,
                 "--count", "12"});
    QVERIFY(query.waitForFinished(60000));
    const QString out = QString::fromLocal8Bit(query.readAllStandardOutput());
    QVERIFY2(query.exitCode() == 0, qPrintable(out + query.readAllStandardError()));
    sim.Stop();

    // The simulator's own log: each measurement read and whether its answer was dropped.
    int reads = 0;
    int dropped = 0;
    const QStringList log = sim.LogLines();
    for (int i = 0; i < log.size(); ++i) {
        if (!log[i].contains(QLatin1String(" RX 01 03 14 00 00 15")))
            continue;
        ++reads;
        if (i + 1 < log.size() && log[i + 1].contains(QLatin1String(" TX ")) &&
            log[i + 1].contains(QLatin1String("fault drop")))
            ++dropped;
    }
    QCOMPARE(reads, 12);
    QVERIFY2(dropped > 0, "the seed drops some measurement answers");

    const QStringList lines = ReadLines(file);
    QVERIFY(lines.size() > 2);
    QVERIFY2(lines[0].contains(QLatin1String("\"SN,7\"")), qPrintable(lines[0]));
    QVERIFY(lines[0].contains(QLatin1String("3.20")));
    const QStringList header = lines[1].split(u',');
    const int volts = int(header.indexOf(QStringLiteral("Volts AN (V)")));
    QVERIFY(volts > 0);
    QCOMPARE(lines.size() - 2, reads);
    int empty = 0;
    for (int i = 2; i < lines.size(); ++i) {
        const QStringList cells = lines[i].split(u',');
        QCOMPARE(cells.size(), header.size());
        if (cells[volts].isEmpty())
            ++empty;
        else
            QVERIFY(cells[volts].toDouble() > 100);
    }
    QCOMPARE(empty, dropped);
    QVERIFY(out.contains(QStringLiteral("rows=%1").arg(reads)));
}

// The transformer ratios (block 0x1100) lost at the start: asked again, and when they never
// come, the run fails saying so, with no value scaled by ratios nobody read in the file.
void TestQueryCsv::noScaledValueWithoutTheRatios_data() {
    QTest::addColumn<int>("losses");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("lost once, read again") << 1 << 0;
    QTest::newRow("never answered") << 6 << 1;
}

void TestQueryCsv::noScaledValueWithoutTheRatios() {
    QFETCH(int, losses);
    QTemporaryDir dir;
    // PT 400/100: a ratio of 4.
    const QString state = dir.filePath(QStringLiteral("meter.state"));
    {
        QFile f(state);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("reg.1100=1234\nreg.1101=1\nreg.1102=19200\nreg.1103=3\nreg.1104=2\n"
                "reg.1105=400\nreg.1106=0\nreg.1107=100\nreg.1108=50\nreg.1109=5\n"
                "reg.110a=1\nreg.110b=7\nreg.110c=1\n");
    }
    QStringList args{"--state", state};
    for (int i = 0; i < losses; ++i)
        args << "--lose-answer"
             << "1100";
    TSimProcess sim(args);
    QVERIFY(!sim.Path().isEmpty());
    const QString file = dir.filePath(QStringLiteral("run.csv"));
    QProcess query;
    query.start(qEnvironmentVariable("KT_BIN_DIR") + "/tools/kt580-query/kt580-query",
                {"--port", sim.Path(), "--interval", "20", "--timeout", "300", "--csv", file,
                 "--count", "3"});
    QVERIFY(query.waitForFinished(60000));
    const QString out =
        QString::fromLocal8Bit(query.readAllStandardOutput() + query.readAllStandardError());
    QFETCH(int, exitCode);
    QVERIFY2(query.exitCode() == exitCode, qPrintable(out));
    const QStringList lines = ReadLines(file);
    if (exitCode != 0) {
        QVERIFY2(out.contains(QLatin1String("ratios")), qPrintable(out));
        QVERIFY2(lines.size() <= 2, qPrintable(lines.join(u'\n')));
        return;
    }
    // The program that wrote the file is named in its first line, with its version spelt as
    // the About box spells it ("2.2.0 (20160121)", not the build number "2.2.0.0").
    static const QRegularExpression writer(R"(recorded by kt580-query \d+\.\d+\.\d+ \(\d{8}\)$)");
    QVERIFY2(writer.match(lines[0]).hasMatch(), qPrintable(lines[0]));
    const QStringList header = lines[1].split(u',');
    const int volts = int(header.indexOf(QStringLiteral("Volts AN (V)")));
    const int raw = int(header.indexOf(QStringLiteral("0x1400")));
    QCOMPARE(lines.size() - 2, 3);
    for (int i = 2; i < lines.size(); ++i) {
        const QStringList cells = lines[i].split(u',');
        QCOMPARE(cells[volts].toDouble(), cells[raw].toInt() * 4 / 10.0);
    }
}

void TestQueryCsv::meterRecordPath_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("path");
    QTest::newRow("serial before the extension") << "/data/run.csv"
                                                 << "KT58001"
                                                 << "/data/run-KT58001.csv";
    QTest::newRow("no extension") << "run"
                                  << "SN3"
                                  << "run-SN3";
    QTest::newRow("a dot in the folder only") << "a.b/run"
                                              << "SN3"
                                              << "a.b/run-SN3";
    QTest::newRow("unsafe characters") << "run.csv"
                                       << "SN/1 x,2"
                                       << "run-SN_1_x_2.csv";
    QTest::newRow("serial unknown") << "run.csv"
                                    << " "
                                    << "run-address7.csv";
}

void TestQueryCsv::meterRecordPath() {
    QFETCH(QString, chosen);
    QFETCH(QString, serial);
    QFETCH(QString, path);
    QCOMPARE(MeterRecordPath(chosen, serial, 7), path);
}

// A list of meters: each records its rows to a file named by its serial number; a meter that
// never gives its ratios is left out, said so, and fails the run, while the others record.
void TestQueryCsv::severalMetersEachToItsFile_data() {
    QTest::addColumn<QString>("addresses");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("complaint");
    QTest::newRow("all answer") << "3,1" << QStringList{"run-SN3.csv", "run-SN_1.csv"} << 0 << "";
    QTest::newRow("one silent") << "1,5,3" << QStringList{"run-SN3.csv", "run-SN_1.csv"} << 1
                                << "The meter at address 5 did not answer the read of its "
                                   "transformer ratios";
}

void TestQueryCsv::severalMetersEachToItsFile() {
    QFETCH(QString, addresses);
    QFETCH(QStringList, files);
    QFETCH(int, exitCode);
    QFETCH(QString, complaint);
    TSimProcess sim({"--serial", "SN/1", "--extra-meter", "3,SN3", "--extra-meter", "5,SN5",
                     "--meter-fault", "5:silent"});
    QVERIFY(!sim.Path().isEmpty());
    QTemporaryDir dir;
    QProcess query;
    query.start(qEnvironmentVariable("KT_BIN_DIR") + "/tools/kt580-query/kt580-query",
                {"--port", sim.Path(), "--interval", "20", "--timeout", "300", "--address",
                 addresses, "--csv", dir.filePath("run.csv"), "--count", "3"});
    QVERIFY(query.waitForFinished(60000));
    const QString out = QString::fromLocal8Bit(query.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(query.readAllStandardError());
    QCOMPARE(query.exitCode(), exitCode);
    QVERIFY2(err.contains(complaint), qPrintable(err));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name), files);
    for (const QString& name : files) {
        const QStringList lines = ReadLines(dir.filePath(name));
        QCOMPARE(lines.size(), 2 + 3); // the meter, the header, a row per cycle
        const QString serial = name == "run-SN3.csv" ? "SN3" : "SN/1";
        QVERIFY2(lines[0].contains("serial number " + serial + ","), qPrintable(lines[0]));
    }
    // A line per meter in the order typed, ahead of the totals.
    const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
    const QStringList typed = addresses.split(',');
    QCOMPARE(lines.size(), typed.size() + 1);
    for (qsizetype i = 0; i < typed.size(); ++i) {
        const bool silent = typed[i] == "5";
        QVERIFY2(lines[i].startsWith("address=" + typed[i] + " serial=" + (silent ? "" : "SN")),
                 qPrintable(lines[i]));
        QVERIFY2(lines[i].contains(silent ? " rows=0 " : " rows=3 "), qPrintable(lines[i]));
    }
    QVERIFY2(lines.last().startsWith("sent="), qPrintable(lines.last()));
}

QTEST_GUILESS_MAIN(TestQueryCsv)
#include "tst_querycsv.moc"
