// The General Settings page: shows the meter's settings record in its controls, writes them to
// the meter in one confirmed sequence that the link sends and reads back, and keeps them in a
// settings file. The link fills the controls and adapts them to the meter through
// ISettingsView; every box and file dialog goes through IDialogs.
#pragma once

#include "link/LinkViews.h"
#include "meter/MeterSettings.h"
#include "settings/frmGeneralSettingsControls.h"
#include "widgets/Dialogs.h"

#include <QWidget>

#include <string>
#include <vector>

class ISettingsWriteGuard;
class QComboBox;
struct TSettingsWritePlan;
class QLineEdit;
class QPushButton;
class ILinkPort;
class TRadioGroup;

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

    // Made by FControls.Create, bound by BindFields through the names of the field table.
    TGeneralSettingsControls FControls;
    QPushButton* ButtonSave = nullptr;
    QPushButton* ButtonLoad = nullptr;
    QPushButton* ButtonUpdate = nullptr;
};
