// The Trend page's chart: its time axis, one value axis per unit and the series pools, the view
// that follows now or stays where the operator zoomed or panned, and the mouse on the chart.
#include "trend/frmTrend.h"

#include "meter/ValueColours.h"
#include "trend/ChartedQuantities.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsLineItem>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QValueAxis>

#include <algorithm>

namespace {

constexpr std::int64_t MinuteMs = 60'000;
constexpr std::int64_t SpanMs[] = {MinuteMs, 5 * MinuteMs, 15 * MinuteMs, 60 * MinuteMs};
constexpr int SinceConnect = 4;

} // namespace

// The chart with its time axis, its view and the cursor line.
void TFormTrend::BuildChart() {
    FChart = new QChart;
    // The chart's own colours follow a dark desktop too.
    const QColor window = palette().color(QPalette::Window);
    if (IsDarkBackground(TRgb{window.red(), window.green(), window.blue()}))
        FChart->setTheme(QChart::ChartThemeDark);
    FChart->setFont(font());
    FChart->legend()->setFont(font());
    FChart->legend()->setAlignment(Qt::AlignBottom);
    FChart->setMargins(QMargins(2, 2, 2, 2));
    FTimeAxis = new QDateTimeAxis;
    FTimeAxis->setFormat(QStringLiteral("HH:mm:ss"));
    FTimeAxis->setLabelsFont(font());
    FTimeAxis->setTickCount(5);
    FChart->addAxis(FTimeAxis, Qt::AlignBottom);
    connect(FTimeAxis, &QDateTimeAxis::rangeChanged, this, [this] { AxisRangeChanged(); });
    ChartView = new QChartView(FChart, this);
    ChartView->setObjectName(QStringLiteral("ChartView"));
    ChartView->setRenderHint(QPainter::Antialiasing);
    // Drag a band to zoom in on a stretch of time; right click zooms back out.
    ChartView->setRubberBand(QChartView::HorizontalRubberBand);
    ChartView->viewport()->installEventFilter(this);
    ChartView->viewport()->setMouseTracking(true);
    FCursorLine = new QGraphicsLineItem(FChart);
    FCursorLine->setPen(QPen(QColor(128, 128, 128), 1, Qt::DashLine));
    FCursorLine->setZValue(100);
    FCursorLine->hide();
}
std::vector<QLineSeries*>& TFormTrend::Pool(int quantity) {
    return FPools[static_cast<std::size_t>(quantity)];
}

void TFormTrend::RebuildAxes() {
    // Axes and series taken away move the time axis: that is no zoom of the operator's.
    const QScopedValueRollback<bool> ours(FSettingRange, true);
    for (auto& pool : FPools) {
        for (QLineSeries* s : pool) {
            FChart->removeSeries(s);
            delete s;
        }
        pool.clear();
    }
    for (QValueAxis* axis : FValueAxes) {
        FChart->removeAxis(axis);
        delete axis;
    }
    FValueAxes.clear();
}
// The view ends now and begins the chosen span before; since Connect, at the first sample of
// a shown quantity, and never less than a second before now.
void TFormTrend::FollowNow(const QList<int>& shown, std::int64_t now) {
    const int span = ComboSpan->currentIndex();
    FViewTo = now;
    if (span != SinceConnect) {
        FViewFrom = now - SpanMs[span];
        return;
    }
    std::int64_t first = now;
    for (int q : shown)
        if (const auto f = Series(q).FirstTime())
            first = std::min(first, *f);
    FViewFrom = std::min(first, now - 1000);
}

