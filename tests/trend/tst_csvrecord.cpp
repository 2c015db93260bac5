// The recording's text and files: time stamps, quoting, the header and the rows with empty
// cells for lost answers, the cycles of the rotation, when a new file begins and what it is
// called, and a recording ended each way leaving whole rows behind.
#include "support/MeterFeed.h"
#include "trend/CsvRecord.h"
#include "trend/MeteringQuantities.h"
#include "trend/RecordFiles.h"
#include "trend/Recorder.h"
#include "trend/RowFile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <map>
#include <sys/resource.h>

namespace {

std::vector<std::uint16_t> Measurement() {
    std::vector<std::uint16_t> v(21, 0);
    v[0] = 2300;    // Volts AN
    v[6] = 5000;    // I A
    v[12] = 0xFFF6; // Watt Total, -10
    v[15] = 5000;   // Frequency
    v[16] = 0xFC18; // Pwr Factor Total, -1000
    v[17] = 0x014C; // Load Type "L"
    v[18] = 12000;  // AO 1
    return v;
}

QStringList Cells(const QString& row) {
    return row.split(u',');
}

int Column(const QString& name) {
    return int(CsvHeader(TScaling{}).split(u',').indexOf(name));
}

QStringList ReadLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(u'\n');
}

} // namespace

class TestCsvRecord : public QObject {
    Q_OBJECT

private slots:
    void timeStamps_data();
    void timeStamps();
    void fields_data();
    void fields();
    void commentLineStaysOneLine();
    void headerNamesUnitsAndRawColumns();
    void headerTakesTheFirstRowsScaling_data();
    void headerTakesTheFirstRowsScaling();
    void rowScalesAsThePageAndLeavesLostBlocksEmpty_data();
    void rowScalesAsThePageAndLeavesLostBlocksEmpty();
    void cyclesOfTheRotation_data();
    void cyclesOfTheRotation();
    void newFileWhen_data();
    void newFileWhen();
    void fileNames_data();
    void fileNames();
    void meteringBlockOfQuery_data();
    void meteringBlockOfQuery();
    void recordingEndedEachWay_data();
    void recordingEndedEachWay();
    void splitBySizeNeverOverwrites();
    void unwritableFolderStopsWithAReason();
    void rowWholeOrNotAtAll_data();
    void rowWholeOrNotAtAll();
    void fullDiskKeepsWholeRowsOnly();
    void anotherMeterGetsItsOwnFile();
};

void TestCsvRecord::timeStamps_data() {
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("text");
    // 2026-03-01T13:05:09.042Z
    const qint64 t = 1772370309042;
    QTest::newRow("UTC") << t << 0 << "2026-03-01T13:05:09.042+00:00";
    QTest::newRow("east") << t << 3600 << "2026-03-01T14:05:09.042+01:00";
    QTest::newRow("west, day before") << t << -14 * 3600 << "2026-02-28T23:05:09.042-14:00";
    QTest::newRow("quarter hours") << t << 5 * 3600 + 45 * 60 << "2026-03-01T18:50:09.042+05:45";
    QTest::newRow("whole second") << qint64(1772370309000) << 0 << "2026-03-01T13:05:09.000+00:00";
}

void TestCsvRecord::timeStamps() {
    QFETCH(qint64, ms);
    QFETCH(int, offset);
    QTEST(CsvTimeStamp(ms, offset), "text");
}

void TestCsvRecord::fields_data() {
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::newRow("plain") << "230.0"
                           << "230.0";
    QTest::newRow("comma") << "a,b"
                           << "\"a,b\"";
    QTest::newRow("quote") << "say \"hi\""
                           << "\"say \"\"hi\"\"\"";
    QTest::newRow("line break") << "a\nb"
                                << "\"a\nb\"";
    QTest::newRow("empty") << ""
                           << "";
}

void TestCsvRecord::fields() {
    QFETCH(QString, in);
    QTEST(CsvField(in), "out");
}

