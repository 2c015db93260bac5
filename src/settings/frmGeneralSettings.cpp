#include "settings/frmGeneralSettings.h"

#include "SettingsBlocks.h"
#include "SettingsFile.h"
#include "link/ConvertError.h"
#include "link/QueryPlan.h"
#include "link/ValueParse.h"
#include "link/VersionRules.h"
#include "link/cstMain.h"
#include "link/frmModbus.h"
#include "widgets/RadioGroup.h"
#include "widgets/UiFont.h"
#include "widgets/UpDown.h"

#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <optional>
#include <string>

namespace {

// Edit boxes and lists share one height, so captions line up with them at +4.
constexpr int ControlHeight = 21;
constexpr int CaptionDrop = 4;
constexpr int UpDownWidth = 16;
// The first row of a captioned group: below the caption and the frame line in every style.
constexpr int FirstRow = 22;
constexpr int RowStep = 24;

const QStringList BaudRates = {"1200", "2400", "4800", "9600", "19200", "38400", "57600"};
const QStringList ParityItems = {"Even", "Odd", "None 2", "None 1"};
const QStringList WiringItems = {"3LN", "3LL", "2LL", "1LL", "1LN"};
const QStringList QModeItems = {"Method 1 (True)", "Method 2 (Generalized)"};
const QStringList LoadConventionItems = {"IEC", "IEEE"};
const QStringList ROTypeItems = {"Latch", "Momentary", "Alarm"};
const QStringList DOTypeItems = {"Energy Pulse", "Alarm"};
const QStringList DO1OutputItems = {"Ep_total", "Ep_imp", "Ep_exp"};
const QStringList DO2OutputItems = {"Eq_total", "Eq_imp", "Eq_exp"};
// The index is the meter's alarm parameter type.
const QStringList AlarmChannels = {"None",
                                   "Volts AN (V)",
                                   "Volts BN (V)",
                                   "Volts CN (V)",
                                   "Volts AB (V)",
                                   "Volts BC (V)",
                                   "Volts CA (V)",
                                   "I A (A)",
                                   "I B (A)",
                                   "I C (A)",
                                   "Volts LN Average (V)",
                                   "Volts LL Average (V)",
                                   "I Average (A)",
                                   "Watt Total (kW)",
                                   "VAR Total (kvar)",
                                   "VA Total (kVA)",
                                   "Frequency (Hz)",
                                   "Pwr Factor Total",
                                   "I N (A)"};
const QStringList AlarmOperators = {"  <", "  >"};
const QStringList AlarmOutputItems = {"RO1", "RO2", "RO1 & RO2"};
const QStringList RelayOutputItems = {"Latch", "Momentary"};
const QStringList AOModeItems = {"0~5V/0~20mA", "1~5V/4~20mA"};
const QStringList AOChannels = {
    "Volts AN",   "Volts BN",  "Volts CN", "Volts AB",         "Volts BC",         "Volts CA",
    "I A",        "I B",       "I C",      "Volts LN Average", "Volts LL Average", "I Average",
    "Watt Total", "VAR Total", "VA Total", "Frequency",        "Pwr Factor Total"};
const QStringList LimitSigns = {" +", " -"};

const QString AlarmChannelHint = QStringLiteral("Channel name and unit");
const QString SetpointHint = QStringLiteral("Please input Setpoint value for the Alarm Channel!");
const QString DelayHint = QStringLiteral("Range: 0~255");
const QString LimitHint = QStringLiteral("Range: 0~120");

QLabel* Caption(QWidget* parent, const QString& name, const QString& text, int x, int y) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    // Captions are fixed texts, never markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->move(x, y);
    label->adjustSize();
    return label;
}

QLineEdit* Edit(QWidget* parent, const QString& name, int x, int y, int width,
                const QString& hint = {}) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(x, y, width, ControlHeight);
    edit->setToolTip(hint);
    return edit;
}

QComboBox* Combo(QWidget* parent, const QString& name, int x, int y, int width,
                 const QStringList& items, const QString& hint = {}) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    combo->addItems(items);
    combo->setCurrentIndex(-1);
    combo->setGeometry(x, y, width, ControlHeight);
    combo->setToolTip(hint);
    return combo;
}

