#include "commissioning/SafeWrites.h"

#include "commissioning/SettingsText.h"
#include "meter/RegisterDecode.h"
#include "meter/SettingsBlocks.h"
#include "meter/VersionRules.h"
#include "settings/SettingsCaptions.h"

#include <QRegularExpression>

namespace {

// The fields whose change moves the link to another address or line setting.
bool MovesTheLink(const QString& field) {
    return field == QLatin1String("Address") || field == QLatin1String("Baudrate") ||
           field == QLatin1String("Parity");
}

// The record as the meter would show it after the write: the written registers decoded on top.
TMeterSettings Written(const TBlockWrite& w, const TMeterSettings& base, const TScaling& scale) {
    TMeterSettings after = base;
    DecodeSettingsBlock(w.Block, w.Data, after, scale);
    return after;
}

// The ratios the meter applies once the writes are in: a write of block 0x1100 brings its own
// PT and CT, by which the setpoints written with it are scaled.
TScaling ScalingAfter(const std::vector<TBlockWrite>& writes, const TScaling& scale) {
    TScaling after = scale;
    for (const TBlockWrite& w : writes) {
        if (w.Block == 0x1100) {
            TRatioState state;
            UpdateRatios(w.Data, state, after);
        }
    }
    return after;
}

} // namespace

std::optional<TBlockWrite> SettingsBlockWrite(const std::string& text) {
    const std::vector<std::uint8_t> b = QueryTextBytes(text);
    if (b.size() < 7 || b[1] != 0x10)
        return std::nullopt;
    const auto start = static_cast<std::uint16_t>(b[2] << 8 | b[3]);
    const TSettingsBlock* block = FindSettingsBlock(start);
    if (!block)
        return std::nullopt;
    TBlockWrite w;
    w.Block = start;
    for (std::size_t k = 7; k + 1 < b.size(); k += 2)
        w.Data.push_back(static_cast<std::uint16_t>(b[k] << 8 | b[k + 1]));
    if (w.Data.size() != block->Count)
        return std::nullopt;
    return w;
}

QStringList ChangeLines(const std::vector<TBlockWrite>& writes, const TMeterSettings& held,
                        const QString& version, const TScaling& scale) {
    QStringList lines;
    const TScaling afterScale = ScalingAfter(writes, scale);
    for (const TBlockWrite& w : writes) {
        const TMeterSettings after = Written(w, held, afterScale);
        for (const TSettingsField* f : BlockFields(w.Block, RelayAlarmLayout(version))) {
            if (SameValue(*f, held, after))
                continue;
            QString line = SettingCaption(*f) + QStringLiteral(": ") + SettingValueText(*f, held) +
                           QStringLiteral(" -> ") + SettingValueText(*f, after);
            if (MovesTheLink(QString::fromLatin1(f->Name)))
                line += QStringLiteral("  (moves the link)");
            lines << line;
        }
    }
    return lines;
}

QString BackupFileName(const QString& serialNumber, const QDateTime& time) {
    QString serial = serialNumber.isEmpty() ? QStringLiteral("unknown") : serialNumber;
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]"));
    serial.replace(unsafe, QStringLiteral("_"));
    // A serial number that names the model already gets no second prefix.
    const QString prefix = QStringLiteral("KT580-");
    if (serial.startsWith(prefix, Qt::CaseInsensitive) && serial.size() > prefix.size())
        serial.remove(0, prefix.size());
    return QStringLiteral("KT580-%1-%2.pmt")
        .arg(serial, time.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")));
}

namespace {

TSettingResult ResultOf(const TBlockWrite& w) {
    if (w.NotSent || !w.Outcome)
        return TSettingResult::NotSent;
    if (w.Outcome->Result == TQueryResult::Exception)
        return TSettingResult::Refused;
    // Whatever the answer to the write (it may be lost after the meter took it), the read-back
    // says what the meter holds.
    return w.ReadBack ? TSettingResult::Verified : TSettingResult::NotVerified;
}

QString ChangeText(const TSettingCheck& c) {
    return SettingCaption(*c.Field) + QStringLiteral(": ") + c.Before + QStringLiteral(" -> ") +
           c.Wanted;
}

// The lines of one kind of outcome, each setting on its own indented line.
QStringList Section(const QString& heading, const QStringList& lines) {
    if (lines.isEmpty())
        return {};
    return {heading + QStringLiteral("\n  ") + lines.join(QStringLiteral("\n  "))};
}

QStringList RefusedSections(const std::vector<TBlockWrite>& writes,
                            const std::vector<TSettingCheck>& checks) {
    QStringList sections;
    for (const TBlockWrite& w : writes) {
        if (ResultOf(w) != TSettingResult::Refused)
            continue;
        QStringList lines;
        for (const TSettingCheck& c : checks)
            if (c.Block == w.Block && c.Changed)
                lines << ChangeText(c);
        const QString head = QStringLiteral("Refused by the meter (block %1, exception %2)")
                                 .arg(RegisterHex(w.Block))
                                 .arg(w.Outcome->ExceptionCode, 2, 10, QLatin1Char('0'));
        sections << (lines.isEmpty() ? head + QStringLiteral(": it changed no setting.")
                                     : Section(head + QLatin1Char(':'), lines).join(QString()));
    }
    return sections;
}

QStringList NotSentSections(const std::vector<TBlockWrite>& writes,
                            const std::vector<TSettingCheck>& checks) {
    QStringList blocks;
    QStringList lines;
    for (const TBlockWrite& w : writes) {
        if (ResultOf(w) != TSettingResult::NotSent)
            continue;
        blocks << RegisterHex(w.Block);
        for (const TSettingCheck& c : checks)
            if (c.Block == w.Block && c.Changed)
                lines << ChangeText(c);
    }
    if (blocks.isEmpty())
        return {};
    const QString head = (blocks.size() == 1 ? QStringLiteral("Not sent (block %1)")
                                             : QStringLiteral("Not sent (blocks %1)"))
                             .arg(blocks.join(QStringLiteral(", ")));
    if (lines.isEmpty())
        return {head + (blocks.size() == 1 ? QStringLiteral(": no setting in it changed.")
                                           : QStringLiteral(": no setting in them changed."))};
    return Section(head + QLatin1Char(':'), lines);
}

// The settings the operator is told about, each with its result.
std::vector<TWriteChange> Recorded(const std::vector<TSettingCheck>& checks) {
    std::vector<TWriteChange> settings;
    for (const TSettingCheck& c : checks) {
        const bool otherwise = c.Result == TSettingResult::NotAsWritten;
        if (c.Changed || otherwise)
            settings.push_back({SettingCaption(*c.Field), c.Before, c.Wanted,
                                SettingResultName(c.Result), otherwise ? c.Held : QString()});
    }
    return settings;
}

} // namespace

