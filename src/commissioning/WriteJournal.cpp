#include "commissioning/WriteJournal.h"

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

QString CsvField(QString text) {
    // A meter's text must not become a formula in the spreadsheet that opens the export.
    if (text.startsWith(QLatin1Char('=')) || text.startsWith(QLatin1Char('+')) ||
        text.startsWith(QLatin1Char('@')))
        text.prepend(QLatin1Char('\''));
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

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
    e.Query = QString::fromLatin1(query.data(), static_cast<qsizetype>(query.size()));
    e.Outcome = OutcomeText(outcome.Result);
    e.ExceptionCode = outcome.Result == TQueryResult::Exception ? outcome.ExceptionCode : 0;
    return e;
}

QByteArray JournalLine(const TJournalEntry& e) {
    QJsonArray changes;
    for (const TWriteChange& c : e.Write.Changes)
        changes.append(
            QJsonObject{{"item", c.Item}, {"before", Optional(c.Before)}, {"after", c.After}});
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
                                   c.value("after").toString()});
    }
    e.Outcome = o.value("outcome").toString();
    e.ExceptionCode = o.value("exceptionCode").toInt();
    return e;
}

std::vector<TJournalEntry> ParseJournal(const QByteArray& bytes) {
    std::vector<TJournalEntry> entries;
    for (const QByteArray& line : bytes.split('\n'))
        if (auto e = ParseJournalLine(line))
            entries.push_back(std::move(*e));
    return entries;
}

QString ChangeText(const TWriteChange& c) {
    return c.Item + QStringLiteral(": ") + c.Before.value_or(QStringLiteral("?")) +
           QStringLiteral(" -> ") + c.After;
}

QString JournalCsv(const std::vector<TJournalEntry>& entries) {
    QString csv =
        QStringLiteral("Time,Port,Baud rate,Parity,Stop bits,Address,Serial number,"
                       "Software version,Kind,What,Changes,Outcome,Exception code,Query\r\n");
    for (const TJournalEntry& e : entries) {
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
            fields << CsvField(f);
        csv += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return csv;
}
