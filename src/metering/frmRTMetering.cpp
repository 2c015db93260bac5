#include "metering/frmRTMetering.h"

#include "link/LinkPort.h"
#include "meter/ConvertError.h"
#include "meter/MeterReading.h"
#include "meter/QueryPlan.h"
#include "meter/ValueParse.h"
#include "meter/cstMain.h"
#include "metering/MeteringCommands.h"
#include "widgets/CommandLabel.h"
#include "widgets/Dialogs.h"
#include "widgets/UiFont.h"
#include "widgets/WidgetColours.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

namespace {

// Labels are as wide as their text, so a command label reacts on its text and nothing beside.
void SetLabelText(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize();
}

constexpr auto MeasurementBlock = static_cast<std::size_t>(TMeteringBlock::Measurement);
constexpr auto EnergyBlock = static_cast<std::size_t>(TMeteringBlock::Energy);
constexpr auto RelayBlock = static_cast<std::size_t>(TMeteringBlock::Relays);
constexpr auto InputBlock = static_cast<std::size_t>(TMeteringBlock::Inputs);

// A state label's colour: red ON, green OFF, grey while stale; none while it shows nothing.
void ShowStateColour(QLabel* label, bool stale, const TValueColours& colours) {
    if (label->text().isEmpty())
        return;
    const bool on = label->text() == QLatin1String(cstMain::On);
    SetTextColour(label, ToQColor(stale ? colours.Stale : (on ? colours.On : colours.Off)));
}

// Panel columns: caption and value label 96 pixels apart.
constexpr int CaptionX[] = {16, 192, 368};
constexpr int ValueX[] = {112, 288, 464};

} // namespace

TFormRTMetering::TFormRTMetering(ILinkPort& link, IDialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint), FLink(link), FDialogs(dialogs) {
    setObjectName(QStringLiteral("FormRTMetering"));
    setWindowTitle(QStringLiteral("Real-Time Metering"));
    // The font comes first: every control inherits it and sizes itself by it.
    setFont(UiFont());
    FColours = ValueColoursOf(this);
    resize(580, 437);
    setMinimumSize(580, 437);

    BuildVoltsAndAmps();
    BuildPowers();
    BuildPowerFactorAndFrequency();
    BuildEnergy();
    BuildRelays();
    BuildInputs();
    BuildAnalogOutputs();
    FLink.Follow(this);
}

TFormRTMetering::~TFormRTMetering() {
    FLink.Unfollow(this);
}

QFrame* TFormRTMetering::AddPanel(const char* name, int left, int top, int width, int height) {
    auto* panel = new QFrame(this);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setLineWidth(1);
    panel->setGeometry(left, top, width, height);
    return panel;
}

QLabel* TFormRTMetering::AddCaption(QWidget* panel, const char* text, int x, int y,
                                    const char* name) {
    auto* label = new QLabel(panel);
    if (name)
        label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->move(x, y);
    SetLabelText(label, QString::fromLatin1(text));
    return label;
}

QLabel* TFormRTMetering::AddValue(QWidget* panel, const char* name, int x, int y, bool blue) {
    auto* label = new QLabel(panel);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    // State labels take their colour from the state they show.
    if (blue)
        SetTextColour(label, ToQColor(FColours.Value));
    label->move(x, y);
    SetLabelText(label, QString());
    return label;
}

void TFormRTMetering::BuildVoltsAndAmps() {
    QFrame* panel = AddPanel("Panel147", 8, 8, 565, 116);
    struct TCell {
        const char* Caption;
        const char* Name;
        int Index; // register offset in the measurement block
    };
    // Three columns of four rows, each column top to bottom.
    static constexpr TCell Columns[3][4] = {
        {{"Volts AN", "LabelVa", 0},
         {"Volts BN", "LabelVb", 1},
         {"Volts CN", "LabelVc", 2},
         {"Volts LN Average", "LabelVnavg", 9}},
        {{"Volts AB", "LabelVab", 3},
         {"Volts BC", "LabelVbc", 4},
         {"Volts CA", "LabelVca", 5},
         {"Volts LL Average", "LabelVlavg", 10}},
        {{"I A", "LabelIa", 6},
         {"I B", "LabelIb", 7},
         {"I C", "LabelIc", 8},
         {"I Average", "LabelIavg", 11}},
    };
    for (int col = 0; col < 3; ++col) {
        for (int row = 0; row < 4; ++row) {
            const TCell& c = Columns[col][row];
            const int y = 16 + 24 * row;
            AddCaption(panel, c.Caption, CaptionX[col], y);
            FMeasurement[c.Index] = AddValue(panel, c.Name, ValueX[col], y);
        }
    }
}

