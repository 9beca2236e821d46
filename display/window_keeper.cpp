#include "display/window_keeper.h"

#include "display/browser.h"
#include "display/form1.h"
#include "display/placement.h"
#include "platform/window_events.h"
#include "platform/window_facts.h"

#include <QApplication>
#include <cstdio>

namespace lumira {

namespace {
constexpr int kTickMs = 10000;   // a safety net: the window system's events do the work
constexpr int kGapMs = 1000;     // at most one request a second for the same disturbance
constexpr int kSettleMs = 100;   // lets a burst of changes from the window manager finish
constexpr int kForgetMs = 60000; // covering windows not seen for a minute are forgotten
} // namespace

WindowKeeper::WindowKeeper(Form1& display) : QObject(&display), display_(display) {
    clock_.start();
    tick_.setInterval(kTickMs);
    soon_.setSingleShot(true);
    soon_.setInterval(kSettleMs);
    again_.setSingleShot(true);
    connect(&tick_, &QTimer::timeout, this, &WindowKeeper::check);
    connect(&soon_, &QTimer::timeout, this, &WindowKeeper::check);
    connect(&again_, &QTimer::timeout, this, &WindowKeeper::check);
    events_ = new platform::WindowEvents(xcb_window_t(display.winId()), this);
    if (!events_->connection())
        return; // no X server of our own to ask: nothing to keep
    connect(events_, &platform::WindowEvents::changed, this, &WindowKeeper::soon);
    connect(events_, &platform::WindowEvents::othersChanged, this, &WindowKeeper::soon);
    connect(&display.wb1(), &Browser::pageWindowChanged, this, [this](quint32 window) {
        page_ = window;
        placePage();
        soon();
    });
    // Moves and nudges from the settings window take the page's window along at once.
    connect(&display, &Form1::placed, this, &WindowKeeper::placePage);
    tick_.start();
    // The first check puts the window on every workspace once the manager has mapped it. Asked
    // for before the map, mutter now and then never shows the window's first paint (about
    // one start in ten under load), and a static page never paints again.
    soon();
}

std::optional<platform::WindowFacts> WindowKeeper::facts() const {
    if (!events_->connection())
        return std::nullopt;
    return platform::windowFacts(events_->connection(), xcb_window_t(display_.winId()));
}

std::optional<platform::WindowFacts> WindowKeeper::pageWindowFacts() const {
    if (!events_->connection() || page_ == XCB_NONE)
        return std::nullopt;
    return platform::windowFacts(events_->connection(), page_);
}

void WindowKeeper::soon() {
    // Started once and never pushed back, so a stream of events (a window being dragged)
    // still gets a check every tenth of a second.
    if (!soon_.isActive())
        soon_.start();
}

void WindowKeeper::check() {
    xcb_connection_t* c = events_->connection();
    const auto window = xcb_window_t(display_.winId());
    const auto facts = platform::windowFacts(c, window);
    if (facts) {
        if (!facts->viewable || facts->minimised || display_.isMinimized())
            display_.showNormal();
        keep(window, display_.placedGeometry(), displayPlacing_);
        if (page_ != XCB_NONE)
            keep(page_, pageRect(display_), pagePlacing_);
        uncover();
    }
    // Replies read above may have queued events; ours are among them, and cost one more check.
    events_->readQueued();
}

void WindowKeeper::keep(xcb_window_t window, const QRect& wanted, Placing& placing) {
    xcb_connection_t* c = events_->connection();
    const auto facts = platform::windowFacts(c, window);
    if (!facts)
        return; // gone: the browser tells of its next window
    if (!facts->viewable || facts->minimised || !facts->above || !facts->skipTaskbar ||
        !facts->onAllWorkspaces)
        platform::restoreWindowState(c, window, *facts);
    place(window, facts->client, wanted, placing);
}

void WindowKeeper::place(xcb_window_t window, const QRect& actual, const QRect& wanted,
                         Placing& placing) {
    if (actual == wanted)
        return;
    // A new disturbance is put right at once; the same wrong rectangle again (a window manager
    // that will not take ours) is asked for at most once a second.
    const qint64 now = clock_.elapsed();
    if (actual == placing.lastWrong && now - placing.lastPlaced < kGapMs) {
        if (!again_.isActive())
            again_.start(int(kGapMs - (now - placing.lastPlaced)));
        return;
    }
    placing.lastPlaced = now;
    placing.lastWrong = actual;
    platform::requestGeometry(events_->connection(), window, wanted);
}

void WindowKeeper::placePage() {
    if (page_ == XCB_NONE || !events_->connection())
        return;
    pagePlacing_ = {}; // a new place: asked for at once
    keep(page_, pageRect(display_), pagePlacing_);
    events_->readQueued();
}

void WindowKeeper::uncover() {
    // The program's other windows, the settings window and the exit prompt, stay above it.
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window != &display_ && window->isVisible())
            return;
    }
    const qint64 now = clock_.elapsed();
    for (auto it = raisedOver_.begin(); it != raisedOver_.end();)
        it = now - *it > kForgetMs ? raisedOver_.erase(it) : std::next(it);
    xcb_connection_t* c = events_->connection();
    const auto display = xcb_window_t(display_.winId());
    std::vector<platform::CoveringWindow> covering = platform::coveringWindows(c, display, page_);
    bool pageCovered = false; // the display window, or another, lies over the page's window
    if (page_ != XCB_NONE) {
        for (const platform::CoveringWindow& other : platform::coveringWindows(c, page_)) {
            pageCovered = pageCovered || !other.desktopLayer;
            covering.push_back(other);
        }
    }
    bool raise = false;
    for (const platform::CoveringWindow& other : covering) {
        if (other.desktopLayer) {
            if (!toldOfDesktopLayer_)
                std::fputs("lumira: a panel, notice or menu of the desktop lies over the sign; "
                           "the desktop keeps those above every program\n",
                           stderr);
            toldOfDesktopLayer_ = true;
            continue;
        }
        if (platform::topLevelOf(c, display) == other.id)
            continue; // our own display window under the page's: raised below, not counted
        const auto last = raisedOver_.constFind(other.id);
        if (last != raisedOver_.constEnd() && now - *last < kGapMs) {
            // Look again once it is allowed.
            if (!again_.isActive())
                again_.start(int(kGapMs - (now - *last)));
            continue;
        }
        raisedOver_.insert(other.id, now);
        raise = true;
    }
    if (raise)
        platform::raiseToTop(c, display);
    // The page's own window lies just over the display window, whatever was raised.
    if (page_ != XCB_NONE && (raise || pageCovered))
        platform::raiseToTop(c, page_);
}

} // namespace lumira
