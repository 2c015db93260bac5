#include "shell/ConnectionFields.h"

#include "link/frmModbus.h"
#include "meter/ConvertError.h"
#include "meter/ValueParse.h"

#include <QLabel>

std::optional<int> IntegerOf(const QString& text) {
    try {
        return PlainInteger(text);
    } catch (const EConvertError&) {
        return std::nullopt;
    }
}

QLabel* MakeLabel(const char* text, int left, int top, QWidget* parent) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setTextFormat(Qt::PlainText);
    label->move(left, top);
    label->adjustSize();
    return label;
}

int ParityEntryOf(TParity parity, TStopBits stopBits) {
    if (parity == TParity::None && stopBits == TStopBits::_1)
        return ParityNone1;
    if (parity == TParity::None && stopBits == TStopBits::_2)
        return ParityNone2;
    if (parity == TParity::Odd && stopBits == TStopBits::_1)
        return ParityOdd;
    return ParityEven;
}

void ApplyParityEntry(TFormModbus& modbus, int entry) {
    switch (entry) {
    case ParityEven:
        modbus.SetParity(TParity::Even);
        modbus.SetStopBits(TStopBits::_1);
        break;
    case ParityOdd:
        modbus.SetParity(TParity::Odd);
        modbus.SetStopBits(TStopBits::_1);
        break;
    case ParityNone2:
        modbus.SetParity(TParity::None);
        modbus.SetStopBits(TStopBits::_2);
        break;
    case ParityNone1:
        modbus.SetParity(TParity::None);
        modbus.SetStopBits(TStopBits::_1);
        break;
    default:
        break;
    }
}
