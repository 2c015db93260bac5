// The whole program against a meter, for the tests, the benchmarks and the screenshot tool: a
// private configuration folder where the simulator (support/SimProcess.h) maps itself as COM1,
// the Connection Settings dialog answered from inside its own modal loop, Connect, and the
// metering page showing values; and the Connection Settings dialog alone on a link of its own.
// The link without a window, and every reach into its master, is support/LinkRig.h.
#pragma once

#include "link/frmModbus.h"
#include "shell/DeviceMonitor.h"
#include "shell/frmConnection.h"
#include "shell/frmMain.h"
#include "support/FakeDeviceRoot.h"
#include "support/FakeShell.h"
#include "support/LinkRig.h"
#include "support/ScriptedDialogs.h"
#include "support/ShellTestKit.h"
#include "support/SimProcess.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>

#include <functional>
#include <memory>

// Answers the window's Connection Settings dialog the first time it comes up while this lives:
// edit (when given) sees it and may change it, then OK closes it. Every other modal window that
// comes up meanwhile is closed. Arm it before the event loop runs again after the show or the
// click that brings the dialog up: the dialog runs its own modal loop, which returns to nobody
// until it ends.
class TConnectionAnswer {
public:
    using TEdit = std::function<void(TFormConnection&)>;

    explicit TConnectionAnswer(TFormKT580& window, TEdit edit = {})
        : FWatcher([this, &window, edit = std::move(edit)](QWidget* modal) {
              TFormConnection& dialog = window.FormConnection();
              if (modal != &dialog || FAnswered) {
                  modal->close();
                  return;
              }
              if (edit)
                  edit(dialog);
              FAnswered = true;
              dialog.ButtonOk->click();
          }) {}

    // True once the dialog has been answered and no modal window is left, within ms.
    bool Wait(int ms) {
        return WaitFor([this] { return FAnswered && !QApplication::activeModalWidget(); }, ms);
    }

private:
    bool FAnswered = false;
    shelltest::TModalWatcher FWatcher;
};

// Connect as the tool bar does; true when the program went online.
inline bool ConnectWindow(TFormKT580& window) {
    window.StartConnectExecute();
    return window.FormModbus().State() != TConnectionState::Offline;
}

// Disconnect as the tool bar does; true once the program is offline.
inline bool DisconnectWindow(TFormKT580& window, int ms = 10000) {
    window.StartDisconnectExecute();
    return WaitFor([&] { return window.FormModbus().State() == TConnectionState::Offline; }, ms);
}

// True once the metering page shows a voltage read from the meter, within ms.
inline bool WaitForValues(TFormKT580& window, int ms) {
    static const QRegularExpression voltage(QStringLiteral(R"(^[0-9]+[.,][0-9]+ ?V$)"));
    return WaitFor(
        [&] {
            for (const QLabel* label : window.FormRTMetering()->findChildren<QLabel*>())
                if (voltage.match(label->text()).hasMatch())
                    return true;
            return false;
        },
        ms);
}

// The Connection Settings dialog on a link of its own, without the main window. Its ports reach
// only what a test puts in Devices, whatever the machine has: by default every port of the fixed
// table, so OK asks nothing. Adapters come and go through Monitor.
struct TConnectionRig {
    TFakeDeviceRoot Devices;
    TFakeShell Shell;
    TScriptedDialogs Dialogs;
    TDeviceMonitor Monitor;
    std::unique_ptr<TFormModbus> Link;
    std::unique_ptr<TFormConnection> Dialog;

    explicit TConnectionRig(bool portsPresent = true) {
        for (unsigned com = 1; portsPresent && com <= 96; ++com)
            Devices.AddPort(com);
        Link = std::make_unique<TFormModbus>(Shell, Dialogs);
        Dialog = std::make_unique<TFormConnection>(*Link, Shell, Dialogs);
        Dialog->DeviceRoot = Devices.Root();
        Dialog->SetDeviceMonitor(&Monitor);
    }
    ~TConnectionRig() {
        Dialog.reset();
        Link.reset();
    }
    TConnectionRig(const TConnectionRig&) = delete;
    TConnectionRig& operator=(const TConnectionRig&) = delete;

    TMaster Modbus() const { return Master(*Link); }
    // The "present ports only" filter of the port list.
    QCheckBox* PresentOnly() const { return Dialog->findChild<QCheckBox*>(); }
    QStringList Entries() const {
        QStringList texts;
        for (int i = 0; i < Dialog->ComboPortName->count(); ++i)
            texts << Dialog->ComboPortName->itemText(i);
        return texts;
    }
};
