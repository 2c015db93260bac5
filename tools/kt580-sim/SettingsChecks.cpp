#include "SettingsChecks.h"

#include "Registers.h"

#include <algorithm>

namespace kt580sim {

namespace {

struct TRange {
    uint32_t Min;
    uint32_t Max;
};

// Number of entries of each choice list; a choice register holds an index into its list.
constexpr uint32_t AlarmChannels = 19;
constexpr uint32_t AOChannels = 17;

bool InBlock(uint16_t reg, uint16_t start, int count) {
    return reg >= start && reg < start + count;
}

// The range of a register of the analog output block (two outputs of six registers).
bool AnalogOutputRange(uint16_t reg, TRange& range) {
    using namespace reg;
    if (!InBlock(reg, Settings1300, 12)) {
        return false;
    }
    switch ((reg - Settings1300) % 6) {
    case AOObject:
        range = {0, AOChannels - 1};
        return true;
    case AOHighLimit:
    case AOLowLimit:
        range = {0, 120};
        return true;
    default: // AOMode, the signs
        range = {0, 1};
        return true;
    }
}

// The range of a plain register, or nothing for the registers checked specially
// (baud rate, CT2, PT1, setpoints).
bool PlainRange(uint16_t reg, TLayout layout, TRange& range) {
    using namespace reg;
    switch (reg) {
    case Address:
        range = {1, 247};
        return true;
    case Parity:
        range = {0, 3};
        return true;
    case Wiring:
        range = {0, layout.Extended ? 4U : 2U};
        return true;
    case PT2:
        range = {50, 400};
        return true;
    case Password:
        range = {0, 9999};
        return true;
    case CT1:
        range = {1, 9999};
        return true;
    case Backlight:
        range = {0, 120};
        return true;
    case PulseConst:
        range = {800, 60000};
        return true;
    case Alarm1Channel:
    case Alarm2Channel:
        range = {0, AlarmChannels - 1};
        return true;
    case Alarm1Delay:
    case Alarm2Delay:
        range = {0, 255};
        return true;
    // One alarm driving "RO1", "RO2" or both; with an alarm per relay it is "Latch" or "Momentary".
    case Alarm1Output:
        range = {0, layout.RelayAlarm ? 1U : 2U};
        return true;
    case ROType:
    case DO1Output:
    case DO2Output:
        range = {0, 2};
        return true;
    case QMode:
    case LoadConvention:
    case DOType:
    case Alarm1Operator:
    case Alarm2Operator:
    case Alarm2Output:
        range = {0, 1};
        return true;
    default:
        return AnalogOutputRange(reg, range);
    }
}

std::string Hex(uint16_t reg) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 12; shift >= 0; shift -= 4) {
        text.push_back(digits[(reg >> shift) & 0xF]);
    }
    return text;
}

} // namespace

const std::vector<uint32_t>& SupportedBaudrates(TLayout layout) {
    static const std::vector<uint32_t> all = {1200, 2400, 4800, 9600, 19200, 38400, 57600};
    static const std::vector<uint32_t> basic = {1200, 2400, 4800, 9600, 19200};
    return layout.Extended ? all : basic;
}

namespace {

bool IsSettingsRegister(uint16_t reg, TLayout layout) {
    return InBlock(reg, reg::Settings1100, 13) || InBlock(reg, reg::Settings1200, 8) ||
           (layout.Extended && InBlock(reg, reg::Settings1208, 2)) ||
           (layout.RelayAlarm && InBlock(reg, reg::Settings120A, 5)) ||
           InBlock(reg, reg::Settings1300, 12);
}

} // namespace

TSettingsImage DefaultSettings(TLayout layout, uint8_t address, uint32_t baudrate,
                               TMeterParity parity) {
    using namespace reg;
    TSettingsImage image;
    for (uint16_t start : {Settings1100, Settings1200, Settings1300}) {
        for (uint16_t r = start; r < start + 0x10; ++r) {
            if (IsSettingsRegister(r, layout)) {
                image[r] = 0;
            }
        }
    }
    image[Address] = address;
    image[Baudrate] = static_cast<uint16_t>(baudrate);
    image[Parity] = static_cast<uint16_t>(parity);
    image[PT1Low] = 400;
    image[PT2] = 400;
    image[CT1] = 5;
    image[CT2] = 5;
    image[Backlight] = 3;
    image[PulseConst] = 800;
    for (uint16_t ao : {uint16_t(Settings1300), uint16_t(Settings1300 + 6)}) {
        image[ao + AOHighLimit] = 100;
    }
    image[Settings1300 + 6 + AOObject] = 6; // AO2 follows phase A current
    return image;
}

uint32_t PT1Of(const TSettingsImage& image) {
    const auto low = image.find(reg::PT1Low);
    const auto high = image.find(reg::PT1High);
    const uint32_t lo = low == image.end() ? 0 : low->second;
    const uint32_t hi = high == image.end() ? 0 : high->second;
    return lo | (hi << 16);
}

std::string CheckSettings(const TSettingsImage& image, const std::vector<uint16_t>& touched,
                          TLayout layout) {
    for (uint16_t r : touched) {
        const auto it = image.find(r);
        if (it == image.end()) {
            return "register " + Hex(r) + " does not exist";
        }
        const uint32_t value = it->second;
        TRange range{};
        if (r == reg::Baudrate) {
            const auto& rates = SupportedBaudrates(layout);
            if (std::find(rates.begin(), rates.end(), value) == rates.end()) {
                return "baud rate " + std::to_string(value) + " is not offered";
            }
        } else if (r == reg::CT2) {
            if (value != 1 && value != 5) {
                return "CT2 " + std::to_string(value) + " is neither 1 nor 5";
            }
        } else if (r == reg::PT1Low || r == reg::PT1High) {
            const uint32_t pt1 = PT1Of(image);
            if (pt1 < 50 || pt1 > 500000) {
                return "PT1 " + std::to_string(pt1) + " is outside 50..500000";
            }
        } else if (PlainRange(r, layout, range)) {
            if (value < range.Min || value > range.Max) {
                return "register " + Hex(r) + " value " + std::to_string(value) + " is outside " +
                       std::to_string(range.Min) + ".." + std::to_string(range.Max);
            }
        }
        // Alarm setpoints take any 16-bit value: their scale depends on the channel.
    }
    return {};
}

} // namespace kt580sim
