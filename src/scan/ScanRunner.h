// Runs a Find Meter scan on one serial device: opens it, walks the plan probe by probe,
// reports progress after each, and closes the device at the end, on a stop request within
// one wait, or when the device vanishes.
#pragma once

#include "scan/ScanPlan.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class TEvent;
class TSerialDevice;

struct TMeterFound {
    QString Port; // as the operator named it ("COM3")
    std::uint8_t Address = 1;
    TScanSetting Setting;
    QString Model;
    QString SoftVersion;
    QString SerialNumber;
    bool operator==(const TMeterFound&) const = default;
};

struct TScanStatus {
    enum TEnd { Running, Finished, Cancelled, OpenFailed, Vanished };
    TEnd End = Running;
    double Fraction = 0;
    double RemainingSeconds = 0;
    double ElapsedSeconds = 0;
    // The least the exchanges so far could have taken: request, 3.5-character silence and
    // allowance for each probe, confirmation and serial number read.
    double FloorSeconds = 0;
    QString Trying; // "9600 Even, address 12"
    std::vector<TMeterFound> Found;
    QStringList Notes;   // what the line showed besides meters: garbled bytes, other devices
    QString Failure;     // why the port did not open
    int SystemError = 0; // the errno of a failed open
};

// The meter among `found` that `next` is the same device as: the same serial number at another
// address of the same line setting. Two meters never share a serial number, so that is one
// device answering every address (a gateway in front of one meter, or a meter that does not
// check the address).
std::optional<TMeterFound> SameDeviceAs(const std::vector<TMeterFound>& found,
                                        const TMeterFound& next);

// Runs the whole scan on the calling thread. `progress` is called after every probe with the
// status so far (and once at the end); `stop` ends the scan at the next wait.
TScanStatus RunScan(TSerialDevice& device, const std::string& path, const QString& portName,
                    TScanPlan plan, const TEvent& stop,
                    const std::function<void(const TScanStatus&)>& progress = {});
