// The Trend page's controls: the list of quantities to tick, the span and the buttons above the
// chart, the readout and the recording state below it, laid out around the chart's view. The
// page connects them to what they do.
#pragma once

#include <QList>

#include <functional>

class QComboBox;
class QHBoxLayout;
class QLabel;
class QListWidget;
class QPushButton;
class QWidget;

class TTrendControls {
public:
    // Builds the controls on the page; `makeChartView` is called after the bar and before the
    // labels, so that Tab runs list, bar, chart.
    TTrendControls(QWidget* page, const std::function<QWidget*()>& makeChartView);

    // Ticks or unticks a quantity (its index in MeteringQuantities()) in the list.
    void SetShown(int quantity, bool shown);
    QList<int> Shown() const;

    QListWidget* ListQuantities = nullptr;
    QComboBox* ComboSpan = nullptr;
    QPushButton* ButtonPause = nullptr;
    QPushButton* ButtonRecord = nullptr;
    QPushButton* ButtonSaveImage = nullptr;
    QLabel* LabelReadout = nullptr;
    QLabel* LabelRecording = nullptr;

private:
    void BuildQuantityList(QWidget* page);
    QHBoxLayout* BuildBar(QWidget* page);
};
