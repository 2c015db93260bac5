// How the main window closes: a settings sequence the operator confirmed goes out whole first,
// a second request does not wait, and a close from outside ends the open dialogs and boxes.
#pragma once

class QWidget;
class TFormModbus;

class TCloseProtocol {
public:
    enum class TStep { Close, Wait, WaitForWrites };

    explicit TCloseProtocol(QWidget& window) : FWindow(window) {}

    // What a close asked for now does. WaitForWrites: the close waits from now on until the
    // writes have gone out and the port has closed; the window goes offline.
    TStep Ask(TFormModbus& link);
    // Closing waits for the writes of a confirmed command still going out.
    bool AfterWrites() const { return FAfterWrites; }
    // The port has closed: a close that waited for the writes goes ahead.
    void Disconnected();
    void FromOutside();

private:
    QWidget& FWindow;
    bool FAfterWrites = false;
    bool FAtOnce = false;
    bool FScheduled = false;
};
