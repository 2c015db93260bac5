// Every query text starts with a placeholder address; the device address is put in its place
// just before the text goes to the master.
#pragma once

#include <cstdint>
#include <string>

// The text with its first two characters replaced by the address as two upper-case hex
// digits ("00,03,14,00,00,15" with 10 gives "0A,03,14,00,00,15").
std::string WithAddress(const std::string& text, std::uint8_t address);
