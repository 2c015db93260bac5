// The page area of the main window: docking, sizing and showing the pages, and the commands
// that show a page or open a window.
#include "shell/frmMain.h"

#include "commissioning/Commissioning.h"
#include "comms/CommunicationHost.h"
#include "link/frmModbus.h"
#include "shell/frmAbout.h"
#include "trend/frmTrend.h"

#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

const char* const PageCaptions[4] = {"Real-Time Metering", "Device Information", "General Settings",
                                     "Installation Check"};
const QString AddressMark = QStringLiteral(" @ ");

} // namespace

// The restored size and place, should the operator leave the maximised state (or the desktop
// not maximise): room for the largest page and the bars around it, as far as the screen
// allows, in the middle of the screen.
void TFormKT580::SizeForPages() {
    QSize page(0, 0);
    for (const QWidget* p : FPages)
        if (p != nullptr)
            page = page.expandedTo(p->size());
    // The Trend page grows with the window, down to its own least size.
    if (FFormTrend)
        page = page.expandedTo(FFormTrend->minimumSize());
    const int frame = 2 * ScrollBox1->frameWidth();
    const int bars =
        menuBar()->sizeHint().height() + ToolBar1->sizeHint().height() + StatusBar->height();
    QSize size(page.width() + frame, page.height() + frame + bars);
    QRect area(192, 114, size.width(), size.height());
    if (const QScreen* s = screen()) {
        size = size.boundedTo(s->availableGeometry().size());
        area = QRect(QPoint(0, 0), size);
        area.moveCenter(s->availableGeometry().center());
    }
    setGeometry(area);
}

void TFormKT580::CreatePageArea() {
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    ScrollBox1 = new QScrollArea(central);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setWidgetResizable(false);
    ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    FPageHost = new QWidget;
    FPageHost->resize(0, 0);
    ScrollBox1->setWidget(FPageHost);
    ScrollBox1->viewport()->installEventFilter(this);
    layout->addWidget(ScrollBox1, 1);
    StatusBar = new QWidget(central);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    layout->addWidget(StatusBar);
    setCentralWidget(central);
}

void TFormKT580::DockPages() {
    for (std::size_t i = 0; i < FPages.size(); ++i) {
        QWidget* page = FPages[i];
        if (!page)
            continue;
        page->setParent(FPageHost, Qt::Widget);
        page->setWindowTitle(QString::fromLatin1(PageCaptions[i]));
        page->move(0, 0);
        page->hide();
    }
    FFormTrend->setParent(FPageHost, Qt::Widget);
    FFormTrend->move(0, 0);
    FFormTrend->hide();
}

TPage TFormKT580::ActivePage() const {
    if (!FActivePage)
        return TPage::None;
    if (FActivePage == FPages[0])
        return TPage::RTMetering;
    if (FActivePage == FPages[1])
        return TPage::DeviceInfo;
    if (FActivePage == FPages[2])
        return TPage::GeneralSettings;
    if (FActivePage == FFormTrend)
        return TPage::Trend;
    if (FActivePage == FPages[3])
        return TPage::InstallCheck;
    return TPage::None;
}

void TFormKT580::ShowPage(QWidget* page) {
    if (FActivePage) {
        FActivePage->hide();
        SetStatusText(0, QString());
    }
    FActivePage = page;
    if (!page) {
        FPageHost->resize(0, 0);
        return;
    }
    FitPage();
    page->show();
    page->setFocus();
    SetStatusText(0, page->windowTitle() + AddressMark +
                         QString::number(FFormModbus->DeviceAddress()));
}

// The page area scrolls when the page is larger than it. Pages placed by hand keep their own
// size; a page with a layout (the Trend and Installation Check pages) grows with the window
// down to its minimum size, its chart, list or table taking the room.
void TFormKT580::FitPage() {
    if (!FActivePage)
        return;
    if (FActivePage->layout() != nullptr)
        FActivePage->resize(FActivePage->minimumSize().expandedTo(ScrollBox1->viewport()->size()));
    FPageHost->resize(FActivePage->size());
}

void TFormKT580::RefreshStatusAddress() {
    const QString text = StatusText(0);
    const qsizetype mark = text.indexOf(AddressMark);
    if (mark < 0)
        return;
    SetStatusText(0, text.left(mark + AddressMark.size()) +
                         QString::number(FFormModbus->DeviceAddress()));
}

void TFormKT580::ReadingsRealTimeMeteringExecute() {
    ShowPage(FPages[0]);
    FFormModbus->RequestPageData();
}

void TFormKT580::ReadingsCommunicationExecute() {
    FCommunication->Open();
}

void TFormKT580::ReadingsDeviceInformationExecute() {
    ShowPage(FPages[1]);
    FFormModbus->RequestPageData();
}

void TFormKT580::ReadingsTrendExecute() {
    ShowPage(FFormTrend);
    FFormModbus->RequestPageData();
}

void TFormKT580::SettingsGeneralSettingsExecute() {
    ShowPage(FPages[2]);
    // A write from this page is backed up under the meter's serial number.
    if (IsOnline())
        FCommissioning->EnsureSerialNumber();
    FFormModbus->RequestPageData();
}

void TFormKT580::ReadingsInstallationCheckExecute() {
    ShowPage(FPages[3]);
    FFormModbus->RequestPageData();
}

void TFormKT580::ReadingsWriteJournalExecute() {
    FCommissioning->ShowJournal();
}

void TFormKT580::StartCommissioningReportExecute() {
    if (IsOnline())
        FCommissioning->StartReport();
}

void TFormKT580::HelpAboutExecute() {
    TFormAbout about(VersionLookup, this);
    about.exec();
}
