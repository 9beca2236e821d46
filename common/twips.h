#pragma once

#include <QRect>

namespace lumira {

// Twips per screen pixel, horizontally and vertically (15 at 96 DPI, 10 at 144 DPI).
struct TwipsFactors {
    float x = 15.0f;
    float y = 15.0f;
};

// The display window reaches this far beyond its browser, to the right and below.
inline constexpr float kWindowMarginTwips = 20.0f;

// A pixel value in twips, computed in double and kept as single precision.
inline float toTwips(double pixels, float factor) {
    return static_cast<float>(pixels * factor);
}

// Twips handed to the window system as whole device pixels (nearest, halves away from zero).
int toPixels(float twips, float factor);

// A designed rectangle in twips (left, top, width, height) on this screen, in device pixels.
QRect twipsRect(int left, int top, int width, int height, TwipsFactors factors);

// A window's layout table in twips: at(left, top, width, height) is the control's rectangle in
// device pixels on this screen.
struct TwipsLayout {
    TwipsFactors factors;
    QRect operator()(int left, int top, int width, int height) const {
        return twipsRect(left, top, width, height, factors);
    }
};

// What the X window system can take for a window: signed 16-bit coordinates and sizes from
// 0 to 32767 pixels.
bool isPlaceableCoordinate(double pixels);
bool isPlaceableExtent(double pixels);
double clampCoordinate(double pixels);
double clampExtent(double pixels);

} // namespace lumira
