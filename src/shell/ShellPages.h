// The three pages as the main window docks them: the widgets and the views the link fills.
#pragma once

class IDeviceInfoView;
class IDialogs;
class IMeteringView;
class ISettingsView;
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

// Creates the pages in their fixed order, without a parent; the caller docks them.
TShellPages CreatePages(ILinkPort& link, IDialogs& dialogs);
