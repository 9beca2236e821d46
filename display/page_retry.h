#pragma once

#include <QString>

class Browser;

namespace lumira {

// Timer_err as the retry sees it: switched on, switched off, and whether it is on.
class RetrySwitch {
public:
    virtual ~RetrySwitch() = default;
    virtual void switchOn() = 0;
    virtual void switchOff() = 0;
    virtual bool isOn() const = 0;
};

// The page-error retry: five seconds after a failed page the start-up address is loaded
// again, for as long as failures go on.
class PageRetry {
public:
    // `url` is read at each retry; it is the display window's start-up address.
    PageRetry(Browser& browser, RetrySwitch& timer, const QString& url);

    // A failed page: the wait starts. A wait already running keeps its time, so a stream of
    // failures still gives one retry every five seconds.
    void failed();
    // The wait is over. The timer goes off before the navigation, so a failure that the
    // navigation reports at once starts the next wait instead of being cancelled.
    void due();
    // The user chose another page: a pending retry must not replace it.
    void cancel();
    bool pending() const;

private:
    Browser& browser_;
    RetrySwitch& timer_;
    const QString& url_;
};

} // namespace lumira
