#include "settings/SettingsBlocks.h"

#include "link/QueryBytes.h"
#include "link/ValueFormat.h"
#include "link/ValueParse.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

using S = TMeterSettings;

constexpr std::array<TSettingsBlock, 5> Blocks = {{
    {sbGeneral, 13, "00,03,11,00,00,0D", "00,10,11,00,00,0D,1A"},
    {sbAlarm, 8, "00,03,12,00,00,08", "00,10,12,00,00,08,10"},
    {sbAnalogOutput, 12, "00,03,13,00,00,0C", "00,10,13,00,00,0C,18"},
    {sbDigitalOutput, 2, "00,03,12,08,00,02", "00,10,12,08,00,02,04"},
    {sbRelay2Alarm, 5, "00,03,12,0A,00,05", "00,10,12,0A,00,05,0A"},
}};

// The five fields of one alarm.
struct TAlarmFields {
    int S::*Items;
    int S::*Operator;
    QString S::*Setpoint;
    QString S::*Delay;
    int S::*Output;
};

constexpr TAlarmFields SingleAlarm{&S::AlarmItems, &S::AlarmOperator, &S::AlarmSetpoint,
                                   &S::AlarmDelay, &S::AlarmOutput};
constexpr TAlarmFields Relay1Alarm{&S::RO1AlarmItems, &S::RO1AlarmOperator, &S::RO1AlarmSetpoint,
                                   &S::RO1AlarmDelay, &S::RO1AlarmOutput};

// Collects the register data of one write; every value is checked against the
// register it goes to before it is appended.
class TBlockWriter {
public:
    TBlockWriter(const TSettingsBlock& block, const TScaling& scale)
        : FQuery(block.WriteHead), FScale(scale) {}

    void Index(int index) {
        // -1 means no entry chosen: it must not reach the meter as 0xFFFF.
        if (index < 0 || index > 0xFFFF)
            RaiseOutOfRange(QString::number(index));
        FQuery += WordToQueryBytes(index);
    }

    void Plain(const QString& text) { Word(PlainInteger(text), text); }

    void Limit(const QString& text) { Word(IntegerToRaw(text), text); }

    void PlainPair(const QString& text) { FQuery += DWordToQueryBytes(PlainUnsigned32(text)); }

    void Setpoint(int channel, const QString& text) {
        // AlarmValueToRaw has already fitted the value to the channel's signedness;
        // negative values go out in two's complement.
        FQuery += WordToQueryBytes(AlarmValueToRaw(FScale, channel, text));
    }

    std::string Take() { return std::move(FQuery); }

private:
    void Word(int64_t value, const QString& text) {
        if (value < 0 || value > 0xFFFF)
            RaiseOutOfRange(text);
        FQuery += WordToQueryBytes(value);
    }

    std::string FQuery;
    const TScaling& FScale;
};

} // namespace

const TSettingsBlock* FindSettingsBlock(uint16_t start) {
    for (const TSettingsBlock& block : Blocks)
        if (block.Start == start)
            return &block;
    return nullptr;
}

std::string EncodeSettingsBlock(uint16_t start, const TMeterSettings& s, bool relayAlarmLayout,
                                const TScaling& scale) {
    const TSettingsBlock* block = FindSettingsBlock(start);
    if (!block)
        return {};
    TBlockWriter w(*block, scale);
    switch (start) {
    case sbGeneral:
        w.Plain(s.Password);
        w.Plain(s.Address);
        w.Plain(s.Baudrate);
        w.Index(s.Parity);
        w.Index(s.VoltageWiring);
        w.PlainPair(s.PT1);
        w.Plain(s.PT2);
        w.Plain(s.CT1);
        w.Plain(s.CT2);
        w.Index(s.QMode);
        w.Plain(s.BacklightTime);
        w.Index(s.LoadConvention);
        break;
    case sbAlarm: {
        const TAlarmFields& alarm = relayAlarmLayout ? Relay1Alarm : SingleAlarm;
        w.Index(s.ROType);
        w.Index(s.DOType);
        w.Plain(s.DOPulseConst);
        w.Index(s.*alarm.Items);
        w.Setpoint(s.*alarm.Items, s.*alarm.Setpoint);
        w.Plain(s.*alarm.Delay);
        w.Index(s.*alarm.Operator);
        w.Index(s.*alarm.Output);
        break;
    }
    case sbDigitalOutput:
        w.Index(s.DO1Output);
        w.Index(s.DO2Output);
        break;
    case sbRelay2Alarm:
        w.Index(s.RO2AlarmItems);
        w.Setpoint(s.RO2AlarmItems, s.RO2AlarmSetpoint);
        w.Plain(s.RO2AlarmDelay);
        w.Index(s.RO2AlarmOperator);
        w.Index(s.RO2AlarmOutput);
        break;
    case sbAnalogOutput:
        w.Index(s.AO1Object);
        w.Index(s.AO1Mode);
        w.Limit(s.AO1HighLimit);
        w.Limit(s.AO1LowLimit);
        w.Index(s.AO1HLOpt);
        w.Index(s.AO1LLOpt);
        w.Index(s.AO2Object);
        w.Index(s.AO2Mode);
        w.Limit(s.AO2HighLimit);
        w.Limit(s.AO2LowLimit);
        w.Index(s.AO2HLOpt);
        w.Index(s.AO2LLOpt);
        break;
    }
    return w.Take();
}

