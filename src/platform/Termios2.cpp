#include "platform/Termios2.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>

namespace {

struct TRate {
    std::uint32_t Bps;
    unsigned Code;
};
constexpr TRate kRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

} // namespace

static_assert(sizeof(TTermState{}.Cc) == sizeof(termios2{}.c_cc));

int ReadTermState(int fd, TTermState& state) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) {
        return errno;
    }
    state.Iflag = t.c_iflag;
    state.Oflag = t.c_oflag;
    state.Cflag = t.c_cflag & ~static_cast<std::uint32_t>(CBAUD | (CBAUD << IBSHIFT));
    state.Lflag = t.c_lflag;
    state.Line = t.c_line;
    std::memcpy(state.Cc.data(), t.c_cc, sizeof t.c_cc);
    state.Speed = t.c_ospeed;
    return 0;
}

int WriteTermState(int fd, const TTermState& state) {
    // Every field is set below, so the current state need not be read first.
    termios2 t{};
    t.c_iflag = state.Iflag;
    t.c_oflag = state.Oflag;
    t.c_lflag = state.Lflag;
    t.c_line = state.Line;
    std::memcpy(t.c_cc, state.Cc.data(), sizeof t.c_cc);
    unsigned code = BOTHER;
    for (const TRate& r : kRates) {
        if (r.Bps == state.Speed) {
            code = r.Code;
            break;
        }
    }
    // The input speed field left 0 means "same as output".
    t.c_cflag = (state.Cflag & ~static_cast<std::uint32_t>(CBAUD | (CBAUD << IBSHIFT))) | code;
    t.c_ispeed = state.Speed;
    t.c_ospeed = state.Speed;
    if (ioctl(fd, TCSETS2, &t) != 0) {
        return errno;
    }
    return 0;
}
