// The main window's Start commands that connect, disconnect and choose the connection.
#include "shell/frmMain.h"

#include "link/frmModbus.h"
#include "meter/cstMain.h"
#include "platform/PortName.h"
#include "serial/OpenFailure.h"
#include "shell/frmConnection.h"
#include "widgets/Dialogs.h"

#include <QThread>

void TFormKT580::StartFindMeterExecute() {
    if (!FConnected)
        FFormConnection->FindMeterFromMenu();
}

void TFormKT580::StartConnectExecute() {
    TFormModbus& modbus = *FFormModbus;
    if (!modbus.Open()) {
        // The port's own reason stays inside the master: the operator gets the port's name,
        // and what to do where there is something to do (join the port's group, free it).
        QString text =
            QString::fromLatin1(cstMain::CannotOpenPort)
                .replace(QLatin1String("%s"), QStringLiteral("COM%1").arg(modbus.PortNum()));
        const std::string port = "COM" + std::to_string(modbus.PortNum());
        const std::string missing = OpenFailureMissingText(modbus.OpenSystemError(), port);
        const std::string advice =
            OpenFailureAdviceFor(modbus.OpenSystemError(), ResolvePortName(port));
        for (const std::string& more : {missing, advice})
            if (!more.empty())
                text += QStringLiteral("\n\n") + QString::fromStdString(more);
        FDialogs.MessageBox(QString::fromLatin1(cstMain::CaptionError), text, IDialogs::Critical,
                            IDialogs::Ok);
        return;
    }
    // The meter and the adapter settle on the freshly opened line before the first frame.
    if (FConnectWait > 0)
        QThread::msleep(static_cast<unsigned long>(FConnectWait));
    FDisconnectRequested = false;
    SetConnected(true);
    FFormModbus->UpdateCommandStates();
    if (FFormModbus->RequestPageData())
        modbus.Start(true);
}

void TFormKT580::StartDisconnectExecute() {
    FDisconnectRequested = true;
    UpdateActionStates();
    FFormModbus->UpdateCommandStates();
    TFormModbus& modbus = *FFormModbus;
    if (modbus.Running())
        modbus.Stop();
    else
        FFormModbus->EndCycle();
}

void TFormKT580::StartConnectionSettingsExecute() {
    FFormConnection->exec();
}
