#include "commissioning/WriteDescription.h"

#include "commissioning/SettingsText.h"
#include "meter/SettingsBlocks.h"
#include "meter/ValueFormat.h"
#include "meter/VersionRules.h"

namespace {

constexpr std::uint16_t EnergyBase = 0x1180;
constexpr std::uint16_t EnergyResetRegister = 0x110D;
constexpr std::uint16_t EnergyResetCommand = 10;
const char* const CounterNames[EnergyCount] = {"Ep_total", "Eq_total", "Ep_imp",
                                               "Ep_exp",   "Eq_imp",   "Eq_exp"};

QString CounterText(int counter, std::uint32_t tenths) {
    // Active counters are the even ones.
    return counter % 2 == 0 ? FormatKWh(tenths / 10.0) : FormatKvarh(tenths / 10.0);
}

std::optional<QString> KnownCounter(const TMeterMemory& memory, int counter) {
    const auto& value = memory.Energy()[static_cast<std::size_t>(counter)];
    if (!value)
        return std::nullopt;
    return CounterText(counter, *value);
}

QString RelayState(bool on) {
    return on ? QStringLiteral("ON") : QStringLiteral("OFF");
}

} // namespace

QString RegisterHex(std::uint16_t address) {
    return QStringLiteral("0x") +
           QStringLiteral("%1").arg(address, 4, 16, QLatin1Char('0')).toUpper();
}

std::vector<std::uint8_t> QueryTextBytes(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t comma = text.find(',', at);
        const std::string field = text.substr(at, comma == std::string::npos ? comma : comma - at);
        bool ok = false;
        const int value = QString::fromLatin1(field).toInt(&ok, 16);
        if (field.size() != 2 || !ok)
            return {};
        bytes.push_back(static_cast<std::uint8_t>(value));
        if (comma == std::string::npos)
            break;
        at = comma + 1;
    }
    return bytes;
}

std::vector<TWriteChange> SettingsChanges(std::uint16_t start, std::span<const std::uint16_t> data,
                                          const TMeterSettings& before, bool beforeKnown,
                                          const QString& version, const TScaling& scale) {
    TMeterSettings after = before;
    DecodeSettingsBlock(start, data, after, scale);
    std::vector<TWriteChange> changes;
    for (const TSettingsField* field : BlockFields(start, RelayAlarmLayout(version))) {
        // A field the write leaves as it was is no change; unknown before, it may be one.
        if (beforeKnown && SameValue(*field, before, after))
            continue;
        TWriteChange c{QString::fromLatin1(field->Label), std::nullopt,
                       SettingValueText(*field, after)};
        if (beforeKnown)
            c.Before = SettingValueText(*field, before);
        changes.push_back(std::move(c));
    }
    return changes;
}

QString SettingsBlockTitle(std::uint16_t start) {
    struct TTitle {
        std::uint16_t Start;
        const char* Text;
    };
    static constexpr TTitle Titles[] = {
        {0x1100, "Communication, wiring, ratios and backlight"},
        {0x1200, "Relay and DO types, alarm"},
        {0x1208, "DO energy outputs"},
        {0x120A, "RO2 alarm"},
        {0x1300, "Analog outputs"},
    };
    for (const TTitle& t : Titles)
        if (t.Start == start)
            return QStringLiteral("%1 (settings block %2)")
                .arg(QString::fromLatin1(t.Text), RegisterHex(start));
    return QStringLiteral("Settings block %1").arg(RegisterHex(start));
}

