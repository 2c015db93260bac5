// The link's one-shot queries, sent first in first out before any polling query: each write
// with the write it was computed from (dropped, not sent, when that one fails), and the line
// settings a settings sequence moves the meter to, travelling with its 0x1100 write so each
// sequence adopts its own values.
#pragma once

#include "platform/SerialLine.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

class TQueryQueue {
public:
    // Line settings a settings write asks the link to adopt once the meter has confirmed it.
    struct TLineChange {
        std::uint8_t DeviceAddress = 0;
        int Baudrate = 0;
        TParity Parity = TParity::None;
        TStopBits StopBits = TStopBits::_1;
    };
    struct TPendingQuery {
        std::string Text;
        // Set on the write of block 0x1100 of a settings sequence: becomes the pending line
        // settings when that write is sent.
        std::optional<TLineChange> LineChange;
        // The write this one was computed from: it is dropped, not sent, when that write is
        // refused or not answered. Empty for none.
        std::string Needs;
    };

    void Append(std::string text, std::string needs);
    // The oldest query, taken off the queue; its line change becomes the pending one.
    std::optional<std::string> Take();
    // Drops the writes computed from `failed`, and from those; returns their texts.
    std::vector<std::string> DropDependents(const std::string& failed);
    // The settings page's line settings: with the 0x1100 write queued last (parity and stop
    // bits left out keep the values asked for before), or pending at once without one.
    void SetNewLineSettings(std::uint8_t deviceAddress, int baudrate, std::optional<TParity> parity,
                            std::optional<TStopBits> stopBits);
    // Closing: only the writes stay.
    void KeepWrites();
    bool HasWrite() const;
    void Clear() { FQueries.clear(); }

    bool Empty() const { return FQueries.empty(); }
    std::size_t Size() const { return FQueries.size(); }
    const std::deque<TPendingQuery>& Queries() const { return FQueries; }
    std::vector<std::string> Texts() const;
    // The line settings the next confirmed 0x1100 write moves the meter to.
    const TLineChange& New() const { return FNew; }

private:
    std::deque<TPendingQuery> FQueries;
    TLineChange FNew;
    // The line settings asked for last, queued or not: the base for fields a sequence leaves.
    TLineChange FLastAsked;
};
