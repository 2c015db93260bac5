#include "shell/frmConnection.h"

#include "link/LinkViews.h"
#include "link/frmModbus.h"
#include "meter/cstMain.h"
#include "shell/ConnectionFields.h"
#include "shell/ConnectionStore.h"
#include "shell/frmFindMeter.h"
#include "widgets/Dialogs.h"
#include "widgets/UiFont.h"
#include "widgets/UpDown.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>

#include <algorithm>

namespace {

constexpr int BaudRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600};

} // namespace

TFormConnection::TFormConnection(TFormModbus& link, ILinkShell& shell, IDialogs& dialogs,
                                 QWidget* parent)
    : QDialog(parent), FLink(link), FShell(shell), FDialogs(dialogs) {
    BuildControls();
    BuildPortInfoControls();
    FormCreate();
}

void TFormConnection::BuildControls() {
    setWindowTitle(QStringLiteral("Connection Settings"));
    setFont(UiFont());
    setFixedSize(317, 151);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setGeometry(11, 2, 193, 141);

    Label1 = MakeLabel("Com Port:", 8, 16, GroupBox1);
    ComboPortName = new QComboBox(GroupBox1);
    ComboPortName->setGeometry(88, 12, 89, 21);

    Label2 = MakeLabel("Baud Rate:", 8, 40, GroupBox1);
    ComboBaudrate = new QComboBox(GroupBox1);
    ComboBaudrate->setGeometry(88, 36, 89, 21);
    for (int baud : BaudRates)
        ComboBaudrate->addItem(QString::number(baud));

    Label3 = MakeLabel("Parity:", 8, 64, GroupBox1);
    ComboParity = new QComboBox(GroupBox1);
    ComboParity->setGeometry(88, 58, 89, 21);
    ComboParity->addItems({QStringLiteral("Even"), QStringLiteral("Odd"), QStringLiteral("None2"),
                           QStringLiteral("None1")});

    Label7 = MakeLabel("Device Address:", 8, 90, GroupBox1);
    EditDevAddr = new QLineEdit(QStringLiteral("1"), GroupBox1);
    EditDevAddr->setGeometry(88, 86, 72, 21);
    EditDevAddr->setToolTip(QStringLiteral("Range: 1~247"));
    UpDownAddr = new TUpDown(EditDevAddr, MinMeterAddress, MaxMeterAddress, GroupBox1);
    UpDownAddr->setGeometry(160, 86, 16, 21);

    Label4 = MakeLabel("Scan Interval:", 8, 114, GroupBox1);
    EditQueryInterval = new QLineEdit(GroupBox1);
    EditQueryInterval->setGeometry(88, 110, 61, 21);
    EditQueryInterval->setToolTip(QStringLiteral("Range: 0~60000(Recommended: 500)"));
    Label5 = MakeLabel("ms", 153, 114, GroupBox1);

    ButtonOk = new QPushButton(QStringLiteral("OK"), this);
    ButtonOk->setGeometry(232, 24, 65, 23);
    ButtonOk->setDefault(true);
    ButtonCancel = new QPushButton(QStringLiteral("Cancel"), this);
    ButtonCancel->setGeometry(232, 72, 65, 23);

    setTabOrder(ComboPortName, ComboBaudrate);
    setTabOrder(ComboBaudrate, ComboParity);
    setTabOrder(ComboParity, EditDevAddr);
    setTabOrder(EditDevAddr, EditQueryInterval);
    setTabOrder(EditQueryInterval, ButtonOk);
    setTabOrder(ButtonOk, ButtonCancel);

    ConnectButtons();
    NameControls();
}

