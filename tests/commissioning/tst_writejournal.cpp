// The write journal: what each write query is in the operator's words (with the values before
// it from the meter memory), the journal line and its way back, the CSV export, the append-only
// file and the recorder that follows the link.
#include "commissioning/JournalFile.h"
#include "commissioning/JournalIndex.h"
#include "commissioning/JournalRecorder.h"
#include "commissioning/SettingsText.h"
#include "commissioning/WriteDescription.h"
#include "commissioning/WriteJournal.h"

#include "CommissioningTestKit.h"
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QtTest>

namespace {

using namespace commtest;

const std::vector<std::uint16_t> Identity320 = Identity("3.20", "190815");

// A meter that has shown its relays, counters and general settings.
void Fill(TFedMemory& m) {
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
    void lineSettingText_data();
    void lineSettingText();
    void lineRoundTrip();
    void tornLinesSkipped();
    void csv();
    void csvCell_data();
    void csvCell();
    void reader_data();
    void reader();
    void indexFedInPieces();
    void appendOnly();
    void appendStartsOnAFreshLine();
    void onlyARegularFile_data();
    void onlyARegularFile();
    void fullDiskReported();
    void sentBeforeTheWrite();
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
    // Block 0x1100 with CT1 50 -> 100 and the baud rate 19200 -> 9600: only what changes, as
    // the page names it.
    QTest::newRow("settings 0x1100")
        << true
        << "00,10,11,00,00,0D,1A,04,D2,00,01,25,80,00,03,00,00,01,90,00,00,01,90,00,64,00,05,00,00,"
           "00,07,00,00"
        << "settings"
        << "Baud Rate: 19200 bps -> 9600 bps | CT1: 50 A -> 100 A";
    // 3.20: the relay 1 alarm fields; the setpoint in the unit of its channel.
    QTest::newRow("settings 0x1200 relay alarm")
        << true << "00,10,12,00,00,08,10,00,01,00,01,03,E8,00,0D,00,0A,00,05,00,01,00,01"
        << "settings"
        << "RO1 Alarm Channel: Volts AN (V) -> Watt Total (kW) | "
           "RO1 Alarm Setpoint: 230.0 V -> 0.100 kW";
    QTest::newRow("settings unchanged") << true
                                        << "00,10,12,00,00,08,10,00,01,00,01,03,E8,00,01,08,FC,"
                                           "00,05,00,01,00,01"
                                        << "settings"
                                        << "";
    // Not read before: every field the block carries may change.
    QTest::newRow("settings unread") << false << "00,10,12,08,00,02,04,00,01,00,02"
                                     << "settings"
                                     << "DO1 Energy Output: ? -> Ep_imp | "
                                        "DO2 Energy Output: ? -> Eq_exp";
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
    TFedMemory memory(nullptr);
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
    // A settings entry says which block carried the changes.
    if (kind == "settings")
        QVERIFY2(d->What.endsWith(
                     QStringLiteral("(settings block 0x%1)").arg(query.mid(6, 5).remove(','))),
                 qPrintable(d->What));
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

void TestWriteJournal::lineSettingText_data() {
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<QString>("expected");
    // Spelt as the Connection Settings dialog spells the four settings a meter takes; stop bits
    // are named only where the parity's name does not say them.
    QTest::newRow("none, one stop bit")
        << int(TParity::None) << int(TStopBits::_1) << "19200 bps, None1";
    QTest::newRow("none, two stop bits")
        << int(TParity::None) << int(TStopBits::_2) << "19200 bps, None2";
    QTest::newRow("even") << int(TParity::Even) << int(TStopBits::_1) << "19200 bps, Even";
    QTest::newRow("odd, two stop bits")
        << int(TParity::Odd) << int(TStopBits::_2) << "19200 bps, Odd, 2 stop bits";
}

void TestWriteJournal::lineSettingText() {
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(QString, expected);
    QCOMPARE(LineSettingText(19200, static_cast<TParity>(parity), static_cast<TStopBits>(stopBits)),
             expected);
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
    QCOMPARE(o["query"].toString(), QString("11,05,00,00,FF,00")); // the meter's address
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
                               "CT1: 50 A -> 100 A; PT1: ? -> 400 V,no answer,,\"01,10\""));
}

