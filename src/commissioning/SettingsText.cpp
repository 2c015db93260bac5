#include "commissioning/SettingsText.h"

#include "meter/SettingsBlocks.h"
#include "settings/SettingsChoices.h"

#include <QRegularExpression>

namespace {

struct TUnit {
    const char* Field;
    const char* Unit;
};

constexpr TUnit Units[] = {
    {"Baudrate", " bps"},
    {"PT1", " V"},
    {"PT2", " V"},
    {"CT1", " A"},
    {"CT2", " A"},
    {"DOPulseConst", " Pulses/kWh"},
    {"BacklightTime", " min"},
    {"AlarmDelay", " s"},
    {"RO1AlarmDelay", " s"},
    {"RO2AlarmDelay", " s"},
    {"AO1HighLimit", " %"},
    {"AO1LowLimit", " %"},
    {"AO2HighLimit", " %"},
    {"AO2LowLimit", " %"},
};

// The setpoint fields and the channel fields that give their unit.
struct TSetpoint {
    const char* Field;
    int TMeterSettings::*Channel;
};

const TSetpoint Setpoints[] = {
    {"AlarmSetpoint", &TMeterSettings::AlarmItems},
    {"RO1AlarmSetpoint", &TMeterSettings::RO1AlarmItems},
    {"RO2AlarmSetpoint", &TMeterSettings::RO2AlarmItems},
};

// The unit in the channel's entry, "Volts AN (V)" gives " V"; none for the power factor.
QString ChannelUnit(int channel) {
    const QStringList& channels = SettingsChoiceItems("AlarmItems");
    if (channel < 0 || channel >= channels.size())
        return QString();
    static const QRegularExpression unit(QStringLiteral("\\(([^)]*)\\)$"));
    const QRegularExpressionMatch m = unit.match(channels[channel]);
    return m.hasMatch() ? QLatin1Char(' ') + m.captured(1) : QString();
}

QString WithUnit(const QString& text, const QString& unit) {
    return text.isEmpty() ? QString() : text + unit;
}

} // namespace

QString SettingValueText(const TSettingsField& field, const TMeterSettings& s) {
    const QLatin1String name(field.Name);
    if (name == QLatin1String("Password"))
        return (s.*field.Text).isEmpty() ? QString() : QStringLiteral("****");
    if (field.Choice) {
        const int index = s.*field.Choice;
        const QStringList& items = SettingsChoiceItems(field.Name);
        if (index < 0)
            return QStringLiteral("(none)");
        if (index < items.size())
            return items[index].trimmed();
        return QString::number(index);
    }
    const QString& text = s.*field.Text;
    for (const TSetpoint& sp : Setpoints)
        if (name == QLatin1String(sp.Field))
            return WithUnit(text, ChannelUnit(s.*sp.Channel));
    for (const TUnit& u : Units)
        if (name == QLatin1String(u.Field))
            return WithUnit(text, QString::fromLatin1(u.Unit));
    return text;
}

bool SameValue(const TSettingsField& field, const TMeterSettings& a, const TMeterSettings& b) {
    return field.Text ? a.*field.Text == b.*field.Text : a.*field.Choice == b.*field.Choice;
}

std::vector<const TSettingsField*> BlockFields(std::uint16_t start, bool relayAlarmLayout) {
    std::vector<const TSettingsField*> fields;
    const TSettingsBlock* block = FindSettingsBlock(start);
    if (!block)
        return fields;
    // The block's own decoder says which fields its registers hold: every field it sets from
    // a block of zeros differs from a marker no register value can produce.
    TMeterSettings probe;
    for (const TSettingsField& f : MeterSettingsFields()) {
        if (f.Text)
            probe.*f.Text = QStringLiteral("\x01");
        else
            probe.*f.Choice = -7;
    }
    const TMeterSettings marker = probe;
    const std::vector<std::uint16_t> zeros(block->Count, 0);
    DecodeSettingsBlock(start, zeros, probe, TScaling{});
    for (const TSettingsField& f : MeterSettingsFields()) {
        if (SameValue(f, probe, marker))
            continue;
        const QLatin1String name(f.Name);
        // Block 0x1200 reads into both alarm field sets; a write carries one of them.
        if (relayAlarmLayout ? name.startsWith(QLatin1String("Alarm"))
                             : name.startsWith(QLatin1String("RO1Alarm")))
            continue;
        fields.push_back(&f);
    }
    return fields;
}
