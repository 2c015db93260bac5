#include "link/QueryQueue.h"

#include "meter/QueryPlan.h"
#include "meter/SettingsBlocks.h"

#include <algorithm>

namespace {

// The write of settings block 0x1100 as the settings page builds it.
bool IsGeneralSettingsWrite(const std::string& text) {
    return text.rfind(FindSettingsBlock(sbGeneral)->WriteHead, 0) == 0;
}

} // namespace

void TQueryQueue::Append(std::string text, std::string needs) {
    FQueries.push_back(TPendingQuery{std::move(text), std::nullopt, std::move(needs)});
}

std::optional<std::string> TQueryQueue::Take() {
    if (FQueries.empty())
        return std::nullopt;
    TPendingQuery next = std::move(FQueries.front());
    FQueries.pop_front();
    if (next.LineChange)
        FNew = *next.LineChange;
    return std::move(next.Text);
}

std::vector<std::string> TQueryQueue::DropDependents(const std::string& failed) {
    // A later queued copy of the failed write is a fresh attempt, and what follows it is left.
    std::vector<std::string> gone{failed};
    std::vector<std::string> dropped;
    for (auto it = FQueries.begin(); it != FQueries.end();) {
        if (it->Text == failed)
            break;
        if (!it->Needs.empty() && std::find(gone.begin(), gone.end(), it->Needs) != gone.end()) {
            gone.push_back(it->Text);
            dropped.push_back(it->Text);
            it = FQueries.erase(it);
        } else {
            ++it;
        }
    }
    return dropped;
}

void TQueryQueue::SetNewLineSettings(std::uint8_t deviceAddress, int baudrate,
                                     std::optional<TParity> parity,
                                     std::optional<TStopBits> stopBits) {
    TLineChange change = FLastAsked;
    change.DeviceAddress = deviceAddress;
    change.Baudrate = baudrate;
    if (parity)
        change.Parity = *parity;
    if (stopBits)
        change.StopBits = *stopBits;
    FLastAsked = change;
    for (auto it = FQueries.rbegin(); it != FQueries.rend(); ++it) {
        if (IsGeneralSettingsWrite(it->Text)) {
            it->LineChange = change;
            return;
        }
    }
    FNew = change;
}

void TQueryQueue::KeepWrites() {
    std::erase_if(FQueries, [](const TPendingQuery& q) { return !IsWriteQuery(q.Text); });
}

bool TQueryQueue::HasWrite() const {
    return std::any_of(FQueries.begin(), FQueries.end(),
                       [](const TPendingQuery& q) { return IsWriteQuery(q.Text); });
}

std::vector<std::string> TQueryQueue::Texts() const {
    std::vector<std::string> texts;
    texts.reserve(FQueries.size());
    for (const TPendingQuery& q : FQueries)
        texts.push_back(q.Text);
    return texts;
}
