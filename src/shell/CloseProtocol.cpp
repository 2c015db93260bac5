#include "shell/CloseProtocol.h"

#include "link/frmModbus.h"

#include <QApplication>
#include <QWidget>

TCloseProtocol::TStep TCloseProtocol::Ask(TFormModbus& link) {
    if (FAtOnce || link.State() == TConnectionState::Offline)
        return TStep::Close;
    if (FAfterWrites)
        return TStep::Wait;
    // A settings sequence the operator confirmed goes out whole: closing half way would leave
    // the meter with some blocks new and some old.
    if (link.IsOnline() && link.FinishWritesThenStop()) {
        FAfterWrites = true;
        return TStep::WaitForWrites;
    }
    return TStep::Close;
}

void TCloseProtocol::Disconnected() {
    if (!FAfterWrites || FScheduled)
        return;
    // The writes are out and the port is closed: the close asked for earlier goes ahead, from
    // the event loop, once the master's event has returned.
    FScheduled = true;
    QWidget* window = &FWindow;
    QMetaObject::invokeMethod(
        window, [window] { window->close(); }, Qt::QueuedConnection);
}

void TCloseProtocol::FromOutside() {
    if (FAfterWrites)
        FAtOnce = true;
    // A modal loop open now would keep running after the window is gone; each is closed as
    // with Cancel, the innermost first.
    for (int guard = 0; guard < 16; ++guard) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            break;
        modal->close();
    }
    // Closing from the event loop, once those loops have returned.
    QWidget* window = &FWindow;
    QMetaObject::invokeMethod(
        window, [window] { window->close(); }, Qt::QueuedConnection);
}
