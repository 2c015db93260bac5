// The Trend page's chart: its time axis, one value axis per unit and the series pools, the view
// that follows now or stays where the operator zoomed or panned, and the mouse on the chart.
#include "trend/frmTrendChart.h"

#include "meter/ValueColours.h"
#include "trend/ChartedQuantities.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QGraphicsLineItem>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QScopedValueRollback>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

constexpr std::int64_t MinuteMs = 60'000;
constexpr std::int64_t SpanMs[] = {MinuteMs, 5 * MinuteMs, 15 * MinuteMs, 60 * MinuteMs};
constexpr int SinceConnect = 4;

// The series colours, readable on light and dark chart themes alike.
const QColor SeriesColours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e),
                                QColor(0x2c, 0xa0, 0x2c), QColor(0xd6, 0x27, 0x28),
                                QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
                                QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf)};

// The lowest and highest value drawn per unit.
using TValueRanges = std::map<QString, std::pair<double, double>>;

void Widen(TValueRanges& ranges, const QString& unit, const std::vector<QPointF>& line) {
    for (const QPointF& p : line) {
        auto& r = ranges.try_emplace(unit, p.y(), p.y()).first->second;
        r.first = std::min(r.first, p.y());
        r.second = std::max(r.second, p.y());
    }
}

// Each value axis spans its unit's values with a little room; one with nothing drawn, 0 to 1.
void SetValueRanges(const std::map<QString, QValueAxis*>& axes, const TValueRanges& ranges) {
    for (const auto& [unit, axis] : axes) {
        const auto it = ranges.find(unit);
        double low = it == ranges.end() ? 0 : it->second.first;
        double high = it == ranges.end() ? 1 : it->second.second;
        const double margin =
            high > low ? (high - low) * 0.05 : std::max(std::fabs(high) * 0.01, 0.5);
        axis->setRange(low - margin, high + margin);
    }
}

} // namespace

// The chart with its time axis, its view and the cursor line.
TTrendChart::TTrendChart(QWidget* page) : QObject(page), FPage(page) {
    FPools.resize(MeteringQuantities().size());
    FChart = new QChart;
    // The chart's own colours follow a dark desktop too.
    const QColor window = page->palette().color(QPalette::Window);
    if (IsDarkBackground(TRgb{window.red(), window.green(), window.blue()}))
        FChart->setTheme(QChart::ChartThemeDark);
    FChart->setFont(page->font());
    FChart->legend()->setFont(page->font());
    FChart->legend()->setAlignment(Qt::AlignBottom);
    FChart->setMargins(QMargins(2, 2, 2, 2));
    FTimeAxis = new QDateTimeAxis;
    FTimeAxis->setFormat(QStringLiteral("HH:mm:ss"));
    FTimeAxis->setLabelsFont(page->font());
    FTimeAxis->setTickCount(5);
    FChart->addAxis(FTimeAxis, Qt::AlignBottom);
    connect(FTimeAxis, &QDateTimeAxis::rangeChanged, this, [this] { AxisRangeChanged(); });
    FView = new QChartView(FChart, page);
    FView->setObjectName(QStringLiteral("ChartView"));
    FView->setRenderHint(QPainter::Antialiasing);
    // Drag a band to zoom in on a stretch of time; right click zooms back out.
    FView->setRubberBand(QChartView::HorizontalRubberBand);
    FView->viewport()->installEventFilter(this);
    FView->viewport()->setMouseTracking(true);
    FCursorLine = new QGraphicsLineItem(FChart);
    FCursorLine->setPen(QPen(QColor(128, 128, 128), 1, Qt::DashLine));
    FCursorLine->setZValue(100);
    FCursorLine->hide();
}

