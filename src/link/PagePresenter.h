// Puts what the meter model learnt on the three pages: the Device Information fields, the
// metering labels and states, the General Settings controls, and the page layouts the meter's
// version has. It follows the link's stream like anyone else and decodes nothing itself.
#pragma once

#include "link/LinkViews.h"
#include "meter/MeterEvents.h"

class TPagePresenter : public IMeterEvents {
public:
    void SetViews(IMeteringView* metering, IDeviceInfoView* deviceInfo, ISettingsView* settings);
    // The write commands of the pages are enabled exactly while the link is online.
    void SetOnline(bool online);

    void MeterChanged(const TMeterModel& meter) override;
    void IdentityRead(const TMeterModel& meter) override;
    void SerialNumberRead(const TMeterModel& meter) override;
    void AnalogOutputTypeRead(const TMeterModel& meter) override;
    void SettingsRead(const TMeterModel& meter, std::uint16_t start,
                      std::span<const std::uint16_t> values) override;
    void MeteringRead(const TMeterModel& meter, const TMeterReading& reading) override;

private:
    IMeteringView* FMetering = nullptr;
    IDeviceInfoView* FDeviceInfo = nullptr;
    ISettingsView* FSettings = nullptr;
};