void TestCsvRecord::commentLineStaysOneLine() {
    const QString line = CsvCommentLine(QStringLiteral("AB\n12,\"x\""), QStringLiteral("3.20"),
                                        QStringLiteral("kt580-query"), QStringLiteral("2.2.0.0"));
    QVERIFY(line.startsWith(u'#'));
    QVERIFY(!line.contains(u'\n'));
    QVERIFY(!line.contains(u'\r'));
    QVERIFY(line.contains(QLatin1String("\"AB12,\"\"x\"\"\"")));
    QVERIFY(line.contains(QLatin1String("3.20")));
    QVERIFY(line.endsWith(QLatin1String(",recorded by kt580-query 2.2.0.0")));
}

void TestCsvRecord::headerNamesUnitsAndRawColumns() {
    TScaling voltageOutputs;
    voltageOutputs.AOType = 2;
    const QStringList h = CsvHeader(voltageOutputs).split(u',');
    QCOMPARE(h.size(), 1 + 35 + 21 + 12 + 2 + 6);
    QCOMPARE(h.first(), QStringLiteral("time"));
    for (const char* name : {"Volts AN (V)", "I N (A)", "Watt Total (kW)", "VAR Total (kvar)",
                             "VA Total (kVA)", "Frequency (Hz)", "Pwr Factor Total", "Load Type",
                             "AO 1 (V)", "Ep_total (kWh)", "Eq_exp (kvarh)", "Relay 2", "DI 6",
                             "0x1400", "0x1414", "0x1180", "0x118B", "coil 1", "input 5"})
        QVERIFY2(h.contains(QString::fromLatin1(name)), name);
    QVERIFY(CsvHeader(TScaling{}).split(u',').contains(QStringLiteral("AO 1 (mA)")));
    QStringList unique = h;
    QCOMPARE(unique.removeDuplicates(), qsizetype(0));
}

void TestCsvRecord::headerTakesTheFirstRowsScaling_data() {
    // Before the first row: an energy read (left out of the rows) with outputs in V, or none.
    QTest::addColumn<bool>("readInVolts");
    QTest::addColumn<bool>("measurementLost");
    QTest::addColumn<QString>("unit");
    QTest::newRow("answered in mA after a read in V") << true << false << "AO 1 (mA)";
    QTest::newRow("lost after a read in V") << true << true << "AO 1 (V)";
    QTest::newRow("lost, nothing read before") << false << true << "AO 1 (mA)";
}

void TestCsvRecord::headerTakesTheFirstRowsScaling() {
    QFETCH(bool, readInVolts);
    QFETCH(bool, measurementLost);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    TRecorder rec;
    qint64 now = 1772370309042;
    rec.Now = [&now] { return now += 500; };
    QVERIFY(rec.Start({path, {}}, [] { return TRecordMeta{}; }));
    TScaling volts;
    volts.AOType = 2;
    if (readInVolts)
        Answer(rec, TMeteringBlock::Energy, std::vector<std::uint16_t>(12, 0), volts);
    if (measurementLost)
        Lost(rec, TMeteringBlock::Measurement);
    else
        Answer(rec, TMeteringBlock::Measurement, Measurement(), TScaling{});
    rec.Stop();
    const QStringList header = ReadLines(path).value(1).split(u',');
    QFETCH(QString, unit);
    QVERIFY2(header.contains(unit), qPrintable(header.join(u',')));
}

void TestCsvRecord::rowScalesAsThePageAndLeavesLostBlocksEmpty_data() {
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<bool>("energyLost");
    QTest::newRow("volts scaled by PT") << "Volts AN (V)"
                                        << "23000" << false;
    QTest::newRow("amps scaled by CT") << "I A (A)"
                                       << "200.0" << false;
    QTest::newRow("signed power") << "Watt Total (kW)"
                                  << "-40.00" << false;
    QTest::newRow("frequency") << "Frequency (Hz)"
                               << "50.00" << false;
    QTest::newRow("power factor") << "Pwr Factor Total"
                                  << "-1.000" << false;
    QTest::newRow("load type low byte") << "Load Type"
                                        << "L" << false;
    QTest::newRow("analog output") << "AO 1 (mA)"
                                   << "12.000" << false;
    QTest::newRow("raw measurement") << "0x140C"
                                     << "65526" << false;
    QTest::newRow("energy pair") << "Ep_total (kWh)"
                                 << "10000.0" << false;
    QTest::newRow("raw energy") << "0x1181"
                                << "1" << false;
    QTest::newRow("lost energy value") << "Ep_total (kWh)"
                                       << "" << true;
    QTest::newRow("lost energy raw") << "0x1180"
                                     << "" << true;
    QTest::newRow("relay on") << "Relay 1"
                              << "ON" << false;
    QTest::newRow("raw coil") << "coil 1"
                              << "0" << false;
    QTest::newRow("inputs never read") << "DI 1"
                                       << "" << false;
}

