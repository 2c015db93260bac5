// Cuts the received byte stream into request frames. A frame is complete as soon as the
// length its function code implies has arrived with a valid check, also when garbage is
// ahead of it; a 3.5-character
// silence resolves whatever is left (frames of unknown length, garbage), so no byte
// sequence can wedge the meter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kt580sim {

// The longest request frame Modbus allows; more bytes than this without a frame are garbage.
constexpr std::size_t MaxFrameLength = 256;

class TFrameAssembler {
public:
    void Feed(const std::string& bytes) { FBuffer += bytes; }

    // The next frame with a valid check, or nothing yet. With `silence` (the line has been
    // quiet for 3.5 characters) bytes that cannot begin a frame are dropped one at a time
    // until a frame is found, and a frame of unknown length ends with the buffer.
    std::optional<std::string> Next(bool silence);

    bool Empty() const { return FBuffer.empty(); }
    uint64_t DiscardedBytes() const { return FDiscarded; }

private:
    void DropFront(std::size_t count);
    // A complete frame with a valid check further on, behind bytes that cannot end yet;
    // the check makes a false find as unlikely as a corrupted frame passing it.
    std::optional<std::string> TakeLaterFrame();

    std::string FBuffer;
    uint64_t FDiscarded = 0;
};

} // namespace kt580sim