QGroupBox* Group(QWidget* parent, const QString& name, const QString& caption, int x, int y,
                 int width, int height) {
    auto* group = new QGroupBox(caption, parent);
    group->setObjectName(name);
    group->setGeometry(x, y, width, height);
    // Opaque, so a group in front of another hides it completely.
    group->setAutoFillBackground(true);
    return group;
}

TRadioGroup* RadioGroup(QWidget* parent, const QString& name, const QString& caption,
                        const QStringList& items, int columns, int x, int y, int width,
                        int height) {
    auto* group = new TRadioGroup(caption, items, columns, QRect(x, y, width, height), parent);
    group->setObjectName(name);
    group->setAutoFillBackground(true);
    return group;
}

TUpDown* UpDown(QWidget* parent, const QString& name, QLineEdit* associate, int min, int max) {
    auto* upDown = new TUpDown(associate, min, max, parent);
    upDown->setObjectName(name);
    const QRect edit = associate->geometry();
    upDown->setGeometry(edit.right() + 1, edit.top(), UpDownWidth, edit.height());
    return upDown;
}

// A list shows the entry of that index, or none for an index outside its entries as they
// stand now (the version adaptation may have shortened it).
void SetListIndex(QComboBox* combo, int index) {
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

void RemoveKeepingNoneChosen(QComboBox* combo, int index) {
    if (index < 0 || index >= combo->count())
        return;
    // Qt would choose a neighbour of a removed current entry; the meter's value is then
    // simply not known.
    const bool wasChosen = combo->currentIndex() == index;
    combo->removeItem(index);
    if (wasChosen)
        combo->setCurrentIndex(-1);
}

// The port settings that go with the Parity choice: "Even", "Odd", "None 2", "None 1"; none
// chosen keeps the values asked for before.
struct TLineParity {
    std::optional<TParity> Parity;
    std::optional<TStopBits> StopBits;
};

TLineParity LineParityFor(int index) {
    switch (index) {
    case 0:
        return {TParity::Even, TStopBits::_1};
    case 1:
        return {TParity::Odd, TStopBits::_1};
    case 2:
        return {TParity::None, TStopBits::_2};
    case 3:
        return {TParity::None, TStopBits::_1};
    default:
        return {};
    }
}

} // namespace

TFormGeneralSettings::TFormGeneralSettings(TFormModbus& link, IDialogs& dialogs, QWidget* parent)
    : QWidget(parent), FLink(link), FDialogs(dialogs) {
    setObjectName(QStringLiteral("FormGeneralSettings"));
    setWindowTitle(QStringLiteral("General Settings"));
    setWindowFlag(Qt::FramelessWindowHint);
    // Before any control exists, so every one of them inherits it.
    setFont(UiFont());
    setFixedSize(580, 625);

    Panel165 = new QFrame(this);
    Panel165->setObjectName(QStringLiteral("Panel165"));
    Panel165->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel165->setGeometry(8, 8, 565, 561);

    CreateSecurity(Panel165);
    CreateCommunication(Panel165);
    CreateWiring(Panel165);
    CreateOutputTypes(Panel165);
    CreateRatios(Panel165);
    CreateConventions(Panel165);
    CreatePulseConst(Panel165);
    CreateOther(Panel165);
    CreateAnalogOutput(Panel165, 1);
    CreateAnalogOutput(Panel165, 2);
    // Created in this order so the relay alarm group lies in front of the single alarm.
    CreateAlarm(Panel165);
    CreateRelayAlarms(Panel165);
    CreateButtons();
}

void TFormGeneralSettings::CreateSecurity(QWidget* panel) {
    QGroupBox* group = Group(panel, "GroupBox3", "Security", 16, 8, 137, 49);
    Caption(group, "LabelPassword", "Password", 8, FirstRow + CaptionDrop);
    EditPassword = Edit(group, "EditPassword", 60, FirstRow, 69, "Range: 0~9999");
}

