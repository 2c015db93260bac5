// The Connection Settings dialog's fields: plain labels placed by hand, and the entries of the
// parity list, each a parity with its stop bits.
#pragma once

#include "serial/Comm.h"

#include <QString>

#include <optional>

class QLabel;
class QWidget;
class TFormModbus;

// Entries of the parity list.
enum TParityEntry { ParityEven, ParityOdd, ParityNone2, ParityNone1 };

// The whole text as a decimal integer, or nothing.
std::optional<int> IntegerOf(const QString& text);
QLabel* MakeLabel(const char* text, int left, int top, QWidget* parent);
// The entry that shows a parity with its stop bits; Even for any the list has no entry for.
int ParityEntryOf(TParity parity, TStopBits stopBits);
// The master's parity and stop bits from an entry; no entry changes neither.
void ApplyParityEntry(TFormModbus& modbus, int entry);
