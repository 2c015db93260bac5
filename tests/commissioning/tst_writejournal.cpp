// The write journal: what each write query is in the operator's words (with the values before
// it from the meter memory), the journal line and its way back, the CSV export, the append-only
// file and the recorder that follows the link.
#include "commissioning/JournalFile.h"
#include "commissioning/JournalRecorder.h"
#include "commissioning/SettingsText.h"
#include "commissioning/WriteDescription.h"
#include "commissioning/WriteJournal.h"

#include "CommissioningTestKit.h"
#include <QTemporaryDir>

#include <QtTest>

namespace {

using namespace commtest;

const std::vector<std::uint16_t> Identity320 = Identity("3.20", "190815");

// A meter that has shown its relays, counters and general settings.
void Fill(TMeterMemory& m) {
    m.RegistersRead(0xF000, Identity320);
    const bool coils[] = {true, false};
    m.CoilsRead(coils);
    m.RegistersRead(0x1180, Regs({12345, 0, 800, 0})); // Ep_total and Eq_total only
    m.RegistersRead(0x1100, Regs({1234, 1, 19200, 3, 0, 400, 0, 400, 50, 5, 0, 7, 0}));
    m.RegistersRead(0x1200, Regs({1, 1, 1000, 1, 2300, 5, 1, 1}));
}

QString Changes(const TWriteDescription& d) {
    QStringList out;
    for (const TWriteChange& c : d.Changes)
        out << ChangeText(c);
    return out.join(" | ");
}

} // namespace

class TestWriteJournal : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void describe_data();
    void describe();
    void settingsBlockFields_data();
    void settingsBlockFields();
    void settingText_data();
    void settingText();
    void isoTime_data();
    void isoTime();
    void lineRoundTrip();
    void tornLinesSkipped();
    void csv();
    void appendOnly();
    void fullDiskReported();
    void recorderWaitsForSerialNumber();
    void recorderWritesWithoutSerialWhenItsReadFails();
    void recorderLineAdoption();
};

