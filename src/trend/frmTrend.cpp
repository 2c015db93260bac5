#include "trend/frmTrend.h"

#include "link/LinkPort.h"
#include "meter/QueryPlan.h"
#include "meter/ValueColours.h"
#include "trend/MeteringQuantities.h"
#include "trend/TrendDialogs.h"
#include "widgets/Dialogs.h"
#include "widgets/UiFont.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileInfo>
#include <QGraphicsLineItem>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

constexpr std::int64_t MinuteMs = 60'000;
constexpr std::int64_t SpanMs[] = {MinuteMs, 5 * MinuteMs, 15 * MinuteMs, 60 * MinuteMs};
constexpr int SinceConnect = 4;

// The series colours, readable on light and dark chart themes alike.
const QColor SeriesColours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e),
                                QColor(0x2c, 0xa0, 0x2c), QColor(0xd6, 0x27, 0x28),
                                QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
                                QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf)};

bool Charted(const TQuantity& q) {
    return q.Numeric;
}

QString UnitOf(int quantity, const TScaling& scaling) {
    return QuantityUnit(MeteringQuantities()[static_cast<std::size_t>(quantity)], scaling);
}

// The list's tick boxes: the style draws an unticked box as an outline only, in a shade of the
// window colour (Fusion: darkened by 1.4, lightened by 1.1), which on a dark palette is as dark
// as the list. The window colour handed to the style is chosen so that the outline reads
// against the list's base on light and dark palettes alike.
class TTickListDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QColor base = option->palette.color(QPalette::Base);
        const TRgb outline =
            ReadableOn(TRgb{128, 128, 128}, TRgb{base.red(), base.green(), base.blue()});
        const int window = std::min(255, outline.G * 140 / 110);
        option->palette.setColor(QPalette::Window, QColor(window, window, window));
    }
};

QPushButton* NamedButton(const QString& text, const QString& name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    return button;
}

