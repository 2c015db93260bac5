// Serial devices appearing and vanishing while the program runs. Windows listen to Changed;
// the program's monitor is fed by udev, tests call Notify themselves.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

class TDeviceMonitor : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // `action` is "add" or "remove" (others pass through), `device` the node ("/dev/ttyUSB0").
    void Notify(const QString& action, const QString& device) { emit Changed(action, device); }

signals:
    void Changed(const QString& action, const QString& device);
};

// The system's monitor: udev's events for the tty subsystem, after udev has made the device's
// links, read on the calling (GUI) thread's event loop. Without udev it never fires.
std::unique_ptr<TDeviceMonitor> CreateUdevMonitor(QObject* parent = nullptr);
