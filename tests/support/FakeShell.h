// The main window's side of the link, as plain fields a test sets and reads.
#pragma once

#include "link/LinkViews.h"

#include <array>

class TFakeShell : public ILinkShell {
public:
    TPage ActivePage() const override { return Page; }
    bool Connected() const override { return IsConnected; }
    void SetConnected(bool value) override { IsConnected = value; }
    bool DisconnectRequested() const override { return Disconnecting; }
    void RefreshStatusAddress() override { ++AddressRefreshes; }
    void SetStatusText(int panel, const QString& text) override { Panels.at(panel) = text; }

    TPage Page = TPage::RTMetering;
    bool IsConnected = true;
    bool Disconnecting = false;
    int AddressRefreshes = 0;
    std::array<QString, 4> Panels;
};
