#include "meter/SettingsBlocks.h"

#include "meter/NumberText.h"
#include "meter/QueryBytes.h"
#include "meter/QueryPlan.h"
#include "meter/ValueFormat.h"
#include "meter/ValueParse.h"

#include <algorithm>
#include <optional>
#include <ranges>
#include <utility>
#include <vector>

namespace {

using S = TMeterSettings;

// How a register holds its field.
enum class TKind : uint8_t {
    Choice,   // the index of a list entry
    Plain,    // an integer typed as text
    Limit,    // an analog-output limit, typed with or without a percent sign
    Pair,     // an unsigned 32-bit integer typed as text, low word first in two registers
    Setpoint, // an alarm value, scaled by the channel its alarm watches
};

struct TField {
    TKind Kind;
    int S::*Choice = nullptr;   // Choice; Setpoint: the choice field naming the channel
    QString S::*Text = nullptr; // every other kind
};

constexpr TField Choice(int S::*field) {
    return {TKind::Choice, field, nullptr};
}
constexpr TField Plain(QString S::*field) {
    return {TKind::Plain, nullptr, field};
}
constexpr TField Limit(QString S::*field) {
    return {TKind::Limit, nullptr, field};
}
constexpr TField Pair(QString S::*field) {
    return {TKind::Pair, nullptr, field};
}
constexpr TField Setpoint(int S::*channel, QString S::*field) {
    return {TKind::Setpoint, channel, field};
}

// The field of one register (two for a pair). The alarm registers of block 0x1200 hold the
// single alarm's field and, in the relay alarm layout, relay 1's.
struct TRegister {
    TField Field;
    std::optional<TField> Relay1 = std::nullopt;
};

constexpr unsigned Width(const TField& field) {
    return field.Kind == TKind::Pair ? 2 : 1;
}

constexpr TRegister GeneralRegisters[] = {
    {Plain(&S::Password)},
    {Plain(&S::Address)},
    {Plain(&S::Baudrate)},
    {Choice(&S::Parity)},
    {Choice(&S::VoltageWiring)},
    {Pair(&S::PT1)},
    {Plain(&S::PT2)},
    {Plain(&S::CT1)},
    {Plain(&S::CT2)},
    {Choice(&S::QMode)},
    {Plain(&S::BacklightTime)},
    {Choice(&S::LoadConvention)},
};

constexpr TRegister AlarmRegisters[] = {
    {Choice(&S::ROType)},
    {Choice(&S::DOType)},
    {Plain(&S::DOPulseConst)},
    {Choice(&S::AlarmItems), Choice(&S::RO1AlarmItems)},
    {Setpoint(&S::AlarmItems, &S::AlarmSetpoint),
     Setpoint(&S::RO1AlarmItems, &S::RO1AlarmSetpoint)},
    {Plain(&S::AlarmDelay), Plain(&S::RO1AlarmDelay)},
    {Choice(&S::AlarmOperator), Choice(&S::RO1AlarmOperator)},
    {Choice(&S::AlarmOutput), Choice(&S::RO1AlarmOutput)},
};

constexpr TRegister DigitalOutputRegisters[] = {
    {Choice(&S::DO1Output)},
    {Choice(&S::DO2Output)},
};

constexpr TRegister Relay2AlarmRegisters[] = {
    {Choice(&S::RO2AlarmItems)},  {Setpoint(&S::RO2AlarmItems, &S::RO2AlarmSetpoint)},
    {Plain(&S::RO2AlarmDelay)},   {Choice(&S::RO2AlarmOperator)},
    {Choice(&S::RO2AlarmOutput)},
};

constexpr TRegister AnalogOutputRegisters[] = {
    {Choice(&S::AO1Object)},  {Choice(&S::AO1Mode)},  {Limit(&S::AO1HighLimit)},
    {Limit(&S::AO1LowLimit)}, {Choice(&S::AO1HLOpt)}, {Choice(&S::AO1LLOpt)},
    {Choice(&S::AO2Object)},  {Choice(&S::AO2Mode)},  {Limit(&S::AO2HighLimit)},
    {Limit(&S::AO2LowLimit)}, {Choice(&S::AO2HLOpt)}, {Choice(&S::AO2LLOpt)},
};

struct TBlockLayout {
    TSettingsBlock Block;
    std::span<const TRegister> Registers;
};

constexpr TBlockLayout Layouts[] = {
    {{sbGeneral, 13, qry::Settings1100, "00,10,11,00,00,0D,1A"}, GeneralRegisters},
    {{sbAlarm, 8, qry::Settings1200, "00,10,12,00,00,08,10"}, AlarmRegisters},
    {{sbAnalogOutput, 12, qry::Settings1300, "00,10,13,00,00,0C,18"}, AnalogOutputRegisters},
    {{sbDigitalOutput, 2, qry::Settings1208, "00,10,12,08,00,02,04"}, DigitalOutputRegisters},
    {{sbRelay2Alarm, 5, qry::Settings120A, "00,10,12,0A,00,05,0A"}, Relay2AlarmRegisters},
};

// The register of a block that holds a choice field, or Count when none does.
constexpr unsigned ChoiceRegister(const TBlockLayout& layout, int S::*field) {
    unsigned offset = 0;
    for (const TRegister& r : layout.Registers) {
        if ((r.Field.Kind == TKind::Choice && r.Field.Choice == field) ||
            (r.Relay1 && r.Relay1->Kind == TKind::Choice && r.Relay1->Choice == field))
            return offset;
        offset += Width(r.Field);
    }
    return layout.Block.Count;
}

// Each layout fills its block's registers exactly, both alarm field sets alike, and a setpoint
// comes after the register of its channel, which decoding reads first.
constexpr bool Consistent(const TBlockLayout& layout) {
    unsigned offset = 0;
    for (const TRegister& r : layout.Registers) {
        for (const std::optional<TField>& f : {std::optional<TField>(r.Field), r.Relay1}) {
            if (f && f->Kind == TKind::Setpoint && ChoiceRegister(layout, f->Choice) >= offset)
                return false;
        }
        if (r.Relay1 && Width(*r.Relay1) != Width(r.Field))
            return false;
        offset += Width(r.Field);
    }
    return offset == layout.Block.Count;
}
static_assert(std::ranges::all_of(Layouts, Consistent));

const TSettingsField& Described(const TField& f) {
    const TSettingsField* d =
        f.Kind == TKind::Choice ? FindSettingsField(f.Choice) : FindSettingsField(f.Text);
    // Every member a block names is one of the record's fields (checked by the tests).
    return *d;
}

[[noreturn]] void RaiseFieldOutOfRange(const QString& text, const TSettingsField& field) {
    throw EConvertError(QStringLiteral("'%1' is out of range for %2")
                            .arg(TrimText(text), QLatin1StringView(field.Label)));
}

// The register data of one field, every value checked against the register it goes to. A
// value that does not fit names its field; a text that is no number keeps the conversion's
// own message, which quotes it.
std::string FieldData(const TField& f, const TMeterSettings& s, const TScaling& scale) {
    const TSettingsField& field = Described(f);
    const auto word = [&](int64_t value, const QString& text) {
        if (value < 0 || value > 0xFFFF)
            RaiseFieldOutOfRange(text, field);
        return WordToQueryBytes(value);
    };
    try {
        switch (f.Kind) {
        case TKind::Choice: {
            const int index = s.*f.Choice;
            // -1 means no entry chosen: it must not reach the meter as 0xFFFF.
            if (index < 0)
                throw EConvertError(
                    QStringLiteral("No entry chosen for %1").arg(QLatin1StringView(field.Label)));
            return word(index, QString::number(index));
        }
        case TKind::Plain:
            // A list that holds its entry's text (the baud rate) with none chosen.
            if (field.Items && (s.*f.Text).isEmpty())
                throw EConvertError(
                    QStringLiteral("No entry chosen for %1").arg(QLatin1StringView(field.Label)));
            return word(PlainInteger(s.*f.Text), s.*f.Text);
        case TKind::Limit:
            return word(IntegerToRaw(s.*f.Text), s.*f.Text);
        case TKind::Pair:
            return DWordToQueryBytes(PlainUnsigned32(s.*f.Text));
        case TKind::Setpoint:
            // AlarmValueToRaw has already fitted the value to the channel's signedness;
            // negative values go out in two's complement.
            return WordToQueryBytes(AlarmValueToRaw(scale, s.*f.Choice, s.*f.Text));
        }
    } catch (const ERangeError& e) {
        RaiseFieldOutOfRange(e.Text(), field);
    }
    return {};
}

// Sets one field from its registers in a read response; the caller has checked they arrived.
void ReadField(const TField& f, const TBlockLayout& layout, unsigned offset,
               std::span<const uint16_t> values, TMeterSettings& s, const TScaling& scale) {
    switch (f.Kind) {
    case TKind::Choice:
        s.*f.Choice = values[offset];
        break;
    case TKind::Plain:
    case TKind::Limit:
        s.*f.Text = IntegerText(values[offset]);
        break;
    case TKind::Pair:
        s.*f.Text = IntegerText(static_cast<uint32_t>(values[offset]) |
                                static_cast<uint32_t>(values[offset + 1]) << 16);
        break;
    case TKind::Setpoint:
        // Scaled by the channel of this response, not by the channel field as it may be
        // shown afterwards.
        s.*f.Text = AlarmValueText(scale, values[ChoiceRegister(layout, f.Choice)], values[offset]);
        break;
    }
}

const TBlockLayout* FindLayout(uint16_t start) {
    for (const TBlockLayout& layout : Layouts)
        if (layout.Block.Start == start)
            return &layout;
    return nullptr;
}

} // namespace

