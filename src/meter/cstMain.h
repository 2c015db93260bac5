// The program's own texts, in one table: every part of the application takes them from here.
#pragma once

namespace cstMain {

inline constexpr char InitEnergyCaption[] = "Initializing energy (Are you sure?)";
inline constexpr char InitEnergyPrompt[] = "Please input new value: (kWh/kvarh)";
inline constexpr char ConfirmSendSettings[] =
    "Are you sure you want to send these parameters to the device?";
inline constexpr char ConfirmResetEnergy[] = "Are you sure you want to reset energy?";
inline constexpr char OverLimit[] = "Parameters are over limit. Writing failed.";
inline constexpr char ConfirmRelay1Off[] = "Are you sure you want to switch Relay 1 off?";
inline constexpr char ConfirmRelay1On[] = "Are you sure you want to switch Relay 1 on?";
inline constexpr char ConfirmRelay2Off[] = "Are you sure you want to switch Relay 2 off?";
inline constexpr char ConfirmRelay2On[] = "Are you sure you want to switch Relay 2 on?";
inline constexpr char InvalidDeviceAddress[] = "Invalid device address";
inline constexpr char CannotOpenPort[] = "Cannot open the serial port '%s'";

inline constexpr char CaptionPrompt[] = "Prompt";
inline constexpr char CaptionError[] = "Error";
inline constexpr char CaptionConfirm[] = "Confirm";
// The box that tells what a settings write left on the meter.
inline constexpr char CaptionSettingsWritten[] = "Settings Written to the Meter";

inline constexpr char Unknown[] = "Unknown";
inline constexpr char NoValue[] = "--";
inline constexpr char Current[] = "Current";
inline constexpr char Voltage[] = "Voltage";

inline constexpr char On[] = "ON";
inline constexpr char Off[] = "OFF";

inline constexpr char TxdPrefix[] = "TXD:  ";
inline constexpr char RxdPrefix[] = "RXD:  ";
inline constexpr char ErrPrefix[] = "ERR:  ";
// In the status bar while the device under the connected port is gone; %1 is the port.
inline constexpr char PortGone[] = "%1 is gone (adapter pulled out?)";
// In the status bar while the link's reads go unanswered; %1 is the likely cause.
inline constexpr char ReadsFailing[] = "Values not current. %1";

// Settings write refused before anything is sent.
inline constexpr char VersionUnknown[] =
    "The meter now connected has not been read yet: its software version, and so its settings "
    "layout, is not known. Nothing was written. Wait until the pages show the meter's values, "
    "then write again.";
inline constexpr char VersionChanged[] =
    "The meter's software version changed while the question was open. Nothing was written.";

} // namespace cstMain
