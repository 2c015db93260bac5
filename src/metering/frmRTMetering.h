// The Real-Time Metering page: the meter's live values as the link writes them, and the
// operator's four commands to the meter (two relays, energy preset, energy reset), each
// confirmed first and queued on the link as a write followed by a read-back. Values whose read
// failed, or that belong to a meter no longer connected, are shown grey until read again.
#pragma once

#include "link/LinkViews.h"
#include "meter/MeterEvents.h"
#include "meter/MeterReading.h"
#include "meter/ValueColours.h"
#include "metering/MeteringPanels.h"

#include <QWidget>

#include <array>

class IDialogs;
class ILinkPort;

class TFormRTMetering : public QWidget, public IMeteringView, public IMeterEvents {
    Q_OBJECT

public:
    TFormRTMetering(ILinkPort& link, IDialogs& dialogs, QWidget* parent = nullptr);
    ~TFormRTMetering() override;
    TFormRTMetering(const TFormRTMetering&) = delete;
    TFormRTMetering& operator=(const TFormRTMetering&) = delete;

    // IMeteringView
    void SetMeasurementText(int index, const QString& text) override;
    void SetEnergyText(int index, const QString& text) override;
    void SetRelayState(int index, bool on) override;
    void SetInputState(int index, bool on) override;
    void ShowExtendedEnergy(bool shown) override;
    void SetCommandsEnabled(bool enabled) override;

    // IMeterEvents: a block's read lost leaves that block's values stale; another read lost
    // (the meter does not answer at all), another meter and the end of the cycle all of them.
    void MeteringLost(const TMeterModel& meter, TMeteringBlock block) override;
    void CycleEnded() override;
    void QueryFinished(const std::string& text, const TLinkLine& line,
                       const TQueryOutcome& outcome) override;
    void MeterChanged(const TMeterModel& meter) override;

    // Command handlers; Sender is the control that was clicked.
    void SpeedRO1Click(QObject* Sender);
    void SpeedRO2Click(QObject* Sender);
    // Shared by the six energy labels: presets the counter of the label clicked.
    void LabelEp_totalClick(QObject* Sender);
    void ButtonClearEnergyClick(QObject* Sender);

protected:
    // A dark or light desktop palette chooses the value and state colours again.
    void changeEvent(QEvent* event) override;

private:
    void SwitchRelay(int relay);
    // The blocks of values, in the order of TMeteringBlock: measurement, energy, relays, inputs.
    void SetStale(std::size_t block, bool stale);
    void SetAllStale();
    void ShowColours(std::size_t block);

    ILinkPort& FLink;
    IDialogs& FDialogs;
    TValueColours FColours;

    TMeteringPanels FPanels;
    // Per block: its values were not confirmed by the last read.
    std::array<bool, 4> FStale{};
};
