#pragma once

#include "common/twips.h"

#include <QRect>

class Form1;

namespace lumira {

// Puts the display window and its browser at a rectangle given in pixels: window top and
// left, browser height and width, then the window sized to the browser as it reports itself
// plus the 20-twip margin. Values the window system cannot take are brought into its range.
void placeDisplay(Form1& display, double left, double top, double width, double height,
                  TwipsFactors factors);

// Where the page shows, in device pixels: the display window's client origin, the browser's
// size.
QRect pageRect(Form1& display);

} // namespace lumira
