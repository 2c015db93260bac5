#include "metering/MeteringPanels.h"

#include "widgets/CommandLabel.h"
#include "widgets/WidgetColours.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

void SetLabelText(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize();
}

namespace {

// Panel columns: caption and value label 96 pixels apart.
constexpr int CaptionX[] = {16, 192, 368};
constexpr int ValueX[] = {112, 288, 464};

class TPanelBuilder {
public:
    TPanelBuilder(QWidget* page, const TValueColours& colours) : FPage(page), FColours(colours) {}

    TMeteringPanels Build() {
        BuildVoltsAndAmps();
        BuildPowers();
        BuildPowerFactorAndFrequency();
        BuildEnergy();
        BuildRelays();
        BuildInputs();
        BuildAnalogOutputs();
        return FLabels;
    }

private:
    void BuildVoltsAndAmps();
    void BuildPowers();
    void BuildPowerFactorAndFrequency();
    void BuildEnergy();
    void BuildRelays();
    void BuildInputs();
    void BuildAnalogOutputs();
    QFrame* AddPanel(const char* name, int left, int top, int width, int height);
    QLabel* AddCaption(QWidget* panel, const char* text, int x, int y, const char* name = nullptr);
    QLabel* AddValue(QWidget* panel, const char* name, int x, int y, bool blue = true);

