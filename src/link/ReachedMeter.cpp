#include "link/ReachedMeter.h"

#include <QDateTime>

void TReachedMeter::Renew(const TLinkLine& line, bool ask) {
    FModel = std::make_unique<TMeterModel>(line, FEvents, ask,
                                           [] { return QDateTime::currentMSecsSinceEpoch(); });
    FLine = line;
    FEvents.Raise([this](IMeterEvents& e) { e.MeterChanged(*FModel); });
}

void TReachedMeter::Forget(const TLinkLine& line) {
    Renew(line, false);
    FLine.reset();
}

void TReachedMeter::QueryOn(const TLinkLine& line) {
    if (FLine && *FLine != line)
        Renew(line, true);
    FLine = line;
}

void TReachedMeter::MovedTo(const TLinkLine& line) {
    if (FLine)
        FLine = line;
    FModel->MovedTo(line);
}

std::unique_ptr<TMeterModel> TReachedMeter::Exchange(std::unique_ptr<TMeterModel> model) {
    std::unique_ptr<TMeterModel> previous = std::move(FModel);
    FModel = std::move(model);
    FModel->RaiseOn(FEvents);
    if (FLine)
        FLine = FModel->Line();
    FEvents.Raise([this](IMeterEvents& e) { e.MeterChanged(*FModel); });
    return previous;
}
