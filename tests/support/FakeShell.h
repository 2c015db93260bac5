// The main window's side of the link, as plain fields a test sets and reads.
#pragma once

#include "link/LinkViews.h"

#include <array>
#include <vector>

class TFakeShell : public ILinkShell {
public:
    TPage ActivePage() const override { return Page; }
    void ConnectionChanged(TConnectionState state) override { Told.push_back(state); }
    void RefreshStatusAddress() override { ++AddressRefreshes; }
    void SetStatusText(int panel, const QString& text) override { Panels.at(panel) = text; }

    // The last state the link told, Offline before any.
    TConnectionState State() const {
        return Told.empty() ? TConnectionState::Offline : Told.back();
    }

    TPage Page = TPage::RTMetering;
    // Each change of the link's connection state, in order.
    std::vector<TConnectionState> Told;
    int AddressRefreshes = 0;
    std::array<QString, 4> Panels;
};