void TFormGeneralSettings::CreateCommunication(QWidget* panel) {
    QGroupBox* group = Group(panel, "GroupBox1", "Communication", 160, 8, 361, 105);
    Caption(group, "LabelAddress", "Address", 8, FirstRow + CaptionDrop);
    EditDevAddr = Edit(group, "EditDevAddr", 52, FirstRow, 41, "Range: 1~247");
    EditDevAddr->setText(QStringLiteral("1"));
    UpDownAddr = UpDown(group, "UpDownAddr", EditDevAddr, 1, 247);
    Caption(group, "LabelBaudRate", "Baud Rate", 128, FirstRow + CaptionDrop);
    ComboDevBaud = Combo(group, "ComboDevBaud", 184, FirstRow, 81, BaudRates);
    Caption(group, "LabelBps", "bps", 272, FirstRow + CaptionDrop);
    RadioGroupParity =
        RadioGroup(group, "RadioGroupParity", "Parity", ParityItems, 4, 8, 46, 345, 53);
}

void TFormGeneralSettings::CreateWiring(QWidget* panel) {
    QGroupBox* group = Group(panel, "GroupBox2", "Wiring", 16, 64, 137, 49);
    Caption(group, "LabelVoltage", "Voltage", 8, FirstRow + CaptionDrop);
    ComboVWire = Combo(group, "ComboVWire", 60, FirstRow, 69, WiringItems);
}

void TFormGeneralSettings::CreateOutputTypes(QWidget* panel) {
    QGroupBox* group = Group(panel, "GroupBox10", QString(), 16, 120, 137, 185);
    Caption(group, "LabelROType", "RO Type", 8, 10);
    ComboROType = Combo(group, "ComboROType", 8, 26, 121, ROTypeItems);
    Caption(group, "LabelDOType", "DO Type", 8, 52);
    ComboDOType = Combo(group, "ComboDOType", 8, 68, 121, DOTypeItems);
    Label18 = Caption(group, "Label18", "DO1 Energy Output", 8, 94);
    ComboDO1Output = Combo(group, "ComboDO1Output", 8, 110, 121, DO1OutputItems);
    Label19 = Caption(group, "Label19", "DO2 Energy Output", 8, 136);
    ComboDO2Output = Combo(group, "ComboDO2Output", 8, 152, 121, DO2OutputItems);
}

void TFormGeneralSettings::CreateRatios(QWidget* panel) {
    QGroupBox* group = Group(panel, "GroupBox4", "PT and CT Ratios", 160, 120, 241, 73);
    const int row1 = FirstRow;
    const int row2 = FirstRow + RowStep;
    Caption(group, "LabelPT1", "PT1", 8, row1 + CaptionDrop);
    EditPT1 = Edit(group, "EditPT1", 32, row1, 73, "Range: 50~500000");
    Caption(group, "LabelPT1Unit", "V", 108, row1 + CaptionDrop);
    Caption(group, "LabelPT2", "PT2", 8, row2 + CaptionDrop);
    EditPT2 = Edit(group, "EditPT2", 32, row2, 73, "Range: 50~400");
    Caption(group, "LabelPT2Unit", "V", 108, row2 + CaptionDrop);
    Caption(group, "LabelCT1", "CT1", 124, row1 + CaptionDrop);
    EditCT1 = Edit(group, "EditCT1", 148, row1, 73, "Range: 1~9999");
    Caption(group, "LabelCT1Unit", "A", 224, row1 + CaptionDrop);
    Caption(group, "LabelCT2", "CT2", 124, row2 + CaptionDrop);
    EditCT2 = Edit(group, "EditCT2", 148, row2, 73, "Range: 1 or 5");
    Caption(group, "LabelCT2Unit", "A", 224, row2 + CaptionDrop);
}

void TFormGeneralSettings::CreateConventions(QWidget* panel) {
    RadioGroupLoadConvention = RadioGroup(panel, "RadioGroupLoadConvention", "Load Type Convention",
                                          LoadConventionItems, 1, 408, 120, 113, 73);
    RadioGroupQMode = RadioGroup(panel, "RadioGroupQMode", "VAR Calculation Method", QModeItems, 2,
                                 160, 200, 361, 49);
}

void TFormGeneralSettings::CreatePulseConst(QWidget* panel) {
    QGroupBox* group = Group(panel, "GroupBox6", "DO Energy Pulse Const", 160, 256, 145, 49);
    EditDOPulseConst = Edit(group, "EditDOPulseConst", 8, FirstRow, 65, "Range: 800~60000");
    Caption(group, "LabelPulseUnit", "Pulses/kWh", 78, FirstRow + CaptionDrop);
}

