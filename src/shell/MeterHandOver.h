// Find Meter from the Connection Settings dialog and from the Start menu: the meter found lands
// in the dialog's controls, or is connected to at once.
#pragma once

#include "scan/ScanRunner.h"

#include <optional>

class TDeviceMonitor;
class TFormConnection;
class TFormFindMeter;
class TFormModbus;

class TMeterHandOver {
public:
    TMeterHandOver(TFormConnection& dialog, const TFormModbus& link)
        : FDialog(dialog), FLink(link) {}

    // The Find Meter window, made at its first use.
    TFormFindMeter& FindMeter();
    void SetDeviceMonitor(TDeviceMonitor* monitor);
    // From the dialog's button: searches from the values in the controls.
    void FromDialog();
    // From the Start menu: searches from the link's values; the meter chosen opens the dialog
    // with it filled in.
    void FromMenu();
    // Applies a meter's port, address, baud rate and parity as OK would, then asks for the
    // connection.
    void ConnectTo(const TMeterFound& meter);
    // Puts a meter's port, address, baud rate and parity into the controls.
    void Use(const TMeterFound& meter);
    // At the dialog's showing: the meter chosen from the menu goes into the controls.
    void UsePending();

private:
    // Runs Find Meter; the meter chosen, if any.
    std::optional<TMeterFound> Search(int port, const TScanSetting& setting, int address);

    TFormConnection& FDialog;
    const TFormModbus& FLink;
    TDeviceMonitor* FMonitor = nullptr;
    TFormFindMeter* FFindMeter = nullptr;
    std::optional<TMeterFound> FPending;
};
