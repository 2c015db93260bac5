#include "commissioning/WriteJournal.h"

#include "commissioning/JournalIndex.h"
#include "meter/QueryAddress.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTimeZone>

namespace {

QJsonValue Optional(const std::optional<QString>& text) {
    return text ? QJsonValue(*text) : QJsonValue(QJsonValue::Null);
}

std::optional<QString> OptionalText(const QJsonValue& v) {
    if (!v.isString())
        return std::nullopt;
    return v.toString();
}

} // namespace

QString CsvCell(QString text) {
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    if (!text.isEmpty() && formulaStarts.contains(text.front()))
        text.prepend(QLatin1Char('\''));
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    text.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

QString IsoTime(const QDateTime& time) {
    const QDateTime& local = time;
    const int offset = local.offsetFromUtc();
    const int minutes = (offset < 0 ? -offset : offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
           (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString ParityName(TParity parity) {
    const char* const names[] = {"None", "Odd", "Even", "Mark", "Space"};
    return QString::fromLatin1(names[static_cast<int>(parity) % 5]);
}

QString StopBitsName(TStopBits stopBits) {
    const char* const names[] = {"1", "1.5", "2"};
    return QString::fromLatin1(names[static_cast<int>(stopBits) % 3]);
}

QString LineSettingText(std::uint32_t baudrate, TParity parity, TStopBits stopBits) {
    QString text = QString::number(baudrate) + QStringLiteral(" bps, ");
    if (parity == TParity::None && stopBits != TStopBits::_1_5)
        return text +
               (stopBits == TStopBits::_2 ? QStringLiteral("None2") : QStringLiteral("None1"));
    text += ParityName(parity);
    if (stopBits != TStopBits::_1)
        text += QStringLiteral(", %1 stop bits").arg(StopBitsName(stopBits));
    return text;
}

QString DisplayTime(const QDateTime& time) {
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString OutcomeText(TQueryResult result) {
    switch (result) {
    case TQueryResult::Answered:
        return QStringLiteral("accepted");
    case TQueryResult::Exception:
        return QStringLiteral("exception");
    case TQueryResult::NoAnswer:
        return QStringLiteral("no answer");
    case TQueryResult::BadAnswer:
        break;
    }
    return QStringLiteral("bad answer");
}

TJournalEntry MakeJournalEntry(const QDateTime& time, const TLinkLine& line,
                               const TWriteDescription& write, const std::string& query,
                               const TQueryOutcome& outcome) {
    TJournalEntry e;
    e.Time = time;
    e.Port = QStringLiteral("COM%1").arg(line.PortNum);
    e.Baudrate = line.Baudrate;
    e.Parity = ParityName(line.Parity);
    e.StopBits = line.StopBits == TStopBits::_2 ? 2 : 1;
    e.Address = line.Address;
    e.Write = write;
    const std::string sent = query.empty() ? query : WithAddress(query, line.Address);
    e.Query = QString::fromLatin1(sent.data(), static_cast<qsizetype>(sent.size()));
    e.Outcome = OutcomeText(outcome.Result);
    e.ExceptionCode = outcome.Result == TQueryResult::Exception ? outcome.ExceptionCode : 0;
    return e;
}

QByteArray JournalLine(const TJournalEntry& e) {
    QJsonArray changes;
    for (const TWriteChange& c : e.Write.Changes) {
        QJsonObject change{{"item", c.Item}, {"before", Optional(c.Before)}, {"after", c.After}};
        if (!c.Result.isEmpty())
            change.insert(QStringLiteral("result"), c.Result);
        if (!c.Held.isEmpty())
            change.insert(QStringLiteral("held"), c.Held);
        changes.append(change);
    }
    QJsonObject o{
        {"time", IsoTime(e.Time)},
        {"port", e.Port},
        {"line",
         QJsonObject{{"baudrate", e.Baudrate}, {"parity", e.Parity}, {"stopBits", e.StopBits}}},
        {"address", e.Address},
        {"serialNumber", Optional(e.SerialNumber)},
        {"softwareVersion", e.SoftwareVersion},
        {"kind", e.Write.Kind},
        {"what", e.Write.What},
        {"query", e.Query},
        {"changes", changes},
        {"outcome", e.Outcome},
    };
    if (e.Outcome == QLatin1String("exception"))
        o.insert(QStringLiteral("exceptionCode"), e.ExceptionCode);
    if (!e.Id.isEmpty())
        o.insert(QStringLiteral("id"), e.Id);
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<TJournalEntry> ParseJournalLine(const QByteArray& line) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    TJournalEntry e;
    e.Time = QDateTime::fromString(o.value("time").toString(), Qt::ISODateWithMs);
    if (!e.Time.isValid())
        return std::nullopt;
    e.Port = o.value("port").toString();
    const QJsonObject lineObject = o.value("line").toObject();
    e.Baudrate = lineObject.value("baudrate").toInt();
    e.Parity = lineObject.value("parity").toString();
    e.StopBits = lineObject.value("stopBits").toInt(1);
    e.Address = o.value("address").toInt();
    e.SerialNumber = OptionalText(o.value("serialNumber"));
    e.SoftwareVersion = o.value("softwareVersion").toString();
    e.Write.Kind = o.value("kind").toString();
    e.Write.What = o.value("what").toString();
    e.Query = o.value("query").toString();
    const QJsonArray changes = o.value("changes").toArray();
    for (const auto& v : changes) {
        const QJsonObject c = v.toObject();
        e.Write.Changes.push_back({c.value("item").toString(), OptionalText(c.value("before")),
                                   c.value("after").toString(), c.value("result").toString(),
                                   c.value("held").toString()});
    }
    e.Outcome = o.value("outcome").toString();
    e.ExceptionCode = o.value("exceptionCode").toInt();
    e.Id = o.value("id").toString();
    return e;
}

TJournalRead ReadJournal(const QByteArray& bytes) {
    TJournalIndex index;
    const qsizetype consumed = index.Feed(bytes);
    // A last line without its line feed is read as it is: complete or not, it is the end.
    index.FeedLast(QByteArrayView(bytes).sliced(consumed));
    TJournalRead read;
    read.Broken = index.Broken();
    read.Entries.reserve(index.Items().size());
    for (const TJournalIndex::TItem& item : index.Items())
        if (auto e = ParseJournalLine(bytes.mid(item.Offset, item.Length)))
            read.Entries.push_back(std::move(*e));
    return read;
}

std::vector<TJournalEntry> ParseJournal(const QByteArray& bytes) {
    return ReadJournal(bytes).Entries;
}

QString ChangeText(const TWriteChange& c) {
    QString text = c.Item + QStringLiteral(": ") + c.Before.value_or(QStringLiteral("?")) +
                   QStringLiteral(" -> ") + c.After;
    if (c.Result.isEmpty())
        return text;
    text += QStringLiteral(" (") + c.Result;
    if (!c.Held.isEmpty())
        text += QStringLiteral(", the meter holds ") + c.Held;
    return text + QLatin1Char(')');
}

QString OutcomeShown(const TJournalEntry& e) {
    if (e.Outcome == QLatin1String("exception"))
        return QStringLiteral("exception %1").arg(e.ExceptionCode, 2, 10, QLatin1Char('0'));
    if (e.Outcome == QLatin1String(JournalSent))
        return QStringLiteral("sent, no outcome recorded");
    return e.Outcome;
}

QString ReportOutcome(const TJournalEntry& e) {
    if (e.Outcome == QLatin1String("exception"))
        return QStringLiteral("exception %1").arg(e.ExceptionCode);
    if (e.Outcome == QLatin1String(JournalSent))
        return QStringLiteral("sent, outcome unknown");
    return e.Outcome;
}

QString JournalCsvHeading() {
    return QStringLiteral("Time,Port,Baud rate,Parity,Stop bits,Address,Serial number,"
                          "Software version,Kind,What,Changes,Outcome,Exception code,Query\r\n");
}

QString JournalCsvRow(const TJournalEntry& e) {
    QStringList changes;
    for (const TWriteChange& c : e.Write.Changes)
        changes << ChangeText(c);
    const QStringList row = {
        IsoTime(e.Time),
        e.Port,
        QString::number(e.Baudrate),
        e.Parity,
        QString::number(e.StopBits),
        QString::number(e.Address),
        e.SerialNumber.value_or(QString()),
        e.SoftwareVersion,
        e.Write.Kind,
        e.Write.What,
        changes.join(QStringLiteral("; ")),
        e.Outcome,
        e.Outcome == QLatin1String("exception") ? QString::number(e.ExceptionCode) : QString(),
        e.Query};
    QStringList fields;
    for (const QString& f : row)
        fields << CsvCell(f);
    return fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QString JournalCsv(const std::vector<TJournalEntry>& entries) {
    QString csv = JournalCsvHeading();
    for (const TJournalEntry& e : entries)
        csv += JournalCsvRow(e);
    return csv;
}
