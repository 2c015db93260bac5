#include "comms/CommunicationHost.h"

#include "comms/frmCommunication.h"
#include "link/LinkPort.h"

#include <QEvent>
#include <QWidget>

TCommunicationHost::TCommunicationHost(ILinkPort& link, IDialogs& dialogs, QWidget* parent,
                                       QWidget* statisticsPanel)
    : FLink(link), FDialogs(dialogs), FParent(parent), FPanel(statisticsPanel) {
    FLink.SetTrafficObserver(&FMonitor);
    if (FPanel)
        FPanel->installEventFilter(this);
}

TCommunicationHost::~TCommunicationHost() {
    FLink.SetTrafficObserver(nullptr);
    if (FPanel)
        FPanel->removeEventFilter(this);
    delete FWindow.data();
}

TFormCommunication* TCommunicationHost::Window() const {
    return FWindow.data();
}

void TCommunicationHost::Open() {
    if (!FWindow) {
        FWindow = new TFormCommunication(FMonitor, FDialogs, FParent);
        FWindow->MeterSerial = [this] { return FLink.SerialNumber(); };
    }
    FWindow->show();
    FWindow->raise();
    FWindow->activateWindow();
}

bool TCommunicationHost::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FPanel && event->type() == QEvent::MouseButtonDblClick) {
        Open();
        return true;
    }
    return QObject::eventFilter(watched, event);
}