void TestWriteJournal::describe_data() {
    QTest::addColumn<bool>("known");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("kind"); // empty: not a write
    QTest::addColumn<QString>("changes");

    QTest::newRow("relay 1 off") << true << "00,05,00,00,00,00"
                                 << "relay"
                                 << "Relay 1: ON -> OFF";
    QTest::newRow("relay 2 on") << true << "00,05,00,01,FF,00"
                                << "relay"
                                << "Relay 2: OFF -> ON";
    QTest::newRow("relay unknown") << false << "00,05,00,01,FF,00"
                                   << "relay"
                                   << "Relay 2: ? -> ON";
    QTest::newRow("preset Eq_total") << true << "00,10,11,82,00,02,04,E2,40,00,01"
                                     << "energy preset"
                                     << "Eq_total: 80.0 kvarh -> 12345.6 kvarh";
    QTest::newRow("preset Ep_imp unknown") << true << "00,10,11,84,00,02,04,00,0A,00,00"
                                           << "energy preset"
                                           << "Ep_imp: ? -> 1.0 kWh";
    QTest::newRow("reset extended")
        << true << "00,10,11,0D,00,01,02,00,0A"
        << "energy reset"
        << "Ep_total: 1234.5 kWh -> 0.0 kWh | Eq_total: 80.0 kvarh -> 0.0 kvarh";
    QTest::newRow("reset basic")
        << true << "00,10,11,80,00,04,08,00,00,00,00,00,00,00,00"
        << "energy reset"
        << "Ep_total: 1234.5 kWh -> 0.0 kWh | Eq_total: 80.0 kvarh -> 0.0 kvarh";
    QTest::newRow("reset unknown before") << false << "00,10,11,0D,00,01,02,00,0A"
                                          << "energy reset"
                                          << "Ep_total: ? -> 0.0 kWh | Eq_total: ? -> 0.0 kvarh";
    // Block 0x1100 with CT1 50 -> 100 and the baud rate 19200 -> 9600; password hidden.
    QTest::newRow("settings 0x1100")
        << true
        << "00,10,11,00,00,0D,1A,04,D2,00,01,25,80,00,03,00,00,01,90,00,00,01,90,00,64,00,05,00,00,"
           "00,07,00,00"
        << "settings"
        << "Password: **** -> **** | Address: 1 -> 1 | Baudrate: 19200 bps -> 9600 bps | "
           "Parity: None 1 -> None 1 | VoltageWiring: 3LN -> 3LN | PT1: 400 V -> 400 V | "
           "PT2: 400 V -> 400 V | CT1: 50 A -> 100 A | CT2: 5 A -> 5 A | "
           "QMode: Method 1 (True) -> Method 1 (True) | LoadConvention: IEC -> IEC | "
           "BacklightTime: 7 min -> 7 min";
    // 3.20: the relay 1 alarm fields; the setpoint in the unit of its channel.
    QTest::newRow("settings 0x1200 relay alarm")
        << true << "00,10,12,00,00,08,10,00,01,00,01,03,E8,00,0D,00,0A,00,05,00,01,00,01"
        << "settings"
        << "ROType: Momentary -> Momentary | DOType: Alarm -> Alarm | "
           "DOPulseConst: 1000 Pulses/kWh -> 1000 Pulses/kWh | "
           "RO1AlarmItems: Volts AN (V) -> Watt Total (kW) | RO1AlarmOperator: > -> > | "
           "RO1AlarmSetpoint: 230.0 V -> 0.100 kW | RO1AlarmDelay: 5 s -> 5 s | "
           "RO1AlarmOutput: Momentary -> Momentary";
    QTest::newRow("settings unread") << false << "00,10,12,08,00,02,04,00,01,00,02"
                                     << "settings"
                                     << "DO1Output: ? -> Ep_imp | DO2Output: ? -> Eq_exp";
    QTest::newRow("read") << true << "00,03,14,00,00,15"
                          << ""
                          << "";
    QTest::newRow("coil read") << true << "00,01,00,00,00,02"
                               << ""
                               << "";
    QTest::newRow("garbage") << true << "00,1G,00"
                             << ""
                             << "";
    QTest::newRow("other registers") << true << "00,10,20,00,00,01,02,00,05"
                                     << "registers"
                                     << "0x2000: ? -> 5";
}

void TestWriteJournal::describe() {
    QFETCH(bool, known);
    QFETCH(QString, query);
    QFETCH(QString, kind);
    QFETCH(QString, changes);
    TMeterMemory memory(nullptr);
    if (known)
        Fill(memory);
    else
        memory.RegistersRead(0xF000, Identity320);
    const auto d = DescribeWrite(query.toStdString(), memory);
    QCOMPARE(d.has_value(), !kind.isEmpty());
    if (!d)
        return;
    QCOMPARE(d->Kind, kind);
    QCOMPARE(Changes(*d), changes);
}

void TestWriteJournal::settingsBlockFields_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("relayAlarm");
    QTest::addColumn<QString>("fields");
    QTest::newRow("0x1100")
        << 0x1100 << false
        << "Password Address Baudrate Parity VoltageWiring PT1 PT2 CT1 CT2 QMode "
           "LoadConvention BacklightTime";
    QTest::newRow("0x1200 single alarm") << 0x1200 << false
                                         << "ROType DOType DOPulseConst AlarmItems AlarmOperator "
                                            "AlarmSetpoint AlarmDelay AlarmOutput";
    QTest::newRow("0x1200 relay alarm")
        << 0x1200 << true
        << "ROType DOType DOPulseConst RO1AlarmItems RO1AlarmOperator "
           "RO1AlarmSetpoint RO1AlarmDelay RO1AlarmOutput";
    QTest::newRow("0x1208") << 0x1208 << true << "DO1Output DO2Output";
    QTest::newRow("0x120A") << 0x120A << true
                            << "RO2AlarmItems RO2AlarmOperator RO2AlarmSetpoint RO2AlarmDelay "
                               "RO2AlarmOutput";
    QTest::newRow("0x1300")
        << 0x1300 << false
        << "AO1Mode AO1Object AO1HLOpt AO1HighLimit AO1LLOpt AO1LowLimit AO2Mode "
           "AO2Object AO2HLOpt AO2HighLimit AO2LLOpt AO2LowLimit";
    QTest::newRow("not a block") << 0x1180 << false << "";
}

