// The controls of the General Settings page, each where the operator has always found it.
#include "settings/frmGeneralSettingsControls.h"

#include "meter/MeterSettings.h"
#include "widgets/RadioGroup.h"
#include "widgets/UpDown.h"

#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

namespace {

// Edit boxes and lists share one height, so captions line up with them at +4.
constexpr int ControlHeight = 21;
constexpr int CaptionDrop = 4;
constexpr int UpDownWidth = 16;
// The first row of a captioned group: below the caption and the frame line in every style.
constexpr int FirstRow = 22;
constexpr int RowStep = 24;

// The entries of a field's list, from the record's field table.
const QStringList& Items(const char* name) {
    return *FindSettingsField(name)->Items;
}

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

} // namespace

void TGeneralSettingsControls::Create(QWidget* page) {
    Panel165 = new QFrame(page);
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
}

void TGeneralSettingsControls::CreateSecurity(QWidget* panel) {
    QGroupBox* group = Group(panel, "GroupBox3", "Security", 16, 8, 137, 49);
    Caption(group, "LabelPassword", "Password", 8, FirstRow + CaptionDrop);
    EditPassword = Edit(group, "EditPassword", 60, FirstRow, 69, "Range: 0~9999");
}

void TGeneralSettingsControls::CreateCommunication(QWidget* panel) {
    QGroupBox* group = Group(panel, "GroupBox1", "Communication", 160, 8, 361, 105);
    Caption(group, "LabelAddress", "Address", 8, FirstRow + CaptionDrop);
    EditDevAddr = Edit(group, "EditDevAddr", 52, FirstRow, 41, "Range: 1~247");
    EditDevAddr->setText(QStringLiteral("1"));
    UpDownAddr = UpDown(group, "UpDownAddr", EditDevAddr, 1, 247);
    Caption(group, "LabelBaudRate", "Baud Rate", 128, FirstRow + CaptionDrop);
    ComboDevBaud = Combo(group, "ComboDevBaud", 184, FirstRow, 81, Items("Baudrate"));
    Caption(group, "LabelBps", "bps", 272, FirstRow + CaptionDrop);
    RadioGroupParity =
        RadioGroup(group, "RadioGroupParity", "Parity", Items("Parity"), 4, 8, 46, 345, 53);
}

void TGeneralSettingsControls::CreateWiring(QWidget* panel) {
    QGroupBox* group = Group(panel, "GroupBox2", "Wiring", 16, 64, 137, 49);
    Caption(group, "LabelVoltage", "Voltage", 8, FirstRow + CaptionDrop);
    ComboVWire = Combo(group, "ComboVWire", 60, FirstRow, 69, Items("VoltageWiring"));
}

void TGeneralSettingsControls::CreateOutputTypes(QWidget* panel) {
    QGroupBox* group = Group(panel, "GroupBox10", QString(), 16, 120, 137, 185);
    Caption(group, "LabelROType", "RO Type", 8, 10);
    ComboROType = Combo(group, "ComboROType", 8, 26, 121, Items("ROType"));
    Caption(group, "LabelDOType", "DO Type", 8, 52);
    ComboDOType = Combo(group, "ComboDOType", 8, 68, 121, Items("DOType"));
    Label18 = Caption(group, "Label18", "DO1 Energy Output", 8, 94);
    ComboDO1Output = Combo(group, "ComboDO1Output", 8, 110, 121, Items("DO1Output"));
    Label19 = Caption(group, "Label19", "DO2 Energy Output", 8, 136);
    ComboDO2Output = Combo(group, "ComboDO2Output", 8, 152, 121, Items("DO2Output"));
}

