// The Trend page's chart: its time axis, one value axis per unit and the series pools, the view
// that follows now or stays where the operator zoomed or panned, and the mouse on the chart. The
// page owns it, lays out its view and hands it the series to draw.
#pragma once

#include "trend/SeriesStore.h"

#include <QList>
#include <QObject>

#include <cstdint>
#include <map>
#include <vector>

class QChart;
class QChartView;
class QColor;
class QDateTimeAxis;
class QGraphicsLineItem;
class QLineSeries;
class QValueAxis;
class QWidget;
struct TScaling;

class TTrendChart : public QObject {
    Q_OBJECT

public:
    // The view is made a child of the page and takes the page's font and palette.
    explicit TTrendChart(QWidget* page);

    QChart* Chart() const { return FChart; }
    QChartView* View() const { return FView; }
    // Redraws the shown quantities of `series` (indexed as MeteringQuantities()); while
    // `follow`, the view ends now and begins `span` (0..3 the last 1, 5, 15, 60 minutes,
    // 4 since Connect) before.
    void Refresh(const std::vector<TSeries>& series, const QList<int>& shown,
                 const TScaling& scaling, std::int64_t now, int span, bool follow);
    // Drops the axes and series: the next Refresh makes them for what is shown then.
    void RebuildAxes();

signals:
    // The mouse points at this time on the chart.
    void PointedAt(qint64 t);
    // The operator zoomed or panned: the view stays where it was put.
    void ViewMoved();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FollowNow(const std::vector<TSeries>& series, const QList<int>& shown, std::int64_t now,
                   int span);
    std::map<QString, QValueAxis*> ValueAxes(const QList<int>& shown, const TScaling& scaling);
    const std::vector<QLineSeries*>& PoolFor(int quantity, std::size_t lines, const QColor& colour,
                                             QValueAxis* axis);
    void ShowViewTimes();
    void AxisRangeChanged();

    QWidget* FPage;
    std::vector<std::vector<QLineSeries*>> FPools;
    std::vector<QValueAxis*> FValueAxes;
    QChart* FChart = nullptr;
    QChartView* FView = nullptr;
    QDateTimeAxis* FTimeAxis = nullptr;
    QGraphicsLineItem* FCursorLine = nullptr;
    bool FSettingRange = false;
    std::int64_t FViewFrom = 0;
    std::int64_t FViewTo = 0;
};