void TestWriteJournal::settingsBlockFields() {
    QFETCH(int, start);
    QFETCH(bool, relayAlarm);
    QFETCH(QString, fields);
    QStringList names;
    for (const TSettingsField* f : BlockFields(static_cast<std::uint16_t>(start), relayAlarm))
        names << f->Name;
    QCOMPARE(names.join(' '), fields);
}

void TestWriteJournal::settingText_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text"); // the text field's value, or the choice as a number
    QTest::addColumn<int>("channel");  // the alarm channel of a setpoint
    QTest::addColumn<QString>("expected");
    QTest::newRow("PT1") << "PT1"
                         << "11000" << 0 << "11000 V";
    QTest::newRow("CT2") << "CT2"
                         << "5" << 0 << "5 A";
    QTest::newRow("empty keeps no unit") << "CT1"
                                         << "" << 0 << "";
    QTest::newRow("parity") << "Parity"
                            << "2" << 0 << "None 2";
    QTest::newRow("operator trimmed") << "AlarmOperator"
                                      << "0" << 0 << "<";
    QTest::newRow("no choice") << "VoltageWiring"
                               << "-1" << 0 << "(none)";
    QTest::newRow("choice beyond list") << "VoltageWiring"
                                        << "9" << 0 << "9";
    QTest::newRow("setpoint volts") << "AlarmSetpoint"
                                    << "230.0" << 1 << "230.0 V";
    QTest::newRow("setpoint kvar") << "AlarmSetpoint"
                                   << "-5.000" << 14 << "-5.000 kvar";
    QTest::newRow("setpoint pf") << "AlarmSetpoint"
                                 << "0.900" << 17 << "0.900";
    QTest::newRow("password hidden") << "Password"
                                     << "1234" << 0 << "****";
    QTest::newRow("baud") << "Baudrate"
                          << "9600" << 0 << "9600 bps";
    QTest::newRow("limit") << "AO2LowLimit"
                           << "20" << 0 << "20 %";
}

void TestWriteJournal::settingText() {
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(int, channel);
    QFETCH(QString, expected);
    const TSettingsField* f = FindSettingsField(field.toStdString());
    QVERIFY(f);
    TMeterSettings s;
    s.AlarmItems = channel;
    if (f->Text)
        s.*f->Text = text;
    else
        s.*f->Choice = text.toInt();
    QCOMPARE(SettingValueText(*f, s), expected);
}

void TestWriteJournal::isoTime_data() {
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("expected");
    QTest::newRow("UTC") << 0 << "2026-12-07T14:03:12.045+00:00";
    QTest::newRow("east") << 3600 << "2026-12-07T14:03:12.045+01:00";
    QTest::newRow("west, half hours") << -(3 * 3600 + 1800) << "2026-12-07T14:03:12.045-03:30";
}

void TestWriteJournal::isoTime() {
    QFETCH(int, offset);
    QFETCH(QString, expected);
    const QDateTime t(QDate(2026, 12, 7), QTime(14, 3, 12, 45), QTimeZone(offset));
    QCOMPARE(IsoTime(t), expected);
    // And it reads back as the same instant.
    QCOMPARE(QDateTime::fromString(expected, Qt::ISODateWithMs), t);
}

