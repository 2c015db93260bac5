// The Connection Settings dialog: what it loads, shows, applies and saves (the baud rate
// applied to an open port: tst_connection_pty).
#include "shell/frmConnection.h"
#include "support/ProgramRig.h"
#include "support/ShellTestKit.h"
#include "widgets/UpDown.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace shelltest;

Q_DECLARE_METATYPE(TParity)
Q_DECLARE_METATYPE(TStopBits)

using TStored = QList<QPair<QString, QString>>;

namespace {

using TRig = TConnectionRig;

void Store(const TStored& values) {
    QSettings s = shelltest::Store();
    s.beginGroup("ComPort");
    for (const auto& [name, value] : values)
        s.setValue(name, value);
    s.endGroup();
    s.sync();
}

} // namespace

class TestConnection : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void controls();
    void labelsFit();
    void load_data();
    void load();
    void show_data();
    void show();
    void okAddressAndInterval_data();
    void okAddressAndInterval();
    void okAppliesWhatIsShown_data();
    void okAppliesWhatIsShown();
    void okParityChoices_data();
    void okParityChoices();
    void cancelAppliesNothing();
    void sameAddressKeepsStatistics();
    void newAddressRestartsStatistics();
    void onlinePortLocked();
    void portLockedUntilDisconnected_data();
    void portLockedUntilDisconnected();
    void settingsWriteWhileOpen_data();
    void settingsWriteWhileOpen();
    void upDownSteps_data();
    void upDownSteps();
    void saveWritesSixValues();
    void portList_data();
    void portList();
    void okOnAPortThatReachesNothing_data();
    void okOnAPortThatReachesNothing();
};

void TestConnection::initTestCase() {
    QVERIFY2(PrivateConfig(), "XDG_CONFIG_HOME must point at a private folder");
}

void TestConnection::init() {
    ClearStore();
}

void TestConnection::controls() {
    TRig rig;
    TFormConnection& d = *rig.Dialog;
    QCOMPARE(d.windowTitle(), QString("Connection Settings"));
    // Taller than the original 151: the port's description and the adapter list sit below.
    QCOMPARE(d.size(), QSize(317, 237));
    QCOMPARE(d.minimumSize(), d.maximumSize());
    QCOMPARE(d.GroupBox1->geometry(), QRect(11, 2, 193, 141));
    QCOMPARE(d.ComboPortName->geometry(), QRect(88, 12, 89, 21));
    QCOMPARE(d.ComboBaudrate->geometry(), QRect(88, 36, 89, 21));
    QCOMPARE(d.ComboParity->geometry(), QRect(88, 58, 89, 21));
    QCOMPARE(d.EditDevAddr->geometry(), QRect(88, 86, 72, 21));
    QCOMPARE(d.UpDownAddr->geometry(), QRect(160, 86, 16, 21));
    QCOMPARE(d.EditQueryInterval->geometry(), QRect(88, 110, 61, 21));
    QCOMPARE(d.ButtonOk->geometry(), QRect(232, 24, 65, 23));
    QCOMPARE(d.ButtonCancel->geometry(), QRect(232, 72, 65, 23));
    QVERIFY(d.ButtonOk->isDefault());

    QCOMPARE(d.ComboPortName->count(), 128);
    QCOMPARE(d.ComboPortName->itemText(0), QString("COM1"));
    QCOMPARE(d.ComboPortName->itemText(11), QString("COM12"));
    QCOMPARE(d.ComboPortName->itemText(127), QString("COM128"));
    QVERIFY(!d.ComboPortName->isEditable());
    QStringList bauds;
    for (int i = 0; i < d.ComboBaudrate->count(); ++i)
        bauds << d.ComboBaudrate->itemText(i);
    QCOMPARE(bauds, QStringList({"1200", "2400", "4800", "9600", "19200", "38400", "57600"}));
    QStringList parities;
    for (int i = 0; i < d.ComboParity->count(); ++i)
        parities << d.ComboParity->itemText(i);
    QCOMPARE(parities, QStringList({"Even", "Odd", "None2", "None1"}));
    QCOMPARE(d.EditDevAddr->toolTip(), QString("Range: 1~247"));
    QCOMPARE(d.EditQueryInterval->toolTip(), QString("Range: 0~60000(Recommended: 500)"));

    // Tab order: port, baud rate, parity, address, interval.
    const auto next = [](QWidget* w) {
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        return w;
    };
    QCOMPARE(next(d.ComboPortName), d.ComboBaudrate);
    QCOMPARE(next(d.ComboBaudrate), d.ComboParity);
    QCOMPARE(next(d.ComboParity), d.EditDevAddr);
    QCOMPARE(next(d.EditDevAddr), d.EditQueryInterval);
}