void TestWriteJournal::appendOnly() {
    QTemporaryDir dir;
    TJournalFile file(dir.filePath("sub/journal.jsonl"));
    QString error;
    QVERIFY(file.Append("{\"a\":1}\n", error));
    QVERIFY(file.Append("{\"a\":2}\n", error));
    QCOMPARE(file.ReadAll(), QByteArray("{\"a\":1}\n{\"a\":2}\n"));
}

void TestWriteJournal::csvCell_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("cell");
    QTest::newRow("plain") << "KT-7"
                           << "KT-7";
    QTest::newRow("number") << "19200"
                            << "19200";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("equals") << "=1+2"
                            << "'=1+2";
    QTest::newRow("plus") << "+1+2"
                          << "'+1+2";
    QTest::newRow("minus") << "-2+3+cmd|' /C calc'!A0"
                           << "'-2+3+cmd|' /C calc'!A0";
    QTest::newRow("at") << "@SUM(A1)"
                        << "'@SUM(A1)";
    QTest::newRow("tab") << "\t=1"
                         << "'\t=1";
    QTest::newRow("carriage return") << "\r=1"
                                     << "\"'\r=1\"";
    QTest::newRow("formula inside") << "a=1"
                                    << "a=1";
    QTest::newRow("comma and quote") << "=a,\"b\""
                                     << "\"'=a,\"\"b\"\"\"";
    QTest::newRow("line feed") << "a\nb"
                               << "\"a\nb\"";
}

void TestWriteJournal::csvCell() {
    QFETCH(QString, text);
    QFETCH(QString, cell);
    QCOMPARE(CsvCell(text), cell);
    // The same for a serial number in a whole row.
    TJournalEntry e;
    e.SerialNumber = text;
    QCOMPARE(JournalCsvRow(e).split(',').at(6).startsWith(cell.left(2)), true);
}

namespace {

// Journal lines for the reader's table: "S:a:Relay 1" an entry "sent" with id a, "O:a:Relay 1:
// accepted" its outcome, "E::Relay 2:no answer" an entry of an older journal (no id), "CUT" the
// first half of a line cut by a crash, "X" a line that is no JSON, "NL" a blank line.
QByteArray Lines(const QString& tokens) {
    QByteArray bytes;
    for (const QString& token : tokens.split(' ', Qt::SkipEmptyParts)) {
        const QStringList f = token.split(':');
        if (f[0] == "CUT") {
            bytes += R"({"time":"2026-12-07T10:00:00.000+00:00","what":"cut)";
            continue;
        }
        if (f[0] == "X") {
            bytes += "not json\n";
            continue;
        }
        if (f[0] == "NL") {
            bytes += "\n";
            continue;
        }
        TJournalEntry e;
        e.Time = QDateTime(QDate(2026, 12, 7), QTime(10, 0), QTimeZone::utc());
        e.Id = f[1];
        e.Write.What = QString(f[2]).replace('_', ' ');
        e.Outcome = f[0] == "S" ? QString(JournalSent) : QString(f[3]).replace('_', ' ');
        bytes += JournalLine(e);
    }
    return bytes;
}

QString Shown(const std::vector<TJournalEntry>& entries) {
    QStringList out;
    for (const TJournalEntry& e : entries)
        out << e.Write.What + "=" + e.Outcome;
    return out.join(" | ");
}

} // namespace

void TestWriteJournal::reader_data() {
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("entries");
    QTest::addColumn<int>("broken");
    QTest::newRow("older journal") << "E::Relay_1:accepted E::Relay_2:no_answer"
                                   << "Relay 1=accepted | Relay 2=no answer" << 0;
    QTest::newRow("sent, then its outcome") << "S:a:Relay_1 O:a:Relay_1:accepted"
                                            << "Relay 1=accepted" << 0;
    QTest::newRow("sent, no outcome: a crash") << "E::PT1:accepted S:b:CT1"
                                               << "PT1=accepted | CT1=sent" << 0;
    // An outcome written late (it waited for the serial number) keeps the place of its write.
    QTest::newRow("outcomes out of order")
        << "S:a:Relay_1 S:b:Relay_2 O:b:Relay_2:no_answer O:a:Relay_1:exception"
        << "Relay 1=exception | Relay 2=no answer" << 0;
    QTest::newRow("outcome without its sent line") << "O:c:Relay_1:accepted"
                                                   << "Relay 1=accepted" << 0;
    QTest::newRow("same id again is a new write") << "S:a:CT1 O:a:CT1:accepted O:a:CT2:accepted"
                                                  << "CT1=accepted | CT2=accepted" << 0;
    // The append after a cut line starts on a line of its own.
    QTest::newRow("cut line, then an entry") << "E::Relay_1:accepted CUT NL E::Relay_2:accepted"
                                             << "Relay 1=accepted | Relay 2=accepted" << 1;
    QTest::newRow("cut last line") << "E::Relay_1:accepted CUT"
                                   << "Relay 1=accepted" << 1;
    QTest::newRow("no JSON, blank lines") << "X NL E::Relay_1:accepted NL"
                                          << "Relay 1=accepted" << 1;
}

