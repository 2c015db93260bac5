// The controls of the General Settings page, made on the page in the order that stacks them
// (the relay alarm group in front of the single alarm) and named as the field table of the
// settings record names them; the page finds them by those names and binds them.
#pragma once

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QWidget;
class TRadioGroup;
class TUpDown;

class TGeneralSettingsControls {
public:
    // Makes the sunken panel and every group and control on it, children of `page`.
    void Create(QWidget* page);

    QFrame* Panel165 = nullptr;
    QLineEdit* EditPassword = nullptr;
    QLineEdit* EditDevAddr = nullptr;
    TUpDown* UpDownAddr = nullptr;
    QComboBox* ComboDevBaud = nullptr;
    TRadioGroup* RadioGroupParity = nullptr;
    QComboBox* ComboVWire = nullptr;
    QComboBox* ComboROType = nullptr;
    QComboBox* ComboDOType = nullptr;
    QLabel* Label18 = nullptr;
    QComboBox* ComboDO1Output = nullptr;
    QLabel* Label19 = nullptr;
    QComboBox* ComboDO2Output = nullptr;
    QLineEdit* EditPT1 = nullptr;
    QLineEdit* EditPT2 = nullptr;
    QLineEdit* EditCT1 = nullptr;
    QLineEdit* EditCT2 = nullptr;
    TRadioGroup* RadioGroupLoadConvention = nullptr;
    TRadioGroup* RadioGroupQMode = nullptr;
    QLineEdit* EditDOPulseConst = nullptr;
    QLineEdit* EditLightTime = nullptr;
    TUpDown* UpDown3 = nullptr;
    struct TAnalogOutput {
        QComboBox* Mode = nullptr;
        QComboBox* Channel = nullptr;
        QComboBox* HLOpt = nullptr;
        QLineEdit* HighLimit = nullptr;
        QComboBox* LLOpt = nullptr;
        QLineEdit* LowLimit = nullptr;
    };
    TAnalogOutput AO1;
    TAnalogOutput AO2;
    struct TAlarmRow {
        QComboBox* Var = nullptr;
        QComboBox* Operator = nullptr;
        QLineEdit* Setpoint = nullptr;
        QLineEdit* Delay = nullptr;
        QComboBox* Output = nullptr;
    };
    QGroupBox* GroupBox5 = nullptr;
    TAlarmRow Alarm;
    QGroupBox* GroupBox11 = nullptr;
    TAlarmRow RO1Alarm;
    TAlarmRow RO2Alarm;

private:
    void CreateSecurity(QWidget* panel);
    void CreateCommunication(QWidget* panel);
    void CreateWiring(QWidget* panel);
    void CreateOutputTypes(QWidget* panel);
    void CreateRatios(QWidget* panel);
    void CreateConventions(QWidget* panel);
    void CreatePulseConst(QWidget* panel);
    void CreateOther(QWidget* panel);
    void CreateAnalogOutput(QWidget* panel, int number);
    void CreateAlarm(QWidget* panel);
    void CreateRelayAlarms(QWidget* panel);
};