void TestConnection::labelsFit() {
    TRig rig;
    TFormConnection& d = *rig.Dialog;
    // Each caption ends before the field to its right; "ms" after the interval fits the box.
    for (QLabel* label : {d.Label1, d.Label2, d.Label3, d.Label7, d.Label4}) {
        QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
        QVERIFY2(label->x() + label->sizeHint().width() <= 88, qPrintable(label->text()));
    }
    QVERIFY(d.Label5->x() + d.Label5->sizeHint().width() <= d.GroupBox1->width());
    // The port filter sits between the group and the port's description, its text whole.
    const QCheckBox* only = rig.PresentOnly();
    QVERIFY(only);
    QVERIFY(only->width() >= only->sizeHint().width());
    QVERIFY(only->geometry().right() < d.width());
    QVERIFY(only->y() > d.GroupBox1->geometry().bottom());
    QVERIFY(only->geometry().bottom() < d.LabelReach->y());
}

void TestConnection::load_data() {
    QTest::addColumn<TStored>("stored");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("address");
    QTest::addColumn<TParity>("parity");
    QTest::addColumn<TStopBits>("stopBits");
    const auto N = TParity::None;
    const auto S1 = TStopBits::_1;
    const TStored all = {{"PortNum", "3"}, {"Baudrate", "9600"}, {"QueryInterval", "250"},
                         {"DevAddr", "7"}, {"Parity", "2"},      {"StopBits", "2"}};
    auto with = [&](const QString& name, const QString& value) {
        TStored s = all;
        for (auto& p : s)
            if (p.first == name)
                p.second = value;
        return s;
    };
    auto without = [&](const QString& name) {
        TStored s;
        for (const auto& p : all)
            if (p.first != name)
                s << p;
        return s;
    };
    QTest::newRow("first run: defaults") << TStored{} << 1 << 19200 << 500 << 1 << N << S1;
    QTest::newRow("all six") << all << 3 << 9600 << 250 << 7 << TParity::Even << TStopBits::_2;
    QTest::newRow("port 200 and 115200 baud")
        << with("PortNum", "200") + TStored{{"Baudrate", "115200"}} << 200 << 115200 << 250 << 7
        << TParity::Even << TStopBits::_2;
    QTest::newRow("mark parity") << with("Parity", "3") << 3 << 9600 << 250 << 7 << TParity::Mark
                                 << TStopBits::_2;
    // The broadcast address is no meter's: refused like any other invalid address.
    QTest::newRow("address 0 refused") << with("DevAddr", "0") << 3 << 9600 << 250 << 1 << N << S1;
    QTest::newRow("baud rate not a number: stops there")
        << with("Baudrate", "fast") << 3 << 19200 << 500 << 1 << N << S1;
    QTest::newRow("port missing: nothing loads")
        << without("PortNum") << 1 << 19200 << 500 << 1 << N << S1;
    QTest::newRow("interval missing")
        << without("QueryInterval") << 3 << 9600 << 500 << 1 << N << S1;
    QTest::newRow("interval 70000 clamped") << with("QueryInterval", "70000") << 3 << 9600 << 60000
                                            << 7 << TParity::Even << TStopBits::_2;
    QTest::newRow("interval -5 clamped")
        << with("QueryInterval", "-5") << 3 << 9600 << 0 << 7 << TParity::Even << TStopBits::_2;
    QTest::newRow("interval 12.5 not an integer")
        << with("QueryInterval", "12.5") << 3 << 9600 << 500 << 1 << N << S1;
    QTest::newRow("baud rate 0 refused")
        << with("Baudrate", "0") << 3 << 19200 << 500 << 1 << N << S1;
    QTest::newRow("baud rate negative refused")
        << with("Baudrate", "-9600") << 3 << 19200 << 500 << 1 << N << S1;
    QTest::newRow("address 248 refused")
        << with("DevAddr", "248") << 3 << 9600 << 250 << 1 << N << S1;
    QTest::newRow("address 256 refused, not wrapped")
        << with("DevAddr", "256") << 3 << 9600 << 250 << 1 << N << S1;
    QTest::newRow("parity 5 refused") << with("Parity", "5") << 3 << 9600 << 250 << 7 << N << S1;
    QTest::newRow("parity negative refused")
        << with("Parity", "-1") << 3 << 9600 << 250 << 7 << N << S1;
    QTest::newRow("stop bits 3 refused")
        << with("StopBits", "3") << 3 << 9600 << 250 << 7 << TParity::Even << S1;
    QTest::newRow("stop bits 1.5 loads")
        << with("StopBits", "1") << 3 << 9600 << 250 << 7 << TParity::Even << TStopBits::_1_5;
    QTest::newRow("port 65536 refused")
        << with("PortNum", "65536") << 1 << 19200 << 500 << 1 << N << S1;
}

