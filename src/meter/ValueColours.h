// The colours of values and states on the pages, chosen by the lightness of the background:
// blue values, red ON, green OFF and grey for values no longer current, each a tint of its hue
// (darker on a light background, lighter on a dark one) with a contrast of at least 4.5:1
// against that background.
#pragma once

struct TRgb {
    int R = 0;
    int G = 0;
    int B = 0;
    bool operator==(const TRgb&) const = default;
};

// Relative luminance and contrast ratio as the WCAG 2 define them (1 to 21).
double RelativeLuminance(const TRgb& c);
double ContrastRatio(const TRgb& a, const TRgb& b);

struct TValueColours {
    TRgb Value; // measurement values and the Device Information fields
    TRgb On;    // a relay or input that is on
    TRgb Off;   // one that is off
    TRgb Stale; // a value or state whose last read failed: shown, but no longer current
    bool operator==(const TValueColours&) const = default;
};

// A background counts as dark where white text on it reads better than black.
bool IsDarkBackground(const TRgb& background);
TValueColours ValueColoursFor(const TRgb& background);

// The hue itself where it reads against the background with at least 4.5:1; otherwise mixed
// with white on a dark background (with black on a light one) just until it does.
TRgb ReadableOn(const TRgb& hue, const TRgb& background);
