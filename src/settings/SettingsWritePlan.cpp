#include "settings/SettingsWritePlan.h"

#include "meter/MeterEvents.h"

#include "meter/ConvertError.h"
#include "meter/RegisterDecode.h"
#include "meter/ValueParse.h"
#include "meter/VersionRules.h"
#include "meter/cstMain.h"

#include <algorithm>
#include <map>

namespace {

// The port settings that go with the Parity choice: "Even", "Odd", "None 2", "None 1".
void SetLineParity(int index, TSettingsLineChange& line) {
    switch (index) {
    case 0:
        line.Parity = TParity::Even;
        line.StopBits = TStopBits::_1;
        break;
    case 1:
        line.Parity = TParity::Odd;
        line.StopBits = TStopBits::_1;
        break;
    case 2:
        line.Parity = TParity::None;
        line.StopBits = TStopBits::_2;
        break;
    case 3:
        line.Parity = TParity::None;
        line.StopBits = TStopBits::_1;
        break;
    default:
        break;
    }
}

// A list value the meter's layout does not offer (a wiring or baud rate of the extended
// layout on an older meter, an index past a list) is refused like a value out of range.
void CheckOffered(const TEncodedField& encoded, const TMeterSettings& record, bool extended) {
    const TSettingsField& field = *encoded.Field;
    if (!field.Items)
        return;
    const int offered = OfferedEntries(field, extended);
    const QString text = field.Text ? record.*field.Text : QString::number(record.*field.Choice);
    const bool ok = field.Text
                        ? field.Items->indexOf(text) >= 0 && field.Items->indexOf(text) < offered
                        : record.*field.Choice < offered;
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is out of range for %2")
                                .arg(text, QLatin1StringView(field.Label)));
}

TSettingsWrite BlockWrite(uint16_t start, const TMeterSettings& record, bool extended,
                          bool relayAlarm, const TScaling& scale) {
    const TSettingsBlock* block = FindSettingsBlock(start);
    TSettingsWrite write{start, block->WriteHead, block->ReadQuery,
                         EncodeSettingsFields(start, record, relayAlarm, scale), std::nullopt};
    for (const TEncodedField& f : write.Fields) {
        CheckOffered(f, record, extended);
        write.Query += f.Data;
    }
    return write;
}

// A block after 0x1100, scaled by the ratios that write puts on the meter; computed from it when
// the meter's present ratios would give other data (or none that fits).
TSettingsWrite ScaledWrite(uint16_t start, const TMeterSettings& record, bool extended,
                           bool relayAlarm, const TScaling& planned, const TScaling& current) {
    TSettingsWrite write = BlockWrite(start, record, extended, relayAlarm, planned);
    bool same = false;
    try {
        same = EncodeSettingsBlock(start, record, relayAlarm, current) == write.Query;
    } catch (const EConvertError&) {
        same = false;
    }
    if (!same)
        write.ComputedFrom = sbGeneral;
    return write;
}

// The ratios the meter derives from the block 0x1100 the record writes, by the rule the link
// applies when it reads that block back. The record's fields have been checked by encoding.
TScaling RatiosOf(const TMeterSettings& record, const TScaling& current) {
    const uint32_t pt1 = PlainUnsigned32(record.PT1);
    std::vector<std::uint16_t> values(13, 0);
    values[5] = static_cast<std::uint16_t>(pt1 & 0xFFFF);
    values[6] = static_cast<std::uint16_t>(pt1 >> 16);
    values[7] = static_cast<std::uint16_t>(PlainInteger(record.PT2));
    values[8] = static_cast<std::uint16_t>(PlainInteger(record.CT1));
    values[9] = static_cast<std::uint16_t>(PlainInteger(record.CT2));
    TScaling scale = current;
    TRatioState state;
    UpdateRatios(values, state, scale);
    return scale;
}

} // namespace

std::vector<std::string> TSettingsWritePlan::Queries() const {
    std::vector<std::string> queries;
    const size_t first = std::min<size_t>(Writes.size(), 3);
    for (size_t i = 0; i < first; ++i)
        queries.push_back(Writes[i].Query);
    for (size_t i = 0; i < first; ++i)
        queries.push_back(Writes[i].ReadBack);
    for (size_t i = first; i < Writes.size(); ++i) {
        queries.push_back(Writes[i].Query);
        queries.push_back(Writes[i].ReadBack);
    }
    return queries;
}

std::vector<const TSettingsField*> TSettingsWritePlan::Fields() const {
    std::vector<const TSettingsField*> fields;
    for (const TSettingsWrite& w : Writes)
        for (const TEncodedField& f : w.Fields)
            fields.push_back(f.Field);
    return fields;
}

const TSettingsWrite* TSettingsWritePlan::Write(uint16_t block) const {
    for (const TSettingsWrite& w : Writes)
        if (w.Block == block)
            return &w;
    return nullptr;
}

std::string TSettingsWritePlan::Needs(const std::string& query) const {
    for (const TSettingsWrite& w : Writes)
        if (w.Query == query && w.ComputedFrom)
            if (const TSettingsWrite* from = Write(*w.ComputedFrom))
                return from->Query;
    return {};
}

TSettingsWriteOutcome PlanSettingsWrite(const TMeterSettings& record, const QString& version,
                                        const TScaling& current) {
    using R = TSettingsWriteRefusal;
    if (version.isEmpty())
        return R{R::VersionUnknown, QString::fromLatin1(cstMain::VersionUnknown)};
    try {
        const int address = PlainInteger(record.Address);
        if (!IsMeterAddress(address))
            return R{R::InvalidAddress, QString::fromLatin1(cstMain::InvalidDeviceAddress)};
        TMeterSettings s = record;
        s.Address = QString::number(address);
        const bool extended = ExtendedLayout(version);
        const bool relayAlarm = RelayAlarmLayout(version);

        TSettingsWritePlan plan;
        plan.Version = version;
        // Block 0x1100 carries no setpoint; encoding it first checks the ratio fields.
        plan.Writes.push_back(BlockWrite(sbGeneral, s, extended, relayAlarm, current));
        plan.Scaling = RatiosOf(s, current);
        const auto scaled = [&](uint16_t start) {
            plan.Writes.push_back(
                ScaledWrite(start, s, extended, relayAlarm, plan.Scaling, current));
        };
        scaled(sbAlarm);
        scaled(sbAnalogOutput);
        if (extended)
            scaled(sbDigitalOutput);
        if (relayAlarm)
            scaled(sbRelay2Alarm);
        plan.Line.DeviceAddress = static_cast<std::uint8_t>(address);
        plan.Line.Baudrate = PlainInteger(s.Baudrate);
        SetLineParity(s.Parity, plan.Line);
        return plan;
    } catch (const EConvertError& e) {
        return R{R::Conversion, e.Message()};
    }
}

std::vector<const TSettingsField*> ChangedFields(const TSettingsWritePlan& a,
                                                 const TSettingsWritePlan& b) {
    std::map<const TSettingsField*, std::string> before;
    for (const TSettingsWrite& w : a.Writes)
        for (const TEncodedField& f : w.Fields)
            before[f.Field] = f.Data;
    std::vector<const TSettingsField*> changed;
    for (const TSettingsWrite& w : b.Writes)
        for (const TEncodedField& f : w.Fields) {
            const auto it = before.find(f.Field);
            if (it == before.end() || it->second != f.Data)
                changed.push_back(f.Field);
            if (it != before.end())
                before.erase(it);
        }
    for (const auto& [field, data] : before)
        changed.push_back(field);
    return changed;
}