void TestConnection::load() {
    QFETCH(TStored, stored);
    QFETCH(int, port);
    QFETCH(int, baud);
    QFETCH(int, interval);
    QFETCH(int, address);
    QFETCH(TParity, parity);
    QFETCH(TStopBits, stopBits);
    if (!stored.isEmpty())
        Store(stored);
    TRig rig;
    QCOMPARE(int(rig.Modbus().PortNum()), port);
    QCOMPARE(rig.Modbus().Baudrate(), baud);
    QCOMPARE(rig.Modbus().QueryInterval(), interval);
    QCOMPARE(int(rig.Link->DeviceAddress()), address);
    QCOMPARE(rig.Modbus().Parity(), parity);
    QCOMPARE(rig.Modbus().StopBits(), stopBits);
    // Loading alone never opens anything.
    QVERIFY(!rig.Modbus().Opened());
}

void TestConnection::show_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("baud");
    QTest::addColumn<TParity>("parity");
    QTest::addColumn<TStopBits>("stopBits");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("interval");
    QTest::addColumn<bool>("online");
    QTest::addColumn<QString>("portText");
    QTest::addColumn<QString>("baudText");
    QTest::addColumn<QString>("parityText");
    const auto N = TParity::None;
    const auto S1 = TStopBits::_1, S2 = TStopBits::_2;
    QTest::newRow("defaults") << 1 << 19200 << N << S1 << 1 << 500 << false << "COM1"
                              << "19200"
                              << "None1";
    QTest::newRow("COM128, 57600, none2")
        << 128 << 57600 << N << S2 << 247 << 0 << false << "COM128"
        << "57600"
        << "None2";
    QTest::newRow("port 200 shows COM1")
        << 200 << 1200 << TParity::Odd << S1 << 5 << 60000 << false << "COM1"
        << "1200"
        << "Odd";
    QTest::newRow("115200 shows 1200")
        << 2 << 115200 << TParity::Even << S1 << 1 << 500 << false << "COM2"
        << "1200"
        << "Even";
    QTest::newRow("mark shows even")
        << 1 << 9600 << TParity::Mark << S1 << 1 << 500 << false << "COM1"
        << "9600"
        << "Even";
    QTest::newRow("space shows even")
        << 1 << 9600 << TParity::Space << S1 << 1 << 500 << false << "COM1"
        << "9600"
        << "Even";
    QTest::newRow("odd with two stop bits shows even")
        << 1 << 9600 << TParity::Odd << S2 << 1 << 500 << false << "COM1"
        << "9600"
        << "Even";
    QTest::newRow("none with 1.5 stop bits shows even")
        << 1 << 9600 << N << TStopBits::_1_5 << 1 << 500 << false << "COM1"
        << "9600"
        << "Even";
    QTest::newRow("online: port list locked") << 4 << 19200 << N << S1 << 1 << 500 << true << "COM4"
                                              << "19200"
                                              << "None1";
}

void TestConnection::show() {
    QFETCH(int, port);
    QFETCH(int, baud);
    QFETCH(TParity, parity);
    QFETCH(TStopBits, stopBits);
    QFETCH(int, address);
    QFETCH(int, interval);
    QFETCH(bool, online);
    QFETCH(QString, portText);
    QFETCH(QString, baudText);
    QFETCH(QString, parityText);
    TRig rig;
    rig.Modbus().SetPortNum(std::uint16_t(port));
    rig.Modbus().SetBaudrate(baud);
    rig.Modbus().SetParity(parity);
    rig.Modbus().SetStopBits(stopBits);
    rig.Link->SetDeviceAddress(std::uint8_t(address));
    rig.Modbus().SetQueryInterval(interval);
    rig.Link->SetState(online ? TConnectionState::Online : TConnectionState::Offline);
    // Leftovers of an earlier, cancelled showing are not kept.
    rig.Dialog->EditDevAddr->setText("99");
    rig.Dialog->show();
    TFormConnection& d = *rig.Dialog;
    QCOMPARE(d.ComboPortName->currentText(), portText);
    QCOMPARE(d.ComboBaudrate->currentText(), baudText);
    QCOMPARE(d.ComboParity->currentText(), parityText);
    QCOMPARE(d.EditDevAddr->text(), QString::number(address));
    QCOMPARE(d.EditQueryInterval->text(), QString::number(interval));
    QCOMPARE(d.ComboPortName->isEnabled(), !online);
    QVERIFY(d.ComboBaudrate->isEnabled());
    QVERIFY(d.ComboParity->isEnabled());
    QVERIFY(d.EditDevAddr->isEnabled());
    d.hide();
}