void TFormGeneralSettings::CreateOther(QWidget* panel) {
    QGroupBox* group = Group(panel, "GroupBox7", "Other", 312, 256, 209, 49);
    Caption(group, "LabelBacklight", "Turn On the Backlight", 8, FirstRow + CaptionDrop);
    EditLightTime = Edit(group, "EditLightTime", 118, FirstRow, 41, "Range: 0~120");
    EditLightTime->setText(QStringLiteral("0"));
    UpDown3 = UpDown(group, "UpDown3", EditLightTime, 0, 120);
    Caption(group, "LabelBacklightUnit", "min", 180, FirstRow + CaptionDrop);
}

void TFormGeneralSettings::CreateAnalogOutput(QWidget* panel, int number) {
    const QString n = QString::number(number);
    const QString ao = "AO" + n;
    QGroupBox* group = Group(panel, number == 1 ? "GroupBox8" : "GroupBox9", ao,
                             number == 1 ? 16 : 272, 312, 249, 121);
    TAnalogOutput& out = number == 1 ? AO1 : AO2;
    const int mode = FirstRow;
    const int channel = mode + RowStep;
    const int high = channel + RowStep;
    const int low = high + RowStep;
    Caption(group, "Label" + ao + "Mode", "Output Mode", 8, mode + CaptionDrop);
    out.Mode = Combo(group, "Combo" + ao + "Mode", 80, mode, 161, AOModeItems);
    Caption(group, "Label" + ao + "Channel", "Raw Channel", 8, channel + CaptionDrop);
    out.Channel = Combo(group, "Combo" + ao + "Channel", 80, channel, 161, AOChannels);
    Caption(group, "Label" + ao + "HighLimit", "Hight Limit", 8, high + CaptionDrop);
    out.HLOpt = Combo(group, "Combo" + ao + "HLOpt", 80, high, 41, LimitSigns);
    out.HighLimit = Edit(group, "Edit" + ao + "HighLimit", 128, high, 97, LimitHint);
    Caption(group, "Label" + ao + "HighUnit", "%", 230, high + CaptionDrop);
    Caption(group, "Label" + ao + "LowLimit", "Low Limit", 8, low + CaptionDrop);
    out.LLOpt = Combo(group, "Combo" + ao + "LLOpt", 80, low, 41, LimitSigns);
    out.LowLimit = Edit(group, "Edit" + ao + "LowLimit", 128, low, 97, LimitHint);
    Caption(group, "Label" + ao + "LowUnit", "%", 230, low + CaptionDrop);
}

void TFormGeneralSettings::CreateAlarm(QWidget* panel) {
    GroupBox5 = Group(panel, "GroupBox5", "Alarm Limit", 16, 440, 505, 89);
    const int heading = FirstRow + 2;
    const int row = heading + 16;
    Caption(GroupBox5, "LabelAlarmChannel", "Alarm Channel", 8, heading);
    Caption(GroupBox5, "LabelAlarmSetting", "Setting", 176, heading);
    Caption(GroupBox5, "LabelAlarmSetpoint", "Setpoint", 232, heading);
    Caption(GroupBox5, "LabelAlarmDelay", "Delay (sec)", 328, heading);
    Caption(GroupBox5, "LabelAlarmOutput", "==>>", 400, heading);
    Alarm.Var = Combo(GroupBox5, "ComboAlarmVar", 8, row, 161, AlarmChannels, AlarmChannelHint);
    Alarm.Operator = Combo(GroupBox5, "ComboAlarmOperator", 176, row, 49, AlarmOperators);
    Alarm.Setpoint = Edit(GroupBox5, "EditAlarmSetpoint", 232, row, 89, SetpointHint);
    Alarm.Delay = Edit(GroupBox5, "EditAlarmDelay", 328, row, 65, DelayHint);
    // Wide enough for "RO1 & RO2".
    Alarm.Output = Combo(GroupBox5, "ComboAlarmOutput", 400, row, 97, AlarmOutputItems);
}