QLabel* NamedLabel(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

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

TFormTrend::TFormTrend(ILinkPort& link, IDialogs& dialogs, ITrendDialogs& trendDialogs,
                       QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint),
      Now([] { return QDateTime::currentMSecsSinceEpoch(); }), FLink(link), FDialogs(dialogs),
      FTrendDialogs(trendDialogs) {
    setObjectName(QStringLiteral("FormTrend"));
    setWindowTitle(QStringLiteral("Trend"));
    setFont(UiFont());
    resize(780, 437);
    setMinimumSize(780, 437);
    // Raw samples for about two hours of the rotation at 500 ms, then folded: bounded memory.
    FSeries.reserve(MeteringQuantities().size());
    for (std::size_t i = 0; i < MeteringQuantities().size(); ++i)
        FSeries.emplace_back(Charted(MeteringQuantities()[i]) ? 4096 : 1,
                             Charted(MeteringQuantities()[i]) ? 2048 : 2);
    FPools.resize(MeteringQuantities().size());
    BuildControls();
    FRecorder.OnFailed = [this] {
        // Shown from the event loop: this runs inside a master event.
        QTimer::singleShot(0, this, [this] {
            UpdateRecordState();
            FDialogs.ShowError(FRecorder.Error());
        });
    };
    FLink.Follow(this);
}

TFormTrend::~TFormTrend() {
    FLink.Unfollow(&FRecorder);
    FLink.Unfollow(this);
    FRecorder.Stop();
}

void TFormTrend::BuildControls() {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    BuildQuantityList();
    layout->addWidget(ListQuantities);
    auto* right = new QVBoxLayout;
    right->addLayout(BuildBar());
    BuildChart();
    right->addWidget(ChartView, 1);
    LabelReadout = NamedLabel(QStringLiteral("LabelReadout"), this);
    LabelReadout->setText(QStringLiteral("Point at the chart to read its values; drag to zoom, "
                                         "wheel to zoom, middle button to pan."));
    LabelRecording = NamedLabel(QStringLiteral("LabelRecording"), this);
    right->addWidget(LabelReadout);
    right->addWidget(LabelRecording);
    layout->addLayout(right, 1);

    FRefreshTimer = new QTimer(this);
    FRefreshTimer->setInterval(1000);
    connect(FRefreshTimer, &QTimer::timeout, this, [this] {
        if (isVisible())
            Refresh();
        UpdateRecordState();
    });
    FRefreshTimer->start();

    // Three voltages and a current to begin with.
    for (int q : {0, 1, 2, 6})
        SetShown(q, true);
    UpdateRecordState();
}

// The numeric quantities, each with a tick box that shows it on the chart.
void TFormTrend::BuildQuantityList() {
    ListQuantities = new QListWidget(this);
    ListQuantities->setObjectName(QStringLiteral("ListQuantities"));
    ListQuantities->setFixedWidth(150);
    ListQuantities->setItemDelegate(new TTickListDelegate(ListQuantities));
    const auto& all = MeteringQuantities();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (!Charted(all[i]))
            continue;
        auto* item = new QListWidgetItem(all[i].Name, ListQuantities);
        item->setData(Qt::UserRole, static_cast<int>(i));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    connect(ListQuantities, &QListWidget::itemChanged, this, [this] {
        RebuildAxes();
        Refresh();
    });
}

// The span choice and the buttons above the chart.
QHBoxLayout* TFormTrend::BuildBar() {
    ComboSpan = new QComboBox(this);
    ComboSpan->setObjectName(QStringLiteral("ComboSpan"));
    ComboSpan->addItems({QStringLiteral("Last 1 minute"), QStringLiteral("Last 5 minutes"),
                         QStringLiteral("Last 15 minutes"), QStringLiteral("Last 60 minutes"),
                         QStringLiteral("Since Connect")});
    ComboSpan->setCurrentIndex(1);
    connect(ComboSpan, &QComboBox::currentIndexChanged, this, [this] {
        SetPaused(false);
        Refresh();
    });
    ButtonPause = NamedButton(QStringLiteral("Pause"), QStringLiteral("ButtonPause"), this);
    connect(ButtonPause, &QPushButton::clicked, this, [this] { SetPaused(!FPaused); });
    ButtonRecord = NamedButton(QStringLiteral("Record..."), QStringLiteral("ButtonRecord"), this);
    connect(ButtonRecord, &QPushButton::clicked, this, [this] { ButtonRecordClick(); });
    ButtonSaveImage =
        NamedButton(QStringLiteral("Save Image..."), QStringLiteral("ButtonSaveImage"), this);
    connect(ButtonSaveImage, &QPushButton::clicked, this, [this] { ButtonSaveImageClick(); });
    auto* bar = new QHBoxLayout;
    bar->addWidget(ComboSpan);
    bar->addWidget(ButtonPause);
    bar->addStretch(1);
    bar->addWidget(ButtonSaveImage);
    bar->addWidget(ButtonRecord);
    return bar;
}

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

void TFormTrend::MeteringRead(const TMeterModel& /*meter*/, const TMeterReading& reading) {
    if (FClearOnNext) {
        // A new connection: "since Connect" starts here. A recording names the meter now
        // connected, which may be another one: its serial number is read.
        for (TSeries& s : FSeries)
            s.Clear();
        FClearOnNext = false;
        if (FRecorder.Recording() && FLink.SerialNumber().isEmpty())
            FLink.AppendQuery(qry::SerialNumber);
    }
    const std::int64_t t = Now();
    const auto& all = MeteringQuantities();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].Block != reading.Block || !Charted(all[i]))
            continue;
        const auto v = QuantityValue(all[i], reading);
        if (v)
            FSeries[i].Append(t, *v);
        else
            FSeries[i].AppendGap(t);
    }
}

void TFormTrend::MeteringLost(const TMeterModel& /*meter*/, TMeteringBlock block) {
    const std::int64_t t = Now();
    const auto& all = MeteringQuantities();
    for (std::size_t i = 0; i < all.size(); ++i)
        if (all[i].Block == block && Charted(all[i]))
            FSeries[i].AppendGap(t);
}

void TFormTrend::CycleEnded() {
    FClearOnNext = true;
    const std::int64_t t = Now();
    // The line ends where polling ended.
    for (TSeries& s : FSeries)
        if (s.LastTime())
            s.AppendGap(t);
}

TWindowStats TFormTrend::RecentStats(int quantity, std::int64_t ms) const {
    const std::int64_t now = Now();
    return Series(quantity).Stats(now - ms, now);
}

void TFormTrend::SetShown(int quantity, bool shown) {
    for (int row = 0; row < ListQuantities->count(); ++row) {
        QListWidgetItem* item = ListQuantities->item(row);
        if (item->data(Qt::UserRole).toInt() == quantity)
            item->setCheckState(shown ? Qt::Checked : Qt::Unchecked);
    }
}

QList<int> TFormTrend::Shown() const {
    QList<int> shown;
    for (int row = 0; row < ListQuantities->count(); ++row) {
        const QListWidgetItem* item = ListQuantities->item(row);
        if (item->checkState() == Qt::Checked)
            shown << item->data(Qt::UserRole).toInt();
    }
    return shown;
}

void TFormTrend::SetSpan(int index) {
    ComboSpan->setCurrentIndex(index);
}

