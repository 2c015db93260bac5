// What the meter link needs from the main window and the three pages. The widgets implement
// these; the link never sees a widget, so it runs and is tested without one.
#pragma once

#include "link/ConnectionState.h"
#include "meter/MeterSettings.h"
#include "meter/QueryPlan.h"
#include "meter/RegisterDecode.h"

#include <QString>

// The main window's side of the link.
class ILinkShell {
public:
    virtual ~ILinkShell() = default;
    virtual TPage ActivePage() const = 0;
    // The link's connection state changed (menus, actions, the title follow it).
    virtual void ConnectionChanged(TConnectionState state) = 0;
    // Rewrites the device address shown in status panel 0.
    virtual void RefreshStatusAddress() = 0;
    // Status panels 1 (transmit), 2 (receive) and 3 (statistics).
    virtual void SetStatusText(int panel, const QString& text) = 0;
};

// The value labels of the Real-Time Metering page.
class IMeteringView {
public:
    virtual ~IMeteringView() = default;
    // index: register offset in the measurement block, 0 (Volts AN) to 20 (I N).
    virtual void SetMeasurementText(int index, const QString& text) = 0;
    // index: 0 Ep_total, 1 Eq_total, 2 Ep_imp, 3 Ep_exp, 4 Eq_imp, 5 Eq_exp.
    virtual void SetEnergyText(int index, const QString& text) = 0;
    // "ON" in red or "OFF" in green; relays 0 and 1, inputs 0 to 5.
    virtual void SetRelayState(int index, bool on) = 0;
    virtual void SetInputState(int index, bool on) = 0;
    // Shows the four import/export energy labels and their captions exactly when the meter
    // connected has them; a newer meter brings them back.
    virtual void ShowExtendedEnergy(bool shown) = 0;
    // The relay buttons, the six energy labels and "Reset Energy".
    virtual void SetCommandsEnabled(bool enabled) = 0;
};

// The value labels of the Device Information page.
class IDeviceInfoView {
public:
    enum TField { fDevType, fHardVersion, fSoftVersion, fReleaseDate, fSerialNo, fAOType };
    virtual ~IDeviceInfoView() = default;
    // Meter texts: shown as plain text, never interpreted.
    virtual void SetFieldText(TField field, const QString& text) = 0;
};

// The controls of the General Settings page.
class ISettingsView {
public:
    virtual ~ISettingsView() = default;
    // The record as the controls show it, and the controls set from a record by the page's
    // display rules.
    virtual TMeterSettings Settings() const = 0;
    virtual void SetSettings(const TMeterSettings& settings) = 0;
    // Version adaptation: shows exactly what a meter of this layout has, in both directions
    // (lists, groups and captions come back for a newer meter). A chosen entry that is no
    // longer offered leaves none chosen.
    virtual void ShowLayout(const TPageAdaptation& layout) = 0;
    // "Update Device".
    virtual void SetUpdateEnabled(bool enabled) = 0;
};