void TestCsvRecord::rowScalesAsThePageAndLeavesLostBlocksEmpty() {
    QFETCH(QString, column);
    QFETCH(bool, energyLost);
    TCsvCycle c;
    c.Time = 1772370309042;
    TScaling scaling;
    scaling.PTRatio = 100;
    scaling.CTRatio = 40;
    c.Blocks[0] = MakeReading(TMeteringBlock::Measurement, Measurement(), scaling, 0);
    if (!energyLost)
        c.Blocks[1] = MakeReading(TMeteringBlock::Energy,
                                  std::vector<std::uint16_t>{0x86A0, 1, 0, 0}, TScaling{}, 0);
    c.Blocks[2] =
        MakeReading(TMeteringBlock::Relays, std::vector<std::uint16_t>{1, 0}, TScaling{}, 0);
    const QStringList cells = Cells(CsvRow(c));
    QCOMPARE(cells.size(), CsvHeader(c.Scaling()).split(u',').size());
    QCOMPARE(cells.first(), QStringLiteral("2026-03-01T13:05:09.042+00:00"));
    const int at = Column(column);
    QVERIFY2(at > 0, qPrintable(column));
    QTEST(cells[at], "cell");
}

void TestCsvRecord::cyclesOfTheRotation_data() {
    QTest::addColumn<QString>("events");
    QTest::addColumn<QString>("rows");
    // M E R I: answers of the measurement, energy, relay and input reads; lower case: lost.
    // Each row lists the blocks it holds ("MERI", "-" for none of them).
    QTest::newRow("full rotations") << "M E R I M E R I"
                                    << "MERI MERI";
    QTest::newRow("lost energy") << "M e R I"
                                 << "MRI";
    QTest::newRow("lost measurement still a row") << "m E R I"
                                                  << "ERI";
    QTest::newRow("everything lost") << "m e r i"
                                     << "-";
    QTest::newRow("joins mid-rotation") << "R I M E R I"
                                        << "MERI";
    QTest::newRow("restart after a command") << "M E M E R I"
                                             << "ME MERI";
    QTest::newRow("read-back after the inputs waits") << "M E R I R M"
                                                      << "MERI M";
    QTest::newRow("a later loss keeps the answer") << "M R r I"
                                                   << "MRI";
}

void TestCsvRecord::cyclesOfTheRotation() {
    QFETCH(QString, events);
    TCycleAssembler a;
    QStringList rows;
    const auto take = [&rows](const std::optional<TCsvCycle>& c) {
        if (!c)
            return;
        QString held;
        const char names[] = "MERI";
        for (int i = 0; i < 4; ++i)
            if (c->Blocks[i])
                held += QLatin1Char(names[i]);
        rows << (held.isEmpty() ? QStringLiteral("-") : held);
    };
    qint64 t = 0;
    for (const QString& e : events.split(u' ')) {
        const QChar c = e[0];
        const int index = QStringLiteral("meri").indexOf(c.toLower());
        const auto block = static_cast<TMeteringBlock>(index);
        if (c.isUpper())
            take(a.Answer(MakeReading(block, std::vector<std::uint16_t>{1, 2}, TScaling{}, 0), ++t,
                          0));
        else
            take(a.Lost(block, TScaling{}, ++t, 0));
    }
    take(a.Finish());
    QTEST(rows.join(u' '), "rows");
}