void TestWriteJournal::lineRoundTrip() {
    TJournalEntry e =
        MakeJournalEntry(QDateTime(QDate(2026, 12, 7), QTime(9, 0), QTimeZone(3600)),
                         TLinkLine{3, 9600, TParity::Even, TStopBits::_1, 17},
                         TWriteDescription{"relay", "Relay 1", {{"Relay 1", std::nullopt, "ON"}}},
                         "00,05,00,00,FF,00", TQueryOutcome{TQueryResult::Exception, 4});
    e.SerialNumber.emplace(QStringLiteral("KT-1, \"A\""));
    e.SoftwareVersion = "3.20";
    const QByteArray line = JournalLine(e);
    QVERIFY(line.endsWith('\n'));
    QCOMPARE(line.count('\n'), 1); // one object per line, whatever the texts hold
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    QCOMPARE(o["time"].toString(), QString("2026-12-07T09:00:00.000+01:00"));
    QCOMPARE(o["port"].toString(), QString("COM3"));
    QCOMPARE(o["line"].toObject()["baudrate"].toInt(), 9600);
    QCOMPARE(o["line"].toObject()["parity"].toString(), QString("Even"));
    QCOMPARE(o["address"].toInt(), 17);
    QCOMPARE(o["serialNumber"].toString(), QString("KT-1, \"A\""));
    QCOMPARE(o["outcome"].toString(), QString("exception"));
    QCOMPARE(o["exceptionCode"].toInt(), 4);
    QVERIFY(o["changes"].toArray()[0].toObject()["before"].isNull());
    const auto back = ParseJournalLine(line);
    QVERIFY(back);
    QCOMPARE(*back, e);
}

void TestWriteJournal::tornLinesSkipped() {
    TJournalEntry e =
        MakeJournalEntry(QDateTime::currentDateTime(), TLinkLine{1, 19200},
                         TWriteDescription{"relay", "Relay 2", {}}, "00,05,00,01,00,00", {});
    const QByteArray line = JournalLine(e);
    // A crash in the middle of the last line leaves it torn; the lines before stand.
    const QByteArray file = line + line + line.left(line.size() / 2);
    QCOMPARE(ParseJournal(file).size(), std::size_t(2));
    QCOMPARE(ParseJournal("not json\n" + line).size(), std::size_t(1));
}

void TestWriteJournal::csv() {
    TJournalEntry e = MakeJournalEntry(
        QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), QTimeZone(0)),
        TLinkLine{1, 19200, TParity::None, TStopBits::_2, 1},
        TWriteDescription{"settings",
                          "Settings block 0x1100",
                          {{"CT1", "50 A", "100 A"}, {"PT1", std::nullopt, "400 V"}}},
        "00,10", TQueryOutcome{TQueryResult::NoAnswer, 0});
    e.SerialNumber.emplace(QStringLiteral("=CMD(\"x\")"));
    const QStringList lines = JournalCsv({e}).split("\r\n");
    QCOMPARE(lines.size(), 3); // heading, one row, the empty rest after the last CR LF
    QVERIFY(lines[0].startsWith("Time,Port,Baud rate,Parity,Stop bits,Address,Serial number"));
    QCOMPARE(lines[1], QString("2026-01-02T03:04:05.000+00:00,COM1,19200,None,2,1,"
                               "\"'=CMD(\"\"x\"\")\",,settings,Settings block 0x1100,"
                               "CT1: 50 A -> 100 A; PT1: ? -> 400 V,no answer,,\"00,10\""));
}

void TestWriteJournal::appendOnly() {
    QTemporaryDir dir;
    TJournalFile file(dir.filePath("sub/journal.jsonl"));
    QString error;
    QVERIFY(file.Append("{\"a\":1}\n", error));
    QVERIFY(file.Append("{\"a\":2}\n", error));
    QCOMPARE(file.ReadAll(), QByteArray("{\"a\":1}\n{\"a\":2}\n"));
}

void TestWriteJournal::fullDiskReported() {
    // /dev/full takes the open and fails the write as a full disk does.
    if (!QFileInfo::exists("/dev/full"))
        QSKIP("no /dev/full here");
    TJournalFile file("/dev/full");
    QString error;
    QVERIFY(!file.Append("{\"a\":1}\n", error));
    QVERIFY2(error.contains("Cannot write to the write journal"), qPrintable(error));
}

