#include "display/placement.h"

#include "display/browser.h"
#include "display/form1.h"

namespace lumira {

void placeDisplay(Form1& display, double left, double top, double width, double height,
                  TwipsFactors factors) {
    display.setTop(toTwips(clampCoordinate(top), factors.y));
    display.setLeft(toTwips(clampCoordinate(left), factors.x));
    display.wb1().setHeight(toTwips(clampExtent(height), factors.y));
    display.wb1().setWidth(toTwips(clampExtent(width), factors.x));
    display.setHeight(display.wb1().Height() + kWindowMarginTwips);
    display.setWidth(display.wb1().Width() + kWindowMarginTwips);
}

QRect pageRect(Form1& display) {
    const TwipsFactors factors = display.factors();
    return QRect(display.placedGeometry().topLeft(),
                 QSize(qRound(display.wb1().Width() / factors.x),
                       qRound(display.wb1().Height() / factors.y)));
}

} // namespace lumira
