// The main window's page area: the scroll box the pages are docked in, which page is shown,
// and how the page fits the room the window gives it.
#pragma once

#include "meter/QueryPlan.h"

#include <QObject>
#include <QRect>

#include <array>

class QScreen;
class QScrollArea;
class QWidget;

class TPageArea : public QObject {
public:
    explicit TPageArea(QWidget* parent);
    // The pages go with the area, before whatever they hold on to.
    ~TPageArea() override;

    QScrollArea* ScrollBox() const { return FScrollBox; }
    // Takes the four fixed pages (Real-Time Metering, Device Information, General Settings,
    // Installation Check) and the Trend page into the area, hidden.
    void Dock(const std::array<QWidget*, 4>& pages, QWidget* trend);
    QWidget* Page(std::size_t index) const { return FPages.at(index); }
    QWidget* Trend() const { return FTrend; }
    QWidget* Active() const { return FActive; }
    TPage ActivePage() const;
    // Shows one page (or none); the one shown before is hidden.
    void Show(QWidget* page);
    // The restored place of a window with bars of this height around the area: room for the
    // largest page, as far as the screen allows, in the middle of it.
    QRect RestoredGeometry(int bars, const QScreen* screen) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Fit();

    QScrollArea* FScrollBox = nullptr;
    QWidget* FHost = nullptr;
    std::array<QWidget*, 4> FPages{};
    QWidget* FTrend = nullptr;
    QWidget* FActive = nullptr;
};
