// The kernel's termios2 calls, which take any bit rate (BOTHER) where the classic
// interface knows only the B constants. Kept apart: its headers clash with <termios.h>.
#pragma once

#include "platform/TermState.h"

// Both return 0 or the errno of the failing ioctl.
int ReadTermState(int fd, TTermState& state);
int WriteTermState(int fd, const TTermState& state);
