#include "link/BusMeters.h"

#include "meter/QueryPlan.h"
#include "modbus/KrModbus.h"

#include <QDateTime>

#include <algorithm>

namespace {

TBusOutcome OutcomeOf(std::uint8_t errorKind) {
    if (errorKind == TKrModbus::ekNone)
        return TBusOutcome::Answered;
    if (errorKind == TKrModbus::ekException)
        return TBusOutcome::Exception;
    if (errorKind == TKrModbus::ekNoResponse)
        return TBusOutcome::TimedOut;
    return TBusOutcome::BadFrame;
}

bool Contains(const std::vector<int>& list, int value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

} // namespace

bool TBusMeters::Listed(int address) const {
    return Contains(FAddresses, address);
}

void TBusMeters::SetAddresses(const std::vector<int>& addresses, int selected,
                              const TLinkLine& line, std::int64_t now,
                              std::int64_t selectedIntervalMs) {
    FAddresses.clear();
    for (const int address : addresses)
        if (IsMeterAddress(address) && !Contains(FAddresses, address))
            FAddresses.push_back(address);
    FUserPaused.clear();
    FStart.reset();
    FSelectedIntervalMs = selectedIntervalMs;
    FSchedule = TBusSchedule{};
    for (const int address : FAddresses)
        FSchedule.AddMeter(
            {address, address == selected ? selectedIntervalMs : FOtherIntervalMs, false}, now);
    MakeModels(line, selected);
}

void TBusMeters::KeepSelectedInterval(int selected, std::int64_t ms) {
    if (ms == FSelectedIntervalMs)
        return;
    FSelectedIntervalMs = ms;
    FSchedule.SetInterval(selected, ms);
}

void TBusMeters::MakeModels(const TLinkLine& line, int selected) {
    FOthers.clear();
    for (const int address : FAddresses) {
        if (address == selected)
            continue;
        TLinkLine at = line;
        at.Address = static_cast<std::uint8_t>(address);
        FOthers[address] = std::make_unique<TMeterModel>(
            at, FEvents, true, [] { return QDateTime::currentMSecsSinceEpoch(); });
    }
}

TMeterModel* TBusMeters::Other(int address) const {
    const auto it = FOthers.find(address);
    return it == FOthers.end() ? nullptr : it->second.get();
}

std::optional<int> TBusMeters::Due(std::int64_t now) const {
    const auto next = FSchedule.Next(now);
    if (!next || next->At > now)
        return std::nullopt;
    return next->Address;
}

const char* TBusMeters::ReadFor(int address) {
    const TMeterModel* model = Other(address);
    if (model == nullptr)
        return nullptr;
    if (const char* missing = model->MissingRead())
        return missing;
    if (!model->SerialNumberKnown())
        return qry::SerialNumber;
    if (Contains(FEnergyNext, address)) {
        std::erase(FEnergyNext, address);
        return EnergyReadQuery(model->SoftwareVersion());
    }
    FEnergyNext.push_back(address);
    return qry::Measurement;
}

void TBusMeters::SetSelectedIdle(int selected, bool idle, std::int64_t now) {
    if (Contains(FUserPaused, selected))
        return;
    if (idle)
        FSchedule.Pause(selected);
    else
        FSchedule.Resume(selected, now);
}

bool TBusMeters::Pause(int address) {
    if (!FSchedule.Pause(address))
        return false;
    if (!Contains(FUserPaused, address))
        FUserPaused.push_back(address);
    return true;
}

bool TBusMeters::Resume(int address, std::int64_t now) {
    if (!Contains(FUserPaused, address))
        return false;
    std::erase(FUserPaused, address);
    FSchedule.Resume(address, now);
    return true;
}

bool TBusMeters::Paused(int address) const {
    return Contains(FUserPaused, address);
}

void TBusMeters::Started(int address, std::int64_t now) {
    if (FSchedule.Started(address, now)) {
        FStart = now;
        FSentAt.reset();
        FReceivedAt.reset();
    }
}

void TBusMeters::Ended(std::uint8_t errorKind, std::int64_t now) {
    if (!FStart)
        return;
    const TBusOutcome outcome = OutcomeOf(errorKind);
    const bool timed = FSentAt && FReceivedAt && *FSentAt >= *FStart && *FReceivedAt >= *FSentAt;
    const std::int64_t end = outcome != TBusOutcome::TimedOut && timed ? *FReceivedAt : now;
    FSchedule.Finished(outcome, end, end - (timed ? *FSentAt : *FStart));
    FStart.reset();
    FSentAt.reset();
    FReceivedAt.reset();
}

void TBusMeters::Abandoned(std::int64_t now) {
    Ended(TKrModbus::ekNoResponse, now);
}

std::unique_ptr<TMeterModel> TBusMeters::Take(int address) {
    const auto it = FOthers.find(address);
    if (it == FOthers.end())
        return nullptr;
    std::unique_ptr<TMeterModel> model = std::move(it->second);
    FOthers.erase(it);
    return model;
}

void TBusMeters::Put(int address, std::unique_ptr<TMeterModel> model) {
    model->RaiseOn(FEvents);
    FOthers[address] = std::move(model);
}

void TBusMeters::Selected(int address, int previous, std::int64_t selectedIntervalMs,
                          std::int64_t now) {
    FSelectedIntervalMs = selectedIntervalMs;
    FSchedule.SetInterval(address, selectedIntervalMs);
    FSchedule.SetInterval(previous, FOtherIntervalMs);
    SetSelectedIdle(previous, false, now);
}

void TBusMeters::Forget(const TLinkLine& line) {
    int selected = 0;
    for (const int address : FAddresses)
        if (FOthers.find(address) == FOthers.end())
            selected = address;
    MakeModels(line, selected);
}