void TestConnection::okAddressAndInterval_data() {
    QTest::addColumn<QString>("addressText");
    QTest::addColumn<QString>("intervalText");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("interval");
    QTest::newRow("address 0, the broadcast address") << "0"
                                                      << "100" << true << 1 << 500;
    QTest::newRow("address 247") << "247"
                                 << "500" << false << 247 << 500;
    QTest::newRow("address 248") << "248"
                                 << "100" << true << 1 << 500;
    QTest::newRow("address -1") << "-1"
                                << "100" << true << 1 << 500;
    QTest::newRow("address abc") << "abc"
                                 << "100" << true << 1 << 500;
    QTest::newRow("address empty") << ""
                                   << "100" << true << 1 << 500;
    // One rule with the arrows and the settings write: the whole text, digits only.
    QTest::newRow("address with a blank") << " 5"
                                          << "100" << true << 1 << 500;
    QTest::newRow("address with a plus") << "+5"
                                         << "100" << true << 1 << 500;
    QTest::newRow("interval 70000") << "1"
                                    << "70000" << false << 1 << 60000;
    QTest::newRow("interval -5") << "1"
                                 << "-5" << false << 1 << 0;
    QTest::newRow("interval empty") << "1"
                                    << "" << false << 1 << 500;
    QTest::newRow("interval abc") << "1"
                                  << "abc" << false << 1 << 500;
    QTest::newRow("interval 0") << "2"
                                << "0" << false << 2 << 0;
}

void TestConnection::okAddressAndInterval() {
    QFETCH(QString, addressText);
    QFETCH(QString, intervalText);
    QFETCH(bool, refused);
    QFETCH(int, address);
    QFETCH(int, interval);
    TRig rig;
    rig.Modbus().SetQueryInterval(1000);
    TFormConnection& d = *rig.Dialog;
    d.show();
    // Every other field changed too, so a refusal shows that none of them was applied.
    d.ComboPortName->setCurrentText("COM9");
    d.ComboBaudrate->setCurrentText("4800");
    d.ComboParity->setCurrentText("Odd");
    d.EditDevAddr->setText(addressText);
    d.EditQueryInterval->setText(intervalText);
    bool hiddenAtBox = false;
    rig.Dialogs.OnBox = [&](const TScriptedDialogs::TBox&) { hiddenAtBox = !d.isVisible(); };
    d.ButtonOk->click();
    QVERIFY(!d.isVisible());
    QCOMPARE(d.result(), int(QDialog::Accepted));
    if (refused) {
        QCOMPARE(rig.Dialogs.Boxes.size(), std::size_t(1));
        QCOMPARE(rig.Dialogs.Boxes[0].Caption, QString("Prompt"));
        QCOMPARE(rig.Dialogs.Boxes[0].Text, QString("Invalid device address"));
        QCOMPARE(rig.Dialogs.Boxes[0].Icon, IDialogs::Information);
        QCOMPARE(rig.Dialogs.Boxes[0].Buttons, IDialogs::Ok);
        QVERIFY(hiddenAtBox);
        QCOMPARE(int(rig.Modbus().PortNum()), 1);
        QCOMPARE(rig.Modbus().Baudrate(), 19200);
        QCOMPARE(rig.Modbus().Parity(), TParity::None);
        QCOMPARE(rig.Modbus().QueryInterval(), 1000);
        QCOMPARE(int(rig.Link->DeviceAddress()), 1);
        return;
    }
    QVERIFY(rig.Dialogs.Boxes.empty());
    QCOMPARE(int(rig.Modbus().PortNum()), 9);
    QCOMPARE(rig.Modbus().Baudrate(), 4800);
    QCOMPARE(rig.Modbus().Parity(), TParity::Odd);
    QCOMPARE(rig.Modbus().StopBits(), TStopBits::_1);
    QCOMPARE(rig.Modbus().QueryInterval(), interval);
    QCOMPARE(int(rig.Link->DeviceAddress()), address);
}

