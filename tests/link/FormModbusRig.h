// The meter link on a fake shell with the three pages as plain recorders: the rig of the link's
// tests, fast and against the simulator.
#pragma once

#include "support/FakeShell.h"
#include "support/LinkTestAccess.h"
#include "support/MeterRecords.h"
#include "support/ScriptedDialogs.h"
#include "support/SimMeter.h"

#include "link/frmModbus.h"
#include "meter/SettingsBlocks.h"
#include "support/VirtualClock.h"

#include <QLocale>
#include <QtTest>

#include <map>

Q_DECLARE_METATYPE(TPage)

namespace formmodbustest {

class TFakeMetering : public IMeteringView {
public:
    void SetMeasurementText(int index, const QString& text) override { Measurement[index] = text; }
    void SetEnergyText(int index, const QString& text) override { Energy[index] = text; }
    void SetRelayState(int index, bool on) override { Relays[index] = on; }
    void SetInputState(int index, bool on) override { Inputs[index] = on; }
    void ShowExtendedEnergy(bool shown) override { ExtendedShown = shown; }
    void SetCommandsEnabled(bool enabled) override { Enabled = enabled; }

    std::map<int, QString> Measurement;
    std::map<int, QString> Energy;
    std::map<int, bool> Relays;
    std::map<int, bool> Inputs;
    bool ExtendedShown = true;
    bool Enabled = true;
};

class TFakeDeviceInfo : public IDeviceInfoView {
public:
    void SetFieldText(TField field, const QString& text) override { Fields[field] = text; }
    std::map<TField, QString> Fields;
};

class TFakeSettingsView : public ISettingsView {
public:
    TMeterSettings Settings() const override { return Record; }
    void SetSettings(const TMeterSettings& settings) override {
        Record = settings;
        ++SetCalls;
    }
    void ShowLayout(const TPageAdaptation& layout) override {
        ShortLists = layout.ShortenLists;
        DOHidden = layout.HideDOEnergyOutputs;
        RelayAlarmHidden = layout.HideRelayAlarmGroup;
    }
    void SetUpdateEnabled(bool enabled) override { UpdateEnabled = enabled; }

    TMeterSettings Record;
    int SetCalls = 0;
    bool ShortLists = false;
    bool DOHidden = false;
    bool RelayAlarmHidden = false;
    bool UpdateEnabled = true;
};

// One link with its fakes, on a clock that only records its waits. The tests against the
// simulator poll on the real clock.
struct TRig {
    enum TTime { Virtual, Real };
    explicit TRig(TTime time = Virtual) {
        Link.SetViews(&Metering, &DeviceInfo, &Settings);
        if (time == Virtual)
            TLinkTestAccess::Master(Link).SetClock(Clock);
    }
    QString Next() {
        std::string text;
        Link.ModbusQueryData(TLinkTestAccess::Master(Link), text);
        return text == std::string(1, '\0') ? QStringLiteral("<null>")
                                            : QString::fromStdString(text);
    }
    QStringList Next(int n) {
        QStringList out;
        for (int i = 0; i < n; ++i)
            out << Next();
        return out;
    }
    void F03(std::uint16_t start, std::vector<std::uint16_t> values) {
        Link.ModbusF03Response(TLinkTestAccess::Master(Link), 1, start, values);
    }

    TVirtualClock Clock;
    TFakeShell Shell;
    TScriptedDialogs Dialogs;
    TFormModbus Link{Shell, Dialogs};
    // Connected unless a test says otherwise.
    bool Online = (Link.SetState(TConnectionState::Online), true);
    TFakeMetering Metering;
    TFakeDeviceInfo DeviceInfo;
    TFakeSettingsView Settings;
};

inline std::vector<std::uint16_t> IdentityRegs(const QByteArray& version) {
    const QByteArray text =
        QByteArray("ED80") + "1.00" + version.leftJustified(4, '\0', true) + "160121";
    return TextRegisters(text, 9);
}

// Block 0x1100 with the given transformer settings (PT1, PT2, CT1, CT2).
inline std::vector<std::uint16_t> GeneralBlock(int pt1, int pt2, int ct1, int ct2) {
    return {0,
            1,
            4,
            3,
            0,
            std::uint16_t(pt1 & 0xFFFF),
            std::uint16_t(pt1 >> 16),
            std::uint16_t(pt2),
            std::uint16_t(ct1),
            std::uint16_t(ct2),
            1,
            7,
            1};
}

inline QStringList Strings(const std::vector<std::string>& list) {
    QStringList out;
    for (const auto& s : list)
        out << QString::fromStdString(s);
    return out;
}

// A write of settings block 0x1100 as the settings page builds it.
inline std::string GeneralWrite(const QString& address, const QString& baud, int parity) {
    TMeterSettings s = ExampleGeneral();
    s.Address = address;
    s.Baudrate = baud;
    s.Parity = parity;
    return EncodeSettingsBlock(sbGeneral, s, false, TScaling{});
}

// Answers the query of this turn as the meter at its address would: its measurement words all
// ten times its address, its serial number "SN" and the address; then ends the query.
inline void AnswerTurn(TRig& r, const QString& query) {
    TKrModbus& master = TLinkTestAccess::Master(r.Link);
    const QStringList bytes = query.split(',');
    if (bytes.size() < 6) {
        r.Link.ModbusAfterResponse(master);
        return;
    }
    const int address = bytes[0].toInt(nullptr, 16);
    const auto start =
        std::uint16_t(bytes[2].toInt(nullptr, 16) << 8 | bytes[3].toInt(nullptr, 16));
    const int count = bytes[4].toInt(nullptr, 16) << 8 | bytes[5].toInt(nullptr, 16);
    const auto slave = std::uint8_t(address);
    if (bytes[1] == "01" || bytes[1] == "02") {
        const std::vector<char> bits(std::size_t(count), 1);
        const std::span<const bool> on(reinterpret_cast<const bool*>(bits.data()), bits.size());
        if (bytes[1] == "01")
            r.Link.ModbusF01Response(master, slave, start, on);
        else
            r.Link.ModbusF02Response(master, slave, start, on);
    } else if (start == 0xF000) {
        r.Link.ModbusF03Response(master, slave, start, IdentityRegs("3.20"));
    } else if (start == 0xF040) {
        r.Link.ModbusF03Response(master, slave, start,
                                 TextRegisters("SN" + QByteArray::number(address), 16));
    } else if (start == 0x1100) {
        r.Link.ModbusF03Response(master, slave, start, GeneralBlock(100, 100, 5, 5));
    } else {
        const std::vector<std::uint16_t> words(std::size_t(count), std::uint16_t(10 * address));
        r.Link.ModbusF03Response(master, slave, start, words);
    }
    r.Link.ModbusAfterResponse(master);
}

// The queries of `turns` turns, one every `stepMs` on the rig's clock, each answered.
inline QStringList AnsweredTurns(TRig& r, int turns, int stepMs) {
    QStringList sent;
    for (int i = 0; i < turns; ++i) {
        const QString query = r.Next();
        sent << query;
        AnswerTurn(r, query);
        r.Clock.Advance(stepMs);
    }
    return sent;
}

} // namespace formmodbustest

using namespace formmodbustest;