void TestWriteJournal::reader() {
    QFETCH(QString, lines);
    QFETCH(QString, entries);
    QFETCH(int, broken);
    const TJournalRead read = ReadJournal(Lines(lines));
    QCOMPARE(Shown(read.Entries), entries);
    QCOMPARE(read.Broken, broken);
}

void TestWriteJournal::indexFedInPieces() {
    // However the file arrives (a window reading as it grows), the same entries in the same
    // places.
    QByteArray bytes = Lines("S:a:Relay_1 X S:b:CT1 O:b:CT1:accepted O:a:Relay_1:no_answer "
                             "E::PT1:accepted");
    for (int k = 0; k < 3; ++k) {
        TJournalEntry e;
        e.Time = QDateTime(QDate(2026, 12, 7), QTime(10, 0), QTimeZone::utc());
        e.SerialNumber = QStringLiteral("KT-%1").arg(k % 2);
        e.Outcome = "accepted";
        bytes += JournalLine(e);
    }
    TJournalIndex whole;
    QCOMPARE(whole.Feed(bytes), bytes.size());
    QCOMPARE(whole.Items().size(), std::size_t(6));
    QCOMPARE(whole.Meters(), QStringList({"", "KT-0", "KT-1"}));
    for (const qsizetype piece : {1, 7, 100}) {
        TJournalIndex index;
        QByteArray pending;
        for (qsizetype at = 0; at < bytes.size(); at += piece) {
            pending += bytes.mid(at, piece);
            pending.remove(0, index.Feed(pending));
        }
        QVERIFY(pending.isEmpty());
        QCOMPARE(index.Broken(), 1);
        QCOMPARE(index.End(), bytes.size());
        QCOMPARE(index.Items().size(), whole.Items().size());
        for (std::size_t k = 0; k < index.Items().size(); ++k) {
            QCOMPARE(index.Items()[k].Offset, whole.Items()[k].Offset);
            QCOMPARE(index.Items()[k].Length, whole.Items()[k].Length);
            QCOMPARE(index.Items()[k].Meter, whole.Items()[k].Meter);
        }
        QCOMPARE(
            ParseJournalLine(bytes.mid(index.Items()[0].Offset, index.Items()[0].Length))->Outcome,
            QString("no answer"));
    }
}

void TestWriteJournal::appendStartsOnAFreshLine() {
    QTemporaryDir dir;
    TJournalFile file(dir.filePath("journal.jsonl"));
    // A crash cut the last line: the next entry must not run into it.
    QFile cut(file.Path());
    QVERIFY(cut.open(QIODevice::WriteOnly));
    cut.write(Lines("E::Relay_1:accepted CUT"));
    cut.close();
    QString error;
    QVERIFY(file.Append(Lines("E::Relay_2:no_answer"), error));
    const TJournalRead read = ReadJournal(file.ReadAll());
    QCOMPARE(Shown(read.Entries), QString("Relay 1=accepted | Relay 2=no answer"));
    QCOMPARE(read.Broken, 1);
    // A file that ends with its line feed gets no blank line.
    QVERIFY(file.Append(Lines("E::Relay_3:accepted"), error));
    QVERIFY(!file.ReadAll().contains("\n\n"));
}

void TestWriteJournal::onlyARegularFile_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("device") << "device";
    QTest::newRow("folder") << "folder";
}

void TestWriteJournal::onlyARegularFile() {
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath("journal.jsonl");
    // A FIFO without a writer or reader would hold open() for ever in a blocking open.
    if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == "device")
        QVERIFY(QFile::link("/dev/zero", path));
    else
        QVERIFY(QDir().mkpath(path));
    TJournalFile file(path);
    QString error;
    QVERIFY(!file.Append(Lines("E::Relay_1:accepted"), error));
    QVERIFY2(error.startsWith("Cannot open the write journal"), qPrintable(error));
    QVERIFY(file.ReadAll().isEmpty());
    QFile reading;
    QVERIFY(!OpenJournalForReading(path, reading, error));
    QVERIFY(!error.isEmpty());
}