void TFormGeneralSettings::CreateRelayAlarms(QWidget* panel) {
    GroupBox11 = Group(panel, "GroupBox11", "Alarm Limit", 16, 440, 505, 109);
    const int heading = FirstRow + 2;
    Caption(GroupBox11, "LabelRelayAlarmChannel", "Alarm Channel", 40, heading);
    Caption(GroupBox11, "LabelRelayAlarmSetting", "Setting", 192, heading);
    Caption(GroupBox11, "LabelRelayAlarmSetpoint", "Setpoint", 244, heading);
    Caption(GroupBox11, "LabelRelayAlarmDelay", "Delay (sec)", 336, heading);
    Caption(GroupBox11, "LabelRelayAlarmOutput", "Output", 416, heading);
    const auto makeRow = [this](TAlarmRow& alarm, const QString& relay, int y) {
        Caption(GroupBox11, "Label" + relay, relay, 8, y + CaptionDrop);
        alarm.Var = Combo(GroupBox11, "Combo" + relay + "AlarmVar", 40, y, 145, AlarmChannels,
                          AlarmChannelHint);
        alarm.Operator =
            Combo(GroupBox11, "Combo" + relay + "AlarmOperator", 192, y, 45, AlarmOperators);
        alarm.Setpoint =
            Edit(GroupBox11, "Edit" + relay + "AlarmSetpoint", 244, y, 85, SetpointHint);
        alarm.Delay = Edit(GroupBox11, "Edit" + relay + "AlarmDelay", 336, y, 73, DelayHint);
        alarm.Output =
            Combo(GroupBox11, "Combo" + relay + "AlarmOutput", 416, y, 81, RelayOutputItems);
    };
    makeRow(RO1Alarm, "RO1", heading + 16);
    makeRow(RO2Alarm, "RO2", heading + 16 + 28);
}

void TFormGeneralSettings::CreateButtons() {
    const auto button = [this](const QString& name, const QString& text, const QString& hint, int x,
                               int width, void (TFormGeneralSettings::*handler)()) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setGeometry(x, 588, width, 23);
        b->setToolTip(hint);
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };
    ButtonSave = button("ButtonSave", "Save", "Save the Settings to a file", 280, 49,
                        &TFormGeneralSettings::ButtonSaveClick);
    ButtonLoad = button("ButtonLoad", "Load", "Load a Settings from a file", 344, 49,
                        &TFormGeneralSettings::ButtonLoadClick);
    ButtonUpdate = button("ButtonUpdate", "Update Device", "Send the Settings to KT580 Device", 448,
                          83, &TFormGeneralSettings::ButtonUpdateClick);
}

TMeterSettings TFormGeneralSettings::Settings() const {
    TMeterSettings s;
    s.Password = EditPassword->text();
    s.Address = EditDevAddr->text();
    s.Baudrate = ComboDevBaud->currentIndex() >= 0 ? ComboDevBaud->currentText() : QString();
    s.Parity = RadioGroupParity->ItemIndex();
    s.VoltageWiring = ComboVWire->currentIndex();
    s.PT1 = EditPT1->text();
    s.PT2 = EditPT2->text();
    s.CT1 = EditCT1->text();
    s.CT2 = EditCT2->text();
    s.QMode = RadioGroupQMode->ItemIndex();
    s.LoadConvention = RadioGroupLoadConvention->ItemIndex();
    s.ROType = ComboROType->currentIndex();
    s.DOType = ComboDOType->currentIndex();
    s.DO1Output = ComboDO1Output->currentIndex();
    s.DO2Output = ComboDO2Output->currentIndex();
    s.DOPulseConst = EditDOPulseConst->text();
    s.BacklightTime = EditLightTime->text();
    s.AlarmItems = Alarm.Var->currentIndex();
    s.AlarmOperator = Alarm.Operator->currentIndex();
    s.AlarmSetpoint = Alarm.Setpoint->text();
    s.AlarmDelay = Alarm.Delay->text();
    s.AlarmOutput = Alarm.Output->currentIndex();
    s.RO1AlarmItems = RO1Alarm.Var->currentIndex();
    s.RO1AlarmOperator = RO1Alarm.Operator->currentIndex();
    s.RO1AlarmSetpoint = RO1Alarm.Setpoint->text();
    s.RO1AlarmDelay = RO1Alarm.Delay->text();
    s.RO1AlarmOutput = RO1Alarm.Output->currentIndex();
    s.RO2AlarmItems = RO2Alarm.Var->currentIndex();
    s.RO2AlarmOperator = RO2Alarm.Operator->currentIndex();
    s.RO2AlarmSetpoint = RO2Alarm.Setpoint->text();
    s.RO2AlarmDelay = RO2Alarm.Delay->text();
    s.RO2AlarmOutput = RO2Alarm.Output->currentIndex();
    s.AO1Mode = AO1.Mode->currentIndex();
    s.AO1Object = AO1.Channel->currentIndex();
    s.AO1HLOpt = AO1.HLOpt->currentIndex();
    s.AO1HighLimit = AO1.HighLimit->text();
    s.AO1LLOpt = AO1.LLOpt->currentIndex();
    s.AO1LowLimit = AO1.LowLimit->text();
    s.AO2Mode = AO2.Mode->currentIndex();
    s.AO2Object = AO2.Channel->currentIndex();
    s.AO2HLOpt = AO2.HLOpt->currentIndex();
    s.AO2HighLimit = AO2.HighLimit->text();
    s.AO2LLOpt = AO2.LLOpt->currentIndex();
    s.AO2LowLimit = AO2.LowLimit->text();
    return s;
}

