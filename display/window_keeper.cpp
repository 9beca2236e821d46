#include "display/window_keeper.h"

#include "display/form1.h"
#include "platform/window_watch.h"

#include <QApplication>

namespace lumira {

namespace {
constexpr int kTickMs = 10000;    // a safety net: the window system's events do the work
constexpr int kRaiseGapMs = 1000; // at most one raise a second over the same window
constexpr int kSettleMs = 100;    // lets a burst of changes from the window manager finish
constexpr int kForgetMs = 60000;  // covering windows not seen for a minute are forgotten
} // namespace

WindowKeeper::WindowKeeper(Form1& display) : QObject(&display), display_(display) {
    clock_.start();
    tick_.setInterval(kTickMs);
    soon_.setSingleShot(true);
    soon_.setInterval(kSettleMs);
    connect(&tick_, &QTimer::timeout, this, &WindowKeeper::check);
    connect(&soon_, &QTimer::timeout, this, &WindowKeeper::check);
    auto* events = new platform::WindowEvents(display);
    connect(events, &platform::WindowEvents::changed, &soon_, qOverload<>(&QTimer::start));
    connect(events, &platform::WindowEvents::othersChanged, &soon_, qOverload<>(&QTimer::start));
    tick_.start();
}

void WindowKeeper::check() {
    const auto facts = platform::windowFacts(display_);
    if (!facts)
        return;
    if (!facts->viewable || facts->minimised || display_.isMinimized()) {
        display_.showNormal();
        platform::restoreWindowState(display_);
    } else if (!facts->above || !facts->skipTaskbar) {
        platform::restoreWindowState(display_);
    }
    // At most once a second, so a window manager that will not take the rectangle is not
    // asked again and again.
    const qint64 now = clock_.elapsed();
    if (facts->client != display_.placedGeometry() && now - lastPlaced_ >= kRaiseGapMs) {
        lastPlaced_ = now;
        platform::requestGeometry(display_, display_.placedGeometry());
    }
    uncover();
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
    bool raise = false;
    for (const platform::StackedWindow& other : platform::coveringWindows(display_)) {
        const auto last = raisedOver_.constFind(other.id);
        if (last != raisedOver_.constEnd() && now - *last < kRaiseGapMs) {
            // Look again once it is allowed.
            QTimer::singleShot(int(kRaiseGapMs - (now - *last)), this, &WindowKeeper::check);
            continue;
        }
        raisedOver_.insert(other.id, now);
        raise = true;
    }
    if (raise)
        display_.raise();
}

} // namespace lumira
