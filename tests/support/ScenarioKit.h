// The whole program as an operator runs it: the real main window with its link, pages and
// master, the meter simulator on a pseudo-terminal mapped as COM1 in the test's private
// configuration folder, message boxes, input boxes and file names answered through the dialogs
// seam, and waits shrunk so that a scenario takes seconds.
#pragma once

#include "link/frmModbus.h"
#include "platform/PortInfo.h"
#include "shell/frmConnection.h"
#include "shell/frmMain.h"
#include "support/FakeDeviceRoot.h"
#include "support/ProgramRig.h"
#include "support/ScriptedDialogs.h"
#include "support/ShellTestKit.h"
#include "support/SimMeter.h"

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
        // Every port of the fixed table and every target of the port map made so far reaches a
        // device, so OK in Connection Settings asks nothing; the simulator counts by its note.
        for (unsigned com = 1; com <= 96; ++com)
            Devices.AddPort(com);
        for (const auto& [com, target] : ReadPortMap(TestPortMapDir().toStdString()))
            Devices.AddNode(QString::fromStdString(target));
        W = std::make_unique<TFormKT580>(Dialogs);
        W->FormConnection().DeviceRoot = Devices.Root();
        W->SetConnectWait(0);
        Link().SetAdoptWait(0);
        Modbus().WatchSent([this](const std::string& d) { Sent << QueryText(d); });
        Modbus().WatchReads([this](std::uint16_t start, std::span<const std::uint16_t> values) {
            ++Reads[start];
            if (start == 0x1400)
                LastMeasurement.assign(values.begin(), values.end());
        });
    }

    TFakeDeviceRoot Devices;
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
    TMaster Modbus() { return Master(W->FormModbus()); }

    // Shows the window; the connection dialog comes up by itself, shows the stored values, gets
    // the scan interval typed in (and whatever edit adds) and is closed with OK.
    bool Start(const QString& interval = "20",
               const std::function<void(TFormConnection&)>& edit = {}) {
        TConnectionAnswer answer(*W, [&](TFormConnection& d) {
            Shown = {d.ComboPortName->currentText(), d.ComboBaudrate->currentText(),
                     d.ComboParity->currentText(), d.EditDevAddr->text(),
                     d.EditQueryInterval->text()};
            d.EditQueryInterval->setText(interval);
            if (edit)
                edit(d);
        });
        W->show();
        return QTest::qWaitForWindowExposed(W.get()) && answer.Wait(Wait);
    }

    // Shows the window and cancels the connection dialog that comes up after it.
    bool ShowAndDismiss() {
        TModalWatcher watcher([](QWidget* modal) { modal->close(); });
        W->show();
        return QTest::qWaitFor(
            [&] { return watcher.Seen > 0 && !QApplication::activeModalWidget(); }, Wait);
    }

    // Connect from the tool bar; true when the program went online without a box.
    bool Connect() {
        const std::size_t boxes = Dialogs.Boxes.size();
        if (!W->StartConnect()->isEnabled())
            return false;
        W->StartConnect()->trigger();
        return W->FormModbus().State() != TConnectionState::Offline &&
               Dialogs.Boxes.size() == boxes;
    }

    // Disconnect from the tool bar; true once the port is closed and Connect is enabled again.
    bool Disconnect() {
        if (!W->StartDisconnect()->isEnabled())
            return false;
        W->StartDisconnect()->trigger();
        return QTest::qWaitFor(
            [&] {
                return W->FormModbus().State() == TConnectionState::Offline && !Modbus().Opened() &&
                       W->StartConnect()->isEnabled();
            },
            Wait);
    }

    // Closes the window as the operator does with Exit: the connection values are saved.
    void Exit() { W->StartExit()->trigger(); }

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
// decimals it shows. Returns what disagrees, empty when all agree; with emptyAllowed a label
// that shows nothing agrees as well.
inline QString MeasurementMismatch(const TProgram& p, double pt, double ct,
                                   bool emptyAllowed = false) {
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
        if (emptyAllowed && text.isEmpty())
            continue;
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

} // namespace scenario
