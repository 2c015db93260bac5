// Closing the main window: confirmed writes go out first, and a close from outside ends the
// open dialogs and boxes before it.
#include "shell/frmMain.h"

#include "link/frmModbus.h"
#include "shell/frmConnection.h"

#include <QApplication>
#include <QCloseEvent>

void TFormKT580::closeEvent(QCloseEvent* event) {
    if (!FCloseAtOnce && FConnected) {
        if (FCloseAfterWrites) {
            event->ignore();
            return;
        }
        // A settings sequence the operator confirmed goes out whole: closing half way would
        // leave the meter with some blocks new and some old.
        if (!FDisconnectRequested && FFormModbus->FinishWritesThenStop()) {
            FCloseAfterWrites = true;
            // Offline from now on: no new command, and the end of the cycle closes the port.
            FDisconnectRequested = true;
            FFormModbus->UpdateCommandStates();
            UpdateActionStates();
            event->ignore();
            return;
        }
    }
    FFormConnection->SaveSettings();
    event->accept();
}

void TFormKT580::StartExitExecute() {
    close();
}

void TFormKT580::CloseFromOutside() {
    if (FCloseAfterWrites)
        FCloseAtOnce = true;
    // A modal loop open now would keep running after the window is gone; each is closed as
    // with Cancel, the innermost first.
    for (int guard = 0; guard < 16; ++guard) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            break;
        modal->close();
    }
    // Closing from the event loop, once those loops have returned.
    QMetaObject::invokeMethod(
        this, [this] { close(); }, Qt::QueuedConnection);
}