const TSettingsBlock* FindSettingsBlock(uint16_t start) {
    const TBlockLayout* layout = FindLayout(start);
    return layout ? &layout->Block : nullptr;
}

std::vector<TEncodedField> EncodeSettingsFields(uint16_t start, const TMeterSettings& s,
                                                bool relayAlarmLayout, const TScaling& scale) {
    std::vector<TEncodedField> fields;
    const TBlockLayout* layout = FindLayout(start);
    if (!layout)
        return fields;
    for (const TRegister& r : layout->Registers) {
        const TField& f = relayAlarmLayout && r.Relay1 ? *r.Relay1 : r.Field;
        fields.push_back({&Described(f), FieldData(f, s, scale)});
    }
    return fields;
}

std::string EncodeSettingsBlock(uint16_t start, const TMeterSettings& s, bool relayAlarmLayout,
                                const TScaling& scale) {
    const TBlockLayout* layout = FindLayout(start);
    if (!layout)
        return {};
    std::string query = layout->Block.WriteHead;
    for (const TEncodedField& f : EncodeSettingsFields(start, s, relayAlarmLayout, scale))
        query += f.Data;
    return query;
}

bool DecodeSettingsBlock(uint16_t start, std::span<const uint16_t> values, TMeterSettings& s,
                         const TScaling& scale) {
    const TBlockLayout* layout = FindLayout(start);
    if (!layout)
        return false;
    const size_t count = std::min<size_t>(values.size(), layout->Block.Count);
    unsigned offset = 0;
    for (const TRegister& r : layout->Registers) {
        // Only fields whose registers all arrived: a pair cut after its low word stays as it was.
        if (offset + Width(r.Field) > count)
            break;
        // Whatever the layout, both alarm field sets show the same registers.
        ReadField(r.Field, *layout, offset, values, s, scale);
        if (r.Relay1)
            ReadField(*r.Relay1, *layout, offset, values, s, scale);
        offset += Width(r.Field);
    }
    return true;
}

namespace {

void CopyField(const TField& f, const TMeterSettings& from, TMeterSettings& to) {
    if (f.Kind == TKind::Choice)
        to.*f.Choice = from.*f.Choice;
    else
        to.*f.Text = from.*f.Text;
}

} // namespace

bool CopySettingsBlock(uint16_t start, std::size_t registers, const TMeterSettings& from,
                       TMeterSettings& to) {
    const TBlockLayout* layout = FindLayout(start);
    if (!layout)
        return false;
    const size_t count = std::min<size_t>(registers, layout->Block.Count);
    unsigned offset = 0;
    for (const TRegister& r : layout->Registers) {
        if (offset + Width(r.Field) > count)
            break;
        CopyField(r.Field, from, to);
        if (r.Relay1)
            CopyField(*r.Relay1, from, to);
        offset += Width(r.Field);
    }
    return true;
}
