#pragma once

#include <QObject>
#include <QString>

class QWidget;

// wb1's adapter: what the windows need from the embedded browser, and nothing more.
// Sizes are in twips; the value read right after a write is the size in force.
class Browser : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Starts loading the address (URL or file path) and returns at once; failures arrive
    // later as NavigateError.
    virtual void Navigate(const QString& address) = 0;
    // One step in the history; false when there is no page in that direction.
    virtual bool GoBack() = 0;
    virtual bool GoForward() = 0;
    virtual void Stop() = 0;

    // Dark hours: the rectangle shows black and the page is unloaded (no work, no network);
    // when they end, the caller loads the page again.
    virtual void setDark(bool dark) = 0;

    virtual void setWidth(float twips) = 0;
    virtual void setHeight(float twips) = 0;
    virtual float Width() const = 0;
    virtual float Height() const = 0;

    // What shows the page, with its version, and what it last did of its own accord ("Chromium
    // 156.0.8078.129, restarted after its upgrade at 03:12"); empty when unknown.
    virtual QString engine() const { return {}; }

signals:
    // The main page failed: connection, name lookup, certificate, HTTP status 400 or above,
    // or a renderer process that crashed or was killed.
    void NavigateError();
    // Why the NavigateError that follows at once came, in a few words ("HTTP 500").
    void failureNoted(const QString& reason);
    // The latest load's page has reached the screen.
    void pageShown();
    // A renderer of the page ended before its time: "crash", "hang" or "memory".
    void rendererRestarted(const QString& why);
    // The page shows in a top-level window of its own, laid over the host's client area
    // (an X window id); 0 while it shows inside the host or has no window.
    void pageWindowChanged(quint32 window);
};
