// The main window's status bar: four panels, the verdict panel that wraps and grows the bar,
// and the next-step line across them while offline.
#pragma once

#include <QObject>
#include <QString>

#include <array>

class QLabel;
class QWidget;

class TStatusPanels : public QObject {
public:
    // The bar is a child of parent, which places it in its layout.
    explicit TStatusPanels(QWidget* parent);

    QWidget* Bar() const { return FBar; }
    QLabel* NextStep() const { return FNextStep; }
    QLabel* Panel(int panel) const;
    void SetText(int panel, const QString& text);
    QString Text(int panel) const;
    // Panel 0 names the page shown and the device address; the address is rewritten alone.
    void SetPageName(const QString& page, int address);
    void RefreshAddress(int address);
    // The next step spans panels 1 to 3 until hidden.
    void ShowNextStep(const QString& text);
    void HideNextStep();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Resize();

    QWidget* FBar = nullptr;
    std::array<QLabel*, 4> FPanels{};
    QLabel* FNextStep = nullptr;
};