void TTrendChart::Refresh(const std::vector<TSeries>& series, const QList<int>& shown,
                          const TScaling& scaling, std::int64_t now, int span, bool follow) {
    // Series attached and axes made here move the time axis too: only the operator's zoom
    // and pan pause the chart.
    const QScopedValueRollback<bool> ours(FSettingRange, true);
    if (follow)
        FollowNow(series, shown, now, span);
    const int columns = std::max(100, static_cast<int>(FChart->plotArea().width()));
    std::map<QString, QValueAxis*> axes = ValueAxes(shown, scaling);
    TValueRanges ranges;
    int colour = 0;
    for (int q : shown) {
        const QString unit = UnitOf(q, scaling);
        QValueAxis* axis = axes[unit];
        if (!axis) {
            // The unit changed under a shown series (the analog output type): start again.
            RebuildAxes();
            Refresh(series, shown, scaling, now, span, follow);
            return;
        }
        const auto lines =
            DecimateForChart(series[static_cast<std::size_t>(q)].Spans(FViewFrom, FViewTo),
                             FViewFrom, FViewTo, columns);
        const QColor c = SeriesColours[colour++ % std::size(SeriesColours)];
        const auto& pool = PoolFor(q, lines.size(), c, axis);
        for (std::size_t i = 0; i < pool.size(); ++i) {
            if (i < lines.size()) {
                pool[i]->replace(QList<QPointF>(lines[i].begin(), lines[i].end()));
                Widen(ranges, unit, lines[i]);
            } else {
                pool[i]->clear();
            }
        }
    }
    SetValueRanges(axes, ranges);
    ShowViewTimes();
}

void TTrendChart::RebuildAxes() {
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
void TTrendChart::FollowNow(const std::vector<TSeries>& series, const QList<int>& shown,
                            std::int64_t now, int span) {
    FViewTo = now;
    if (span != SinceConnect) {
        FViewFrom = now - SpanMs[span];
        return;
    }
    std::int64_t first = now;
    for (int q : shown)
        if (const auto f = series[static_cast<std::size_t>(q)].FirstTime())
            first = std::min(first, *f);
    FViewFrom = std::min(first, now - 1000);
}

// One value axis per unit, in the order the units first appear, made when there are none.
std::map<QString, QValueAxis*> TTrendChart::ValueAxes(const QList<int>& shown,
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
        axis->setLabelsFont(FPage->font());
        axis->setTitleFont(FPage->font());
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
const std::vector<QLineSeries*>& TTrendChart::PoolFor(int quantity, std::size_t lines,
                                                      const QColor& colour, QValueAxis* axis) {
    auto& pool = FPools[static_cast<std::size_t>(quantity)];
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
void TTrendChart::ShowViewTimes() {
    const QScopedValueRollback<bool> ours(FSettingRange, true);
    FTimeAxis->setRange(QDateTime::fromMSecsSinceEpoch(FViewFrom),
                        QDateTime::fromMSecsSinceEpoch(FViewTo));
    FTimeAxis->setFormat(FViewTo - FViewFrom > 120 * MinuteMs ? QStringLiteral("dd HH:mm")
                                                              : QStringLiteral("HH:mm:ss"));
}

void TTrendChart::AxisRangeChanged() {
    if (FSettingRange)
        return;
    // The operator zoomed or panned: the view stays where it was put until Resume.
    FViewFrom = FTimeAxis->min().toMSecsSinceEpoch();
    FViewTo = FTimeAxis->max().toMSecsSinceEpoch();
    emit ViewMoved();
}

bool TTrendChart::eventFilter(QObject* watched, QEvent* event) {
    if (watched != FView->viewport())
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseMove: {
        const auto* me = static_cast<QMouseEvent*>(event);
        const QPointF scene = FView->mapToScene(me->position().toPoint());
        const QPointF inChart = FChart->mapFromScene(scene);
        const QRectF area = FChart->plotArea();
        if (me->buttons() & Qt::MiddleButton) {
            const QPointF last = FView->property("panFrom").toPointF();
            FChart->scroll(last.x() - me->position().x(), 0);
            FView->setProperty("panFrom", me->position());
            return true;
        }
        if (!area.contains(inChart)) {
            FCursorLine->hide();
            break;
        }
        FCursorLine->setLine(inChart.x(), area.top(), inChart.x(), area.bottom());
        FCursorLine->show();
        emit PointedAt(static_cast<std::int64_t>(FChart->mapToValue(inChart).x()));
        break;
    }
    case QEvent::MouseButtonPress: {
        const auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::MiddleButton) {
            FView->setProperty("panFrom", me->position());
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
    return QObject::eventFilter(watched, event);
}
