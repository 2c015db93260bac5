// The Connection Settings dialog's port list, what the chosen port reaches, and the USB
// adapters given a lasting COM number.
#include "shell/frmConnection.h"

#include "link/LinkViews.h"
#include "link/frmModbus.h"
#include "platform/PortInfo.h"
#include "platform/PortName.h"
#include "shell/DeviceMonitor.h"
#include "shell/PortListMarks.h"
#include "shell/frmFindMeter.h"
#include "widgets/Dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <string>
#include <vector>

unsigned TFormConnection::SelectedPort() const {
    return ChosenPort(ComboPortName);
}

void TFormConnection::SelectPort(unsigned number) {
    if (ComboPortName->findData(number) < 0 && number >= 1 && number <= 128)
        FillPortList(ComboPortName, CheckPresentOnly->isChecked(), {number, SelectedPort()},
                     DeviceRoot);
    ComboPortName->setCurrentIndex(std::max(ComboPortName->findData(number), 0));
}

void TFormConnection::FillPorts() {
    FillPortList(ComboPortName, CheckPresentOnly->isChecked(), {FLink.PortNum(), SelectedPort()},
                 DeviceRoot);
}

void TFormConnection::SetDeviceMonitor(TDeviceMonitor* monitor) {
    FMonitor = monitor;
    if (monitor != nullptr)
        connect(monitor, &TDeviceMonitor::Changed, this, [this] {
            if (isVisible())
                RefreshPortInfo();
        });
    if (FFindMeter != nullptr)
        FFindMeter->SetDeviceMonitor(monitor);
}

void TFormConnection::RefreshPortInfo() {
    FillPorts();
    const TPortInfo info = DescribeComPort(SelectedPort(), DeviceRoot);
    LabelReach->setText(QString::fromStdString(PortReachText(info)));

    const QString current = ComboAdapter->currentData().toString();
    ComboAdapter->clear();
    const std::vector<std::string> adapters = SerialAdaptersById(DeviceRoot);
    ComboAdapter->addItem(adapters.empty() ? QStringLiteral("none plugged in")
                                           : QStringLiteral("choose one to give it a COM number"));
    for (const std::string& path : adapters) {
        const QString full = QString::fromStdString(path);
        ComboAdapter->addItem(full.section(QLatin1Char('/'), -1), full);
    }
    ComboAdapter->setCurrentIndex(std::max(ComboAdapter->findData(current), 0));
    // Find Meter needs the port, which the connection holds while online.
    ButtonFindMeter->setEnabled(!FShell.IsOnline());
    ComboAdapter->setEnabled(!FShell.IsOnline() && !adapters.empty());
}

void TFormConnection::ChooseAdapter(int index) {
    const QString path = ComboAdapter->itemData(index).toString();
    if (path.isEmpty())
        return;
    const auto number = ComForAdapter(ReadPortMap(PortMapDir()), path.toStdString());
    std::string error;
    if (!number) {
        error = "every number from COM97 to COM128 is taken";
    } else if (LinkPort(PortMapDir(), *number, path.toStdString(), error)) {
        SelectPort(*number);
        RefreshPortInfo();
        return;
    }
    FDialogs.ShowError(QStringLiteral("Cannot give the adapter a COM number: ") +
                       QString::fromStdString(error));
}
