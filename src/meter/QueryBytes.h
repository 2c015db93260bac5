// Register values to the byte fields of a query text: each register is two bytes,
// high byte first, every byte preceded by its comma.
#pragma once

#include <cstdint>
#include <string>

// The low 16 bits of v: ",HH,LL".
std::string WordToQueryBytes(int64_t v);
// The low 32 bits of v as two registers, the low word first (it goes to the lower
// register address): ",LH,LL,HH,HL".
std::string DWordToQueryBytes(int64_t v);
