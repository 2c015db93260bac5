// The Real-Time Metering page's seven panels, laid out as the page has always been: captions,
// value labels, the energy counters (clickable), the relay buttons and Reset Energy. Building
// them is apart from the page so the page keeps to what it shows and what its commands do.
#pragma once

#include "meter/ValueColours.h"

#include <QString>

#include <array>

class QLabel;
class QPushButton;
class QToolButton;
class QWidget;
class TCommandLabel;

struct TMeteringPanels {
    // In register order of the measurement block, 0x1400 to 0x1414.
    std::array<QLabel*, 21> Measurement{};
    // Ep_total, Eq_total, Ep_imp, Ep_exp, Eq_imp, Eq_exp.
    std::array<TCommandLabel*, 6> Energy{};
    // Captions of the four import/export counters, hidden with them.
    std::array<QLabel*, 4> ExtendedCaptions{};
    std::array<QLabel*, 2> Relays{};
    std::array<QLabel*, 6> Inputs{};
    QToolButton* Relay1 = nullptr;
    QToolButton* Relay2 = nullptr;
    QPushButton* ClearEnergy = nullptr;
};

// Builds the panels on `page` (which owns them), value labels in the colours given.
TMeteringPanels BuildMeteringPanels(QWidget* page, const TValueColours& colours);

// A label as wide as its text, so a command label reacts on its text and nothing beside.
void SetLabelText(QLabel* label, const QString& text);
