#pragma once

#include <string>

namespace lumira {

// From section Options of lumira.ini.
struct CoverOptions {
    std::string offlinePage;   // OfflinePage: a picture file, in the program folder or absolute
    int staleAfterMinutes = 0; // StaleAfter: a kept frame's age limit, 0: none
};

// What the sign's rectangle shows while the page itself may not: during a load until its page
// has painted, after a failure, in dark hours. The cover lies over the browser view and shows
// the last good frame (a picture of the page taken while it showed fine), the offline picture
// or black; the view itself is shown only once the current load has painted. Times are seconds
// on a monotonic clock.
class CoverState {
public:
    enum class Face {
        Page,      // the cover is down: the view shows
        KeptFrame, // the last good frame
        Offline,   // the OfflinePage picture, black when there is none
        Black,
    };

    // `staleAfterSeconds`: a kept frame older than that is no longer shown; 0: never.
    explicit CoverState(double staleAfterSeconds) : staleAfter_(staleAfterSeconds) {}

    // A main-frame load has started: the cover goes up until its page has painted.
    void loadStarted();
    // The load has ended well (main document and every part of it).
    void loadSucceeded();
    // The page's document has painted two frames, seen at `now`; `sinceLoadStarted`: it did so
    // after the load started (before, it may be the document the load replaces, which counts
    // only once the load has ended well and the document is certainly the load's own).
    // `newView`: the renderer was replaced since the page last showed (crash, end, another
    // site), and the view that shows its frames is new.
    void painted(double now, bool sinceLoadStarted, bool newView = false);
    // The load failed, timed out, or its renderer ended: the cover stays up until a later load
    // has painted.
    void failed();
    // The view drew, at `now`, after the page made the frame that holds its first paint: the
    // page is on screen (the engine's frames reach the view some time after the page made
    // them, half a second when a renderer was replaced).
    void viewRendered(double now);
    // A picture of the showing page was taken at `now`; it replaces the one kept before.
    void frameTaken(double now);
    // Dark hours: black over everything; the kept frame is dropped, so that the page shows as
    // at start (black until it paints) when they end.
    void setDark(bool dark);

    // The current load's page is on screen: painted and drawn by the view (or painted long
    // enough ago that the view holds it anyway), and either loaded or painted long enough ago
    // that a failure of its main document would have been reported.
    bool pageShown(double now) const;
    // A load that has neither shown nor failed: the page is asked whether it has painted.
    bool waitsForPaint(double now) const;
    Face face(double now) const;
    bool hasFrame() const { return frameAt_ >= 0; }
    // The current load has ended well: the view holds its own document.
    bool hasLoaded() const { return loading_ && succeeded_; }

private:
    double staleAfter_;
    bool loading_ = false;     // a load started and has not failed
    bool succeeded_ = false;   // ... and has ended well
    double paintedAt_ = -1;    // when its page painted, -1: not yet
    bool newView_ = false;     // the painted page is drawn by a new view
    double renderedAt_ = -1;   // when the view first drew after that, -1: not yet
    double frameAt_ = -1;      // when the kept frame was taken, -1: none kept
    bool failedSince_ = false; // a failure since the page last showed, or since start
    bool dark_ = false;
};

} // namespace lumira