bool DecodeSettingsBlock(uint16_t start, std::span<const uint16_t> values, TMeterSettings& s,
                         const TScaling& scale) {
    const TSettingsBlock* block = FindSettingsBlock(start);
    if (!block)
        return false;
    const size_t count = std::min<size_t>(values.size(), block->Count);
    const auto has = [&](size_t offset) { return offset < count; };
    const auto text = [&](size_t offset) { return IntegerText(values[offset]); };

    switch (start) {
    case sbGeneral: {
        QString* const plain[] = {&s.Password, &s.Address, &s.Baudrate};
        for (size_t i = 0; i < 3 && has(i); ++i)
            *plain[i] = text(i);
        if (has(3))
            s.Parity = values[3];
        if (has(4))
            s.VoltageWiring = values[4];
        // The pair needs both halves; a response cut after the low word leaves PT1 alone.
        if (has(6))
            s.PT1 = IntegerText(static_cast<uint32_t>(values[5]) | static_cast<uint32_t>(values[6])
                                                                       << 16);
        if (has(7))
            s.PT2 = text(7);
        if (has(8))
            s.CT1 = text(8);
        if (has(9))
            s.CT2 = text(9);
        if (has(10))
            s.QMode = values[10];
        if (has(11))
            s.BacklightTime = text(11);
        if (has(12))
            s.LoadConvention = values[12];
        break;
    }
    case sbAlarm:
        if (has(0))
            s.ROType = values[0];
        if (has(1))
            s.DOType = values[1];
        if (has(2))
            s.DOPulseConst = text(2);
        // Whatever the layout, both alarm field sets show the same registers.
        for (const TAlarmFields* alarm : {&SingleAlarm, &Relay1Alarm}) {
            if (has(3))
                s.*alarm->Items = values[3];
            // The setpoint is scaled by the channel of this response, not by the
            // channel field as it may be shown afterwards.
            if (has(4))
                s.*alarm->Setpoint = AlarmValueText(scale, values[3], values[4]);
            if (has(5))
                s.*alarm->Delay = text(5);
            if (has(6))
                s.*alarm->Operator = values[6];
            if (has(7))
                s.*alarm->Output = values[7];
        }
        break;
    case sbDigitalOutput:
        if (has(0))
            s.DO1Output = values[0];
        if (has(1))
            s.DO2Output = values[1];
        break;
    case sbRelay2Alarm:
        if (has(0))
            s.RO2AlarmItems = values[0];
        if (has(1))
            s.RO2AlarmSetpoint = AlarmValueText(scale, values[0], values[1]);
        if (has(2))
            s.RO2AlarmDelay = text(2);
        if (has(3))
            s.RO2AlarmOperator = values[3];
        if (has(4))
            s.RO2AlarmOutput = values[4];
        break;
    case sbAnalogOutput: {
        int S::*const choices[] = {&S::AO1Object, &S::AO1Mode,  nullptr,       nullptr,
                                   &S::AO1HLOpt,  &S::AO1LLOpt, &S::AO2Object, &S::AO2Mode,
                                   nullptr,       nullptr,      &S::AO2HLOpt,  &S::AO2LLOpt};
        QString S::*const texts[] = {
            nullptr, nullptr, &S::AO1HighLimit, &S::AO1LowLimit, nullptr, nullptr,
            nullptr, nullptr, &S::AO2HighLimit, &S::AO2LowLimit, nullptr, nullptr};
        for (size_t i = 0; i < count; ++i) {
            if (choices[i])
                s.*choices[i] = values[i];
            else
                s.*texts[i] = text(i);
        }
        break;
    }
    }
    return true;
}
