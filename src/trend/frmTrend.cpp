// The Trend page: its series fed by the link's metering reads, the chart redrawn from them, the
// cursor readout, recording and the chart saved as an image. The chart's axes and pools and the
// mouse on it are in frmTrendChart.cpp, the building of the controls in frmTrendControls.cpp.
#include "trend/frmTrend.h"

#include "link/LinkPort.h"
#include "meter/QueryPlan.h"
#include "trend/ChartedQuantities.h"
#include "trend/TrendDialogs.h"
#include "widgets/Dialogs.h"
#include "widgets/UiFont.h"

#include <QChart>
#include <QChartView>
#include <QColor>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QSaveFile>
#include <QScopedValueRollback>
#include <QTimer>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

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
void TFormTrend::SetSpan(int index) {
    ComboSpan->setCurrentIndex(index);
}

void TFormTrend::SetPaused(bool paused) {
    FPaused = paused;
    ButtonPause->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    if (!paused)
        Refresh();
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