void TFormRTMetering::BuildPowers() {
    QFrame* panel = AddPanel("Panel148", 8, 132, 565, 44);
    AddCaption(panel, "Watt Total", CaptionX[0], 16);
    FMeasurement[12] = AddValue(panel, "LabelPsum", ValueX[0], 16);
    AddCaption(panel, "VAR Total", CaptionX[1], 16);
    FMeasurement[13] = AddValue(panel, "LabelQsum", ValueX[1], 16);
    AddCaption(panel, "VA Total", CaptionX[2], 16);
    FMeasurement[14] = AddValue(panel, "LabelSsum", ValueX[2], 16);
}

void TFormRTMetering::BuildPowerFactorAndFrequency() {
    QFrame* panel = AddPanel("Panel149", 8, 184, 353, 68);
    AddCaption(panel, "Pwr Factor Total", CaptionX[0], 16);
    FMeasurement[16] = AddValue(panel, "LabelPFavg", ValueX[0], 16);
    AddCaption(panel, "Frequency", CaptionX[0], 40);
    FMeasurement[15] = AddValue(panel, "LabelF", ValueX[0], 40);
    AddCaption(panel, "Load Type", CaptionX[1], 16);
    FMeasurement[17] = AddValue(panel, "LabelRT", ValueX[1], 16);
    AddCaption(panel, "I N", CaptionX[1], 40);
    FMeasurement[20] = AddValue(panel, "LabelIn", ValueX[1], 40);
}

void TFormRTMetering::BuildEnergy() {
    QFrame* panel = AddPanel("Panel150", 368, 184, 205, 245);
    struct TRow {
        const char* CaptionName;
        const char* Caption;
        const char* Name;
    };
    static constexpr TRow Rows[6] = {
        {"Label645", "Ep_total", "LabelEp_total"}, {"Label679", "Eq_total", "LabelEq_total"},
        {"Label3", "Ep_imp", "LabelEp_imp"},       {"Label4", "Ep_exp", "LabelEp_exp"},
        {"Label9", "Eq_imp", "LabelEq_imp"},       {"Label10", "Eq_exp", "LabelEq_exp"},
    };
    for (int i = 0; i < 6; ++i) {
        const int y = 16 + 24 * i;
        QLabel* caption = AddCaption(panel, Rows[i].Caption, 8, y, Rows[i].CaptionName);
        if (i >= 2)
            FExtendedCaptions[i - 2] = caption;
        auto* label = new TCommandLabel(panel);
        label->setObjectName(QString::fromLatin1(Rows[i].Name));
        // Offset of the counter's first register from 0x1180: two registers per counter.
        label->SetTag(2 * i);
        label->setToolTip(QStringLiteral("Click and modify it!"));
        SetTextColour(label, ToQColor(FColours.Value));
        label->move(88, y);
        SetLabelText(label, QString());
        connect(label, &TCommandLabel::Clicked, this, [this, label] { LabelEp_totalClick(label); });
        FEnergy[i] = label;
    }
    ButtonClearEnergy = new QPushButton(QStringLiteral("Reset Energy"), panel);
    ButtonClearEnergy->setObjectName(QStringLiteral("ButtonClearEnergy"));
    ButtonClearEnergy->setGeometry(80, 204, 105, 23);
    connect(ButtonClearEnergy, &QPushButton::clicked, this,
            [this] { ButtonClearEnergyClick(ButtonClearEnergy); });
}

