#pragma once

#include <QImage>
#include <cstddef>
#include <xcb/shm.h>
#include <xcb/xcb.h>

namespace lumira::chromium {

// Pictures of a window through shared memory (MIT-SHM): the X server writes the pixels where
// the program reads them, instead of sending some megabytes over the connection for each
// picture. A null picture where the server offers no shared memory or the window is not of 24
// or 32 bits; the caller then takes it the ordinary way.
class WindowPicture {
public:
    explicit WindowPicture(xcb_connection_t* connection);
    ~WindowPicture();
    WindowPicture(const WindowPicture&) = delete;
    WindowPicture& operator=(const WindowPicture&) = delete;

    QImage take(xcb_window_t window);

private:
    bool reserve(std::size_t bytes);
    void release();

    xcb_connection_t* connection_;
    bool offered_ = false;
    xcb_shm_seg_t segment_ = 0;
    void* memory_ = nullptr;
    std::size_t bytes_ = 0;
};

} // namespace lumira::chromium
