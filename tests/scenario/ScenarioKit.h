// The whole program as an operator runs it: the real main window with its link, pages and
// master, the meter simulator on a pseudo-terminal mapped as COM1 in the test's private
// configuration folder, message boxes, input boxes and file names answered through the dialogs
// seam, and waits shrunk so that a scenario takes seconds.
#pragma once

#include "link/ScriptedDialogs.h"
#include "link/SimProcess.h"
#include "link/frmModbus.h"
#include "shell/ShellTestKit.h"
#include "shell/frmConnection.h"
#include "shell/frmMain.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace scenario {

using namespace shelltest;

// Generous for a loaded machine or a sanitizer build; a condition met earlier ends the wait.
constexpr int Wait = 20000;

inline QString SimBinary() {
    return Bin("tools/kt580-sim/kt580-sim");
}

// COM1 is the simulator's or nobody's: with no entry at all the port name would fall back to
// the machine's first serial port.
inline void GuardCom1() {
    MapPort(1, "/nonexistent/kt580-no-meter");
}

// A frame as the simulator's request log gives it: the query text without its CRC.
inline QString QueryText(const std::string& frame) {
    QStringList bytes;
    for (std::size_t i = 0; i + 2 < frame.size(); ++i)
        bytes
            << QString("%1").arg(static_cast<unsigned char>(frame[i]), 2, 16, QChar('0')).toUpper();
    return bytes.join(',');
}

// What the connection dialog showed when it came up.
struct TDialogShown {
    QString Port, Baud, Parity, Address, Interval;
};

// The main window as the program entry creates it, with the connect wait and the wait after a
// line change shrunk, and every frame the master writes recorded.
class TProgram {
public:
    TProgram() {
        W = std::make_unique<TFormKT580>(Dialogs);
        W->SetConnectWait(0);
        Link().SetAdoptWait(0);
        auto forward = Modbus().OnSendData;
        Modbus().OnSendData = [this, forward](TKrPolling& s, const std::string& d) {
            Sent << QueryText(d);
            forward(s, d);
        };
        auto f03 = Modbus().OnF03Response;
        Modbus().OnF03Response = [this, f03](TKrModbus& s, std::uint8_t slave, std::uint16_t start,
                                             std::span<const std::uint16_t> values) {
            f03(s, slave, start, values);
            ++Reads[start];
            if (start == 0x1400)
                LastMeasurement.assign(values.begin(), values.end());
        };
    }

    TScriptedDialogs Dialogs;
    std::unique_ptr<TFormKT580> W;
    // Every frame written to the line, as query texts, in order.
    QStringList Sent;
    // The connection dialog as it came up at start.
    TDialogShown Shown;
    // Register reads answered and handled by the link, by start address; the raw values of the
    // last measurement block, which the labels show now.
    QMap<std::uint16_t, int> Reads;
    std::vector<std::uint16_t> LastMeasurement;

    TFormModbus& Link() { return W->FormModbus(); }
    TKrModbus& Modbus() { return W->FormModbus().Modbus; }

    // Shows the window; the connection dialog comes up by itself, shows the stored values, gets
    // the scan interval typed in (and whatever edit adds) and is closed with OK.
    bool Start(const QString& interval = "20",
               const std::function<void(TFormConnection&)>& edit = {}) {
        bool answered = false;
        TModalWatcher watcher([&](QWidget* modal) {
            TFormConnection& d = W->FormConnection();
            if (modal != &d || answered) {
                modal->close();
                return;
            }
            Shown = {d.ComboPortName->currentText(), d.ComboBaudrate->currentText(),
                     d.ComboParity->currentText(), d.EditDevAddr->text(),
                     d.EditQueryInterval->text()};
            d.EditQueryInterval->setText(interval);
            if (edit)
                edit(d);
            answered = true;
            d.ButtonOk->click();
        });
        W->show();
        return QTest::qWaitForWindowExposed(W.get()) &&
               QTest::qWaitFor([&] { return answered && !QApplication::activeModalWidget(); },
                               Wait);
    }