void TestCsvRecord::newFileWhen_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("dayShift");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<bool>("expected");
    const QString same = QStringLiteral("SN7");
    QTest::newRow("nothing open") << int(TSplitRule::Daily) << false << 0 << 0 << 0 << same << true;
    QTest::newRow("same day") << int(TSplitRule::Daily) << true << 5 << 900 << 0 << same << false;
    QTest::newRow("next day") << int(TSplitRule::Daily) << true << 5 << 900 << 1 << same << true;
    QTest::newRow("size fits exactly")
        << int(TSplitRule::Size) << true << 5 << 900 << 1 << same << false;
    QTest::newRow("size overflows")
        << int(TSplitRule::Size) << true << 5 << 901 << 0 << same << true;
    QTest::newRow("first row always fits")
        << int(TSplitRule::Size) << true << 0 << 5000 << 0 << same << false;
    QTest::newRow("another meter")
        << int(TSplitRule::Daily) << true << 5 << 900 << 0 << QStringLiteral("SN8") << true;
    QTest::newRow("another meter, by size")
        << int(TSplitRule::Size) << true << 5 << 100 << 0 << QStringLiteral("SN8") << true;
    QTest::newRow("serial not read yet")
        << int(TSplitRule::Daily) << true << 5 << 900 << 0 << QString() << true;
}

void TestCsvRecord::newFileWhen() {
    QFETCH(int, kind);
    QFETCH(bool, open);
    QFETCH(int, rows);
    QFETCH(int, size);
    QFETCH(int, dayShift);
    QFETCH(QString, serial);
    const QDate day(2026, 3, 1);
    const TSplitRule rule{static_cast<TSplitRule::TKind>(kind), 1000};
    const TRecordFileState file{open, day, size, rows, QStringLiteral("SN7")};
    QTEST(NeedsNewFile(rule, file, {day.addDays(dayShift), 100, serial}), "expected");
}

void TestCsvRecord::fileNames_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("name");
    QTest::newRow("first is the chosen") << "/r/run.csv" << 1 << "/r/run.csv";
    QTest::newRow("second") << "/r/run.csv" << 2 << "/r/run-2.csv";
    QTest::newRow("dots in the folder") << "/r.d/run" << 3 << "/r.d/run-3";
    QTest::newRow("two suffixes") << "run.day.csv" << 12 << "run.day-12.csv";
}

void TestCsvRecord::fileNames() {
    QFETCH(QString, chosen);
    QFETCH(int, n);
    QTEST(RecordFileName(chosen, n), "name");
}

void TestCsvRecord::meteringBlockOfQuery_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("block"); // -1: none
    QTest::newRow("measurement") << "01,03,14,00,00,15" << int(TMeteringBlock::Measurement);
    QTest::newRow("energy short") << "0A,03,11,80,00,04" << int(TMeteringBlock::Energy);
    QTest::newRow("energy long") << "00,03,11,80,00,0C" << int(TMeteringBlock::Energy);
    QTest::newRow("relays") << "01,01,00,00,00,02" << int(TMeteringBlock::Relays);
    QTest::newRow("inputs") << "01,02,00,00,00,06" << int(TMeteringBlock::Inputs);
    QTest::newRow("identity") << "01,03,F0,00,00,09" << -1;
    QTest::newRow("relay write") << "01,05,00,00,FF,00" << -1;
    QTest::newRow("energy preset") << "01,10,11,80,00,02,04,00,00,00,00" << -1;
    QTest::newRow("coils elsewhere") << "01,01,00,10,00,02" << -1;
    QTest::newRow("too short") << "01,03,14" << -1;
    QTest::newRow("null query") << QString(QChar(0)) << -1;
}

void TestCsvRecord::meteringBlockOfQuery() {
    QFETCH(QString, text);
    QFETCH(int, block);
    const auto b = MeteringBlockOfQuery(text.toStdString());
    QCOMPARE(b ? int(*b) : -1, block);
}

void TestCsvRecord::recordingEndedEachWay_data() {
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("rows");
    QTest::newRow("stop") << "stop" << 3;
    QTest::newRow("disconnect") << "stopped" << 3;
    QTest::newRow("closing the program") << "destroy" << 3;
    QTest::newRow("unplugged mid-read") << "lost" << 3;
}