void TestWriteJournal::fullDiskReported() {
    // A file size limit fails the write as a full disk does, on a regular file.
    QTemporaryDir dir;
    TJournalFile file(dir.filePath("journal.jsonl"));
    QString error;
    const QByteArray first = Lines("E::Relay_1:accepted");
    QVERIFY(file.Append(first, error));
    const auto previous = ::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = old;
    small.rlim_cur = static_cast<rlim_t>(first.size() + 10);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool appended = file.Append(Lines("E::Relay_2:accepted"), error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, previous);
    QVERIFY(!appended);
    QVERIFY2(error.contains("Cannot write to the write journal"), qPrintable(error));
    // Untouched: no half entry left behind.
    QCOMPARE(file.ReadAll(), first);
}

void TestWriteJournal::sentBeforeTheWrite() {
    QTemporaryDir dir;
    TJournalFile file(dir.filePath("journal.jsonl"));
    TFedMemory memory(nullptr);
    Fill(memory);
    const TLinkLine line{1, 19200, TParity::None, TStopBits::_1, 7};
    {
        // The program dies while the meter holds the write and has not answered.
        TJournalRecorder recorder(memory, file);
        recorder.Ask = [](const std::string&) {};
        recorder.QueryStarting("00,05,00,01,FF,00", line);
    }
    auto entries = ParseJournal(file.ReadAll());
    QCOMPARE(entries.size(), std::size_t(1));
    QCOMPARE(entries[0].Outcome, QString("sent"));
    QCOMPARE(entries[0].Write.What, QString("Relay 2"));
    QCOMPARE(entries[0].Query, QString("07,05,00,01,FF,00"));
    QVERIFY(!entries[0].Id.isEmpty());

    // The next run: the entry "sent" and its outcome, which waits for the serial number.
    TJournalRecorder recorder(memory, file);
    recorder.Ask = [](const std::string&) {};
    recorder.QueryStarting("00,03,14,00,00,15", line); // a read: no entry
    recorder.QueryFinished("00,03,14,00,00,15", line, {});
    recorder.QueryStarting("00,05,00,00,00,00", line);
    QCOMPARE(ParseJournal(file.ReadAll()).size(), std::size_t(2));
    // The outcome does not take the relay's new state for the state before.
    memory.CoilsRead(std::array{false, false});
    recorder.QueryFinished("00,05,00,00,00,00", line, {TQueryResult::NoAnswer, 0});
    const auto serial = SerialNumber("KT-7");
    memory.RegistersRead(0xF040, serial);
    recorder.BlockRead(memory.Model(), 0xF040, serial);
    QCOMPARE(file.ReadAll().count('\n'), 3);
    entries = ParseJournal(file.ReadAll());
    QCOMPARE(entries.size(), std::size_t(2));
    QCOMPARE(entries[1].Outcome, QString("no answer"));
    QCOMPARE(entries[1].SerialNumber, std::optional<QString>("KT-7"));
    QCOMPARE(Changes(entries[1].Write), QString("Relay 1: ON -> OFF"));
    QCOMPARE(entries[0].Outcome, QString("sent"));
}

void TestWriteJournal::recorderWaitsForSerialNumber() {
    QTemporaryDir dir;
    TJournalFile file(dir.filePath("journal.jsonl"));
    TFedMemory memory(nullptr);
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
    recorder.BlockRead(memory.Model(), 0xF040, serial);
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
    TFedMemory memory(nullptr);
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
    TFedMemory memory(nullptr);
    TJournalRecorder recorder(memory, file);
    recorder.LineAdopted(TLinkLine{1, 19200, TParity::None, TStopBits::_1, 1},
                         TLinkLine{1, 9600, TParity::Even, TStopBits::_1, 5});
    const auto entries = ParseJournal(file.ReadAll());
    QCOMPARE(entries.size(), std::size_t(1));
    QCOMPARE(entries[0].Write.Kind, QString("line settings"));
    QCOMPARE(entries[0].Address, 5);
    QCOMPARE(Changes(entries[0].Write),
             QString("Address: 1 -> 5 | Line: 19200 bps, None1 -> 9600 bps, Even"));
}

QTEST_GUILESS_MAIN(TestWriteJournal)
#include "tst_writejournal.moc"
