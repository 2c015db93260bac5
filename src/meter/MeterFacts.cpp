#include "meter/MeterFacts.h"

#include "meter/QueryPlan.h"
#include "meter/RegisterDecode.h"

void TMeterFacts::QueryStarted(std::string_view query) {
    FAsked = TAsked::Nothing;
    if (query == qry::Identity)
        FAsked = TAsked::Identity;
    else if (query == qry::Settings1100)
        FAsked = TAsked::Ratios;
    FAnswered = false;
    const char* missing = MissingRead();
    FLastWasRetry = missing != nullptr && query == missing;
}

void TMeterFacts::BlockRead(std::uint16_t start) {
    TFact* fact = nullptr;
    if (start == rbIdentity)
        fact = &FIdentity;
    else if (start == rbSettings)
        fact = &FRatios;
    if (!fact)
        return;
    fact->Known = true;
    fact->Missing = false;
    if ((start == rbIdentity && FAsked == TAsked::Identity) ||
        (start == rbSettings && FAsked == TAsked::Ratios))
        FAnswered = true;
}

void TMeterFacts::QueryEnded() {
    if (!FAnswered) {
        if (FAsked == TAsked::Identity && !FIdentity.Known)
            FIdentity.Missing = true;
        else if (FAsked == TAsked::Ratios && !FRatios.Known)
            FRatios.Missing = true;
    }
    FAsked = TAsked::Nothing;
    FAnswered = false;
}

void TMeterFacts::RatiosWritten() {
    FRatios.Known = false;
}

void TMeterFacts::Forget() {
    *this = TMeterFacts{};
}

void TMeterFacts::AskAgain() {
    Forget();
    FIdentity.Missing = true;
    FRatios.Missing = true;
}

const char* TMeterFacts::MissingRead() const {
    if (FLastWasRetry)
        return nullptr;
    if (FIdentity.Missing)
        return qry::Identity;
    if (FRatios.Missing)
        return qry::Settings1100;
    return nullptr;
}