void TestCsvRecord::recordingEndedEachWay() {
    QFETCH(QString, end);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    {
        auto rec = std::make_unique<TRecorder>();
        qint64 now = 1772370309042;
        rec->Now = [&now] { return now += 500; };
        QVERIFY(rec->Start({path, {}}, [] {
            return TRecordMeta{QStringLiteral("SN7"), QStringLiteral("3.20"),
                               QStringLiteral("2.2.0.0")};
        }));
        const std::vector<std::uint16_t> m = Measurement();
        const std::vector<std::uint16_t> bits{1, 0, 1, 0, 1, 0};
        for (int cycle = 0; cycle < 2; ++cycle) {
            Answer(*rec, TMeteringBlock::Measurement, m, TScaling{});
            Lost(*rec, TMeteringBlock::Energy);
            Answer(*rec, TMeteringBlock::Relays, std::span(bits).first(2), TScaling{});
            Answer(*rec, TMeteringBlock::Inputs, bits, TScaling{});
        }
        // Rows are on disk as they complete, before any way out.
        QCOMPARE(ReadLines(path).size(), 2 + 2 + 1);
        Answer(*rec, TMeteringBlock::Measurement, m, TScaling{});
        if (end == QLatin1String("stop"))
            rec->Stop();
        else if (end == QLatin1String("stopped"))
            rec->CycleEnded();
        else if (end == QLatin1String("lost"))
            Lost(*rec, TMeteringBlock::Energy), rec->CycleEnded();
        else
            rec.reset();
        if (rec)
            QCOMPARE(rec->Rows(), qint64(3));
    }
    const QStringList lines = ReadLines(path);
    QFETCH(int, rows);
    QCOMPARE(lines.size(), 2 + rows + 1);
    QVERIFY(lines[0].startsWith(QLatin1String("# KT580 serial number SN7")));
    QCOMPARE(lines[1], CsvHeader(TScaling{}));
    QCOMPARE(lines.last(), QString()); // ends with a whole line
    const int cells = int(lines[1].split(u',').size());
    for (int i = 2; i < 2 + rows; ++i)
        QCOMPARE(lines[i].split(u',').size(), cells);
    // The lost energy reads are empty cells.
    QCOMPARE(lines[2].split(u',')[Column(QStringLiteral("Ep_total (kWh)"))], QString());
    QCOMPARE(lines[2].split(u',')[Column(QStringLiteral("Volts AN (V)"))], QStringLiteral("230.0"));
}

void TestCsvRecord::splitBySizeNeverOverwrites() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("keep me\n");
    }
    TRecorder rec;
    qint64 now = 1772370309042;
    rec.Now = [&now] { return now += 500; };
    // Room for the two header lines and two rows per file.
    const qint64 rowBytes =
        CsvRow(TCsvCycle{now,
                         0,
                         {},
                         {MakeReading(TMeteringBlock::Measurement, Measurement(), TScaling{}, 0)}})
            .toUtf8()
            .size() +
        1;
    const qint64 headBytes = CsvHeader({}).toUtf8().size() + 1 + 80;
    QVERIFY(rec.Start({path, {TSplitRule::Size, headBytes + 2 * rowBytes + 20}}, {}));
    for (int i = 0; i < 5; ++i) {
        Answer(rec, TMeteringBlock::Measurement, Measurement(), TScaling{});
        Lost(rec, TMeteringBlock::Inputs);
    }
    rec.Stop();
    QCOMPARE(rec.Files(), QStringList({dir.filePath(QStringLiteral("run-2.csv")),
                                       dir.filePath(QStringLiteral("run-3.csv")),
                                       dir.filePath(QStringLiteral("run-4.csv"))}));
    QCOMPARE(ReadLines(path), QStringList({QStringLiteral("keep me"), QString()}));
    int rows = 0;
    for (const QString& f : rec.Files()) {
        const QStringList lines = ReadLines(f);
        QVERIFY(lines[0].startsWith(u'#'));
        QVERIFY(QFileInfo(f).size() <= headBytes + 2 * rowBytes + 20);
        rows += int(lines.size()) - 3;
    }
    QCOMPARE(rows, 5);
}