void TFormGeneralSettings::SetSettings(const TMeterSettings& s) {
    EditPassword->setText(s.Password);
    EditDevAddr->setText(s.Address);
    ComboDevBaud->setCurrentIndex(ComboDevBaud->findText(s.Baudrate));
    RadioGroupParity->SetItemIndex(s.Parity);
    SetListIndex(ComboVWire, s.VoltageWiring);
    EditPT1->setText(s.PT1);
    EditPT2->setText(s.PT2);
    EditCT1->setText(s.CT1);
    EditCT2->setText(s.CT2);
    RadioGroupQMode->SetItemIndex(s.QMode);
    RadioGroupLoadConvention->SetItemIndex(s.LoadConvention);
    SetListIndex(ComboROType, s.ROType);
    SetListIndex(ComboDOType, s.DOType);
    SetListIndex(ComboDO1Output, s.DO1Output);
    SetListIndex(ComboDO2Output, s.DO2Output);
    EditDOPulseConst->setText(s.DOPulseConst);
    EditLightTime->setText(s.BacklightTime);
    SetListIndex(Alarm.Var, s.AlarmItems);
    SetListIndex(Alarm.Operator, s.AlarmOperator);
    Alarm.Setpoint->setText(s.AlarmSetpoint);
    Alarm.Delay->setText(s.AlarmDelay);
    SetListIndex(Alarm.Output, s.AlarmOutput);
    SetListIndex(RO1Alarm.Var, s.RO1AlarmItems);
    SetListIndex(RO1Alarm.Operator, s.RO1AlarmOperator);
    RO1Alarm.Setpoint->setText(s.RO1AlarmSetpoint);
    RO1Alarm.Delay->setText(s.RO1AlarmDelay);
    SetListIndex(RO1Alarm.Output, s.RO1AlarmOutput);
    SetListIndex(RO2Alarm.Var, s.RO2AlarmItems);
    SetListIndex(RO2Alarm.Operator, s.RO2AlarmOperator);
    RO2Alarm.Setpoint->setText(s.RO2AlarmSetpoint);
    RO2Alarm.Delay->setText(s.RO2AlarmDelay);
    SetListIndex(RO2Alarm.Output, s.RO2AlarmOutput);
    SetListIndex(AO1.Mode, s.AO1Mode);
    SetListIndex(AO1.Channel, s.AO1Object);
    SetListIndex(AO1.HLOpt, s.AO1HLOpt);
    AO1.HighLimit->setText(s.AO1HighLimit);
    SetListIndex(AO1.LLOpt, s.AO1LLOpt);
    AO1.LowLimit->setText(s.AO1LowLimit);
    SetListIndex(AO2.Mode, s.AO2Mode);
    SetListIndex(AO2.Channel, s.AO2Object);
    SetListIndex(AO2.HLOpt, s.AO2HLOpt);
    AO2.HighLimit->setText(s.AO2HighLimit);
    SetListIndex(AO2.LLOpt, s.AO2LLOpt);
    AO2.LowLimit->setText(s.AO2LowLimit);
}

