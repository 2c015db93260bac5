#include "meter/QueryBytes.h"

namespace {

void AppendByte(std::string& out, unsigned byte) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    out.push_back(',');
    out.push_back(Hex[(byte >> 4) & 0xF]);
    out.push_back(Hex[byte & 0xF]);
}

} // namespace

std::string WordToQueryBytes(int64_t v) {
    const auto word = static_cast<uint16_t>(static_cast<uint64_t>(v) & 0xFFFF);
    std::string out;
    out.reserve(6);
    AppendByte(out, word >> 8);
    AppendByte(out, word & 0xFF);
    return out;
}

std::string DWordToQueryBytes(int64_t v) {
    const auto dword = static_cast<uint32_t>(static_cast<uint64_t>(v) & 0xFFFFFFFF);
    return WordToQueryBytes(dword & 0xFFFF) + WordToQueryBytes(dword >> 16);
}