void TFormConnection::ConnectButtons() {
    connect(ButtonOk, &QPushButton::clicked, this, [this] {
        if (!ConfirmPort())
            return;
        ButtonOkClick();
        accept();
    });
    // Escape rejects through QDialog as well.
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TFormConnection::NameControls() {
    // A combo box is otherwise named by its current entry, an edit by nothing.
    ComboPortName->setAccessibleName(QStringLiteral("Com port"));
    ComboBaudrate->setAccessibleName(QStringLiteral("Baud rate"));
    ComboParity->setAccessibleName(QStringLiteral("Parity"));
    EditDevAddr->setAccessibleName(QStringLiteral("Device address"));
    EditQueryInterval->setAccessibleName(QStringLiteral("Scan interval in milliseconds"));
}

void TFormConnection::FormCreate() {
    {
        // Nothing to describe yet: the ports are looked up at the first showing.
        const QSignalBlocker quiet(ComboPortName);
        for (unsigned n = 1; n <= 128; ++n)
            ComboPortName->addItem(QStringLiteral("COM%1").arg(n), n);
    }
    ConnectionStore::Load(FLink);
}

void TFormConnection::showEvent(QShowEvent* event) {
    FormShow();
    FPorts->Refresh();
    FHandOver.UsePending();
    QDialog::showEvent(event);
}

void TFormConnection::FormShow() {
    const TFormModbus& modbus = FLink;
    FPorts->Show();
    const int baud = ComboBaudrate->findText(QString::number(modbus.Baudrate()));
    ComboBaudrate->setCurrentIndex(std::max(baud, 0));

    const TParity parity = modbus.Parity();
    const TStopBits stopBits = modbus.StopBits();
    const int entry = ParityEntryOf(parity, stopBits);
    ComboParity->setCurrentIndex(entry);

    EditDevAddr->setText(QString::number(FLink.DeviceAddress()));
    EditQueryInterval->setText(QString::number(modbus.QueryInterval()));
    // Locked while connected, also while a disconnect is still finishing: the port of a cycle
    // that has not ended yet must not change under it.
    FPorts->SetLocked(FLink.State() != TConnectionState::Offline);

    FShown = {ComboBaudrate->currentIndex(),
              entry,
              EditDevAddr->text(),
              modbus.Baudrate(),
              parity,
              stopBits,
              FLink.DeviceAddress()};

    if (const QScreen* screen = this->screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TFormConnection::ButtonOkClick() {
    hide();

    // Address 0 is the broadcast address: every meter on the line would act on a command and
    // none would answer. A connection needs the address of one meter.
    const int address = IntegerOf(EditDevAddr->text()).value_or(-1);
    if (!IsMeterAddress(address)) {
        FDialogs.MessageBox(QString::fromLatin1(cstMain::CaptionPrompt),
                            QString::fromLatin1(cstMain::InvalidDeviceAddress),
                            IDialogs::Information, IDialogs::Ok);
        return;
    }
    const int interval =
        std::clamp(IntegerOf(EditQueryInterval->text()).value_or(500),
                   ConnectionStore::MinQueryInterval, ConnectionStore::MaxQueryInterval);

    TFormModbus& modbus = FLink;
    // While connected the port list is locked: a stored port that has no entry would otherwise
    // show as COM1 and OK would close the open port behind the main window's back.
    if (ComboPortName->isEnabled())
        FLink.SetPortNum(static_cast<std::uint16_t>(SelectedPort()));
    // A field left as shown whose value a confirmed settings write has changed meanwhile keeps
    // the new value; a field the operator changed is applied.
    const auto keeps = [](bool edited, bool changedMeanwhile) {
        return !edited && changedMeanwhile;
    };
    if (!keeps(ComboBaudrate->currentIndex() != FShown.BaudEntry,
               modbus.Baudrate() != FShown.Baudrate))
        modbus.SetBaudrate(ComboBaudrate->currentText().toInt());
    modbus.SetQueryInterval(interval);
    const int parityEntry =
        keeps(ComboParity->currentIndex() != FShown.ParityEntry,
              modbus.Parity() != FShown.Parity || modbus.StopBits() != FShown.StopBits)
            ? -1
            : ComboParity->currentIndex();
    ApplyParityEntry(modbus, parityEntry);

    if (keeps(EditDevAddr->text() != FShown.AddressText,
              FLink.DeviceAddress() != FShown.DeviceAddress))
        return;
    if (address != FLink.DeviceAddress()) {
        FLink.SetDeviceAddress(static_cast<std::uint8_t>(address));
        FLink.ResetCounts();
        FShell.RefreshStatusAddress();
    }
}

void TFormConnection::SaveSettings() const {
    ConnectionStore::Save(FLink);
}

void TFormConnection::BuildPortInfoControls() {
    setFixedSize(317, 237);
    FPorts = std::make_unique<TPortChooser>(*this, ComboPortName, FLink, FDialogs, DeviceRoot);
    CheckPresentOnly = FPorts->CheckPresentOnly;
    LabelReachCaption = FPorts->LabelReachCaption;
    LabelReach = FPorts->LabelReach;
    LabelAdapter = FPorts->LabelAdapter;
    ComboAdapter = FPorts->ComboAdapter;
    ButtonFindMeter = FPorts->ButtonFindMeter;
    setTabOrder(ButtonCancel, ButtonFindMeter);
    setTabOrder(ButtonFindMeter, CheckPresentOnly);
    setTabOrder(CheckPresentOnly, ComboAdapter);

    connect(ButtonFindMeter, &QPushButton::clicked, this, [this] { ButtonFindMeterClick(); });
}

void TFormConnection::SetDeviceMonitor(TDeviceMonitor* monitor) {
    FPorts->SetDeviceMonitor(monitor);
    FHandOver.SetDeviceMonitor(monitor);
}
