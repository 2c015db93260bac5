// The Trend page: a live chart of the metering quantities the operator ticks, grouped on one
// axis per unit, over the last 1, 5, 15 or 60 minutes or everything since Connect; pause,
// zoom and pan, a cursor that reads out time and values, the chart saved as an image, and
// recording of every quantity to CSV. It rides on the link's metering reads and adds none.
#pragma once

#include "meter/MeterEvents.h"
#include "trend/Recorder.h"
#include "trend/SeriesStore.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class IDialogs;
class ITrendDialogs;
class QChart;
class ILinkPort;
class TTrendChart;
class TTrendControls;

class TFormTrend : public QWidget, public IMeterEvents {
    Q_OBJECT

public:
    TFormTrend(ILinkPort& link, IDialogs& dialogs, ITrendDialogs& trendDialogs,
               QWidget* parent = nullptr);
    ~TFormTrend() override;

    // IMeterEvents: the metering reads, and the end of the cycle.
    void MeteringRead(const TMeterModel& meter, const TMeterReading& reading) override;
    void MeteringLost(const TMeterModel& meter, TMeteringBlock block) override;
    void CycleEnded() override;

    // The series of quantity i of MeteringQuantities() (numeric ones only have points).
    const TSeries& Series(int quantity) const {
        return FSeries[static_cast<std::size_t>(quantity)];
    }
    // Minimum, average and maximum of a quantity over the last `ms` of polling.
    TWindowStats RecentStats(int quantity, std::int64_t ms) const;

    // Ticks or unticks a quantity in the list.
    void SetShown(int quantity, bool shown);
    QList<int> Shown() const;
    // Span choice: 0..3 the last 1, 5, 15, 60 minutes, 4 since Connect.
    void SetSpan(int index);
    void SetPaused(bool paused);
    bool Paused() const { return FPaused; }
    // Redraws the chart from the series now (the page does it on its timer).
    void Refresh();
    // The cursor readout at a time: "14:05:09.042  Volts AN 230.1 V  ...".
    QString ReadoutAt(std::int64_t t) const;

    void ButtonRecordClick();
    // Starts recording with these options (what "Record..." does after its dialog); false and
    // the reason shown when it cannot.
    bool StartRecording(const TRecordOptions& options);
    void ButtonSaveImageClick();
    TRecorder& Recorder() { return FRecorder; }
    QChart* Chart() const;
    // The program's version, named in each recording's first line.
    QString ProgramVersion;
    // The time source, ms since the epoch; tests step it.
    std::function<std::int64_t()> Now;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The controls and the chart, and what they do.
    void BuildControls();
    void ConnectControls();
    // The recording's state under the chart.
    void UpdateRecordState();

    ILinkPort& FLink;
    IDialogs& FDialogs;
    ITrendDialogs& FTrendDialogs;
    std::vector<TSeries> FSeries;
    TTrendChart* FChart = nullptr;
    std::unique_ptr<TTrendControls> FControls;
    TRecorder FRecorder;
    TRecordOptions FLastOptions;
    bool FPaused = false;
    bool FClearOnNext = false;
};