void TestCsvRecord::unwritableFolderStopsWithAReason() {
    TRecorder rec;
    int failed = 0;
    rec.OnFailed = [&failed] { ++failed; };
    QVERIFY(rec.Start({QStringLiteral("/nonexistent-folder/run.csv"), {}}, {}));
    Answer(rec, TMeteringBlock::Measurement, Measurement(), TScaling{});
    Lost(rec, TMeteringBlock::Inputs);
    QCOMPARE(failed, 1);
    QVERIFY(!rec.Recording());
    QVERIFY(rec.Error().contains(QLatin1String("/nonexistent-folder/run.csv")));
}

namespace {

// A disk in memory with room for `room` bytes, taking at most `chunk` bytes per write.
struct TFakeDisk {
    std::int64_t Room = 0;
    std::int64_t Chunk = 0;
    std::map<QString, QByteArray> Files;
    QString Open;

    TFileOps Ops() {
        TFileOps ops;
        ops.Create = [this](const QString& path, QString& error) {
            if (Files.count(path)) {
                error = QStringLiteral("exists");
                return -1;
            }
            Files[path];
            Open = path;
            return 3;
        };
        ops.Write = [this](int, const char* data, std::int64_t size, QString& error) {
            std::int64_t used = 0;
            for (const auto& [name, bytes] : Files)
                used += bytes.size();
            const std::int64_t n = std::min({size, Room - used, Chunk});
            if (n <= 0) {
                error = QStringLiteral("No space left on device");
                return std::int64_t{-1};
            }
            Files[Open].append(data, n);
            return n;
        };
        ops.Truncate = [this](int, std::int64_t size) { Files[Open].truncate(size); };
        ops.Close = [](int) {};
        ops.Remove = [this](const QString& path) { Files.erase(path); };
        return ops;
    }
};

} // namespace

// Lines "h" (header) and "r" (row) of 10 bytes each with the line break, on a disk with room
// for `room` bytes taking `chunk` bytes a write: what the file holds after closing.
void TestCsvRecord::rowWholeOrNotAtAll_data() {
    QTest::addColumn<int>("room");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<QString>("lines");
    QTest::addColumn<int>("written");
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("kept");
    QTest::newRow("room for all") << 100 << 100 << "h r r" << 3 << 2 << true;
    QTest::newRow("short writes add up") << 100 << 3 << "h r r" << 3 << 2 << true;
    QTest::newRow("full in a row") << 25 << 100 << "h r r" << 2 << 1 << true;
    QTest::newRow("full in a row, short writes") << 25 << 4 << "h r r" << 2 << 1 << true;
    QTest::newRow("full at a line's end") << 20 << 100 << "h r r" << 2 << 1 << true;
    QTest::newRow("full in the header") << 5 << 100 << "h r" << 0 << 0 << false;
    QTest::newRow("header only") << 100 << 100 << "h h" << 2 << 0 << false;
    QTest::newRow("full before the first row") << 10 << 100 << "h r" << 1 << 0 << false;
}

void TestCsvRecord::rowWholeOrNotAtAll() {
    QFETCH(int, room);
    QFETCH(int, chunk);
    QFETCH(QString, lines);
    QFETCH(int, written);
    TFakeDisk disk{room, chunk, {}, {}};
    const QString path = QStringLiteral("run.csv");
    {
        TRowFile file(disk.Ops());
        QCOMPARE(file.Open(path), TRowFile::TOpened::Yes);
        int accepted = 0;
        for (const QString& kind : lines.split(u' ')) {
            const QByteArray line = kind.toLatin1().repeated(9);
            if (!file.AppendLine(line, kind == QLatin1String("r")))
                break;
            ++accepted;
        }
        QCOMPARE(accepted, written);
        QTEST(file.Rows(), "rows");
        QCOMPARE(file.Size(), std::int64_t{10} * written);
        QCOMPARE(disk.Files[path].size(), qsizetype(10) * written);
        if (written < int(lines.split(u' ').size()))
            QVERIFY(!file.Error().isEmpty());
        QTEST(file.Close(), "kept");
    }
    QFETCH(bool, kept);
    QCOMPARE(disk.Files.count(path) == 1, kept);
    if (kept)
        QVERIFY(disk.Files[path].endsWith('\n'));
    // A name taken is never opened.
    disk.Files[path];
    TRowFile again(disk.Ops());
    QCOMPARE(again.Open(path), TRowFile::TOpened::Exists);
}

