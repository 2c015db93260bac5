#include "widgets/RadioGroup.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionGroupBox>

#include <algorithm>

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, int columns,
                         const QRect& bounds, QWidget* parent)
    : QGroupBox(caption, parent), FGroup(new QButtonGroup(this)), FColumns(std::max(1, columns)) {
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        FGroup->addButton(button, i);
    }
    // A widget not shown yet gets its resize event only when it is shown; the buttons
    // must stand in place before that.
    setGeometry(bounds);
    ArrangeButtons();
}

int TRadioGroup::Count() const {
    return static_cast<int>(FGroup->buttons().size());
}

QRadioButton* TRadioGroup::Button(int index) const {
    return qobject_cast<QRadioButton*>(FGroup->button(index));
}

int TRadioGroup::ItemIndex() const {
    return FGroup->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    if (Count() == 0)
        return;
    if (index >= Count())
        index = Count() - 1;
    if (index >= 0) {
        FGroup->button(index)->setChecked(true);
        return;
    }
    // An exclusive group refuses to uncheck its last checked button.
    FGroup->setExclusive(false);
    for (QAbstractButton* button : FGroup->buttons())
        button->setChecked(false);
    FGroup->setExclusive(true);
}

void TRadioGroup::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    ArrangeButtons();
}

void TRadioGroup::ArrangeButtons() {
    // The buttons share the inside of the frame evenly, filled column by column; the style
    // decides where its caption ends and the inside begins.
    const int count = Count();
    if (count == 0)
        return;
    QStyleOptionGroupBox option;
    initStyleOption(&option);
    const QRect inside =
        style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxContents, this);
    const int rows = (count + FColumns - 1) / FColumns;
    const int left = inside.left() + 8;
    const int columnWidth = (inside.width() - 8) / FColumns;
    const int rowHeight = std::max(1, inside.height() / rows);
    const int buttonHeight = std::min(rowHeight, 17);
    for (int i = 0; i < count; ++i) {
        const int column = i / rows;
        const int row = i % rows;
        const int y = inside.top() + row * rowHeight + (rowHeight - buttonHeight) / 2;
        FGroup->button(i)->setGeometry(left + column * columnWidth, y, columnWidth - 4,
                                       buttonHeight);
    }
}
