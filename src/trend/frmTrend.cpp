// The Trend page: its series fed by the link's metering reads, the chart redrawn from them, the
// cursor readout, recording and the chart saved as an image. The chart is a TTrendChart
// (frmTrendChart.cpp), the controls are built by TTrendControls (frmTrendControls.cpp); the page
// connects them.
#include "trend/frmTrend.h"

#include "link/LinkPort.h"
#include "meter/QueryPlan.h"
#include "trend/ChartedQuantities.h"
#include "trend/TrendDialogs.h"
#include "trend/frmTrendChart.h"
#include "trend/frmTrendControls.h"
#include "widgets/Dialogs.h"
#include "widgets/UiFont.h"

#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>

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

void TFormTrend::BuildControls() {
    FControls = std::make_unique<TTrendControls>(this, [this]() -> QWidget* {
        FChart = new TTrendChart(this);
        return FChart->View();
    });
    ConnectControls();
    auto* refreshTimer = new QTimer(this);
    refreshTimer->setInterval(1000);
    connect(refreshTimer, &QTimer::timeout, this, [this] {
        if (isVisible())
            Refresh();
        UpdateRecordState();
    });
    refreshTimer->start();

    // Three voltages and a current to begin with.
    for (int q : {0, 1, 2, 6})
        SetShown(q, true);
    UpdateRecordState();
}

// What the controls do; the cursor's readout goes under the chart, and a zoom or pan by the
// operator pauses it.
void TFormTrend::ConnectControls() {
    const TTrendControls& c = *FControls;
    connect(FChart, &TTrendChart::PointedAt, this,
            [this](qint64 t) { FControls->LabelReadout->setText(ReadoutAt(t)); });
    connect(FChart, &TTrendChart::ViewMoved, this, [this] {
        if (!FPaused) {
            FPaused = true;
            FControls->ButtonPause->setText(QStringLiteral("Resume"));
        }
    });
    connect(c.ListQuantities, &QListWidget::itemChanged, this, [this] {
        FChart->RebuildAxes();
        Refresh();
    });
    connect(c.ComboSpan, &QComboBox::currentIndexChanged, this, [this] {
        SetPaused(false);
        Refresh();
    });
    connect(c.ButtonPause, &QPushButton::clicked, this, [this] { SetPaused(!FPaused); });
    connect(c.ButtonRecord, &QPushButton::clicked, this, [this] { ButtonRecordClick(); });
    connect(c.ButtonSaveImage, &QPushButton::clicked, this, [this] { ButtonSaveImageClick(); });
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
    FControls->ComboSpan->setCurrentIndex(index);
}

void TFormTrend::SetShown(int quantity, bool shown) {
    FControls->SetShown(quantity, shown);
}

QList<int> TFormTrend::Shown() const {
    return FControls->Shown();
}

void TFormTrend::SetPaused(bool paused) {
    FPaused = paused;
    FControls->ButtonPause->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    if (!paused)
        Refresh();
}
void TFormTrend::Refresh() {
    FChart->Refresh(FSeries, Shown(), FLink.Scaling(), Now(), FControls->ComboSpan->currentIndex(),
                    !FPaused);
}

QChart* TFormTrend::Chart() const {
    return FChart->Chart();
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
    FControls->ButtonRecord->setText(on ? QStringLiteral("Stop Recording")
                                        : QStringLiteral("Record..."));
    if (!on && !FRecorder.Files().isEmpty()) {
        FControls->LabelRecording->setText(
            QStringLiteral("Recorded %1 rows to %2")
                .arg(FRecorder.Rows())
                .arg(QFileInfo(FRecorder.Files().last()).fileName()));
    } else if (on) {
        FControls->LabelRecording->setText(
            QStringLiteral("Recording: %1 rows%2")
                .arg(FRecorder.Rows())
                .arg(FRecorder.Files().isEmpty()
                         ? QString()
                         : QStringLiteral(" in ") +
                               QFileInfo(FRecorder.Files().last()).fileName()));
    } else {
        FControls->LabelRecording->setText(QStringLiteral("Not recording."));
    }
}

void TFormTrend::ButtonSaveImageClick() {
    const QString name =
        FDialogs.SaveDocument(this, QStringLiteral("trend"), FLink.SerialNumber(),
                              QStringLiteral("PNG image (*.png)"), QStringLiteral("png"));
    if (name.isEmpty())
        return;
    const QPixmap image = FChart->View()->grab();
    // Whole or not at all: an image cut short by a full disk never replaces an older one.
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.flush() ||
        !file.commit()) {
        file.cancelWriting();
        FDialogs.ShowError(QStringLiteral("Cannot save the image '%1'").arg(name));
    }
}