void TFormRTMetering::BuildRelays() {
    QFrame* panel = AddPanel("Panel19", 8, 260, 193, 116);
    const auto addRelay = [&](int relay, const char* caption, const char* name,
                              const char* buttonName, int y, int buttonY) {
        AddCaption(panel, caption, 16, y);
        FRelays[relay] = AddValue(panel, name, 80, y, false);
        auto* button = new QToolButton(panel);
        button->setObjectName(QString::fromLatin1(buttonName));
        button->setText(QStringLiteral("Control"));
        button->setToolTip(QStringLiteral("Control Relay"));
        button->setGeometry(120, buttonY, 49, 23);
        return button;
    };
    SpeedRO1 = addRelay(0, "Relay 1:", "LabelRO1", "SpeedRO1", 29, 24);
    SpeedRO2 = addRelay(1, "Relay 2:", "LabelRO2", "SpeedRO2", 77, 72);
    connect(SpeedRO1, &QToolButton::clicked, this, [this] { SpeedRO1Click(SpeedRO1); });
    connect(SpeedRO2, &QToolButton::clicked, this, [this] { SpeedRO2Click(SpeedRO2); });
}

void TFormRTMetering::BuildInputs() {
    QFrame* panel = AddPanel("Panel20", 208, 260, 153, 116);
    static constexpr const char* Captions[6] = {
        "DI 1:", "DI 2:", "DI 3:", "DI 4:", "DI 5:", "DI 6:"};
    static constexpr const char* Names[6] = {"LabelDI1", "LabelDI2", "LabelDI3",
                                             "LabelDI4", "LabelDI5", "LabelDI6"};
    for (int i = 0; i < 6; ++i) {
        const int y = 12 + 16 * i;
        AddCaption(panel, Captions[i], 32, y);
        FInputs[i] = AddValue(panel, Names[i], 88, y, false);
    }
}

void TFormRTMetering::BuildAnalogOutputs() {
    QFrame* panel = AddPanel("Panel1", 8, 384, 353, 44);
    AddCaption(panel, "AO 1:", 8, 16);
    FMeasurement[18] = AddValue(panel, "LabelAO1", 104, 16);
    AddCaption(panel, "AO 2:", 192, 16);
    FMeasurement[19] = AddValue(panel, "LabelAO2", 288, 16);
}

// The link writes only what a read brought: a block written is current again.
void TFormRTMetering::SetMeasurementText(int index, const QString& text) {
    if (index < 0 || index >= static_cast<int>(FMeasurement.size()))
        return;
    SetLabelText(FMeasurement[index], text);
    SetStale(MeasurementBlock, false);
}

void TFormRTMetering::SetEnergyText(int index, const QString& text) {
    if (index < 0 || index >= static_cast<int>(FEnergy.size()))
        return;
    SetLabelText(FEnergy[index], text);
    SetStale(EnergyBlock, false);
}

void TFormRTMetering::SetRelayState(int index, bool on) {
    if (index < 0 || index >= static_cast<int>(FRelays.size()))
        return;
    SetLabelText(FRelays[index], QString::fromLatin1(on ? cstMain::On : cstMain::Off));
    FStale[RelayBlock] = false;
    ShowColours(RelayBlock);
}

void TFormRTMetering::SetInputState(int index, bool on) {
    if (index < 0 || index >= static_cast<int>(FInputs.size()))
        return;
    SetLabelText(FInputs[index], QString::fromLatin1(on ? cstMain::On : cstMain::Off));
    FStale[InputBlock] = false;
    ShowColours(InputBlock);
}

void TFormRTMetering::MeteringLost(const TMeterModel& /*meter*/, TMeteringBlock block) {
    SetStale(static_cast<std::size_t>(block), true);
}

void TFormRTMetering::CycleEnded() {
    SetAllStale();
}

void TFormRTMetering::QueryFinished(const std::string& text, const TLinkLine& /*line*/,
                                    const TQueryOutcome& outcome) {
    // Metering reads are the metering observer's; a write refused says nothing of the values.
    if (outcome.Result == TQueryResult::Answered || IsWriteQuery(text) ||
        MeteringBlockOfQuery(text))
        return;
    SetAllStale();
}

void TFormRTMetering::MeterChanged(const TMeterModel& /*meter*/) {
    SetAllStale();
}

