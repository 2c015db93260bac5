#include "settings/frmGeneralSettings.h"

#include "SettingsFile.h"
#include "SettingsWriteGuard.h"
#include "SettingsWritePlan.h"
#include "link/LinkPort.h"
#include "meter/SettingsBlocks.h"
#include "meter/cstMain.h"
#include "widgets/RadioGroup.h"
#include "widgets/UiFont.h"
#include "widgets/UpDown.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <initializer_list>
#include <string>
#include <variant>

namespace {

// Shows the first `offered` entries of a list: entries come back for a meter that has them,
// and go for one that has not. A chosen entry that goes leaves none chosen (Qt would choose a
// neighbour; the meter's value is then simply not known).
void OfferEntries(QComboBox* combo, const QStringList& items, int offered) {
    const int chosen = combo->currentIndex();
    while (combo->count() > offered)
        combo->removeItem(combo->count() - 1);
    while (combo->count() < offered && combo->count() < items.size())
        combo->addItem(items[combo->count()]);
    combo->setCurrentIndex(chosen < combo->count() ? chosen : -1);
}

} // namespace

TFormGeneralSettings::TFormGeneralSettings(ILinkPort& link, IDialogs& dialogs, QWidget* parent)
    : QWidget(parent), FLink(link), FDialogs(dialogs) {
    setObjectName(QStringLiteral("FormGeneralSettings"));
    setWindowTitle(QStringLiteral("General Settings"));
    setWindowFlag(Qt::FramelessWindowHint);
    // Before any control exists, so every one of them inherits it.
    setFont(UiFont());
    setFixedSize(580, 625);

    FControls.Create(this);
    CreateButtons();
    BindFields();
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

void TFormGeneralSettings::BindFields() {
    for (const TSettingsField& field : MeterSettingsFields()) {
        TFieldControl c{&field};
        QWidget* control = findChild<QWidget*>(QLatin1StringView(field.Control));
        c.Edit = qobject_cast<QLineEdit*>(control);
        c.Combo = qobject_cast<QComboBox*>(control);
        c.Radio = qobject_cast<TRadioGroup*>(control);
        const size_t index = FFields.size();
        // What the operator changes, not what a read or a file sets.
        const auto typed = [this, index] { FFields[index].Typed = true; };
        if (c.Edit) {
            c.Edit->setMaxLength(SettingsTextMaxLength);
            connect(c.Edit, &QLineEdit::textEdited, this, typed);
        } else if (c.Combo) {
            connect(c.Combo, &QComboBox::activated, this, typed);
        } else if (c.Radio) {
            for (int i = 0; i < c.Radio->Count(); ++i)
                connect(c.Radio->Button(i), &QAbstractButton::clicked, this, typed);
        }
        FFields.push_back(c);
    }
    for (TUpDown* arrows : {FControls.UpDownAddr, FControls.UpDown3}) {
        QLineEdit* edit = arrows->Associate();
        connect(arrows, &TUpDown::Stepped, this, [this, edit] {
            for (TFieldControl& c : FFields)
                if (c.Edit == edit)
                    c.Typed = true;
        });
    }
}

TMeterSettings TFormGeneralSettings::Settings() const {
    TMeterSettings s;
    for (const TFieldControl& c : FFields) {
        const TSettingsField& f = *c.Field;
        if (c.Edit)
            s.*f.Text = c.Edit->text();
        else if (c.Combo && f.Text) // a list that holds its entry's text
            s.*f.Text = c.Combo->currentIndex() >= 0 ? c.Combo->currentText() : QString();
        else if (c.Combo)
            s.*f.Choice = c.Combo->currentIndex();
        else if (c.Radio)
            s.*f.Choice = c.Radio->ItemIndex();
    }
    return s;
}

void TFormGeneralSettings::SetSettings(const TMeterSettings& s) {
    for (TFieldControl& c : FFields) {
        // While the operator is asked to confirm a write, what they typed stays as typed.
        if (FHoldTyped && c.Typed)
            continue;
        c.Typed = false;
        const TSettingsField& f = *c.Field;
        // A control that already shows the value is left alone: no caret jump, no lost
        // selection or undo.
        if (c.Edit) {
            if (c.Edit->text() != s.*f.Text)
                c.Edit->setText(s.*f.Text);
        } else if (c.Combo) {
            // A list shows the entry of that index (or text), or none for a value outside its
            // entries as they stand now (the version adaptation may have shortened it).
            const int count = c.Combo->count();
            const int index = f.Text ? c.Combo->findText(s.*f.Text)
                                     : (s.*f.Choice >= 0 && s.*f.Choice < count ? s.*f.Choice : -1);
            if (c.Combo->currentIndex() != index)
                c.Combo->setCurrentIndex(index);
        } else if (c.Radio) {
            c.Radio->SetItemIndex(s.*f.Choice);
        }
    }
}

void TFormGeneralSettings::ShowLayout(const TPageAdaptation& layout) {
    const bool extended = !layout.ShortenLists;
    for (QComboBox* combo : {FControls.ComboDevBaud, FControls.ComboVWire}) {
        for (const TFieldControl& c : FFields)
            if (c.Combo == combo)
                OfferEntries(combo, *c.Field->Items, OfferedEntries(*c.Field, extended));
    }
    for (QWidget* w :
         std::initializer_list<QWidget*>{FControls.Label18, FControls.Label19,
                                         FControls.ComboDO1Output, FControls.ComboDO2Output})
        w->setVisible(!layout.HideDOEnergyOutputs);
    FControls.GroupBox11->setVisible(!layout.HideRelayAlarmGroup);
}

void TFormGeneralSettings::SetUpdateEnabled(bool enabled) {
    ButtonUpdate->setEnabled(enabled);
}

std::vector<std::string> TFormGeneralSettings::WriteTexts(const TSettingsWritePlan& plan) {
    std::vector<std::string> writes;
    for (const TSettingsWrite& w : plan.Writes)
        writes.push_back(w.Query);
    return writes;
}

void TFormGeneralSettings::ButtonUpdateClick() {
    // The record, the layout and the ratios as they stand at the click: the meter gets what the
    // operator saw, whatever arrives while the question is open.
    // A version read from another meter (another address, port or line, or before a reconnect)
    // is no version: the link forgets it, and the page waits until the meter is read again.
    const QString version = FLink.IdentityKnown() ? FLink.SoftwareVersion() : QString();
    const TSettingsWriteOutcome outcome = PlanSettingsWrite(Settings(), version, FLink.Scaling());
    const auto* refusal = std::get_if<TSettingsWriteRefusal>(&outcome);
    if (refusal && refusal->Kind == TSettingsWriteRefusal::VersionUnknown) {
        FDialogs.MessageBox(QString::fromLatin1(cstMain::CaptionPrompt), refusal->Message,
                            IDialogs::Information, IDialogs::Ok);
        return;
    }
    QString question = QString::fromLatin1(cstMain::ConfirmSendSettings);
    if (const auto* planned = std::get_if<TSettingsWritePlan>(&outcome); planned && FGuard)
        question = ConfirmWithChanges(question, FGuard->Changes(WriteTexts(*planned)));
    FHoldTyped = true;
    const bool confirmed = FDialogs.Confirm(question);
    FHoldTyped = false;
    if (!confirmed)
        return;
    if (FLink.SoftwareVersion() != version || !FLink.IdentityKnown()) {
        FDialogs.MessageBox(QString::fromLatin1(cstMain::CaptionPrompt),
                            QString::fromLatin1(cstMain::VersionChanged), IDialogs::Information,
                            IDialogs::Ok);
        return;
    }
    if (refusal) {
        if (refusal->Kind == TSettingsWriteRefusal::InvalidAddress)
            FDialogs.MessageBox(QString::fromLatin1(cstMain::CaptionPrompt), refusal->Message,
                                IDialogs::Information, IDialogs::Ok);
        else
            FDialogs.ShowError(refusal->Message);
        return;
    }
    const TSettingsWritePlan& plan = std::get<TSettingsWritePlan>(outcome);
    // The guard backs up what the meter holds before the first write, or stops the write.
    if (FGuard && !FGuard->BeforeWrites(WriteTexts(plan)))
        return;
    for (std::string& query : plan.Queries()) {
        std::string needs = plan.Needs(query);
        FLink.AppendQuery(std::move(query), std::move(needs));
    }
    // After the 0x1100 write is queued: the link carries these values with it.
    FLink.SetNewLineSettings(plan.Line.DeviceAddress, plan.Line.Baudrate, plan.Line.Parity,
                             plan.Line.StopBits);
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
