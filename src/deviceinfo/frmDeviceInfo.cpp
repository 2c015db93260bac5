#include "deviceinfo/frmDeviceInfo.h"

#include "widgets/UiFont.h"
#include "widgets/WidgetColours.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>

namespace {

struct TRow {
    int Y;
    const char* Caption;
    const char* Name;
};
// In TField order; the layout leaves row 144 empty.
constexpr TRow Rows[6] = {
    {24, "Device Type", "LabelDevType"},          {48, "Hardware Version", "LabelHardVersion"},
    {72, "Software Version", "LabelSoftVersion"}, {96, "Release Date", "LabelReleaseDate"},
    {120, "Serial Number", "LabelSerialNo"},      {168, "AO Type", "LabelAOType"},
};

QLabel* AddLabel(QWidget* panel, const QString& text, int x, int y) {
    auto* label = new QLabel(panel);
    // Meter texts are shown as they are, never read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->move(x, y);
    label->adjustSize();
    return label;
}

} // namespace

TFormDeviceInfo::TFormDeviceInfo(QWidget* parent) : QWidget(parent, Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("FormDeviceInfo"));
    setWindowTitle(QStringLiteral("Device Information"));
    setFont(UiFont());
    resize(580, 381);
    setMinimumSize(580, 381);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setLineWidth(1);
    panel->setGeometry(8, 8, 565, 209);

    for (std::size_t i = 0; i < FValues.size(); ++i) {
        AddLabel(panel, QString::fromLatin1(Rows[i].Caption), 24, Rows[i].Y);
        QLabel* value = AddLabel(panel, QString(), 144, Rows[i].Y);
        value->setObjectName(QString::fromLatin1(Rows[i].Name));
        FValues[i] = value;
    }
    ApplyColours();
}

void TFormDeviceInfo::ApplyColours() {
    const QColor colour = ToQColor(ValueColoursOf(this).Value);
    for (QLabel* value : FValues)
        SetTextColour(value, colour);
}

void TFormDeviceInfo::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        ApplyColours();
}

void TFormDeviceInfo::SetFieldText(TField field, const QString& text) {
    const auto i = static_cast<std::size_t>(field);
    if (i >= FValues.size())
        return;
    FValues[i]->setText(text);
    FValues[i]->adjustSize();
}
