#include "display/cover_state.h"

namespace lumira {

namespace {
// A main document answered with an error status has its failure reported at once; a page
// painted this long without one is showing even while a late part of it still loads.
constexpr double kFailureReportSeconds = 1.0;
// A static page may hand the view no frame after the one it painted.
constexpr double kViewDrawSeconds = 1.0;
// A replaced renderer's new view draws frames of its empty document after the page painted,
// and the page's own first frame half a second later or more: only time tells there.
constexpr double kNewViewDrawSeconds = 2.0;
} // namespace

void CoverState::loadStarted() {
    loading_ = true;
    succeeded_ = false;
    paintedAt_ = -1;
    renderedAt_ = -1;
}

void CoverState::loadSucceeded() {
    if (loading_)
        succeeded_ = true;
}

void CoverState::painted(double now, bool sinceLoadStarted, bool newView) {
    if (loading_ && paintedAt_ < 0 && (sinceLoadStarted || succeeded_)) {
        paintedAt_ = now;
        newView_ = newView;
    }
}

void CoverState::viewRendered(double now) {
    if (paintedAt_ >= 0 && renderedAt_ < 0)
        renderedAt_ = now;
}

void CoverState::failed() {
    loading_ = false;
    succeeded_ = false;
    paintedAt_ = -1;
    renderedAt_ = -1;
    failedSince_ = true;
}

void CoverState::frameTaken(double now) {
    frameAt_ = now;
    failedSince_ = false;
}

void CoverState::setDark(bool dark) {
    dark_ = dark;
    // The page was unloaded: what ends the dark hours is a new load, shown as at start.
    loading_ = false;
    succeeded_ = false;
    paintedAt_ = -1;
    renderedAt_ = -1;
    frameAt_ = -1;
    failedSince_ = false;
}

bool CoverState::pageShown(double now) const {
    if (dark_ || !loading_ || paintedAt_ < 0)
        return false;
    const bool drawn = newView_ ? now - paintedAt_ >= kNewViewDrawSeconds
                                : renderedAt_ >= 0 || now - paintedAt_ >= kViewDrawSeconds;
    return drawn && (succeeded_ || now - paintedAt_ >= kFailureReportSeconds);
}

bool CoverState::waitsForPaint(double now) const {
    return !dark_ && loading_ && !pageShown(now);
}

CoverState::Face CoverState::face(double now) const {
    if (dark_)
        return Face::Black;
    if (pageShown(now))
        return Face::Page;
    if (frameAt_ >= 0 && (staleAfter_ <= 0 || now - frameAt_ < staleAfter_))
        return Face::KeptFrame;
    // Before the first paint the sign is black; the offline picture is for a page that fails.
    return failedSince_ || frameAt_ >= 0 ? Face::Offline : Face::Black;
}

} // namespace lumira
