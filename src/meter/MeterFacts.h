// The two reads the link needs from the meter now connected before it can trust what it shows:
// the identity (its software version decides the layouts) and settings block 0x1100 (its PT and
// CT ratios scale the measurements). A read of either whose answer was lost is asked for again
// until it is answered.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class TMeterFacts {
public:
    // The query handed to the master this turn (placeholder address), empty for none.
    void QueryStarted(std::string_view query);
    // A valid response to a read of the block at start.
    void BlockRead(std::uint16_t start);
    // The query of this turn has ended: a read of a fact that brought no answer leaves the
    // fact missing, unless it is known already.
    void QueryEnded();
    // The meter confirmed a write of block 0x1100: its ratios may have changed.
    void RatiosWritten();
    // A connection has ended: nothing is known, nothing is asked for.
    void Forget();
    // Another meter on the line: nothing is known, and both are asked for.
    void AskAgain();

    bool IdentityKnown() const { return FIdentity.Known; }
    bool RatiosKnown() const { return FRatios.Known; }

    // The read to ask for again this turn (placeholder address), or nullptr. A turn that asked
    // again is followed by one that does not, so a meter that never answers it is still polled.
    const char* MissingRead() const;

private:
    struct TFact {
        bool Known = false;
        bool Missing = false;
    };
    enum class TAsked : std::uint8_t { Nothing, Identity, Ratios };

    TFact FIdentity;
    TFact FRatios;
    TAsked FAsked = TAsked::Nothing;
    bool FAnswered = false;
    bool FLastWasRetry = false;
};
