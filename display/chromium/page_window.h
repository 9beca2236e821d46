#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QTimer>
#include <memory>
#include <xcb/xcb.h>

class QSocketNotifier;

namespace lumira::chromium {

class WindowPicture;

// Chromium's top-level window, which shows the page over the display window, and the cover
// laid inside it: a child window of the program's own, above Chromium's drawing, whose
// background is the cover's picture, so the X server itself paints it. Showing and hiding it
// is a map and an unmap, which no window manager takes part in. Everything goes over an X
// connection of its own.
class PageWindow final : public QObject {
    Q_OBJECT
public:
    explicit PageWindow(QObject* parent);
    ~PageWindow() override;

    // Looks for the top-level window of process `pid` among the managed windows until it
    // appears, then makes it borderless and emits found().
    void lookFor(qint64 pid);
    // The process ended: its window and the cover in it are gone.
    void forget();
    xcb_window_t window() const { return window_; }
    QSize size() const { return size_; }
    // Chromium's window as it shows, through shared memory; null where that cannot be had.
    QImage picture();

    // Shows the cover over the page with `picture` at its top left (the rest black), or black.
    void cover(const QImage& picture);
    void uncover();
    bool covered() const { return covered_; }

signals:
    void found(quint32 window);
    // Chromium's window took another size: a picture for the cover should have this one.
    void resized(QSize size);

private:
    void look();
    void readEvents();
    void makeCover();
    void setPicture(const QImage& picture);
    uint32_t atom(const char* name);

    xcb_connection_t* connection_ = nullptr;
    xcb_screen_t* screen_ = nullptr;
    std::unique_ptr<WindowPicture> pictures_;
    QSocketNotifier* notifier_ = nullptr;
    QTimer lookTimer_;
    qint64 pid_ = 0;
    xcb_window_t window_ = XCB_NONE;
    xcb_window_t cover_ = XCB_NONE;
    QSize size_;
    QImage picture_; // the cover's picture as set, kept for a window that changes size
    bool covered_ = true;
};

} // namespace lumira::chromium