void TestConnection::okAppliesWhatIsShown_data() {
    QTest::addColumn<TStored>("stored");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("baud");
    QTest::addColumn<TParity>("parity");
    QTest::addColumn<TStopBits>("stopBits");
    QTest::newRow("port 200 becomes 1")
        << TStored{{"PortNum", "200"}} << 1 << 19200 << TParity::None << TStopBits::_1;
    QTest::newRow("115200 becomes 1200") << TStored{{"PortNum", "2"}, {"Baudrate", "115200"}} << 2
                                         << 1200 << TParity::None << TStopBits::_1;
    QTest::newRow("mark becomes even with one stop bit")
        << TStored{{"PortNum", "2"}, {"Baudrate", "9600"}, {"QueryInterval", "500"},
                   {"DevAddr", "1"}, {"Parity", "3"},      {"StopBits", "2"}}
        << 2 << 9600 << TParity::Even << TStopBits::_1;
}

void TestConnection::okAppliesWhatIsShown() {
    QFETCH(TStored, stored);
    QFETCH(int, port);
    QFETCH(int, baud);
    QFETCH(TParity, parity);
    QFETCH(TStopBits, stopBits);
    Store(stored);
    TRig rig;
    rig.Dialog->show();
    rig.Dialog->ButtonOk->click();
    QCOMPARE(int(rig.Modbus().PortNum()), port);
    QCOMPARE(rig.Modbus().Baudrate(), baud);
    QCOMPARE(rig.Modbus().Parity(), parity);
    QCOMPARE(rig.Modbus().StopBits(), stopBits);
}

void TestConnection::okParityChoices_data() {
    QTest::addColumn<int>("entry");
    QTest::addColumn<TParity>("parity");
    QTest::addColumn<TStopBits>("stopBits");
    QTest::newRow("Even") << 0 << TParity::Even << TStopBits::_1;
    QTest::newRow("Odd") << 1 << TParity::Odd << TStopBits::_1;
    QTest::newRow("None2") << 2 << TParity::None << TStopBits::_2;
    QTest::newRow("None1") << 3 << TParity::None << TStopBits::_1;
    QTest::newRow("no entry: unchanged") << -1 << TParity::Mark << TStopBits::_1_5;
}

void TestConnection::okParityChoices() {
    QFETCH(int, entry);
    QFETCH(TParity, parity);
    QFETCH(TStopBits, stopBits);
    TRig rig;
    rig.Modbus().SetParity(TParity::Mark);
    rig.Modbus().SetStopBits(TStopBits::_1_5);
    rig.Dialog->show();
    rig.Dialog->ComboParity->setCurrentIndex(entry);
    rig.Dialog->ButtonOk->click();
    QCOMPARE(rig.Modbus().Parity(), parity);
    QCOMPARE(rig.Modbus().StopBits(), stopBits);
}

void TestConnection::cancelAppliesNothing() {
    TRig rig;
    TFormConnection& d = *rig.Dialog;
    d.show();
    d.ComboPortName->setCurrentText("COM5");
    d.ComboBaudrate->setCurrentText("2400");
    d.EditDevAddr->setText("9");
    d.EditQueryInterval->setText("100");
    d.ButtonCancel->click();
    QVERIFY(!d.isVisible());
    QCOMPARE(d.result(), int(QDialog::Rejected));
    QCOMPARE(int(rig.Modbus().PortNum()), 1);
    QCOMPARE(rig.Modbus().Baudrate(), 19200);
    QCOMPARE(rig.Modbus().QueryInterval(), 500);
    QCOMPARE(int(rig.Link->DeviceAddress()), 1);
    // The next showing forgets what was typed.
    d.show();
    QCOMPARE(d.EditDevAddr->text(), QString("1"));
    QCOMPARE(d.ComboPortName->currentText(), QString("COM1"));
    d.hide();
}

void TestConnection::sameAddressKeepsStatistics() {
    TRig rig;
    rig.Link->SetDeviceAddress(5);
    rig.Link->ModbusSendData(rig.Modbus(), std::string("\x05\x03\x14\x00\x00\x15", 6));
    QCOMPARE(rig.Link->SentCount(), 1u);
    rig.Shell.Panels[0] = "Real-Time Metering @ 5";
    rig.Dialog->show();
    rig.Dialog->EditDevAddr->setText("5");
    rig.Dialog->ButtonOk->click();
    QCOMPARE(rig.Link->SentCount(), 1u);
    QCOMPARE(rig.Shell.AddressRefreshes, 0);
    QCOMPARE(rig.Shell.Panels[0], QString("Real-Time Metering @ 5"));
}