    QWidget* FPage;
    const TValueColours& FColours;
    TMeteringPanels FLabels;
};

QFrame* TPanelBuilder::AddPanel(const char* name, int left, int top, int width, int height) {
    auto* panel = new QFrame(FPage);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setLineWidth(1);
    panel->setGeometry(left, top, width, height);
    return panel;
}

QLabel* TPanelBuilder::AddCaption(QWidget* panel, const char* text, int x, int y,
                                  const char* name) {
    auto* label = new QLabel(panel);
    if (name)
        label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->move(x, y);
    SetLabelText(label, QString::fromLatin1(text));
    return label;
}

QLabel* TPanelBuilder::AddValue(QWidget* panel, const char* name, int x, int y, bool blue) {
    auto* label = new QLabel(panel);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    // State labels take their colour from the state they show.
    if (blue)
        SetTextColour(label, ToQColor(FColours.Value));
    label->move(x, y);
    SetLabelText(label, QString());
    return label;
}

void TPanelBuilder::BuildVoltsAndAmps() {
    QFrame* panel = AddPanel("Panel147", 8, 8, 565, 116);
    struct TCell {
        const char* Caption;
        const char* Name;
        int Index; // register offset in the measurement block
    };
    // Three columns of four rows, each column top to bottom.
    static constexpr TCell Columns[3][4] = {
        {{"Volts AN", "LabelVa", 0},
         {"Volts BN", "LabelVb", 1},
         {"Volts CN", "LabelVc", 2},
         {"Volts LN Average", "LabelVnavg", 9}},
        {{"Volts AB", "LabelVab", 3},
         {"Volts BC", "LabelVbc", 4},
         {"Volts CA", "LabelVca", 5},
         {"Volts LL Average", "LabelVlavg", 10}},
        {{"I A", "LabelIa", 6},
         {"I B", "LabelIb", 7},
         {"I C", "LabelIc", 8},
         {"I Average", "LabelIavg", 11}},
    };
    for (int col = 0; col < 3; ++col) {
        for (int row = 0; row < 4; ++row) {
            const TCell& c = Columns[col][row];
            const int y = 16 + 24 * row;
            AddCaption(panel, c.Caption, CaptionX[col], y);
            FLabels.Measurement[c.Index] = AddValue(panel, c.Name, ValueX[col], y);
        }
    }
}

void TPanelBuilder::BuildPowers() {
    QFrame* panel = AddPanel("Panel148", 8, 132, 565, 44);
    AddCaption(panel, "Watt Total", CaptionX[0], 16);
    FLabels.Measurement[12] = AddValue(panel, "LabelPsum", ValueX[0], 16);
    AddCaption(panel, "VAR Total", CaptionX[1], 16);
    FLabels.Measurement[13] = AddValue(panel, "LabelQsum", ValueX[1], 16);
    AddCaption(panel, "VA Total", CaptionX[2], 16);
    FLabels.Measurement[14] = AddValue(panel, "LabelSsum", ValueX[2], 16);
}

void TPanelBuilder::BuildPowerFactorAndFrequency() {
    QFrame* panel = AddPanel("Panel149", 8, 184, 353, 68);
    AddCaption(panel, "Pwr Factor Total", CaptionX[0], 16);
    FLabels.Measurement[16] = AddValue(panel, "LabelPFavg", ValueX[0], 16);
    AddCaption(panel, "Frequency", CaptionX[0], 40);
    FLabels.Measurement[15] = AddValue(panel, "LabelF", ValueX[0], 40);
    AddCaption(panel, "Load Type", CaptionX[1], 16);
    FLabels.Measurement[17] = AddValue(panel, "LabelRT", ValueX[1], 16);
    AddCaption(panel, "I N", CaptionX[1], 40);
    FLabels.Measurement[20] = AddValue(panel, "LabelIn", ValueX[1], 40);
}

void TPanelBuilder::BuildEnergy() {
    QFrame* panel = AddPanel("Panel150", 368, 184, 205, 245);
    struct TRow {
        const char* CaptionName;
        const char* Caption;
        const char* Name;
    };
    static constexpr TRow Rows[6] = {
        {"Label645", "Ep_total", "LabelEp_total"}, {"Label679", "Eq_total", "LabelEq_total"},
        {"Label3", "Ep_imp", "LabelEp_imp"},       {"Label4", "Ep_exp", "LabelEp_exp"},
        {"Label9", "Eq_imp", "LabelEq_imp"},       {"Label10", "Eq_exp", "LabelEq_exp"},
    };
    for (int i = 0; i < 6; ++i) {
        const int y = 16 + 24 * i;
        QLabel* caption = AddCaption(panel, Rows[i].Caption, 8, y, Rows[i].CaptionName);
        if (i >= 2)
            FLabels.ExtendedCaptions[i - 2] = caption;
        auto* label = new TCommandLabel(panel);
        label->setObjectName(QString::fromLatin1(Rows[i].Name));
        // Offset of the counter's first register from 0x1180: two registers per counter.
        label->SetTag(2 * i);
        label->setToolTip(QStringLiteral("Click and modify it!"));
        SetTextColour(label, ToQColor(FColours.Value));
        label->move(88, y);
        SetLabelText(label, QString());
        FLabels.Energy[i] = label;
    }
    auto* reset = new QPushButton(QStringLiteral("Reset Energy"), panel);
    reset->setObjectName(QStringLiteral("ButtonClearEnergy"));
    reset->setGeometry(80, 204, 105, 23);
    FLabels.ClearEnergy = reset;
}

void TPanelBuilder::BuildRelays() {
    QFrame* panel = AddPanel("Panel19", 8, 260, 193, 116);
    const auto addRelay = [&](int relay, const char* caption, const char* name,
                              const char* buttonName, int y, int buttonY) {
        AddCaption(panel, caption, 16, y);
        FLabels.Relays[relay] = AddValue(panel, name, 80, y, false);
        auto* button = new QToolButton(panel);
        button->setObjectName(QString::fromLatin1(buttonName));
        button->setText(QStringLiteral("Control"));
        button->setToolTip(QStringLiteral("Control Relay"));
        button->setGeometry(120, buttonY, 49, 23);
        return button;
    };
    FLabels.Relay1 = addRelay(0, "Relay 1:", "LabelRO1", "SpeedRO1", 29, 24);
    FLabels.Relay2 = addRelay(1, "Relay 2:", "LabelRO2", "SpeedRO2", 77, 72);
}

void TPanelBuilder::BuildInputs() {
    QFrame* panel = AddPanel("Panel20", 208, 260, 153, 116);
    static constexpr const char* Captions[6] = {
        "DI 1:", "DI 2:", "DI 3:", "DI 4:", "DI 5:", "DI 6:"};
    static constexpr const char* Names[6] = {"LabelDI1", "LabelDI2", "LabelDI3",
                                             "LabelDI4", "LabelDI5", "LabelDI6"};
    for (int i = 0; i < 6; ++i) {
        const int y = 12 + 16 * i;
        AddCaption(panel, Captions[i], 32, y);
        FLabels.Inputs[i] = AddValue(panel, Names[i], 88, y, false);
    }
}

void TPanelBuilder::BuildAnalogOutputs() {
    QFrame* panel = AddPanel("Panel1", 8, 384, 353, 44);
    AddCaption(panel, "AO 1:", 8, 16);
    FLabels.Measurement[18] = AddValue(panel, "LabelAO1", 104, 16);
    AddCaption(panel, "AO 2:", 192, 16);
    FLabels.Measurement[19] = AddValue(panel, "LabelAO2", 288, 16);
}

} // namespace

TMeteringPanels BuildMeteringPanels(QWidget* page, const TValueColours& colours) {
    return TPanelBuilder(page, colours).Build();
}
