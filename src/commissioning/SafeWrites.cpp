#include "commissioning/SafeWrites.h"

#include "commissioning/SettingsText.h"
#include "link/RegisterDecode.h"
#include "link/VersionRules.h"
#include "settings/SettingsBlocks.h"

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
            const QString name = QString::fromLatin1(f->Name);
            QString line = name + QStringLiteral(": ") + SettingValueText(*f, held) +
                           QStringLiteral(" -> ") + SettingValueText(*f, after);
            if (MovesTheLink(name))
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

TVerification VerifyWrites(const std::vector<TBlockWrite>& writes, const TMeterSettings& before,
                           const TMeterSettings& readBack, const QString& version,
                           const TScaling& scale) {
    QStringList problems;
    int verified = 0;
    for (const TBlockWrite& w : writes) {
        const bool refused = w.Outcome && w.Outcome->Result == TQueryResult::Exception;
        if (refused) {
            // What the refused block would have changed: against the meter before the sequence.
            const TMeterSettings wanted = Written(w, before, scale);
            QStringList fields;
            for (const TSettingsField* f : BlockFields(w.Block, RelayAlarmLayout(version)))
                if (!SameValue(*f, before, wanted))
                    fields << QString::fromLatin1(f->Name) + QStringLiteral(": ") +
                                  SettingValueText(*f, before) + QStringLiteral(" -> ") +
                                  SettingValueText(*f, wanted);
            problems << QStringLiteral("The meter refused block %1 (exception %2)%3")
                            .arg(RegisterHex(w.Block))
                            .arg(w.Outcome->ExceptionCode, 2, 10, QLatin1Char('0'))
                            .arg(fields.isEmpty() ? QStringLiteral("; it changed no field.")
                                                  : QStringLiteral(", with the changes:\n  ") +
                                                        fields.join(QStringLiteral("\n  ")));
            continue;
        }
        // Whatever the answer to the write, the read-back says what the meter holds.
        const TMeterSettings wanted = Written(w, readBack, scale);
        for (const TSettingsField* f : BlockFields(w.Block, RelayAlarmLayout(version))) {
            if (SameValue(*f, wanted, readBack)) {
                ++verified;
                continue;
            }
            problems << QStringLiteral("%1: written %2, the meter holds %3")
                            .arg(QString::fromLatin1(f->Name), SettingValueText(*f, wanted),
                                 SettingValueText(*f, readBack));
        }
    }
    if (problems.isEmpty())
        return {true, QStringLiteral("%1 settings written and verified").arg(verified)};
    return {false,
            QStringLiteral("%1 settings written and verified. Not as written:\n").arg(verified) +
                problems.join(QLatin1Char('\n'))};
}
