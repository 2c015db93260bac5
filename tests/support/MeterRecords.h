// The meter's records as the tests use them: settings records with known values and the text
// QCOMPARE shows for a settings record; register blocks made from texts come with them
// (MeterRegisters.h).
#pragma once

#include "meter/MeterSettings.h"
#include "support/MeterRegisters.h"

#include <QByteArray>
#include <QString>
#include <QTest>

#include <cstdint>
#include <initializer_list>
#include <vector>

// Lets QCOMPARE show the fields of two differing settings records.
inline char* toString(const TMeterSettings& s) {
    QByteArray out;
    for (const TSettingsField& field : MeterSettingsFields()) {
        out += field.Name;
        out += '=';
        out += field.Text ? "\"" + (s.*field.Text).toUtf8() + "\""
                          : QByteArray::number(s.*field.Choice);
        out += ' ';
    }
    return qstrdup(out.constData());
}

// Known values of each settings block, every other field as in a new record; the settings
// tests hold the write vectors they encode to.
inline TMeterSettings ExampleGeneral() { // 0x1100
    TMeterSettings s;
    s.Password = "0";
    s.Address = "1";
    s.Baudrate = "9600";
    s.Parity = 3;
    s.VoltageWiring = 0;
    s.PT1 = "400";
    s.PT2 = "400";
    s.CT1 = "5";
    s.CT2 = "5";
    s.QMode = 0;
    s.BacklightTime = "0";
    s.LoadConvention = 0;
    return s;
}

inline TMeterSettings ExampleAlarm() { // 0x1200, single alarm layout
    TMeterSettings s;
    s.ROType = 2;
    s.DOType = 0;
    s.DOPulseConst = "800";
    s.AlarmItems = 1;
    s.AlarmSetpoint = "230";
    s.AlarmDelay = "5";
    s.AlarmOperator = 1;
    s.AlarmOutput = 2;
    return s;
}

inline TMeterSettings ExampleRelay1() { // 0x1200, relay alarm layout
    TMeterSettings s;
    s.RO1AlarmItems = 0;
    s.RO1AlarmSetpoint = "";
    s.RO1AlarmDelay = "7";
    s.RO1AlarmOperator = 0;
    s.RO1AlarmOutput = 1;
    return s;
}

inline TMeterSettings ExampleRelay2() { // 0x120A
    TMeterSettings s;
    s.RO2AlarmItems = 13;
    s.RO2AlarmSetpoint = "-5";
    s.RO2AlarmDelay = "10";
    s.RO2AlarmOperator = 0;
    s.RO2AlarmOutput = 1;
    return s;
}

inline TMeterSettings ExampleDigital() { // 0x1208
    TMeterSettings s;
    s.DO1Output = 1;
    s.DO2Output = 2;
    return s;
}

inline TMeterSettings ExampleAnalog() { // 0x1300
    TMeterSettings s;
    s.AO1Object = 0;
    s.AO1Mode = 1;
    s.AO1HighLimit = "100 %";
    s.AO1LowLimit = "0";
    s.AO1HLOpt = 0;
    s.AO1LLOpt = 1;
    s.AO2Object = 6;
    s.AO2Mode = 0;
    s.AO2HighLimit = "120";
    s.AO2LowLimit = "20";
    s.AO2HLOpt = 1;
    s.AO2LLOpt = 0;
    return s;
}

// The fields of each part that differ from a new record's, later parts winning.
inline TMeterSettings MergedSettings(std::initializer_list<TMeterSettings> parts) {
    const TMeterSettings fresh;
    TMeterSettings out;
    for (const TMeterSettings& part : parts)
        for (const TSettingsField& f : MeterSettingsFields()) {
            if (f.Text && part.*f.Text != fresh.*f.Text)
                out.*f.Text = part.*f.Text;
            if (f.Choice && part.*f.Choice != fresh.*f.Choice)
                out.*f.Choice = part.*f.Choice;
        }
    return out;
}

// A record every block of which encodes: the examples of all blocks together.
inline TMeterSettings ExampleSettings() {
    return MergedSettings({ExampleGeneral(), ExampleAlarm(), ExampleRelay1(), ExampleRelay2(),
                           ExampleDigital(), ExampleAnalog()});
}

// Every field its own value, different from a new record's; the choices stay inside the lists
// of the full layout, so the settings page can show them all.
inline TMeterSettings DistinctSettings() {
    TMeterSettings s;
    int n = 0;
    for (const TSettingsField& f : MeterSettingsFields()) {
        ++n;
        if (f.Text)
            s.*f.Text = QStringLiteral("t%1 x").arg(n);
        else
            s.*f.Choice = 1;
    }
    s.Baudrate = "57600";
    s.Parity = 2;
    s.VoltageWiring = 4;
    s.ROType = 2;
    s.AlarmItems = 18;
    s.RO2AlarmItems = 7;
    s.AO2Object = 16;
    return s;
}
