// The General Settings page as the program builds it: the real link, the main window's side
// of it as plain fields, and dialogs that a test answers.
#pragma once

#include "link/frmModbus.h"
#include "settings/frmGeneralSettings.h"
#include "support/FakeShell.h"
#include "support/LinkRig.h"
#include "support/LinkTestAccess.h"
#include "support/MeterRecords.h"
#include "support/ScriptedDialogs.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

struct TPageRig : TLinkRig {
    TFormGeneralSettings Page{Link, Dialogs};

    TPageRig() {
        Shell.Page = TPage::GeneralSettings;
        Link.SetViews(nullptr, nullptr, &Page);
    }
    ~TPageRig() {
        // The link outlives the page here; nothing may reach the page once it is gone.
        Link.SetViews(nullptr, nullptr, nullptr);
        TLinkTestAccess::Master(Link).Close();
    }

    template <typename T> T* Get(const QString& name) const {
        T* widget = Page.findChild<T*>(name);
        if (!widget)
            throw std::runtime_error("no control " + name.toStdString());
        return widget;
    }
    QLineEdit* Edit(const QString& name) const { return Get<QLineEdit>(name); }
    QComboBox* Combo(const QString& name) const { return Get<QComboBox>(name); }
    QGroupBox* Group(const QString& name) const { return Get<QGroupBox>(name); }

    // The index of the radio button chosen in a radio group, -1 for none.
    int RadioIndex(const QString& name) const {
        const QList<QRadioButton*> buttons = Group(name)->findChildren<QRadioButton*>();
        for (int i = 0; i < buttons.size(); ++i)
            if (buttons[i]->isChecked())
                return i;
        return -1;
    }

    // The identity block of a meter with that software version (four characters), as the
    // link receives it.
    void ReadIdentity(const QString& version) {
        Link.ModbusF03Response(TLinkTestAccess::Master(Link), 1, 0xF000,
                               IdentityRegisters(version, "ED20"));
    }

    void ReadBlock(std::uint16_t start, const std::vector<std::uint16_t>& values) {
        Link.ModbusF03Response(TLinkTestAccess::Master(Link), 1, start, values);
    }
};
