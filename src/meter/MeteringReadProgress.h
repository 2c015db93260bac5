// The metering read of the query in progress: which block it reads, and whether its answer
// came. A master may hand on more than one answer to one query (a late frame of the previous
// query, a repeated one); a metering block is taken in once per read, and a read that ends
// without its answer is a gap for those watching, never a repeated value.
#pragma once

#include "meter/MeterReading.h"

#include <optional>
#include <string>

class TMeteringReadProgress {
public:
    // The query `text` goes out (empty: none); its answer has not come yet.
    void Begin(const std::string& text);
    // No query in progress: every answer passes.
    void Clear() { FBlock.reset(); }

    // The metering block the query in progress reads, if it reads one.
    std::optional<TMeteringBlock> Block() const { return FBlock; }
    // An answer holding `block` came: false only for a repeated answer of the block this query
    // reads; anything else is taken in.
    bool Answer(TMeteringBlock block);
    // The block this query reads while its answer has not come.
    std::optional<TMeteringBlock> Unanswered() const { return FAnswered ? std::nullopt : FBlock; }

private:
    std::optional<TMeteringBlock> FBlock;
    bool FAnswered = false;
};
