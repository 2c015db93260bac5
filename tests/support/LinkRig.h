// The meter link as the main window builds it: the window's side of it as plain fields a test
// sets and reads, and dialogs the test answers. A test's rig adds the pages it needs, hands them
// to Link.SetViews and takes them back (SetViews with none) before they go.
#pragma once

#include "link/frmModbus.h"
#include "support/FakeShell.h"
#include "support/LinkTestAccess.h"
#include "support/ScriptedDialogs.h"

#include <QString>
#include <QtTest>

#include <span>
#include <string>
#include <vector>

struct TLinkRig {
    TFakeShell Shell;
    TScriptedDialogs Dialogs;
    TFormModbus Link{Shell, Dialogs};
};

// Drives the link's metering rotation one query per step: "a" the query is answered (every
// register word, relay 1 ON and relay 2 OFF, inputs 2, 4 and 6 ON), "x" it ends without an
// answer, "m" another device address is set, "f" polling stops.
inline void RunMeteringScript(TFormModbus& link, const QString& script, std::uint16_t word) {
    const std::vector<std::uint16_t> words(21, word);
    const bool relays[2] = {true, false};
    const bool inputs[6] = {false, true, false, true, false, true};
    for (const QString& step : script.split(u' ', Qt::SkipEmptyParts)) {
        if (step == QLatin1String("m")) {
            link.SetDeviceAddress(link.DeviceAddress() == 1 ? 2 : 1);
            continue;
        }
        if (step == QLatin1String("f")) {
            link.ModbusQueryFinish(TLinkTestAccess::Master(link));
            continue;
        }
        std::string query;
        link.ModbusQueryData(TLinkTestAccess::Master(link), query);
        const auto block = MeteringBlockOfQuery(query);
        QVERIFY2(block, query.c_str());
        if (step == QLatin1String("a")) {
            switch (*block) {
            case TMeteringBlock::Measurement:
                link.ModbusF03Response(TLinkTestAccess::Master(link), 1, 0x1400, words);
                break;
            case TMeteringBlock::Energy:
                link.ModbusF03Response(TLinkTestAccess::Master(link), 1, 0x1180,
                                       std::span(words).first(4));
                break;
            case TMeteringBlock::Relays:
                link.ModbusF01Response(TLinkTestAccess::Master(link), 1, 0, relays);
                break;
            case TMeteringBlock::Inputs:
                link.ModbusF02Response(TLinkTestAccess::Master(link), 1, 0, inputs);
                break;
            }
        }
        link.ModbusAfterResponse(TLinkTestAccess::Master(link));
    }
}
