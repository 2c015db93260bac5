#include "comms/frmCommunication.h"

#include "comms/CommMonitor.h"
#include "comms/FrameDecode.h"
#include "comms/LogDelegate.h"
#include "comms/LogFile.h"
#include "comms/LogModel.h"
#include "meter/ValueFormat.h"
#include "widgets/Dialogs.h"
#include "widgets/UiFont.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QStringList>
#include <QTimer>
#include <QVBoxLayout>

#include <span>
#include <utility>

namespace {

QString Count(std::uint64_t n) {
    return QString::number(n);
}

QString Ms(const std::optional<double>& ms) {
    return ms ? FormatFixed(*ms, 1) + QStringLiteral(" ms") : QStringLiteral("--");
}

QString ExceptionsText(const TCommCounters& c) {
    if (c.Exceptions.empty())
        return QStringLiteral("0");
    QStringList parts;
    for (const auto& [code, count] : c.Exceptions)
        parts << QStringLiteral("%1 x %2 %3")
                     .arg(count)
                     .arg(code, 2, 10, QLatin1Char('0'))
                     .arg(ExceptionName(code));
    return parts.join(QStringLiteral("; "));
}

} // namespace

TFormCommunication::TFormCommunication(TCommMonitor& monitor, IDialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), FMonitor(monitor), FDialogs(dialogs) {
    setObjectName(QStringLiteral("FormCommunication"));
    setWindowTitle(QStringLiteral("Communication"));
    setFont(UiFont());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(CreateVerdict());
    auto* figures = new QHBoxLayout;
    figures->addWidget(CreateCounters(), 1);
    figures->addWidget(CreateTiming(), 1);
    layout->addLayout(figures);
    layout->addLayout(CreateLogButtons());
    layout->addWidget(CreateLog(), 1);

    TimerRefresh = new QTimer(this);
    TimerRefresh->setInterval(RefreshMs);
    connect(TimerRefresh, &QTimer::timeout, this, [this] { Refresh(); });
    resize(760, 560);
    // A window of its own: it closes from the keyboard as a dialog would.
    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, &QWidget::close);
    }
    Refresh();
}

QWidget* TFormCommunication::CreateVerdict() {
    auto* box = new QGroupBox(QStringLiteral("The likely cause"), this);
    auto* layout = new QVBoxLayout(box);
    LabelVerdict = new QLabel(box);
    LabelVerdict->setObjectName(QStringLiteral("LabelVerdict"));
    LabelVerdict->setTextFormat(Qt::PlainText);
    LabelVerdict->setWordWrap(true);
    LabelVerdict->setFont(UiFont(13));
    layout->addWidget(LabelVerdict);
    return box;
}

QLayout* TFormCommunication::CreateLogButtons() {
    auto* buttons = new QHBoxLayout;
    CheckErrorsOnly = new QCheckBox(QStringLiteral("&Errors only"), this);
    CheckPause = new QCheckBox(QStringLiteral("&Pause"), this);
    ButtonReset = new QPushButton(QStringLiteral("&Reset"), this);
    ButtonSaveLog = new QPushButton(QStringLiteral("&Save Log..."), this);
    buttons->addWidget(CheckErrorsOnly);
    buttons->addWidget(CheckPause);
    buttons->addStretch(1);
    buttons->addWidget(ButtonReset);
    buttons->addWidget(ButtonSaveLog);
    connect(CheckErrorsOnly, &QCheckBox::toggled, this, [this](bool on) {
        LogModel->SetErrorsOnly(on);
        ListLog->scrollToBottom();
    });
    connect(CheckPause, &QCheckBox::toggled, this, [this](bool paused) {
        LogModel->SetFrozen(paused);
        if (!paused)
            ListLog->scrollToBottom();
    });
    connect(ButtonReset, &QPushButton::clicked, this, [this] { ResetClick(); });
    connect(ButtonSaveLog, &QPushButton::clicked, this, [this] { SaveLogClick(); });
    return buttons;
}

QWidget* TFormCommunication::CreateLog() {
    LogModel = new TLogModel(FMonitor.Log(), this);
    ListLog = new QListView(this);
    ListLog->setObjectName(QStringLiteral("ListLog"));
    ListLog->setAccessibleName(QStringLiteral("Frame log"));
    ListLog->setModel(LogModel);
    // Draws only the head of each long row that can reach the view.
    ListLog->setItemDelegate(new TLogDelegate(ListLog));
    // Every row one line of one font: the view then asks only for the rows it shows.
    ListLog->setUniformItemSizes(true);
    ListLog->setSelectionMode(QAbstractItemView::ExtendedSelection);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPixelSize(11);
    ListLog->setFont(fixed);
    return ListLog;
}