void TestWriteJournal::recorderWaitsForSerialNumber() {
    QTemporaryDir dir;
    TJournalFile file(dir.filePath("journal.jsonl"));
    TMeterMemory memory(nullptr);
    Fill(memory);
    TJournalRecorder recorder(memory, file);
    QStringList asked;
    recorder.Ask = [&](const std::string& q) { asked << QString::fromStdString(q); };
    recorder.Now = [] { return QDateTime(QDate(2026, 12, 7), QTime(10, 0), QTimeZone::utc()); };
    const TLinkLine line{1, 19200, TParity::None, TStopBits::_1, 1};
    recorder.QueryFinished("00,05,00,00,00,00", line, {});
    recorder.QueryFinished("00,03,14,00,00,15", line, {}); // a read: no entry
    recorder.QueryFinished("00,05,00,01,FF,00", line, {TQueryResult::NoAnswer, 0});
    QCOMPARE(asked, QStringList{"00,03,F0,40,00,10"}); // once, however many wait
    QVERIFY(file.ReadAll().isEmpty());
    const auto serial = SerialNumber("KT-7");
    memory.RegistersRead(0xF040, serial);
    recorder.RegistersRead(0xF040, serial);
    const auto entries = ParseJournal(file.ReadAll());
    QCOMPARE(entries.size(), std::size_t(2));
    QCOMPARE(entries[0].SerialNumber, std::optional<QString>("KT-7"));
    QCOMPARE(entries[0].SoftwareVersion, QString("3.20"));
    QCOMPARE(entries[0].Outcome, QString("accepted"));
    QCOMPARE(entries[1].Outcome, QString("no answer"));
    QCOMPARE(entries[1].Write.What, QString("Relay 2"));
    // Known now: the next entry goes straight in.
    recorder.QueryFinished("00,05,00,00,FF,00", line, {TQueryResult::Exception, 4});
    QCOMPARE(ParseJournal(file.ReadAll()).size(), std::size_t(3));
    QCOMPARE(ParseJournal(file.ReadAll())[2].ExceptionCode, 4);
    QCOMPARE(recorder.Session().size(), std::size_t(3));
}

void TestWriteJournal::recorderWritesWithoutSerialWhenItsReadFails() {
    QTemporaryDir dir;
    TJournalFile file(dir.filePath("journal.jsonl"));
    TMeterMemory memory(nullptr);
    TJournalRecorder recorder(memory, file);
    recorder.Ask = [](const std::string&) {};
    const TLinkLine line{1, 19200, TParity::None, TStopBits::_1, 1};
    recorder.QueryFinished("00,05,00,00,00,00", line, {});
    QVERIFY(file.ReadAll().isEmpty());
    recorder.QueryFinished("00,03,F0,40,00,10", line, {TQueryResult::NoAnswer, 0});
    auto entries = ParseJournal(file.ReadAll());
    QCOMPARE(entries.size(), std::size_t(1));
    QCOMPARE(entries[0].SerialNumber, std::nullopt);
    // A disconnect writes what still waits.
    recorder.QueryFinished("00,05,00,01,00,00", line, {});
    recorder.CycleEnded();
    QCOMPARE(ParseJournal(file.ReadAll()).size(), std::size_t(2));
}

void TestWriteJournal::recorderLineAdoption() {
    QTemporaryDir dir;
    TJournalFile file(dir.filePath("journal.jsonl"));
    TMeterMemory memory(nullptr);
    TJournalRecorder recorder(memory, file);
    recorder.LineAdopted(TLinkLine{1, 19200, TParity::None, TStopBits::_1, 1},
                         TLinkLine{1, 9600, TParity::Even, TStopBits::_1, 5});
    const auto entries = ParseJournal(file.ReadAll());
    QCOMPARE(entries.size(), std::size_t(1));
    QCOMPARE(entries[0].Write.Kind, QString("line settings"));
    QCOMPARE(entries[0].Address, 5);
    QCOMPARE(
        Changes(entries[0].Write),
        QString(
            "Address: 1 -> 5 | Line: 19200 bps, None, 1 stop bits -> 9600 bps, Even, 1 stop bits"));
}

QTEST_GUILESS_MAIN(TestWriteJournal)
#include "tst_writejournal.moc"
