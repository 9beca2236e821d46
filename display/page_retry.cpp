#include "display/page_retry.h"

#include "display/browser.h"

namespace lumira {

PageRetry::PageRetry(Browser& browser, RetrySwitch& timer, const QString& url)
    : browser_(browser), timer_(timer), url_(url) {}

void PageRetry::failed() {
    if (!timer_.isOn())
        timer_.switchOn();
}

void PageRetry::due() {
    timer_.switchOff();
    browser_.Navigate(url_);
}

void PageRetry::cancel() {
    timer_.switchOff();
}

bool PageRetry::pending() const {
    return timer_.isOn();
}

} // namespace lumira
