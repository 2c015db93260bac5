#include "shell/ShellPages.h"

#include "deviceinfo/frmDeviceInfo.h"
#include "metering/frmRTMetering.h"
#include "settings/frmGeneralSettings.h"

TShellPages CreatePages(ILinkPort& link, IDialogs& dialogs, ISettingsWriteGuard* guard) {
    TShellPages pages;
    auto* metering = new TFormRTMetering(link, dialogs);
    auto* deviceInfo = new TFormDeviceInfo();
    auto* settings = new TFormGeneralSettings(link, dialogs);
    settings->SetWriteGuard(guard);
    pages.RTMetering = metering;
    pages.DeviceInfo = deviceInfo;
    pages.GeneralSettings = settings;
    pages.MeteringView = metering;
    pages.DeviceInfoView = deviceInfo;
    pages.SettingsView = settings;
    return pages;
}
