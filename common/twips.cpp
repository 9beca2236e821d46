#include "common/twips.h"

#include <algorithm>
#include <cmath>

namespace lumira {

namespace {
constexpr double kMinCoordinate = -32768.0;
constexpr double kMaxCoordinate = 32767.0;
} // namespace

int toPixels(float twips, float factor) {
    const double pixels = std::round(static_cast<double>(twips) / factor);
    return static_cast<int>(std::clamp(pixels, kMinCoordinate * 2, kMaxCoordinate * 2));
}

QRect twipsRect(int left, int top, int width, int height, TwipsFactors factors) {
    return QRect(toPixels(float(left), factors.x), toPixels(float(top), factors.y),
                 toPixels(float(width), factors.x), toPixels(float(height), factors.y));
}

bool isPlaceableCoordinate(double pixels) {
    return pixels >= kMinCoordinate && pixels <= kMaxCoordinate;
}

bool isPlaceableExtent(double pixels) {
    return pixels >= 0.0 && pixels <= kMaxCoordinate;
}

double clampCoordinate(double pixels) {
    return std::clamp(pixels, kMinCoordinate, kMaxCoordinate);
}

double clampExtent(double pixels) {
    return std::clamp(pixels, 0.0, kMaxCoordinate);
}

} // namespace lumira
