#include "FrameAssembler.h"

#include "Crc16.h"

namespace kt580sim {

namespace {

// Length on the wire of the request starting at bytes[0]: Known with its length, NeedMore
// when the length field has not arrived yet, Unknown for function codes without a rule.
struct TExpectedLength {
    enum TKind { Known, NeedMore, Unknown } Kind;
    std::size_t Length;
};

TExpectedLength ExpectedRequestLength(std::string_view bytes) {
    if (bytes.size() < 2) {
        return {TExpectedLength::NeedMore, 0};
    }
    const auto at = [&](std::size_t i) { return static_cast<uint8_t>(bytes[i]); };
    switch (at(1)) {
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x08:
        return {TExpectedLength::Known, 8};
    case 0x07:
    case 0x0B:
    case 0x0C:
    case 0x11:
        return {TExpectedLength::Known, 4};
    case 0x0F:
    case 0x10:
        if (bytes.size() < 7) {
            return {TExpectedLength::NeedMore, 0};
        }
        return {TExpectedLength::Known, 9 + std::size_t(at(6))};
    case 0x16:
        return {TExpectedLength::Known, 10};
    case 0x17:
        if (bytes.size() < 11) {
            return {TExpectedLength::NeedMore, 0};
        }
        return {TExpectedLength::Known, 13 + std::size_t(at(10))};
    default:
        return {TExpectedLength::Unknown, 0};
    }
}

} // namespace

void TFrameAssembler::DropFront(std::size_t count) {
    FBuffer.erase(0, count);
    FDiscarded += count;
}

std::optional<std::string> TFrameAssembler::TakeLaterFrame() {
    for (std::size_t k = 1; k + 4 <= FBuffer.size(); ++k) {
        const std::string_view rest = std::string_view(FBuffer).substr(k);
        const TExpectedLength expected = ExpectedRequestLength(rest);
        if (expected.Kind == TExpectedLength::Known && expected.Length <= rest.size() &&
            CrcMatches(rest, expected.Length)) {
            DropFront(k);
            std::string frame = FBuffer.substr(0, expected.Length);
            FBuffer.erase(0, expected.Length);
            return frame;
        }
    }
    // Bounds the work per byte when garbage streams in without a pause.
    if (FBuffer.size() > MaxFrameLength) {
        DropFront(FBuffer.size() - MaxFrameLength);
    }
    return std::nullopt;
}

std::optional<std::string> TFrameAssembler::Next(bool silence) {
    for (;;) {
        if (FBuffer.size() < 4) {
            // Shorter than any frame: wait, or at a silence it is garbage.
            if (silence) {
                DropFront(FBuffer.size());
            }
            return std::nullopt;
        }
        const TExpectedLength expected = ExpectedRequestLength(FBuffer);
        if (expected.Kind == TExpectedLength::Known) {
            if (FBuffer.size() < expected.Length) {
                if (!silence) {
                    // The head may be garbage that only looks like a long frame.
                    return TakeLaterFrame();
                }
                DropFront(1);
                continue;
            }
            if (CrcMatches(FBuffer, expected.Length)) {
                std::string frame = FBuffer.substr(0, expected.Length);
                FBuffer.erase(0, expected.Length);
                return frame;
            }
            // A bad check: the frame may begin further on (noise ahead of a request).
            DropFront(1);
            continue;
        }
        if (!silence) {
            return TakeLaterFrame();
        }
        if (expected.Kind == TExpectedLength::Unknown && CrcMatches(FBuffer, FBuffer.size())) {
            std::string frame;
            frame.swap(FBuffer);
            return frame;
        }
        DropFront(1);
    }
}

} // namespace kt580sim
