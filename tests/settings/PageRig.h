// The General Settings page as the program builds it: the real link, the main window's side
// of it as plain fields, and dialogs that a test answers.
#pragma once

#include "link/FakeShell.h"
#include "link/ScriptedDialogs.h"
#include "link/frmModbus.h"
#include "settings/frmGeneralSettings.h"

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

struct TPageRig {
    TFakeShell Shell;
    TScriptedDialogs Dialogs;
    TFormModbus Link{Shell, Dialogs};
    TFormGeneralSettings Page{Link, Dialogs};

    TPageRig() {
        Shell.Page = TPage::GeneralSettings;
        Link.SetViews(nullptr, nullptr, &Page);
    }
    ~TPageRig() {
        // The link outlives the page here; nothing may reach the page once it is gone.
        Link.SetViews(nullptr, nullptr, nullptr);
        Link.Modbus.Close();
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
        const QByteArray text = "ED20"
                                "1.00" +
                                version.toLatin1().leftJustified(4, ' ') + "190815";
        std::vector<std::uint16_t> values;
        for (int i = 0; i + 1 < text.size(); i += 2)
            values.push_back(static_cast<std::uint16_t>((std::uint8_t(text[i]) << 8) |
                                                        std::uint8_t(text[i + 1])));
        Link.ModbusF03Response(Link.Modbus, 1, 0xF000, values);
    }

    void ReadBlock(std::uint16_t start, const std::vector<std::uint16_t>& values) {
        Link.ModbusF03Response(Link.Modbus, 1, start, values);
    }
};
