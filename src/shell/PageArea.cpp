#include "shell/PageArea.h"

#include <QEvent>
#include <QLayout>
#include <QScreen>
#include <QScrollArea>

namespace {

const char* const PageCaptions[4] = {"Real-Time Metering", "Device Information", "General Settings",
                                     "Installation Check"};

} // namespace

TPageArea::TPageArea(QWidget* parent) {
    FScrollBox = new QScrollArea(parent);
    FScrollBox->setObjectName(QStringLiteral("ScrollBox1"));
    FScrollBox->setWidgetResizable(false);
    FScrollBox->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FHost = new QWidget;
    FHost->resize(0, 0);
    FScrollBox->setWidget(FHost);
    FScrollBox->viewport()->installEventFilter(this);
}

TPageArea::~TPageArea() {
    FActive = nullptr;
    for (QWidget*& page : FPages) {
        delete page;
        page = nullptr;
    }
    delete FTrend;
    FTrend = nullptr;
}

void TPageArea::Dock(const std::array<QWidget*, 4>& pages, QWidget* trend) {
    FPages = pages;
    FTrend = trend;
    for (std::size_t i = 0; i < FPages.size(); ++i) {
        QWidget* page = FPages[i];
        if (!page)
            continue;
        page->setParent(FHost, Qt::Widget);
        page->setWindowTitle(QString::fromLatin1(PageCaptions[i]));
        page->move(0, 0);
        page->hide();
    }
    FTrend->setParent(FHost, Qt::Widget);
    FTrend->move(0, 0);
    FTrend->hide();
}

TPage TPageArea::ActivePage() const {
    if (!FActive)
        return TPage::None;
    if (FActive == FPages[0])
        return TPage::RTMetering;
    if (FActive == FPages[1])
        return TPage::DeviceInfo;
    if (FActive == FPages[2])
        return TPage::GeneralSettings;
    if (FActive == FTrend)
        return TPage::Trend;
    if (FActive == FPages[3])
        return TPage::InstallCheck;
    return TPage::None;
}

void TPageArea::Show(QWidget* page) {
    if (FActive)
        FActive->hide();
    FActive = page;
    if (!page) {
        FHost->resize(0, 0);
        return;
    }
    Fit();
    page->show();
    page->setFocus();
}

bool TPageArea::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FScrollBox->viewport() && event->type() == QEvent::Resize)
        Fit();
    return QObject::eventFilter(watched, event);
}

// The page area scrolls when the page is larger than it. Pages placed by hand keep their own
// size; a page with a layout (the Trend and Installation Check pages) grows with the window
// down to its minimum size, its chart, list or table taking the room.
void TPageArea::Fit() {
    if (!FActive)
        return;
    if (FActive->layout() != nullptr)
        FActive->resize(FActive->minimumSize().expandedTo(FScrollBox->viewport()->size()));
    FHost->resize(FActive->size());
}

QRect TPageArea::RestoredGeometry(int bars, const QScreen* screen) const {
    QSize page(0, 0);
    for (const QWidget* p : FPages)
        if (p != nullptr)
            page = page.expandedTo(p->size());
    // The Trend page grows with the window, down to its own least size.
    if (FTrend)
        page = page.expandedTo(FTrend->minimumSize());
    const int frame = 2 * FScrollBox->frameWidth();
    QSize size(page.width() + frame, page.height() + frame + bars);
    QRect area(192, 114, size.width(), size.height());
    if (screen) {
        size = size.boundedTo(screen->availableGeometry().size());
        area = QRect(QPoint(0, 0), size);
        area.moveCenter(screen->availableGeometry().center());
    }
    return area;
}