QString SettingResultName(TSettingResult result) {
    switch (result) {
    case TSettingResult::Verified:
        return QStringLiteral("verified");
    case TSettingResult::NotAsWritten:
        return QStringLiteral("not as written");
    case TSettingResult::NotVerified:
        return QStringLiteral("not verified");
    case TSettingResult::Refused:
        return QStringLiteral("refused");
    case TSettingResult::NotSent:
        break;
    }
    return QStringLiteral("not sent");
}

std::vector<TSettingCheck> CheckSettings(const std::vector<TBlockWrite>& writes,
                                         const TMeterSettings& before, const TScaling& beforeScale,
                                         const TMeterSettings& readBack, const QString& version) {
    const TScaling confirmed = ScalingAfter(writes, beforeScale);
    std::vector<TSettingCheck> checks;
    for (const TBlockWrite& w : writes) {
        const TMeterSettings wanted = Written(w, before, confirmed);
        const TSettingResult result = ResultOf(w);
        for (const TSettingsField* f : BlockFields(w.Block, RelayAlarmLayout(version))) {
            TSettingCheck c{f,
                            w.Block,
                            !SameValue(*f, before, wanted),
                            SettingValueText(*f, before),
                            SettingValueText(*f, wanted),
                            {},
                            result};
            if (w.ReadBack)
                c.Held = SettingValueText(*f, readBack);
            // A setting left as it was in a block held back or refused can still have moved:
            // a setpoint the meter now reads by ratios it took without answering.
            const bool checked = result == TSettingResult::Verified ||
                                 (result != TSettingResult::NotVerified && !c.Changed);
            if (w.ReadBack && checked && !SameValue(*f, wanted, readBack))
                c.Result = TSettingResult::NotAsWritten;
            checks.push_back(std::move(c));
        }
    }
    return checks;
}

TVerification VerifyWrites(const std::vector<TBlockWrite>& writes, const TMeterSettings& before,
                           const TScaling& beforeScale, const TMeterSettings& readBack,
                           const QString& version) {
    const std::vector<TSettingCheck> checks =
        CheckSettings(writes, before, beforeScale, readBack, version);
    int changed = 0;
    QStringList verified;
    QStringList notVerified;
    QStringList notAsWritten;
    for (const TSettingCheck& c : checks) {
        changed += c.Changed ? 1 : 0;
        if (c.Result == TSettingResult::Verified && c.Changed)
            verified << ChangeText(c);
        else if (c.Result == TSettingResult::NotVerified && c.Changed)
            notVerified << ChangeText(c);
        else if (c.Result == TSettingResult::NotAsWritten)
            notAsWritten << QStringLiteral("%1: confirmed %2, the meter holds %3")
                                .arg(SettingCaption(*c.Field), c.Wanted, c.Held);
    }
    QStringList problems = RefusedSections(writes, checks);
    problems << NotSentSections(writes, checks);
    problems << Section(QStringLiteral("Not verified (the meter's answer to the read-back was "
                                       "lost):"),
                        notVerified);
    problems << Section(QStringLiteral("Not as confirmed:"), notAsWritten);
    if (problems.isEmpty()) {
        if (changed == 0)
            return {true, QStringLiteral("No setting changed: the meter holds the settings as "
                                         "written and verified.")};
        const QString head =
            changed == 1 ? QStringLiteral("1 changed setting written and verified:")
                         : QStringLiteral("%1 changed settings written and verified:").arg(changed);
        return {true, Section(head, verified).join(QString()), Recorded(checks)};
    }
    QString text = QStringLiteral("%1 of %2 changed settings written and verified")
                       .arg(verified.size())
                       .arg(changed);
    text += verified.isEmpty() ? QStringLiteral(".")
                               : QStringLiteral(":\n  ") + verified.join(QStringLiteral("\n  "));
    return {false, text + QLatin1Char('\n') + problems.join(QLatin1Char('\n')), Recorded(checks)};
}
