#include "link/ClosingWrites.h"

bool TClosingWrites::Begin(bool writeOnItsWay) {
    if (!writeOnItsWay && !FQueue.HasWrite())
        return false;
    FQueue.KeepWrites();
    FFinishing = true;
    FClosing = true;
    return true;
}

bool TClosingWrites::OnlyWrites() {
    if (FFinishing)
        FQueue.KeepWrites();
    return FFinishing;
}
