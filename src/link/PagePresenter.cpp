#include "link/PagePresenter.h"

#include "meter/MeterModel.h"
#include "meter/SettingsBlocks.h"

void TPagePresenter::SetViews(IMeteringView* metering, IDeviceInfoView* deviceInfo,
                              ISettingsView* settings) {
    FMetering = metering;
    FDeviceInfo = deviceInfo;
    FSettings = settings;
}

void TPagePresenter::SetOnline(bool online) {
    if (FMetering)
        FMetering->SetCommandsEnabled(online);
    if (FSettings)
        FSettings->SetUpdateEnabled(online);
}

void TPagePresenter::MeterChanged(const TMeterModel& /*meter*/) {
    // The page shows nothing of the meter until the one now reached is read.
    if (FDeviceInfo)
        for (const auto field : {IDeviceInfoView::fDevType, IDeviceInfoView::fHardVersion,
                                 IDeviceInfoView::fSoftVersion, IDeviceInfoView::fReleaseDate,
                                 IDeviceInfoView::fSerialNo, IDeviceInfoView::fAOType})
            FDeviceInfo->SetFieldText(field, QString());
}

void TPagePresenter::IdentityRead(const TMeterModel& meter) {
    const TIdentity& id = *meter.Identity();
    if (FDeviceInfo) {
        FDeviceInfo->SetFieldText(IDeviceInfoView::fDevType, id.DevType);
        FDeviceInfo->SetFieldText(IDeviceInfoView::fHardVersion, id.HardVersion);
        FDeviceInfo->SetFieldText(IDeviceInfoView::fSoftVersion, id.SoftVersion);
        FDeviceInfo->SetFieldText(IDeviceInfoView::fReleaseDate, id.ReleaseDate);
    }
    const TPageAdaptation a = AdaptationFor(id.SoftVersion);
    if (FSettings)
        FSettings->ShowLayout(a);
    if (FMetering)
        FMetering->ShowExtendedEnergy(!a.HideExtendedEnergy);
}

void TPagePresenter::SerialNumberRead(const TMeterModel& meter) {
    if (FDeviceInfo)
        FDeviceInfo->SetFieldText(IDeviceInfoView::fSerialNo, meter.SerialNumber());
}

void TPagePresenter::AnalogOutputTypeRead(const TMeterModel& meter) {
    if (FDeviceInfo)
        FDeviceInfo->SetFieldText(IDeviceInfoView::fAOType, AOTypeText(meter.AOType().value_or(0)));
}

void TPagePresenter::SettingsRead(const TMeterModel& meter, std::uint16_t start,
                                  std::span<const std::uint16_t> values) {
    if (!FSettings)
        return;
    // The block's fields as the model decoded them; what the operator has in the other
    // blocks stays.
    TMeterSettings record = FSettings->Settings();
    if (CopySettingsBlock(start, values.size(), meter.Settings(), record))
        FSettings->SetSettings(record);
}

void TPagePresenter::MeteringRead(const TMeterModel& /*meter*/, const TMeterReading& reading) {
    if (!FMetering)
        return;
    const auto count = static_cast<int>(reading.Raw.size());
    switch (reading.Block) {
    case TMeteringBlock::Measurement: {
        const auto texts = MeasurementTexts(reading);
        for (int i = 0; i < MeasurementCount && i < count; ++i)
            FMetering->SetMeasurementText(i, texts[static_cast<std::size_t>(i)]);
        break;
    }
    case TMeteringBlock::Energy: {
        std::array<QString, EnergyCount> texts;
        const int filled = EnergyTexts(reading, texts);
        for (int i = 0; i < filled; ++i)
            FMetering->SetEnergyText(i, texts[static_cast<std::size_t>(i)]);
        break;
    }
    case TMeteringBlock::Relays:
        for (int i = 0; i < RelayCount && i < count; ++i)
            FMetering->SetRelayState(i, reading.Raw[static_cast<std::size_t>(i)] != 0);
        break;
    case TMeteringBlock::Inputs:
        for (int i = 0; i < InputCount && i < count; ++i)
            FMetering->SetInputState(i, reading.Raw[static_cast<std::size_t>(i)] != 0);
        break;
    }
}
