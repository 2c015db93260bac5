// A captioned group of radio buttons arranged in columns, chosen by index. Unlike a plain
// exclusive button group it can show no choice at all, which the settings page needs for a
// meter that has not been read yet.
#pragma once

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

class TRadioGroup : public QGroupBox {
    Q_OBJECT

public:
    TRadioGroup(const QString& caption, const QStringList& items, int columns, const QRect& bounds,
                QWidget* parent);

    int Count() const;
    QRadioButton* Button(int index) const;
    // -1 when no button is chosen.
    int ItemIndex() const;
    // An index at or above the number of buttons chooses the last one; -1 and below choose
    // none.
    void SetItemIndex(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void ArrangeButtons();

    QButtonGroup* FGroup;
    int FColumns;
};
