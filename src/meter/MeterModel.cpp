#include "meter/MeterModel.h"

#include "meter/SettingsBlocks.h"

#include <algorithm>

TMeterModel::TMeterModel(const TLinkLine& line, TMeterEventStream& events, bool ask,
                         std::function<std::int64_t()> nowMs)
    : FLine(line), FEvents(&events), FNowMs(std::move(nowMs)) {
    FScaling.RatiosKnown = false;
    if (ask)
        FFacts.AskAgain();
}

bool TMeterModel::SettingsBlockRead(std::uint16_t start) const {
    return std::find(FBlocksRead.begin(), FBlocksRead.end(), start) != FBlocksRead.end();
}

const std::optional<TMeterReading>& TMeterModel::Latest(TMeteringBlock block) const {
    return FLatest[static_cast<std::size_t>(block)];
}

void TMeterModel::QueryStarted(const std::string& query) {
    FFacts.QueryStarted(query);
}

void TMeterModel::QueryEnded() {
    FFacts.QueryEnded();
}

void TMeterModel::RatiosWritten() {
    FFacts.RatiosWritten();
    FScaling.RatiosKnown = false;
}

void TMeterModel::RegistersRead(std::uint16_t start, std::span<const std::uint16_t> values) {
    switch (start) {
    case rbMeasurement:
        Metering(TMeteringBlock::Measurement, values);
        break;
    case rbEnergy:
        Metering(TMeteringBlock::Energy, values);
        break;
    case rbIdentity:
        FIdentity = DecodeIdentity(values);
        FFacts.BlockRead(start);
        FEvents->Raise([this](IMeterEvents& e) { e.IdentityRead(*this); });
        break;
    case rbSerialNumber:
        FSerial = DecodeSerialNumber(values);
        FSerialKnown = true;
        FEvents->Raise([this](IMeterEvents& e) { e.SerialNumberRead(*this); });
        break;
    case rbAOType:
        if (!values.empty()) {
            FAOType = values[0];
            FScaling.AOType = values[0];
            FEvents->Raise([this](IMeterEvents& e) { e.AnalogOutputTypeRead(*this); });
        }
        break;
    default:
        SettingsBlock(start, values);
        break;
    }
    FEvents->Raise([&](IMeterEvents& e) { e.BlockRead(*this, start, values); });
}

void TMeterModel::SettingsBlock(std::uint16_t start, std::span<const std::uint16_t> values) {
    // Setpoints are decoded with the ratios in force; block 0x1100 brings new ratios after its
    // own fields.
    if (!DecodeSettingsBlock(start, values, FSettings, FScaling))
        return;
    if (!SettingsBlockRead(start))
        FBlocksRead.push_back(start);
    if (start == sbGeneral) {
        UpdateRatios(values, FRatios, FScaling);
        FFacts.BlockRead(start);
        FScaling.RatiosKnown = FFacts.RatiosKnown();
    }
    FEvents->Raise([&](IMeterEvents& e) { e.SettingsRead(*this, start, values); });
}

void TMeterModel::Metering(TMeteringBlock block, std::span<const std::uint16_t> values) {
    FLatest[static_cast<std::size_t>(block)] =
        MakeReading(block, values, FScaling, FNowMs ? FNowMs() : 0);
    const TMeterReading& reading = *FLatest[static_cast<std::size_t>(block)];
    FEvents->Raise([&](IMeterEvents& e) { e.MeteringRead(*this, reading); });
}

void TMeterModel::BitsRead(TMeteringBlock block, std::span<const bool> bits) {
    const std::vector<std::uint16_t> values(bits.begin(), bits.end());
    Metering(block, values);
}

void TMeterModel::MeteringLost(TMeteringBlock block) {
    FEvents->Raise([&](IMeterEvents& e) { e.MeteringLost(*this, block); });
}