namespace {

TWriteDescription DescribeRelay(std::uint16_t coil, bool on, const TMeterMemory& memory) {
    TWriteDescription d{QStringLiteral("relay"), QStringLiteral("Relay %1").arg(coil + 1), {}};
    std::optional<QString> before;
    if (memory.Relays() && coil < RelayCount)
        before = RelayState((*memory.Relays())[coil]);
    d.Changes.push_back({d.What, before, RelayState(on)});
    return d;
}

TWriteDescription DescribeEnergyReset(const TMeterMemory& memory) {
    TWriteDescription d{QStringLiteral("energy reset"), QStringLiteral("Energy counters"), {}};
    for (int k = 0; k < EnergyCount; ++k)
        if (memory.Energy()[static_cast<std::size_t>(k)] || k < 2)
            d.Changes.push_back(
                {QString::fromLatin1(CounterNames[k]), KnownCounter(memory, k), CounterText(k, 0)});
    return d;
}

// Counters written as pairs of registers from the energy block's start on.
bool EnergyPairs(std::uint16_t start, std::size_t count) {
    return start >= EnergyBase && (start - EnergyBase) % 2 == 0 && count % 2 == 0 &&
           start + count <= EnergyBase + 2u * EnergyCount;
}

TWriteDescription DescribeEnergyWrite(std::uint16_t start, const std::vector<std::uint16_t>& data,
                                      const TMeterMemory& memory) {
    TWriteDescription d;
    bool allZero = true;
    for (std::size_t k = 0; k + 1 < data.size(); k += 2) {
        const int counter = (start - EnergyBase) / 2 + static_cast<int>(k / 2);
        const std::uint32_t tenths =
            static_cast<std::uint32_t>(data[k]) | static_cast<std::uint32_t>(data[k + 1]) << 16;
        allZero = allZero && tenths == 0;
        d.Changes.push_back({QString::fromLatin1(CounterNames[counter]),
                             KnownCounter(memory, counter), CounterText(counter, tenths)});
    }
    // A basic meter's reset is zero written into its two counters.
    d.Kind = allZero && data.size() > 2 ? QStringLiteral("energy reset")
                                        : QStringLiteral("energy preset");
    d.What = d.Changes.size() == 1 ? d.Changes.front().Item : QStringLiteral("Energy counters");
    return d;
}

TWriteDescription DescribeRegisters(std::uint16_t start, const std::vector<std::uint16_t>& data) {
    TWriteDescription d{
        QStringLiteral("registers"),
        QStringLiteral("Registers %1, %2 of them").arg(RegisterHex(start)).arg(data.size()),
        {}};
    for (std::size_t k = 0; k < data.size(); ++k)
        d.Changes.push_back({RegisterHex(static_cast<std::uint16_t>(start + k)), std::nullopt,
                             QString::number(data[k])});
    return d;
}

} // namespace

std::optional<TWriteDescription> DescribeWrite(const std::string& text,
                                               const TMeterMemory& memory) {
    const std::vector<std::uint8_t> b = QueryTextBytes(text);
    if (b.size() < 6)
        return std::nullopt;
    const std::uint8_t function = b[1];
    const auto start = static_cast<std::uint16_t>(b[2] << 8 | b[3]);
    const auto value = static_cast<std::uint16_t>(b[4] << 8 | b[5]);
    if (function == 0x05)
        return DescribeRelay(start, value == 0xFF00, memory);
    if (function == 0x06)
        return DescribeRegisters(start, {value});
    if (function != 0x10)
        return std::nullopt;
    // The register data of a function 10 write, high byte first.
    std::vector<std::uint16_t> data;
    for (std::size_t k = 7; k + 1 < b.size(); k += 2)
        data.push_back(static_cast<std::uint16_t>(b[k] << 8 | b[k + 1]));
    if (start == EnergyResetRegister && data.size() == 1 && data[0] == EnergyResetCommand)
        return DescribeEnergyReset(memory);
    if (EnergyPairs(start, data.size()) && data.size() == value)
        return DescribeEnergyWrite(start, data, memory);
    if (FindSettingsBlock(start))
        return TWriteDescription{QStringLiteral("settings"), SettingsBlockTitle(start),
                                 SettingsChanges(start, data, memory.Settings(),
                                                 memory.BlockRead(start), memory.SoftwareVersion(),
                                                 memory.Scaling())};
    return DescribeRegisters(start, data);
}
