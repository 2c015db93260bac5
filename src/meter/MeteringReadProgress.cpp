#include "meter/MeteringReadProgress.h"

void TMeteringReadProgress::Begin(const std::string& text) {
    FBlock = text.empty() ? std::nullopt : MeteringBlockOfQuery(text);
    FAnswered = false;
}

bool TMeteringReadProgress::Answer(TMeteringBlock block) {
    if (FBlock != block)
        return true;
    if (FAnswered)
        return false;
    FAnswered = true;
    return true;
}