void TGeneralSettingsControls::CreateRatios(QWidget* panel) {
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

void TGeneralSettingsControls::CreateConventions(QWidget* panel) {
    RadioGroupLoadConvention = RadioGroup(panel, "RadioGroupLoadConvention", "Load Type Convention",
                                          Items("LoadConvention"), 1, 408, 120, 113, 73);
    RadioGroupQMode = RadioGroup(panel, "RadioGroupQMode", "VAR Calculation Method", Items("QMode"),
                                 2, 160, 200, 361, 49);
}

void TGeneralSettingsControls::CreatePulseConst(QWidget* panel) {
    QGroupBox* group = Group(panel, "GroupBox6", "DO Energy Pulse Const", 160, 256, 145, 49);
    EditDOPulseConst = Edit(group, "EditDOPulseConst", 8, FirstRow, 65, "Range: 800~60000");
    Caption(group, "LabelPulseUnit", "Pulses/kWh", 78, FirstRow + CaptionDrop);
}

void TGeneralSettingsControls::CreateOther(QWidget* panel) {
    QGroupBox* group = Group(panel, "GroupBox7", "Other", 312, 256, 209, 49);
    Caption(group, "LabelBacklight", "Turn On the Backlight", 8, FirstRow + CaptionDrop);
    EditLightTime = Edit(group, "EditLightTime", 118, FirstRow, 41, "Range: 0~120");
    EditLightTime->setText(QStringLiteral("0"));
    UpDown3 = UpDown(group, "UpDown3", EditLightTime, 0, 120);
    Caption(group, "LabelBacklightUnit", "min", 180, FirstRow + CaptionDrop);
}

void TGeneralSettingsControls::CreateAnalogOutput(QWidget* panel, int number) {
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
    out.Mode = Combo(group, "Combo" + ao + "Mode", 80, mode, 161, Items("AO1Mode"));
    Caption(group, "Label" + ao + "Channel", "Raw Channel", 8, channel + CaptionDrop);
    out.Channel = Combo(group, "Combo" + ao + "Channel", 80, channel, 161, Items("AO1Object"));
    Caption(group, "Label" + ao + "HighLimit", "Hight Limit", 8, high + CaptionDrop);
    out.HLOpt = Combo(group, "Combo" + ao + "HLOpt", 80, high, 41, Items("AO1HLOpt"));
    out.HighLimit = Edit(group, "Edit" + ao + "HighLimit", 128, high, 97, LimitHint);
    Caption(group, "Label" + ao + "HighUnit", "%", 230, high + CaptionDrop);
    Caption(group, "Label" + ao + "LowLimit", "Low Limit", 8, low + CaptionDrop);
    out.LLOpt = Combo(group, "Combo" + ao + "LLOpt", 80, low, 41, Items("AO1HLOpt"));
    out.LowLimit = Edit(group, "Edit" + ao + "LowLimit", 128, low, 97, LimitHint);
    Caption(group, "Label" + ao + "LowUnit", "%", 230, low + CaptionDrop);
}

void TGeneralSettingsControls::CreateAlarm(QWidget* panel) {
    GroupBox5 = Group(panel, "GroupBox5", "Alarm Limit", 16, 440, 505, 89);
    const int heading = FirstRow + 2;
    const int row = heading + 16;
    Caption(GroupBox5, "LabelAlarmChannel", "Alarm Channel", 8, heading);
    Caption(GroupBox5, "LabelAlarmSetting", "Setting", 176, heading);
    Caption(GroupBox5, "LabelAlarmSetpoint", "Setpoint", 232, heading);
    Caption(GroupBox5, "LabelAlarmDelay", "Delay (sec)", 328, heading);
    Caption(GroupBox5, "LabelAlarmOutput", "==>>", 400, heading);
    Alarm.Var =
        Combo(GroupBox5, "ComboAlarmVar", 8, row, 161, Items("AlarmItems"), AlarmChannelHint);
    Alarm.Operator = Combo(GroupBox5, "ComboAlarmOperator", 176, row, 49, Items("AlarmOperator"));
    Alarm.Setpoint = Edit(GroupBox5, "EditAlarmSetpoint", 232, row, 89, SetpointHint);
    Alarm.Delay = Edit(GroupBox5, "EditAlarmDelay", 328, row, 65, DelayHint);
    // Wide enough for "RO1 & RO2".
    Alarm.Output = Combo(GroupBox5, "ComboAlarmOutput", 400, row, 97, Items("AlarmOutput"));
}

void TGeneralSettingsControls::CreateRelayAlarms(QWidget* panel) {
    GroupBox11 = Group(panel, "GroupBox11", "Alarm Limit", 16, 440, 505, 109);
    const int heading = FirstRow + 2;
    Caption(GroupBox11, "LabelRelayAlarmChannel", "Alarm Channel", 40, heading);
    Caption(GroupBox11, "LabelRelayAlarmSetting", "Setting", 192, heading);
    Caption(GroupBox11, "LabelRelayAlarmSetpoint", "Setpoint", 244, heading);
    Caption(GroupBox11, "LabelRelayAlarmDelay", "Delay (sec)", 336, heading);
    Caption(GroupBox11, "LabelRelayAlarmOutput", "Output", 416, heading);
    const auto makeRow = [this](TAlarmRow& alarm, const QString& relay, int y) {
        Caption(GroupBox11, "Label" + relay, relay, 8, y + CaptionDrop);
        alarm.Var = Combo(GroupBox11, "Combo" + relay + "AlarmVar", 40, y, 145, Items("AlarmItems"),
                          AlarmChannelHint);
        alarm.Operator = Combo(GroupBox11, "Combo" + relay + "AlarmOperator", 192, y, 45,
                               Items("AlarmOperator"));
        alarm.Setpoint =
            Edit(GroupBox11, "Edit" + relay + "AlarmSetpoint", 244, y, 85, SetpointHint);
        alarm.Delay = Edit(GroupBox11, "Edit" + relay + "AlarmDelay", 336, y, 73, DelayHint);
        alarm.Output =
            Combo(GroupBox11, "Combo" + relay + "AlarmOutput", 416, y, 81, Items("RO1AlarmOutput"));
    };
    makeRow(RO1Alarm, "RO1", heading + 16);
    makeRow(RO2Alarm, "RO2", heading + 16 + 28);
}
