#include "shell/PortChooser.h"

#include "link/frmModbus.h"
#include "meter/cstMain.h"
#include "platform/PortInfo.h"
#include "platform/PortName.h"
#include "shell/ConnectionFields.h"
#include "shell/DeviceMonitor.h"
#include "shell/PortListMarks.h"
#include "widgets/Dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>

#include <algorithm>
#include <vector>

TPortChooser::TPortChooser(QDialog& dialog, QComboBox* ports, const TFormModbus& link,
                           IDialogs& dialogs, const std::string& deviceRoot)
    : FDialog(dialog), FPorts(ports), FLink(link), FDialogs(dialogs), FDeviceRoot(deviceRoot) {
    CheckPresentOnly = new QCheckBox(QStringLiteral("Only ports that reach a device"), &dialog);
    CheckPresentOnly->setGeometry(19, 150, 288, 19);
    LabelReachCaption = MakeLabel("Port reaches:", 19, 175, &dialog);
    LabelReach = new QLabel(&dialog);
    LabelReach->setTextFormat(Qt::PlainText);
    LabelReach->setGeometry(99, 173, 208, 30);
    LabelReach->setWordWrap(true);
    LabelReach->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LabelAdapter = MakeLabel("USB adapter:", 19, 212, &dialog);
    ComboAdapter = new QComboBox(&dialog);
    ComboAdapter->setAccessibleName(QStringLiteral("USB adapter"));
    ComboAdapter->setGeometry(99, 208, 208, 21);
    ButtonFindMeter = new QPushButton(QStringLiteral("Find Meter..."), &dialog);
    ButtonFindMeter->setGeometry(224, 118, 81, 23);
    connect(FPorts, &QComboBox::currentIndexChanged, this, [this] { Refresh(); });
    connect(CheckPresentOnly, &QCheckBox::toggled, this, [this] { Refresh(); });
    connect(ComboAdapter, &QComboBox::activated, this, [this](int index) { ChooseAdapter(index); });
}

unsigned TPortChooser::Selected() const {
    return ChosenPort(FPorts);
}

void TPortChooser::Select(unsigned number) {
    if (FPorts->findData(number) < 0 && number >= 1 && number <= 128)
        FillPortList(FPorts, CheckPresentOnly->isChecked(), {number, Selected()}, FDeviceRoot);
    FPorts->setCurrentIndex(std::max(FPorts->findData(number), 0));
}

void TPortChooser::Fill() {
    FillPortList(FPorts, CheckPresentOnly->isChecked(), {FLink.PortNum(), Selected()}, FDeviceRoot);
}

void TPortChooser::Show() {
    {
        const QSignalBlocker quiet(CheckPresentOnly);
        CheckPresentOnly->setChecked(FillPortList(FPorts, false, {}, FDeviceRoot));
    }
    Select(FLink.PortNum());
    Fill();
}

void TPortChooser::SetLocked(bool locked) {
    FPorts->setEnabled(!locked);
    CheckPresentOnly->setEnabled(FPorts->isEnabled());
}

void TPortChooser::SetDeviceMonitor(TDeviceMonitor* monitor) {
    if (monitor != nullptr)
        connect(monitor, &TDeviceMonitor::Changed, this, [this] {
            if (FDialog.isVisible())
                Refresh();
        });
}

void TPortChooser::Refresh() {
    Fill();
    const TPortInfo info = DescribeComPort(Selected(), FDeviceRoot);
    LabelReach->setText(QString::fromStdString(PortReachText(info)));

    const QString current = ComboAdapter->currentData().toString();
    ComboAdapter->clear();
    const std::vector<std::string> adapters = SerialAdaptersById(FDeviceRoot);
    ComboAdapter->addItem(adapters.empty() ? QStringLiteral("none plugged in")
                                           : QStringLiteral("choose one to give it a COM number"));
    for (const std::string& path : adapters) {
        const QString full = QString::fromStdString(path);
        ComboAdapter->addItem(full.section(QLatin1Char('/'), -1), full);
    }
    ComboAdapter->setCurrentIndex(std::max(ComboAdapter->findData(current), 0));
    ButtonFindMeter->setEnabled(!FLink.IsOnline());
    ComboAdapter->setEnabled(!FLink.IsOnline() && !adapters.empty());
}

void TPortChooser::ChooseAdapter(int index) {
    const QString path = ComboAdapter->itemData(index).toString();
    if (path.isEmpty())
        return;
    const auto number = ComForAdapter(ReadPortMap(PortMapDir()), path.toStdString());
    std::string error;
    if (!number) {
        error = "every number from COM97 to COM128 is taken";
    } else if (LinkPort(PortMapDir(), *number, path.toStdString(), error)) {
        Select(*number);
        Refresh();
        return;
    }
    FDialogs.ShowError(QStringLiteral("Cannot give the adapter a COM number: ") +
                       QString::fromStdString(error));
}

bool TPortChooser::Confirm() {
    if (!FPorts->isEnabled())
        return true;
    const unsigned port = Selected();
    if (DescribeComPort(port, FDeviceRoot).Present || SimulatorOnPort("COM" + std::to_string(port)))
        return true;
    return FDialogs.MessageBox(QString::fromLatin1(cstMain::CaptionConfirm),
                               QStringLiteral("COM%1 reaches no device: nothing is plugged in "
                                              "there now. Keep COM%1 anyway?")
                                   .arg(port),
                               IDialogs::Question, IDialogs::YesNo) == IDialogs::ResultYes;
}