void TestConnection::newAddressRestartsStatistics() {
    TRig rig;
    rig.Link->ModbusSendData(rig.Modbus(), std::string("\x01\x03\x14\x00\x00\x15", 6));
    rig.Link->ModbusResponseError(rig.Modbus());
    QVERIFY(rig.Link->SentCount() > 0);
    rig.Dialog->show();
    rig.Dialog->EditDevAddr->setText("12");
    rig.Dialog->ButtonOk->click();
    QCOMPARE(int(rig.Link->DeviceAddress()), 12);
    QCOMPARE(rig.Link->SentCount(), 0u);
    QCOMPARE(rig.Link->ErrorCount(), 0u);
    QCOMPARE(rig.Shell.AddressRefreshes, 1);
}

void TestConnection::onlinePortLocked() {
    // A stored port outside the list shows as COM1; while online OK must not switch to it.
    Store({{"PortNum", "200"}});
    TRig rig;
    rig.Link->SetState(TConnectionState::Online);
    rig.Dialog->show();
    QVERIFY(!rig.Dialog->ComboPortName->isEnabled());
    QCOMPARE(rig.Dialog->ComboPortName->currentText(), QString("COM1"));
    rig.Dialog->ComboBaudrate->setCurrentText("9600");
    rig.Dialog->ButtonOk->click();
    QCOMPARE(int(rig.Modbus().PortNum()), 200);
    QCOMPARE(rig.Modbus().Baudrate(), 9600);
}

void TestConnection::portLockedUntilDisconnected_data() {
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("disconnecting");
    QTest::addColumn<int>("port");
    QTest::newRow("offline") << false << false << 4;
    QTest::newRow("online") << true << false << 1;
    // The query in progress has not been answered yet: the cycle still runs on the port.
    QTest::newRow("disconnect finishing") << true << true << 1;
}

void TestConnection::portLockedUntilDisconnected() {
    QFETCH(bool, connected);
    QFETCH(bool, disconnecting);
    TRig rig;
    if (connected)
        rig.Link->SetState(disconnecting ? TConnectionState::Disconnecting
                                         : TConnectionState::Online);
    rig.Dialog->show();
    QCOMPARE(rig.Dialog->ComboPortName->isEnabled(), !connected);
    rig.Dialog->ComboPortName->setCurrentText("COM4");
    rig.Dialog->ButtonOk->click();
    QTEST(int(rig.Modbus().PortNum()), "port");
}

void TestConnection::settingsWriteWhileOpen_data() {
    // The dialog shows address 1, 19200 and None1; while it is open the meter confirms a
    // settings write of address 5, 9600 and Even, which the link adopts.
    QTest::addColumn<QString>("typedAddress"); // empty: left as shown
    QTest::addColumn<QString>("chosenBaud");
    QTest::addColumn<QString>("chosenParity");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("baud");
    QTest::addColumn<TParity>("parity");
    QTest::newRow("nothing touched") << ""
                                     << ""
                                     << "" << 5 << 9600 << TParity::Even;
    QTest::newRow("address typed") << "7"
                                   << ""
                                   << "" << 7 << 9600 << TParity::Even;
    QTest::newRow("baud rate chosen") << ""
                                      << "4800"
                                      << "" << 5 << 4800 << TParity::Even;
    QTest::newRow("parity chosen") << ""
                                   << ""
                                   << "Odd" << 5 << 9600 << TParity::Odd;
    QTest::newRow("the old values chosen again") << "1"
                                                 << "19200"
                                                 << "None1" << 5 << 9600 << TParity::Even;
}

void TestConnection::settingsWriteWhileOpen() {
    QFETCH(QString, typedAddress);
    QFETCH(QString, chosenBaud);
    QFETCH(QString, chosenParity);
    TRig rig;
    rig.Link->SetAdoptWait(0);
    rig.Link->SetState(TConnectionState::Online);
    TFormConnection& d = *rig.Dialog;
    d.show();
    if (!typedAddress.isEmpty())
        d.EditDevAddr->setText(typedAddress);
    if (!chosenBaud.isEmpty())
        d.ComboBaudrate->setCurrentText(chosenBaud);
    if (!chosenParity.isEmpty())
        d.ComboParity->setCurrentText(chosenParity);
    rig.Link->SetNewLineSettings(5, 9600, TParity::Even, TStopBits::_1);
    rig.Link->ModbusF10Response(rig.Modbus(), 1, 0x1100, 13);
    QCOMPARE(int(rig.Link->DeviceAddress()), 5);
    d.ButtonOk->click();
    QVERIFY(rig.Dialogs.Boxes.empty());
    QTEST(int(rig.Link->DeviceAddress()), "address");
    QTEST(rig.Modbus().Baudrate(), "baud");
    QTEST(rig.Modbus().Parity(), "parity");
    QCOMPARE(rig.Modbus().StopBits(), TStopBits::_1);
}