namespace {

// The file size limit of this process lowered for a while (a disk that fills), and restored.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &FOld);
        FOldSignal = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lower = FOld;
        lower.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~TFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldSignal);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    rlimit FOld{};
    void (*FOldSignal)(int) = nullptr;
};

void Cycles(TRecorder& rec, int n) {
    for (int i = 0; i < n; ++i) {
        Answer(rec, TMeteringBlock::Measurement, Measurement(), TScaling{});
        Lost(rec, TMeteringBlock::Inputs);
    }
}

} // namespace

// A disk that fills: the file ends with its last whole row, the count is of the rows on
// disk, the failure is reported once; a file that never got a row is not left behind.
void TestCsvRecord::fullDiskKeepsWholeRowsOnly() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    TRecorder rec;
    qint64 now = 1772370309042;
    rec.Now = [&now] { return now += 500; };
    int failed = 0;
    rec.OnFailed = [&failed] { ++failed; };
    const qint64 rowBytes =
        CsvRow(TCsvCycle{now,
                         0,
                         {},
                         {MakeReading(TMeteringBlock::Measurement, Measurement(), TScaling{}, 0)}})
            .toUtf8()
            .size() +
        1;
    const qint64 headBytes =
        CsvCommentLine({}, {}, QStringLiteral("kt580-utility"), {}).toUtf8().size() + 1 +
        CsvHeader({}).toUtf8().size() + 1;
    {
        const TFileSizeLimit full(static_cast<rlim_t>(headBytes + 2 * rowBytes + rowBytes / 2));
        QVERIFY(rec.Start({path, {}}, {}));
        Cycles(rec, 4);
        rec.Stop();
    }
    QCOMPARE(failed, 1);
    QVERIFY(!rec.Error().isEmpty());
    QCOMPARE(rec.Rows(), qint64(2));
    const QStringList lines = ReadLines(path);
    QCOMPARE(lines.size(), 2 + 2 + 1);
    QCOMPARE(lines.last(), QString());
    QCOMPARE(QFileInfo(path).size(), headBytes + 2 * rowBytes);

    // A second recording on the full disk: nothing left behind, no rows counted.
    const QString second = dir.filePath(QStringLiteral("second.csv"));
    {
        const TFileSizeLimit full(40);
        QVERIFY(rec.Start({second, {}}, {}));
        Cycles(rec, 2);
        rec.Stop();
    }
    QCOMPARE(failed, 2);
    QCOMPARE(rec.Rows(), qint64(0));
    QVERIFY(!QFileInfo::exists(second));
    QVERIFY(rec.Files().isEmpty());
}

// Disconnect and Connect to another meter while recording: its rows go to a new file that
// names it; the same meter again goes on in the file it has.
void TestCsvRecord::anotherMeterGetsItsOwnFile() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    TRecorder rec;
    qint64 now = 1772370309042;
    rec.Now = [&now] { return now += 500; };
    QString serial = QStringLiteral("SN7");
    QVERIFY(rec.Start({path, {}}, [&serial] { return TRecordMeta{serial, {}, {}}; }));
    Cycles(rec, 2);
    rec.CycleEnded();
    Cycles(rec, 1);
    rec.CycleEnded();
    serial = QStringLiteral("SN8");
    Cycles(rec, 3);
    rec.Stop();
    QCOMPARE(rec.Files().size(), 2);
    const QStringList first = ReadLines(rec.Files()[0]);
    const QStringList next = ReadLines(rec.Files()[1]);
    QVERIFY(first[0].startsWith(QLatin1String("# KT580 serial number SN7,")));
    QCOMPARE(first.size(), 2 + 3 + 1);
    QVERIFY(next[0].startsWith(QLatin1String("# KT580 serial number SN8,")));
    QCOMPARE(next.size(), 2 + 3 + 1);
    QCOMPARE(rec.Rows(), qint64(6));
}

QTEST_GUILESS_MAIN(TestCsvRecord)
#include "tst_csvrecord.moc"