QLabel* TFormCommunication::AddRow(QGridLayout* grid, int row, const char* key,
                                   const QString& caption) {
    grid->addWidget(new QLabel(caption), row, 0);
    auto* value = new QLabel(QStringLiteral("--"));
    value->setObjectName(QLatin1String("Value_") + QLatin1String(key));
    value->setTextFormat(Qt::PlainText);
    value->setWordWrap(true);
    grid->addWidget(value, row, 1);
    return value;
}

QWidget*
TFormCommunication::CreateFigures(const QString& title,
                                  std::span<const std::pair<const char*, const char*>> rows) {
    auto* box = new QGroupBox(title, this);
    auto* grid = new QGridLayout(box);
    int row = 0;
    for (const auto& [key, caption] : rows)
        AddRow(grid, row++, key, QString::fromLatin1(caption));
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(row, 1);
    return box;
}

QWidget* TFormCommunication::CreateCounters() {
    static constexpr std::pair<const char*, const char*> Rows[] = {
        {"sent", "Queries sent"},           {"answered", "Answered"},
        {"noresponse", "No response"},      {"badframe", "Bad frame (CRC or length)"},
        {"mismatch", "Mismatch"},           {"otheraddress", "From another address"},
        {"exceptions", "Exceptions"},       {"broadcasts", "Broadcasts"},
        {"bytes", "Bytes sent / received"}, {"lineerrors", "Line errors"},
    };
    return CreateFigures(QStringLiteral("Counters since Connect"), Rows);
}

QWidget* TFormCommunication::CreateTiming() {
    static constexpr std::pair<const char*, const char*> Rows[] = {
        {"last", "Last"},           {"min", "Minimum"}, {"median", "Median"},
        {"p95", "95th percentile"}, {"max", "Maximum"}, {"rate", "Query rate"},
        {"share", "Line in use"},
    };
    return CreateFigures(QStringLiteral("Response time"), Rows);
}

QLabel* TFormCommunication::Value(const char* key) const {
    return findChild<QLabel*>(QLatin1String("Value_") + QLatin1String(key));
}

void TFormCommunication::Refresh() {
    const TCommCounters& c = FMonitor.Counters();
    Value("sent")->setText(Count(c.Sent));
    Value("answered")->setText(Count(c.Answered));
    Value("noresponse")->setText(Count(c.NoResponse));
    Value("badframe")->setText(Count(c.BadFrame));
    Value("mismatch")->setText(Count(c.Mismatch));
    Value("otheraddress")->setText(Count(c.OtherAddress));
    Value("exceptions")->setText(ExceptionsText(c));
    Value("broadcasts")->setText(Count(c.Broadcasts));
    Value("bytes")->setText(Count(c.BytesSent) + QStringLiteral(" / ") + Count(c.BytesReceived));
    Value("lineerrors")
        ->setText(QStringLiteral("framing %1, parity %2, overrun %3")
                      .arg(c.FramingErrors)
                      .arg(c.ParityErrors)
                      .arg(c.OverrunErrors));
    const TTimingFigures t = FMonitor.Timing();
    Value("last")->setText(Ms(t.LastMs));
    Value("min")->setText(Ms(t.MinMs));
    Value("median")->setText(Ms(t.MedianMs));
    Value("p95")->setText(Ms(t.P95Ms));
    Value("max")->setText(Ms(t.MaxMs));
    Value("rate")->setText(FormatFixed(FMonitor.QueriesPerSecond(), 1) +
                           QStringLiteral(" queries/s"));
    Value("share")->setText(FMonitor.Baudrate() > 0
                                ? FormatFixed(FMonitor.LineShare() * 100.0, 1) +
                                      QStringLiteral(" % of %1 baud").arg(FMonitor.Baudrate())
                                : QStringLiteral("--"));
    LabelVerdict->setText(FMonitor.Verdict().Text);
    UpdateLog();
}

void TFormCommunication::UpdateLog() {
    // The view follows the newest frames unless the operator has scrolled up to read.
    const QScrollBar* bar = ListLog->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    LogModel->Update();
    if (atEnd)
        ListLog->scrollToBottom();
}

void TFormCommunication::ResetClick() {
    FMonitor.Reset();
    FMonitor.ClearLog();
    LogModel->Reload();
    Refresh();
}

void TFormCommunication::SaveLogClick() {
    const QString path = FDialogs.SaveDocument(
        this, QStringLiteral("log"), MeterSerial ? MeterSerial() : QString(),
        QStringLiteral("Text file (*.txt);;CSV file (*.csv)"), QStringLiteral("txt"));
    if (path.isEmpty())
        return;
    QString error;
    if (!SaveLogFile(path, LogModel->Shown(), CheckErrorsOnly->isChecked(), error))
        FDialogs.ShowError(QStringLiteral("Cannot save the log to '%1': %2").arg(path, error));
}

void TFormCommunication::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Refresh();
    TimerRefresh->start();
}

void TFormCommunication::hideEvent(QHideEvent* event) {
    TimerRefresh->stop();
    QWidget::hideEvent(event);
}
