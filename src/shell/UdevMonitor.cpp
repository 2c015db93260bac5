// The udev side of TDeviceMonitor: a netlink monitor filtered to ttys, its descriptor watched
// by a QSocketNotifier, so nothing polls /dev.
#include "shell/DeviceMonitor.h"

#include <QSocketNotifier>

#include <libudev.h>

namespace {

class TUdevMonitor final : public TDeviceMonitor {
public:
    explicit TUdevMonitor(QObject* parent) : TDeviceMonitor(parent) {
        FUdev = udev_new();
        if (FUdev == nullptr)
            return;
        // "udev", not "kernel": the event comes after the rules made /dev/serial/by-id.
        FMonitor = udev_monitor_new_from_netlink(FUdev, "udev");
        if (FMonitor == nullptr ||
            udev_monitor_filter_add_match_subsystem_devtype(FMonitor, "tty", nullptr) < 0 ||
            udev_monitor_enable_receiving(FMonitor) < 0)
            return;
        FNotifier = new QSocketNotifier(udev_monitor_get_fd(FMonitor), QSocketNotifier::Read, this);
        connect(FNotifier, &QSocketNotifier::activated, this, [this] { Drain(); });
    }

    ~TUdevMonitor() override {
        delete FNotifier;
        if (FMonitor != nullptr)
            udev_monitor_unref(FMonitor);
        if (FUdev != nullptr)
            udev_unref(FUdev);
    }

private:
    void Drain() {
        while (udev_device* device = udev_monitor_receive_device(FMonitor)) {
            const char* action = udev_device_get_action(device);
            const char* node = udev_device_get_devnode(device);
            const QString a = QString::fromLocal8Bit(action != nullptr ? action : "");
            const QString n = QString::fromLocal8Bit(node != nullptr ? node : "");
            udev_device_unref(device);
            Notify(a, n);
        }
    }

    udev* FUdev = nullptr;
    udev_monitor* FMonitor = nullptr;
    QSocketNotifier* FNotifier = nullptr;
};

} // namespace

std::unique_ptr<TDeviceMonitor> CreateUdevMonitor(QObject* parent) {
    return std::make_unique<TUdevMonitor>(parent);
}