void TFormRTMetering::SetAllStale() {
    for (std::size_t block = 0; block < FStale.size(); ++block)
        SetStale(block, true);
}

void TFormRTMetering::SetStale(std::size_t block, bool stale) {
    if (FStale[block] == stale)
        return;
    FStale[block] = stale;
    ShowColours(block);
}

void TFormRTMetering::ShowColours(std::size_t block) {
    const QColor value = ToQColor(FStale[block] ? FColours.Stale : FColours.Value);
    switch (block) {
    case MeasurementBlock:
        for (QLabel* label : FMeasurement)
            SetTextColour(label, value);
        break;
    case EnergyBlock:
        for (TCommandLabel* label : FEnergy)
            SetTextColour(label, value);
        break;
    case RelayBlock:
        for (QLabel* label : FRelays)
            ShowStateColour(label, FStale[block], FColours);
        break;
    default:
        for (QLabel* label : FInputs)
            ShowStateColour(label, FStale[block], FColours);
        break;
    }
}

void TFormRTMetering::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::PaletteChange)
        return;
    const TValueColours colours = ValueColoursOf(this);
    if (colours == FColours)
        return;
    FColours = colours;
    // A label keeps its state and whether it is current.
    for (std::size_t block = 0; block < FStale.size(); ++block)
        ShowColours(block);
}

void TFormRTMetering::ShowExtendedEnergy(bool shown) {
    for (QLabel* caption : FExtendedCaptions)
        caption->setVisible(shown);
    for (int i = 2; i < 6; ++i)
        FEnergy[i]->setVisible(shown);
}

void TFormRTMetering::SetCommandsEnabled(bool enabled) {
    SpeedRO1->setEnabled(enabled);
    SpeedRO2->setEnabled(enabled);
    for (TCommandLabel* label : FEnergy)
        label->setEnabled(enabled);
    ButtonClearEnergy->setEnabled(enabled);
}

void TFormRTMetering::SpeedRO1Click(QObject* /*Sender*/) {
    SwitchRelay(0);
}

void TFormRTMetering::SpeedRO2Click(QObject* /*Sender*/) {
    SwitchRelay(1);
}

void TFormRTMetering::SwitchRelay(int relay) {
    // The label is all the page knows of the relay: only a relay shown "ON" is switched off.
    const bool on = FRelays[relay]->text() == QLatin1String(cstMain::On);
    const char* question = relay == 0 ? (on ? cstMain::ConfirmRelay1Off : cstMain::ConfirmRelay1On)
                                      : (on ? cstMain::ConfirmRelay2Off : cstMain::ConfirmRelay2On);
    if (!FDialogs.Confirm(QString::fromLatin1(question)))
        return;
    FLink.AppendQuery(mcmd::RelaySwitch(relay, !on));
    FLink.AppendQuery(qry::Relays);
}

void TFormRTMetering::LabelEp_totalClick(QObject* Sender) {
    const auto* label = qobject_cast<const TCommandLabel*>(Sender);
    if (!label)
        return;
    QString value = mcmd::EnergyEntryText(label->text());
    const QFont pageFont = font();
    if (!FDialogs.InputValue(QString::fromLatin1(cstMain::InitEnergyCaption),
                             QString::fromLatin1(cstMain::InitEnergyPrompt), &pageFont, value))
        return;
    try {
        // Refuses what a counter cannot hold (below 0, above 4294967295 tenths): the low 32 bits
        // of such a count would preset some unrelated value.
        const std::uint32_t tenths = EnergyToRaw(value);
        FLink.AppendQuery(mcmd::EnergyPreset(label->Tag(), tenths));
        FLink.AppendQuery(EnergyReadQuery(FLink.SoftwareVersion()));
    } catch (const EConvertError& e) {
        FDialogs.ShowError(e.Message());
    }
}

void TFormRTMetering::ButtonClearEnergyClick(QObject* /*Sender*/) {
    if (!FDialogs.Confirm(QString::fromLatin1(cstMain::ConfirmResetEnergy)))
        return;
    const QString version = FLink.SoftwareVersion();
    FLink.AppendQuery(mcmd::EnergyReset(version));
    FLink.AppendQuery(EnergyReadQuery(version));
}
