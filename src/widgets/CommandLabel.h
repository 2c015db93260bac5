// A label that is also a command link: clicking its text starts a command. It carries a Tag,
// a number the command reads from the label that was clicked.
#pragma once

#include <QLabel>

class TCommandLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)

public:
    explicit TCommandLabel(QWidget* parent = nullptr);

    int Tag() const { return FTag; }
    void SetTag(int tag) { FTag = tag; }

signals:
    // A press and release of the left button on the label while it is enabled.
    void Clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int FTag = 0;
    bool FPressed = false;
};