    // Connect from the tool bar; true when the program went online without a box.
    bool Connect() {
        const std::size_t boxes = Dialogs.Boxes.size();
        if (!W->StartConnect->isEnabled())
            return false;
        W->StartConnect->trigger();
        return W->Connected() && Dialogs.Boxes.size() == boxes;
    }

    // Disconnect from the tool bar; true once the port is closed and Connect is enabled again.
    bool Disconnect() {
        if (!W->StartDisconnect->isEnabled())
            return false;
        W->StartDisconnect->trigger();
        return QTest::qWaitFor(
            [&] { return !W->Connected() && !Modbus().Opened() && W->StartConnect->isEnabled(); },
            Wait);
    }

    // Closes the window as the operator does with Exit: the connection values are saved.
    void Exit() { W->StartExit->trigger(); }

    template <typename T = QWidget> T* On(QWidget* page, const QString& name) const {
        return page->findChild<T*>(name);
    }
    QLabel* Metering(const QString& name) const { return On<QLabel>(W->FormRTMetering(), name); }
    QString MeteringText(const QString& name) const {
        const QLabel* label = Metering(name);
        return label ? label->text() : QStringLiteral("<no %1>").arg(name);
    }
    template <typename T = QWidget> T* Settings(const QString& name) const {
        return On<T>(W->FormGeneralSettings(), name);
    }
    QString SettingsText(const QString& name) const {
        const auto* edit = Settings<QLineEdit>(name);
        return edit ? edit->text() : QStringLiteral("<no %1>").arg(name);
    }

    // A click of the operator's mouse on a control of the page shown; a disabled or hidden
    // control ignores it, as on the screen.
    static void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center()); }

    // Status bar panels 1 to 3.
    QString Tx() const { return W->StatusText(1); }
    QString Rx() const { return W->StatusText(2); }
    QString Statistics() const { return W->StatusText(3); }
};

// The meter: kt580-sim with the given software version, starting from a memory in a state file
// of the test's own, logging every request. The members are set up in this order: the file is
// written before the simulator reads it.
struct TMeter {
    TMeter(const QString& version, const QByteArray& memory, const QStringList& extra = {})
        : Written(Write(StatePath, memory)),
          Sim(QStringList{"--version-text", version, "--state", StatePath} + extra) {}

    bool Started() const { return Written && !Sim.Path().isEmpty(); }
    QMap<QString, QString> State() const { return Sim.State(); }

    QTemporaryDir Dir;
    const QString StatePath = Dir.filePath("meter.state");
    const bool Written;
    TSimProcess Sim;

private:
    static bool Write(const QString& path, const QByteArray& memory) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(memory) == memory.size();
    }
};

// The measurement labels in register order, 0x1400 to 0x1414.
inline const QStringList MeasurementLabels = {
    "LabelVa",   "LabelVb", "LabelVc",    "LabelVab",   "LabelVbc",  "LabelVca",  "LabelIa",
    "LabelIb",   "LabelIc", "LabelVnavg", "LabelVlavg", "LabelIavg", "LabelPsum", "LabelQsum",
    "LabelSsum", "LabelF",  "LabelPFavg", "LabelRT",    "LabelAO1",  "LabelAO2",  "LabelIn"};

// The four import/export energy labels and their captions, which a basic-layout meter lacks.
inline const QStringList ExtendedEnergyLabels = {"LabelEp_imp", "LabelEp_exp", "LabelEq_imp",
                                                 "LabelEq_exp", "Label3",      "Label4",
                                                 "Label9",      "Label10"};