void TestConnection::upDownSteps_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("delta");
    QTest::addColumn<QString>("result");
    QTest::newRow("up") << "5" << 1 << "6";
    QTest::newRow("down") << "5" << -1 << "4";
    QTest::newRow("247 wraps to 1") << "247" << 1 << "1";
    QTest::newRow("1 wraps to 247") << "1" << -1 << "247";
    // A number outside 1-247 lands on the nearer end, whichever arrow.
    QTest::newRow("0 up lands on 1") << "0" << 1 << "1";
    QTest::newRow("0 down lands on 1") << "0" << -1 << "1";
    QTest::newRow("999 up lands on 247") << "999" << 1 << "247";
    QTest::newRow("int max does not overflow") << "2147483647" << 1 << "247";
    QTest::newRow("text steps from the position") << "abc" << 1 << "2";
    // Texts OK refuses are no numbers to the arrows either.
    QTest::newRow("blank before") << " 5" << 1 << "2";
    QTest::newRow("plus sign") << "+5" << 1 << "2";
}

void TestConnection::upDownSteps() {
    QFETCH(QString, text);
    QFETCH(int, delta);
    QFETCH(QString, result);
    TRig rig;
    TFormConnection& d = *rig.Dialog;
    d.EditDevAddr->setText(text);
    // The arrow keys in the edit step like the arrows beside it.
    d.EditDevAddr->setFocus();
    QTest::keyClick(d.EditDevAddr, delta > 0 ? Qt::Key_Up : Qt::Key_Down);
    QCOMPARE(d.EditDevAddr->text(), result);
}

void TestConnection::saveWritesSixValues() {
    TRig rig;
    rig.Modbus().SetPortNum(200);
    rig.Modbus().SetBaudrate(115200);
    rig.Modbus().SetParity(TParity::Space);
    rig.Modbus().SetStopBits(TStopBits::_2);
    rig.Modbus().SetQueryInterval(60000);
    rig.Link->SetDeviceAddress(247);
    rig.Dialog->SaveSettings();
    QSettings s = shelltest::Store();
    s.beginGroup("ComPort");
    QCOMPARE(s.childKeys().size(), 6);
    QCOMPARE(s.value("PortNum").toInt(), 200);
    QCOMPARE(s.value("Baudrate").toInt(), 115200);
    QCOMPARE(s.value("Parity").toInt(), 4);
    QCOMPARE(s.value("StopBits").toInt(), 2);
    QCOMPARE(s.value("QueryInterval").toInt(), 60000);
    QCOMPARE(s.value("DevAddr").toInt(), 247);
    s.endGroup();
    // And what was saved loads back unchanged.
    TRig again;
    QCOMPARE(int(again.Modbus().PortNum()), 200);
    QCOMPARE(again.Modbus().Baudrate(), 115200);
    QCOMPARE(again.Modbus().Parity(), TParity::Space);
    QCOMPARE(again.Modbus().StopBits(), TStopBits::_2);
    QCOMPARE(again.Modbus().QueryInterval(), 60000);
    QCOMPARE(int(again.Link->DeviceAddress()), 247);
}

void TestConnection::portList_data() {
    QTest::addColumn<QList<unsigned>>("present");
    QTest::addColumn<int>("stored");
    QTest::addColumn<bool>("filtered");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("chosenEntry");
    // None reaches a device: nothing to filter for, all 128 as ever.
    QTest::newRow("none present") << QList<unsigned>{} << 5 << false << QStringList{} << 40;
    QTest::newRow("stored port present")
        << QList<unsigned>{1, 33} << 33 << true << QStringList{"COM1", "COM33"} << 0;
    QTest::newRow("stored port absent stays listed")
        << QList<unsigned>{1, 70} << 7 << true << QStringList{"COM1", "COM7", "COM70"} << 2;
    QTest::newRow("a mapped adapter")
        << QList<unsigned>{33, 42, 97} << 97 << true << QStringList{"COM33", "COM42", "COM97"} << 1;
}

