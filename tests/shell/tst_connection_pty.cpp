// The Connection Settings dialog while the port is open: a pseudo-terminal mapped as a COM port
// takes the baud rate applied online.
#include "shell/frmConnection.h"
#include "support/ProgramRig.h"
#include "support/ShellTestKit.h"

#include <QComboBox>
#include <QPushButton>
#include <QtTest>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

using namespace shelltest;

namespace {

using TRig = TConnectionRig;

} // namespace

class TestConnectionPty : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void onlineBaudRateAppliedToOpenPort();
};

void TestConnectionPty::initTestCase() {
    QVERIFY2(PrivateConfig(), "XDG_CONFIG_HOME must point at a private folder");
}

void TestConnectionPty::init() {
    ClearStore();
}

void TestConnectionPty::onlineBaudRateAppliedToOpenPort() {
    int master = -1, slave = -1;
    char name[256] = {};
    QCOMPARE(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ::close(slave);
    QVERIFY(MapPort(90, QString::fromLocal8Bit(name)));
    TRig rig;
    rig.Modbus().SetPortNum(90);
    QVERIFY(rig.Modbus().Open());
    rig.Link->SetState(TConnectionState::Online);
    rig.Dialog->show();
    rig.Dialog->ComboBaudrate->setCurrentText("9600");
    rig.Dialog->ButtonOk->click();
    QVERIFY(rig.Modbus().Opened());
    QCOMPARE(int(rig.Modbus().PortNum()), 90);
    termios t{};
    QCOMPARE(::tcgetattr(master, &t), 0);
    QCOMPARE(::cfgetospeed(&t), speed_t(B9600));
    rig.Modbus().Close();
    ::close(master);
    UnmapPort(90);
}

QTEST_MAIN(TestConnectionPty)
#include "tst_connection_pty.moc"
