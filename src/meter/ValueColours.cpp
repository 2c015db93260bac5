#include "meter/ValueColours.h"

#include <algorithm>
#include <cmath>

namespace {

double Channel(int value) {
    const double c = std::clamp(value, 0, 255) / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

constexpr double Wanted = 4.5;

} // namespace

double RelativeLuminance(const TRgb& c) {
    return 0.2126 * Channel(c.R) + 0.7152 * Channel(c.G) + 0.0722 * Channel(c.B);
}

double ContrastRatio(const TRgb& a, const TRgb& b) {
    const double la = RelativeLuminance(a);
    const double lb = RelativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TRgb ReadableOn(const TRgb& hue, const TRgb& background) {
    // Towards white on a dark background, towards black on a light one; that end at worst.
    const int end = IsDarkBackground(background) ? 255 : 0;
    for (int step = 0; step <= 20; ++step) {
        const double w = step / 20.0;
        const auto mix = [w, end](int c) {
            return static_cast<int>(std::lround(c + (end - c) * w));
        };
        const TRgb c{mix(hue.R), mix(hue.G), mix(hue.B)};
        if (ContrastRatio(c, background) >= Wanted)
            return c;
    }
    return TRgb{end, end, end};
}

bool IsDarkBackground(const TRgb& background) {
    // Where white and black text read equally well: (1.05)/(L+0.05) == (L+0.05)/0.05.
    return RelativeLuminance(background) < std::sqrt(1.05 * 0.05) - 0.05;
}

TValueColours ValueColoursFor(const TRgb& background) {
    // Pure blue already reads on light backgrounds; on dark ones it starts from a lighter sky
    // blue, since pure blue mixed with white turns lilac first.
    const bool dark = IsDarkBackground(background);
    const TRgb blue = dark ? TRgb{64, 156, 255} : TRgb{0, 0, 255};
    // Stale values are neutral grey, set apart from the window text by being paler than it.
    return {ReadableOn(blue, background), ReadableOn(TRgb{255, 0, 0}, background),
            ReadableOn(TRgb{0, 255, 0}, background), ReadableOn(TRgb{128, 128, 128}, background)};
}
