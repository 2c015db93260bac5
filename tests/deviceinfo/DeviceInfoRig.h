// The Device Information page on the link rig, as the main window shows it.
#pragma once

#include "deviceinfo/frmDeviceInfo.h"
#include "support/LinkRig.h"

#include <QLabel>

struct TDeviceInfoRig : TLinkRig {
    TFormDeviceInfo Page;

    TDeviceInfoRig() {
        Shell.Page = TPage::DeviceInfo;
        Link.SetViews(nullptr, &Page, nullptr);
    }
    ~TDeviceInfoRig() {
        DisconnectLink(Link);
        Link.SetViews(nullptr, nullptr, nullptr);
    }
    QLabel* Find(const QString& name) const { return Page.findChild<QLabel*>(name); }
    QString Text(const QString& name) const { return Find(name)->text(); }
};