void TFormTrend::SetPaused(bool paused) {
    FPaused = paused;
    ButtonPause->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    if (!paused)
        Refresh();
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

void TFormTrend::Refresh() {
    // Series attached and axes made here move the time axis too: only the operator's zoom
    // and pan pause the chart.
    const QScopedValueRollback<bool> ours(FSettingRange, true);
    const QList<int> shown = Shown();
    const std::int64_t now = Now();
    if (!FPaused)
        FollowNow(shown, now);
    const int columns = std::max(100, static_cast<int>(FChart->plotArea().width()));
    const TScaling& scaling = FLink.Scaling();
    std::map<QString, QValueAxis*> axes = ValueAxes(shown, scaling);
    TValueRanges ranges;
    int colour = 0;
    for (int q : shown) {
        const QString unit = UnitOf(q, scaling);
        QValueAxis* axis = axes[unit];
        if (!axis) {
            // The unit changed under a shown series (the analog output type): start again.
            RebuildAxes();
            Refresh();
            return;
        }
        const auto lines =
            DecimateForChart(Series(q).Spans(FViewFrom, FViewTo), FViewFrom, FViewTo, columns);
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

QString TFormTrend::ReadoutAt(std::int64_t t) const {
    QString text = QDateTime::fromMSecsSinceEpoch(t).toString(QStringLiteral("HH:mm:ss.zzz"));
    const TScaling& scaling = FLink.Scaling();
    for (int q : Shown()) {
        const auto v = Series(q).ValueAt(t);
        const TQuantity& quantity = MeteringQuantities()[static_cast<std::size_t>(q)];
        text += QStringLiteral("  ") + quantity.Name + QLatin1Char(' ') +
                (v ? QuantityShownText(quantity, *v, scaling) : QStringLiteral("--"));
    }
    return text;
}

void TFormTrend::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Opened: the chart shows what is there now, without waiting for its timer.
    Refresh();
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

void TFormTrend::ButtonRecordClick() {
    if (FRecorder.Recording()) {
        FLink.Unfollow(&FRecorder);
        FRecorder.Stop();
        UpdateRecordState();
        return;
    }
    TRecordOptions options = FLastOptions;
    if (options.Path.isEmpty())
        options.Path = SuggestedSavePath(QStringLiteral("recording"), FLink.SerialNumber(),
                                         QStringLiteral("csv"), QDate::currentDate());
    if (!FTrendDialogs.RecordOptions(this, options))
        return;
    RememberSaveFolder(QStringLiteral("recording"), options.Path);
    FLastOptions = options;
    StartRecording(options);
}

bool TFormTrend::StartRecording(const TRecordOptions& options) {
    QDir().mkpath(QFileInfo(options.Path).absolutePath());
    const bool started = FRecorder.Start(options, [this] {
        return TRecordMeta{FLink.SerialNumber(), FLink.SoftwareVersion(), ProgramVersion};
    });
    if (!started) {
        FDialogs.ShowError(FRecorder.Error());
        return false;
    }
    // The first line names the meter: its serial number is read once if not known yet. The
    // first file is written with the first complete cycle, after this read.
    if (FLink.SerialNumber().isEmpty())
        FLink.AppendQuery(qry::SerialNumber);
    FLink.Follow(&FRecorder);
    UpdateRecordState();
    return true;
}

void TFormTrend::UpdateRecordState() {
    const bool on = FRecorder.Recording();
    ButtonRecord->setText(on ? QStringLiteral("Stop Recording") : QStringLiteral("Record..."));
    if (!on && !FRecorder.Files().isEmpty()) {
        LabelRecording->setText(QStringLiteral("Recorded %1 rows to %2")
                                    .arg(FRecorder.Rows())
                                    .arg(QFileInfo(FRecorder.Files().last()).fileName()));
    } else if (on) {
        LabelRecording->setText(QStringLiteral("Recording: %1 rows%2")
                                    .arg(FRecorder.Rows())
                                    .arg(FRecorder.Files().isEmpty()
                                             ? QString()
                                             : QStringLiteral(" in ") +
                                                   QFileInfo(FRecorder.Files().last()).fileName()));
    } else {
        LabelRecording->setText(QStringLiteral("Not recording."));
    }
}

void TFormTrend::ButtonSaveImageClick() {
    const QString name =
        FDialogs.SaveDocument(this, QStringLiteral("trend"), FLink.SerialNumber(),
                              QStringLiteral("PNG image (*.png)"), QStringLiteral("png"));
    if (name.isEmpty())
        return;
    const QPixmap image = ChartView->grab();
    // Whole or not at all: an image cut short by a full disk never replaces an older one.
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.flush() ||
        !file.commit()) {
        file.cancelWriting();
        FDialogs.ShowError(QStringLiteral("Cannot save the image '%1'").arg(name));
    }
}
