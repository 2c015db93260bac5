#include "platform/TermState.h"

#include <termios.h>

namespace {

// Raw mode always: no line editing, translation or echo, and a line that ignores the modem's
// carrier and is not hung up on close.
void MakeRaw(TTermState& n) {
    n.Iflag &=
        ~static_cast<std::uint32_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR |
                                    IGNCR | ICRNL | IXON | IXOFF | IXANY | IMAXBEL | IUCLC);
    n.Oflag &= ~static_cast<std::uint32_t>(OPOST);
    n.Lflag &= ~static_cast<std::uint32_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN |
                                           NOFLSH | TOSTOP);
    n.Cflag &= ~static_cast<std::uint32_t>(CSIZE | PARENB | PARODD | CMSPAR | CRTSCTS | HUPCL);
    n.Cflag |= CLOCAL | CREAD;
}

// Data bits and parity of a character; false when the stop bits cannot be had.
bool MapCharacter(const TLineSettings& s, TTermState& n) {
    static constexpr std::uint32_t sizes[] = {CS5, CS6, CS7, CS8};
    n.Cflag |= sizes[static_cast<unsigned>(s.ByteSize) & 3u];

    switch (s.Parity) {
    case TParity::None:
        break;
    case TParity::Odd:
        n.Cflag |= PARENB | PARODD;
        break;
    case TParity::Even:
        n.Cflag |= PARENB;
        break;
    case TParity::Mark:
        n.Cflag |= PARENB | PARODD | CMSPAR;
        break;
    case TParity::Space:
        n.Cflag |= PARENB | CMSPAR;
        break;
    }
    // There is no 1.5 on this driver: the stop bits stay as they were.
    if (s.StopBits == TStopBits::_1_5) {
        return false;
    }
    n.Cflag &= ~static_cast<std::uint32_t>(CSTOPB);
    if (s.StopBits == TStopBits::_2) {
        n.Cflag |= CSTOPB;
    }
    return true;
}

void MapChecksAndFlow(const TLineSettings& s, TTermState& n) {
    if (s.ParityCheck) {
        n.Iflag |= INPCK;
        // The reader turns marked bytes into ReplacedChar; without replacement a bad
        // byte arrives as 0, as the line discipline delivers it.
        if (s.ReplaceWhenParityError) {
            n.Iflag |= PARMRK;
        }
    }
    if (s.Outx_CtsFlow || s.RtsControl == TRtsControl::RtsHandshake) {
        n.Cflag |= CRTSCTS;
    }
    if (s.Outx_XonXoffFlow) {
        n.Iflag |= IXON;
    }
    if (s.Inx_XonXoffFlow) {
        n.Iflag |= IXOFF;
    }
    n.Cc[VSTART] = static_cast<std::uint8_t>(s.XonChar);
    n.Cc[VSTOP] = static_cast<std::uint8_t>(s.XoffChar);
}

} // namespace

bool MapLineSettings(const TLineSettings& s, TTermState& t) {
    TTermState n = t;
    MakeRaw(n);
    const bool stopBitsTaken = MapCharacter(s, n);
    MapChecksAndFlow(s, n);
    // Reads never block in the driver: the reader waits with poll and times bursts itself.
    n.Cc[VMIN] = 0;
    n.Cc[VTIME] = 0;
    // 0 bit/s would hang up the line: the speed stays as it was.
    const bool speedTaken = s.BaudRate != 0;
    if (speedTaken) {
        n.Speed = s.BaudRate;
    }
    t = n;
    return stopBitsTaken && speedTaken;
}

TModemRequests MapModemLines(const TLineSettings& s) {
    TModemRequests r;
    switch (s.DtrControl) {
    case TDtrControl::DtrEnable:
        r.Dtr = TLineRequest::Raise;
        break;
    case TDtrControl::DtrDisable:
        r.Dtr = TLineRequest::Lower;
        break;
    case TDtrControl::DtrHandshake:
        break;
    }
    switch (s.RtsControl) {
    case TRtsControl::RtsEnable:
        r.Rts = TLineRequest::Raise;
        break;
    case TRtsControl::RtsDisable:
        r.Rts = TLineRequest::Lower;
        break;
    case TRtsControl::RtsHandshake:
        break;
    case TRtsControl::RtsTransmissionAvailable:
        r.RtsOnSend = true;
        break;
    }
    return r;
}
