// Register addresses of the meter and the shape of its settings blocks.
#pragma once

#include <cstdint>

namespace kt580sim::reg {

constexpr uint16_t Settings1100 = 0x1100; // 13 registers
constexpr uint16_t Password = 0x1100;
constexpr uint16_t Address = 0x1101;
constexpr uint16_t Baudrate = 0x1102;
constexpr uint16_t Parity = 0x1103;
constexpr uint16_t Wiring = 0x1104;
constexpr uint16_t PT1Low = 0x1105;
constexpr uint16_t PT1High = 0x1106;
constexpr uint16_t PT2 = 0x1107;
constexpr uint16_t CT1 = 0x1108;
constexpr uint16_t CT2 = 0x1109;
constexpr uint16_t QMode = 0x110A;
constexpr uint16_t Backlight = 0x110B;
constexpr uint16_t LoadConvention = 0x110C;
constexpr uint16_t EnergyReset = 0x110D; // command register, extended layout only
constexpr uint16_t EnergyResetValue = 10;

constexpr uint16_t Settings1200 = 0x1200; // 8 registers
constexpr uint16_t ROType = 0x1200;
constexpr uint16_t DOType = 0x1201;
constexpr uint16_t PulseConst = 0x1202;
constexpr uint16_t Alarm1Channel = 0x1203;
constexpr uint16_t Alarm1Setpoint = 0x1204;
constexpr uint16_t Alarm1Delay = 0x1205;
constexpr uint16_t Alarm1Operator = 0x1206;
constexpr uint16_t Alarm1Output = 0x1207;
constexpr uint16_t Settings1208 = 0x1208; // 2 registers, extended layout only
constexpr uint16_t DO1Output = 0x1208;
constexpr uint16_t DO2Output = 0x1209;
constexpr uint16_t Settings120A = 0x120A; // 5 registers, relay alarm layout only
constexpr uint16_t Alarm2Channel = 0x120A;
constexpr uint16_t Alarm2Setpoint = 0x120B;
constexpr uint16_t Alarm2Delay = 0x120C;
constexpr uint16_t Alarm2Operator = 0x120D;
constexpr uint16_t Alarm2Output = 0x120E;

constexpr uint16_t Settings1300 = 0x1300; // 12 registers: AO1 at +0, AO2 at +6
constexpr uint16_t AOObject = 0;
constexpr uint16_t AOMode = 1;
constexpr uint16_t AOHighLimit = 2;
constexpr uint16_t AOLowLimit = 3;
constexpr uint16_t AOHighSign = 4;
constexpr uint16_t AOLowSign = 5;

constexpr uint16_t Energy = 0x1180; // 6 counters of two registers, low word first
constexpr int EnergyCounters = 6;
constexpr int BasicEnergyCounters = 2;

constexpr uint16_t Measurement = 0x1400; // 21 registers
constexpr int MeasurementCount = 21;

constexpr uint16_t Identity = 0xF000; // 9 registers = 18 characters
constexpr int IdentityCount = 9;
constexpr uint16_t SerialNumber = 0xF040; // 16 registers = 32 characters
constexpr int SerialNumberCount = 16;
constexpr uint16_t AOType = 0xF106;

constexpr int RelayCoils = 2;
constexpr int DigitalInputs = 6;

} // namespace kt580sim::reg
