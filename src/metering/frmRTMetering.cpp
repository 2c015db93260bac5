#include "metering/frmRTMetering.h"

#include "link/LinkPort.h"
#include "meter/ConvertError.h"
#include "meter/MeterReading.h"
#include "meter/QueryPlan.h"
#include "meter/ValueParse.h"
#include "meter/cstMain.h"
#include "metering/MeteringCommands.h"
#include "metering/MeteringPanels.h"
#include "widgets/CommandLabel.h"
#include "widgets/Dialogs.h"
#include "widgets/UiFont.h"
#include "widgets/WidgetColours.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

namespace {

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

    FPanels = BuildMeteringPanels(this, FColours);
    for (TCommandLabel* label : FPanels.Energy)
        connect(label, &TCommandLabel::Clicked, this, [this, label] { LabelEp_totalClick(label); });
    connect(FPanels.Relay1, &QToolButton::clicked, this, [this] { SpeedRO1Click(FPanels.Relay1); });
    connect(FPanels.Relay2, &QToolButton::clicked, this, [this] { SpeedRO2Click(FPanels.Relay2); });
    connect(FPanels.ClearEnergy, &QPushButton::clicked, this,
            [this] { ButtonClearEnergyClick(FPanels.ClearEnergy); });
    FLink.Follow(this);
}

TFormRTMetering::~TFormRTMetering() {
    FLink.Unfollow(this);
}

// The link writes only what a read brought: a block written is current again.
void TFormRTMetering::SetMeasurementText(int index, const QString& text) {
    if (index < 0 || index >= static_cast<int>(FPanels.Measurement.size()))
        return;
    SetLabelText(FPanels.Measurement[index], text);
    SetStale(MeasurementBlock, false);
}

void TFormRTMetering::SetEnergyText(int index, const QString& text) {
    if (index < 0 || index >= static_cast<int>(FPanels.Energy.size()))
        return;
    SetLabelText(FPanels.Energy[index], text);
    SetStale(EnergyBlock, false);
}

void TFormRTMetering::SetRelayState(int index, bool on) {
    if (index < 0 || index >= static_cast<int>(FPanels.Relays.size()))
        return;
    SetLabelText(FPanels.Relays[index], QString::fromLatin1(on ? cstMain::On : cstMain::Off));
    FStale[RelayBlock] = false;
    ShowColours(RelayBlock);
}

void TFormRTMetering::SetInputState(int index, bool on) {
    if (index < 0 || index >= static_cast<int>(FPanels.Inputs.size()))
        return;
    SetLabelText(FPanels.Inputs[index], QString::fromLatin1(on ? cstMain::On : cstMain::Off));
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
        for (QLabel* label : FPanels.Measurement)
            SetTextColour(label, value);
        break;
    case EnergyBlock:
        for (TCommandLabel* label : FPanels.Energy)
            SetTextColour(label, value);
        break;
    case RelayBlock:
        for (QLabel* label : FPanels.Relays)
            ShowStateColour(label, FStale[block], FColours);
        break;
    default:
        for (QLabel* label : FPanels.Inputs)
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
    for (QLabel* caption : FPanels.ExtendedCaptions)
        caption->setVisible(shown);
    for (int i = 2; i < 6; ++i)
        FPanels.Energy[i]->setVisible(shown);
}

void TFormRTMetering::SetCommandsEnabled(bool enabled) {
    FPanels.Relay1->setEnabled(enabled);
    FPanels.Relay2->setEnabled(enabled);
    for (TCommandLabel* label : FPanels.Energy)
        label->setEnabled(enabled);
    FPanels.ClearEnergy->setEnabled(enabled);
}

void TFormRTMetering::SpeedRO1Click(QObject* /*Sender*/) {
    SwitchRelay(0);
}

void TFormRTMetering::SpeedRO2Click(QObject* /*Sender*/) {
    SwitchRelay(1);
}

void TFormRTMetering::SwitchRelay(int relay) {
    // The label is all the page knows of the relay: only a relay shown "ON" is switched off.
    const bool on = FPanels.Relays[relay]->text() == QLatin1String(cstMain::On);
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