// One value axis per unit, in the order the units first appear, made when there are none.
std::map<QString, QValueAxis*> TFormTrend::ValueAxes(const QList<int>& shown,
                                                     const TScaling& scaling) {
    std::map<QString, QValueAxis*> axes;
    if (!FValueAxes.empty()) {
        for (QValueAxis* axis : FValueAxes)
            axes[axis->property("unit").toString()] = axis;
        return axes;
    }
    for (int q : shown) {
        const QString unit = UnitOf(q, scaling);
        if (axes.count(unit))
            continue;
        auto* axis = new QValueAxis;
        axis->setLabelsFont(font());
        axis->setTitleFont(font());
        axis->setTitleText(unit.isEmpty() ? QStringLiteral("(no unit)") : unit);
        axis->setProperty("unit", unit);
        FChart->addAxis(axis, FValueAxes.size() % 2 == 0 ? Qt::AlignLeft : Qt::AlignRight);
        FValueAxes.push_back(axis);
        axes[unit] = axis;
    }
    return axes;
}

// The quantity's chart series, grown to `lines` of them; at least one, so its name stays in
// the legend, which names it once.
const std::vector<QLineSeries*>& TFormTrend::PoolFor(int quantity, std::size_t lines,
                                                     const QColor& colour, QValueAxis* axis) {
    auto& pool = Pool(quantity);
    while (pool.size() < std::max<std::size_t>(lines, 1)) {
        auto* s = new QLineSeries;
        s->setName(MeteringQuantities()[static_cast<std::size_t>(quantity)].Name);
        s->setColor(colour);
        FChart->addSeries(s);
        s->attachAxis(FTimeAxis);
        s->attachAxis(axis);
        if (!pool.empty())
            for (QLegendMarker* m : FChart->legend()->markers(s))
                m->setVisible(false);
        pool.push_back(s);
    }
    return pool;
}

// The time axis shows the view, with the day once it spans more than two hours.
void TFormTrend::ShowViewTimes() {
    const QScopedValueRollback<bool> ours(FSettingRange, true);
    FTimeAxis->setRange(QDateTime::fromMSecsSinceEpoch(FViewFrom),
                        QDateTime::fromMSecsSinceEpoch(FViewTo));
    FTimeAxis->setFormat(FViewTo - FViewFrom > 120 * MinuteMs ? QStringLiteral("dd HH:mm")
                                                              : QStringLiteral("HH:mm:ss"));
}

void TFormTrend::AxisRangeChanged() {
    if (FSettingRange)
        return;
    // The operator zoomed or panned: the view stays where it was put until Resume.
    FViewFrom = FTimeAxis->min().toMSecsSinceEpoch();
    FViewTo = FTimeAxis->max().toMSecsSinceEpoch();
    if (!FPaused) {
        FPaused = true;
        ButtonPause->setText(QStringLiteral("Resume"));
    }
}
bool TFormTrend::eventFilter(QObject* watched, QEvent* event) {
    if (watched != ChartView->viewport())
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseMove: {
        const auto* me = static_cast<QMouseEvent*>(event);
        const QPointF scene = ChartView->mapToScene(me->position().toPoint());
        const QPointF inChart = FChart->mapFromScene(scene);
        const QRectF area = FChart->plotArea();
        if (me->buttons() & Qt::MiddleButton) {
            const QPointF last = ChartView->property("panFrom").toPointF();
            FChart->scroll(last.x() - me->position().x(), 0);
            ChartView->setProperty("panFrom", me->position());
            return true;
        }
        if (!area.contains(inChart)) {
            FCursorLine->hide();
            break;
        }
        FCursorLine->setLine(inChart.x(), area.top(), inChart.x(), area.bottom());
        FCursorLine->show();
        const auto t = static_cast<std::int64_t>(FChart->mapToValue(inChart).x());
        LabelReadout->setText(ReadoutAt(t));
        break;
    }
    case QEvent::MouseButtonPress: {
        const auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::MiddleButton) {
            ChartView->setProperty("panFrom", me->position());
            return true;
        }
        break;
    }
    case QEvent::Wheel: {
        const auto* we = static_cast<QWheelEvent*>(event);
        FChart->zoom(we->angleDelta().y() > 0 ? 1.25 : 0.8);
        return true;
    }
    case QEvent::Leave:
        FCursorLine->hide();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}