// Checks every numeric measurement label against the raw register it shows, worked out here
// from the meter's units (tenths of a volt, milliamperes, watts, hundredths of a hertz,
// thousandths) and the PT and CT ratios: the label may differ only by the rounding of the
// decimals it shows. Returns what disagrees, empty when all agree.
inline QString MeasurementMismatch(const TProgram& p, double pt, double ct) {
    const std::vector<std::uint16_t>& raw = p.LastMeasurement;
    if (raw.size() < 21)
        return QStringLiteral("no measurement block read");
    const auto s16 = [](std::uint16_t v) { return double(std::int16_t(v)); };
    // Register offset -> expected value; the load type (17) is a letter, not a number.
    QMap<int, double> expected;
    for (int i : {0, 1, 2, 3, 4, 5, 9, 10})
        expected[i] = raw[i] / 10.0 * pt;
    for (int i : {6, 7, 8, 11, 20})
        expected[i] = raw[i] / 1000.0 * ct;
    expected[12] = s16(raw[12]) / 1000.0 * pt * ct;
    expected[13] = s16(raw[13]) / 1000.0 * pt * ct;
    expected[14] = raw[14] / 1000.0 * pt * ct;
    expected[15] = raw[15] / 100.0;
    expected[16] = s16(raw[16]) / 1000.0;
    expected[18] = raw[18] / 1000.0;
    expected[19] = raw[19] / 1000.0;
    QStringList wrong;
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        const QString text = p.MeteringText(MeasurementLabels[it.key()]);
        bool ok = false;
        const QString number = text.section(' ', 0, 0);
        const double shown = number.toDouble(&ok);
        const qsizetype point = number.indexOf('.');
        const int decimals = point < 0 ? 0 : int(number.size() - point - 1);
        const double tolerance = 0.5 * std::pow(10.0, -decimals) + 1e-9;
        if (!ok || std::abs(shown - it.value()) > tolerance)
            wrong << QStringLiteral("%1 '%2' expected %3")
                         .arg(MeasurementLabels[it.key()], text)
                         .arg(it.value());
    }
    if (p.MeteringText("LabelRT") != QString(QChar(raw[17] & 0xFF)))
        wrong << "LabelRT '" + p.MeteringText("LabelRT") + "'";
    return wrong.join("; ");
}

// The number on a label with a unit ("924.0 V" -> 924), or nothing.
inline std::optional<double> Number(const QString& text) {
    bool ok = false;
    const double v = text.section(' ', 0, 0).toDouble(&ok);
    return ok ? std::optional<double>(v) : std::nullopt;
}

// The settings registers of a state file, by register number.
inline QMap<int, int> Registers(const QMap<QString, QString>& state) {
    QMap<int, int> regs;
    for (auto it = state.begin(); it != state.end(); ++it)
        if (it.key().startsWith("reg."))
            regs.insert(it.key().mid(4).toInt(nullptr, 16), it.value().toInt());
    return regs;
}

// A meter memory with values of its own in the settings registers, valid for every layout:
// PT 400/100 and CT 50/5 (ratios 4 and 10), wiring 2LL, alarms set on relay 1 and relay 2.
inline QByteArray MeterMemory(const QByteArray& energyAndRelays = {}) {
    return "reg.1100=1234\nreg.1101=1\nreg.1102=19200\nreg.1103=3\nreg.1104=2\n"
           "reg.1105=400\nreg.1106=0\nreg.1107=100\nreg.1108=50\nreg.1109=5\nreg.110a=1\n"
           "reg.110b=7\nreg.110c=1\n"
           "reg.1200=1\nreg.1201=1\nreg.1202=1000\nreg.1203=1\nreg.1204=2300\nreg.1205=5\n"
           "reg.1206=1\nreg.1207=1\nreg.1208=1\nreg.1209=2\n"
           "reg.120a=7\nreg.120b=4000\nreg.120c=9\nreg.120d=0\nreg.120e=1\n"
           "reg.1300=3\nreg.1301=1\nreg.1302=100\nreg.1303=20\nreg.1304=0\nreg.1305=1\n"
           "reg.1306=6\nreg.1307=0\nreg.1308=120\nreg.1309=0\nreg.130a=1\nreg.130b=0\n" +
           energyAndRelays;
}

} // namespace scenario
