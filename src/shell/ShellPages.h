// The three pages as the main window docks them: the widgets and the views the link fills.
#pragma once

class IDeviceInfoView;
class IDialogs;
class IMeteringView;
class ISettingsView;
class ISettingsWriteGuard;
class QWidget;
class ILinkPort;

struct TShellPages {
    QWidget* RTMetering = nullptr;
    QWidget* DeviceInfo = nullptr;
    QWidget* GeneralSettings = nullptr;
    IMeteringView* MeteringView = nullptr;
    IDeviceInfoView* DeviceInfoView = nullptr;
    ISettingsView* SettingsView = nullptr;
};

// Creates the pages in their fixed order, without a parent; the caller docks them. The General
// Settings page asks `guard` before its writes (none: it writes unguarded).
TShellPages CreatePages(ILinkPort& link, IDialogs& dialogs, ISettingsWriteGuard* guard);
