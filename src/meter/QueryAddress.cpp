#include "meter/QueryAddress.h"

std::string WithAddress(const std::string& text, std::uint8_t address) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() > 2 ? text.size() : 2);
    out.push_back(Digits[address >> 4]);
    out.push_back(Digits[address & 0x0F]);
    if (text.size() > 2)
        out.append(text, 2, std::string::npos);
    return out;
}