int TFormGeneralSettings::BaudItemCount() const {
    return ComboDevBaud->count();
}

void TFormGeneralSettings::RemoveBaudItem(int index) {
    RemoveKeepingNoneChosen(ComboDevBaud, index);
}

int TFormGeneralSettings::WiringItemCount() const {
    return ComboVWire->count();
}

void TFormGeneralSettings::RemoveWiringItem(int index) {
    RemoveKeepingNoneChosen(ComboVWire, index);
}

void TFormGeneralSettings::HideDOEnergyOutputs() {
    Label18->hide();
    Label19->hide();
    ComboDO1Output->hide();
    ComboDO2Output->hide();
}

void TFormGeneralSettings::HideRelayAlarmGroup() {
    GroupBox11->hide();
}

void TFormGeneralSettings::SetUpdateEnabled(bool enabled) {
    ButtonUpdate->setEnabled(enabled);
}

void TFormGeneralSettings::ButtonUpdateClick() {
    if (!FDialogs.Confirm(QString::fromLatin1(cstMain::ConfirmSendSettings)))
        return;
    try {
        const int address = PlainInteger(EditDevAddr->text());
        if (address < 1 || address > 247) {
            FDialogs.MessageBox(QString::fromLatin1(cstMain::CaptionPrompt),
                                QString::fromLatin1(cstMain::InvalidDeviceAddress),
                                IDialogs::Information, IDialogs::Ok);
            return;
        }
        TMeterSettings record = Settings();
        record.Address = QString::number(address);
        // The layout as the link knows it now, after the operator has confirmed.
        const QString version = FLink.SoftwareVersion();
        const bool extended = ExtendedLayout(version);
        const bool relayAlarm = RelayAlarmLayout(version);
        const TScaling& scale = FLink.Scaling();
        // Every block is built before anything is queued: a field that does not convert
        // must leave the queue and the pending line settings as they were.
        std::string general = EncodeSettingsBlock(sbGeneral, record, relayAlarm, scale);
        std::string alarm = EncodeSettingsBlock(sbAlarm, record, relayAlarm, scale);
        std::string analog = EncodeSettingsBlock(sbAnalogOutput, record, relayAlarm, scale);
        std::string digital;
        if (extended)
            digital = EncodeSettingsBlock(sbDigitalOutput, record, relayAlarm, scale);
        std::string relay2;
        if (relayAlarm)
            relay2 = EncodeSettingsBlock(sbRelay2Alarm, record, relayAlarm, scale);
        const int baudrate = PlainInteger(record.Baudrate);

        FLink.AppendQuery(std::move(general));
        FLink.AppendQuery(std::move(alarm));
        FLink.AppendQuery(std::move(analog));
        FLink.AppendQuery(qry::Settings1100);
        FLink.AppendQuery(qry::Settings1200);
        FLink.AppendQuery(qry::Settings1300);
        if (extended) {
            FLink.AppendQuery(std::move(digital));
            FLink.AppendQuery(qry::Settings1208);
        }
        if (relayAlarm) {
            FLink.AppendQuery(std::move(relay2));
            FLink.AppendQuery(qry::Settings120A);
        }
        // After the 0x1100 write is queued: the link carries these values with it.
        const TLineParity line = LineParityFor(record.Parity);
        FLink.SetNewLineSettings(static_cast<std::uint8_t>(address), baudrate, line.Parity,
                                 line.StopBits);
    } catch (const EConvertError& e) {
        FDialogs.ShowError(e.Message());
    }
}

void TFormGeneralSettings::ButtonSaveClick() {
    const QString path = FDialogs.SaveFileName(this);
    if (path.isEmpty())
        return;
    QString error;
    if (!SaveSettingsFile(path, Settings(), error))
        FDialogs.ShowError(error);
}

void TFormGeneralSettings::ButtonLoadClick() {
    const QString path = FDialogs.OpenFileName(this);
    if (path.isEmpty())
        return;
    TMeterSettings loaded;
    QString error;
    if (!LoadSettingsFile(path, loaded, error)) {
        FDialogs.ShowError(error);
        return;
    }
    SetSettings(loaded);
}