// Which entries show, and the port chosen from them is the port applied, saved and shown again:
// no entry's place stands for a COM number.
void TestConnection::portList() {
    QFETCH(QList<unsigned>, present);
    QFETCH(int, stored);
    QFETCH(bool, filtered);
    QFETCH(QStringList, entries);
    QFETCH(int, chosenEntry);
    QString chosen;
    {
        TRig rig(false);
        for (unsigned com : present)
            // COM97 up only through the port map: here the adapter that is COM42 as well.
            QVERIFY(com > 96 ? MapPort(int(com), "/dev/ttyUSB9") : rig.Devices.AddPort(com));
        QVERIFY(rig.Devices.AddPort(2, false)); // a built-in node without a UART reaches nothing
        rig.Modbus().SetPortNum(std::uint16_t(stored));
        rig.Dialog->show();
        TFormConnection& d = *rig.Dialog;
        QVERIFY(rig.PresentOnly());
        QCOMPARE(rig.PresentOnly()->isChecked(), filtered);
        QCOMPARE(d.ComboPortName->currentText(), QString("COM%1").arg(stored));
        if (filtered) {
            QCOMPARE(rig.Entries(), entries);
            for (int i = 0; i < entries.size(); ++i)
                QCOMPARE(d.ComboPortName->itemData(i, Qt::FontRole).value<QFont>().bold(),
                         present.contains(entries[i].mid(3).toUInt()));
        }
        // Off: every port, the choice kept; on again: the same short list.
        rig.PresentOnly()->setChecked(false);
        QCOMPARE(rig.Entries().size(), 128);
        QCOMPARE(rig.Entries().last(), QString("COM128"));
        QCOMPARE(d.ComboPortName->currentText(), QString("COM%1").arg(stored));
        rig.PresentOnly()->setChecked(filtered);
        d.ComboPortName->setCurrentIndex(chosenEntry);
        chosen = d.ComboPortName->currentText();
        d.ButtonOkClick();
        QCOMPARE(QString("COM%1").arg(rig.Modbus().PortNum()), chosen);
        d.SaveSettings();
        UnmapPort(97);
    }
    TRig again(false);
    again.Dialog->show();
    QCOMPARE(again.Dialog->ComboPortName->currentText(), chosen);
    QCOMPARE(QString("COM%1").arg(again.Modbus().PortNum()), chosen);
}

void TestConnection::okOnAPortThatReachesNothing_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("reaches"); // "device", "nothing" or "simulator"
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("kept");
    QTest::newRow("reaches a device") << 33 << "device" << int(IDialogs::ResultNo) << false << true;
    QTest::newRow("reaches nothing, Yes")
        << 9 << "nothing" << int(IDialogs::ResultYes) << true << true;
    QTest::newRow("reaches nothing, No")
        << 9 << "nothing" << int(IDialogs::ResultNo) << true << false;
    QTest::newRow("the simulator's mapping")
        << 12 << "simulator" << int(IDialogs::ResultNo) << false << true;
}

void TestConnection::okOnAPortThatReachesNothing() {
    QFETCH(int, port);
    QFETCH(QString, reaches);
    QFETCH(int, answer);
    QFETCH(bool, asked);
    QFETCH(bool, kept);
    TRig rig(false);
    const QString note = TestPortMapDir() + QString("/COM%1.simulator").arg(port);
    if (reaches == "device")
        QVERIFY(rig.Devices.AddPort(unsigned(port)));
    if (reaches == "simulator") {
        // The simulator's terminal is not in the fake root: only its note makes it count.
        QVERIFY(MapPort(port, "/dev/pts/4242"));
        QFile f(note);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("/dev/pts/4242\n");
    }
    rig.Modbus().SetPortNum(3);
    rig.Dialogs.Answers.push_back(IDialogs::TResult(answer));
    TFormConnection& d = *rig.Dialog;
    d.show();
    QVERIFY(rig.PresentOnly());
    rig.PresentOnly()->setChecked(false);
    d.ComboPortName->setCurrentText(QString("COM%1").arg(port));
    d.ButtonOk->click();
    UnmapPort(port);
    QFile::remove(note);

    QCOMPARE(int(rig.Dialogs.Boxes.size()), asked ? 1 : 0);
    if (asked) {
        QCOMPARE(rig.Dialogs.Boxes[0].Buttons, IDialogs::YesNo);
        QCOMPARE(rig.Dialogs.Boxes[0].Icon, IDialogs::Question);
        QVERIFY2(rig.Dialogs.Boxes[0].Text.startsWith(QString("COM%1 reaches no device").arg(port)),
                 qPrintable(rig.Dialogs.Boxes[0].Text));
        QVERIFY2(rig.Dialogs.Boxes[0].Text.endsWith("anyway?"),
                 qPrintable(rig.Dialogs.Boxes[0].Text));
    }
    // Kept: applied and closed; not: back in the dialog as it was, nothing applied.
    QCOMPARE(int(rig.Modbus().PortNum()), kept ? port : 3);
    QCOMPARE(d.isVisible(), !kept);
    QCOMPARE(d.result(), kept ? int(QDialog::Accepted) : int(QDialog::Rejected));
    QCOMPARE(d.ComboPortName->currentText(), QString("COM%1").arg(port));
}

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
