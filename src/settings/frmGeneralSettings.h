// The General Settings page: shows the meter's settings record in its controls, writes them to
// the meter in one confirmed sequence that the link sends and reads back, and keeps them in a
// settings file. The link fills the controls and adapts them to the meter through
// ISettingsView; every box and file dialog goes through IDialogs.
#pragma once

#include "link/LinkViews.h"
#include "meter/MeterSettings.h"
#include "widgets/Dialogs.h"

#include <QWidget>

#include <string>
#include <vector>

class ISettingsWriteGuard;
class QComboBox;
struct TSettingsWritePlan;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class ILinkPort;
class TRadioGroup;
class TUpDown;

class TFormGeneralSettings : public QWidget, public ISettingsView {
    Q_OBJECT

public:
    TFormGeneralSettings(ILinkPort& link, IDialogs& dialogs, QWidget* parent = nullptr);

    // ISettingsView
    TMeterSettings Settings() const override;
    void SetSettings(const TMeterSettings& settings) override;
    void ShowLayout(const TPageAdaptation& layout) override;
    void SetUpdateEnabled(bool enabled) override;

    // "Update Device": plans the write of the record shown (SettingsWritePlan), asks, then
    // queues the writes and reads and the line settings the meter will switch to.
    void ButtonUpdateClick();
    // The program's guard of settings writes (the changes in the Confirm box, a backup first,
    // verification after); without one the page writes as it always did.
    void SetWriteGuard(ISettingsWriteGuard* guard) { FGuard = guard; }

    // "Save" and "Load": the record to and from a settings file.
    void ButtonSaveClick();
    void ButtonLoadClick();

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
    void CreateButtons();
    // The field table's controls, found by name once they exist.
    void BindFields();
    // The write queries of a plan, in the order they go out.
    static std::vector<std::string> WriteTexts(const TSettingsWritePlan& plan);

    ILinkPort& FLink;
    IDialogs& FDialogs;
    ISettingsWriteGuard* FGuard = nullptr;

    // One control per field of the record, in the order of the field table.
    struct TFieldControl {
        const TSettingsField* Field;
        QLineEdit* Edit = nullptr;
        QComboBox* Combo = nullptr;
        TRadioGroup* Radio = nullptr;
        bool Typed = false; // changed by the operator since the field was last set
    };
    std::vector<TFieldControl> FFields;
    bool FHoldTyped = false;

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
    QPushButton* ButtonSave = nullptr;
    QPushButton* ButtonLoad = nullptr;
    QPushButton* ButtonUpdate = nullptr;
};
