#include "display/chromium/page_window.h"

#include "display/chromium/window_picture.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace lumira::chromium {

namespace {
constexpr int kLookMs = 25;
constexpr uint32_t kMotifDecorations = 2; // _MOTIF_WM_HINTS: the decorations field is set

template <typename T> std::unique_ptr<T, decltype(&std::free)> owned(T* reply) {
    return {reply, &std::free};
}

// Bits per pixel of images of the screen's depth; 0 when the X server has no such format.
int bitsPerPixel(const xcb_setup_t* setup, uint8_t depth) {
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem;
         xcb_format_next(&formats)) {
        if (formats.data->depth == depth)
            return formats.data->bits_per_pixel;
    }
    return 0;
}
} // namespace

PageWindow::PageWindow(QObject* parent) : QObject(parent) {
    int screenNumber = 0;
    connection_ = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection_)) {
        xcb_disconnect(connection_);
        connection_ = nullptr;
        return;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    screen_ = screens.data;
    pictures_ = std::make_unique<WindowPicture>(connection_);
    notifier_ =
        new QSocketNotifier(xcb_get_file_descriptor(connection_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &PageWindow::readEvents);
    lookTimer_.setInterval(kLookMs);
    connect(&lookTimer_, &QTimer::timeout, this, &PageWindow::look);
}

PageWindow::~PageWindow() {
    pictures_.reset(); // its shared memory is let go of before the connection closes
    if (connection_)
        xcb_disconnect(connection_); // the cover window goes with the connection
}

uint32_t PageWindow::atom(const char* name) {
    auto reply = owned(xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, uint16_t(strlen(name)), name), nullptr));
    return reply ? reply->atom : uint32_t(XCB_ATOM_NONE);
}

void PageWindow::lookFor(qint64 pid) {
    forget();
    pid_ = pid;
    if (connection_)
        lookTimer_.start();
}

QImage PageWindow::picture() {
    return pictures_ ? pictures_->take(window_) : QImage();
}

void PageWindow::forget() {
    lookTimer_.stop();
    if (connection_ && cover_ != XCB_NONE) {
        xcb_destroy_window(connection_, cover_); // fails harmlessly when it went with its parent
        xcb_flush(connection_);
    }
    cover_ = XCB_NONE;
    window_ = XCB_NONE;
    pid_ = 0;
}

void PageWindow::look() {
    const uint32_t clientList = atom("_NET_CLIENT_LIST");
    const uint32_t pidAtom = atom("_NET_WM_PID");
    auto list = owned(xcb_get_property_reply(
        connection_,
        xcb_get_property(connection_, 0, screen_->root, clientList, XCB_ATOM_WINDOW, 0, 4096),
        nullptr));
    if (!list || list->format != 32)
        return;
    const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
    const int count = xcb_get_property_value_length(list.get()) / 4;
    for (int i = 0; i < count; ++i) {
        auto pid = owned(xcb_get_property_reply(
            connection_,
            xcb_get_property(connection_, 0, windows[i], pidAtom, XCB_ATOM_CARDINAL, 0, 1),
            nullptr));
        if (!pid || pid->format != 32 || xcb_get_property_value_length(pid.get()) != 4 ||
            *static_cast<const uint32_t*>(xcb_get_property_value(pid.get())) != uint32_t(pid_))
            continue;
        lookTimer_.stop();
        window_ = windows[i];
        const uint32_t events = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, window_, XCB_CW_EVENT_MASK, &events);
        // No background of its own: where the cover goes away, its picture stays until
        // Chromium has drawn the page there, instead of Chromium's grey until then.
        const uint32_t none = XCB_BACK_PIXMAP_NONE;
        xcb_change_window_attributes(connection_, window_, XCB_CW_BACK_PIXMAP, &none);
        // Borderless: no title bar or frame from the window manager.
        const uint32_t motif = atom("_MOTIF_WM_HINTS");
        const uint32_t hints[5] = {kMotifDecorations, 0, 0, 0, 0};
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, motif, motif, 32, 5,
                            hints);
        auto geometry = owned(
            xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window_), nullptr));
        if (geometry)
            size_ = QSize(geometry->width, geometry->height);
        makeCover();
        if (covered_)
            cover(picture_);
        xcb_flush(connection_);
        emit found(window_);
        return;
    }
}

void PageWindow::makeCover() {
    cover_ = xcb_generate_id(connection_);
    // The screen's own visual and colours, whatever visual Chromium's window has.
    const uint32_t values[] = {screen_->black_pixel, screen_->black_pixel,
                               screen_->default_colormap};
    xcb_create_window(connection_, screen_->root_depth, cover_, window_, 0, 0,
                      uint16_t(std::max(1, size_.width())), uint16_t(std::max(1, size_.height())),
                      0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen_->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_COLORMAP, values);
}

void PageWindow::cover(const QImage& picture) {
    picture_ = picture;
    covered_ = true;
    if (!connection_ || cover_ == XCB_NONE)
        return;
    setPicture(picture);
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(connection_, cover_, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_map_window(connection_, cover_);
    xcb_flush(connection_);
}

void PageWindow::uncover() {
    covered_ = false;
    if (!connection_ || cover_ == XCB_NONE)
        return;
    xcb_unmap_window(connection_, cover_);
    xcb_flush(connection_);
}

void PageWindow::setPicture(const QImage& picture) {
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    const int width = std::max(1, size_.width());
    const int height = std::max(1, size_.height());
    if (picture.isNull() || bitsPerPixel(setup, screen_->root_depth) != 32 ||
        setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
        const uint32_t black = screen_->black_pixel;
        xcb_change_window_attributes(connection_, cover_, XCB_CW_BACK_PIXEL, &black);
        xcb_clear_area(connection_, 0, cover_, 0, 0, 0, 0);
        return;
    }
    // A picture of the window's size, black beyond the frame, as 32-bit pixels in the order
    // the X server takes them.
    QImage pixels(width, height, QImage::Format_RGB32);
    pixels.fill(Qt::black);
    const QImage source = picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < std::min(height, source.height()); ++y)
        std::copy_n(source.constScanLine(y), std::min(width, source.width()) * 4,
                    pixels.scanLine(y));
    const xcb_pixmap_t pixmap = xcb_generate_id(connection_);
    xcb_create_pixmap(connection_, screen_->root_depth, pixmap, cover_, uint16_t(width),
                      uint16_t(height));
    const xcb_gcontext_t gc = xcb_generate_id(connection_);
    xcb_create_gc(connection_, gc, pixmap, 0, nullptr);
    const auto maximum = qsizetype(xcb_get_maximum_request_length(connection_)) * 4 - 64;
    const int rowsPerRequest = std::max(1, int(maximum / pixels.bytesPerLine()));
    for (int y = 0; y < height; y += rowsPerRequest) {
        const int rows = std::min(rowsPerRequest, height - y);
        xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, uint16_t(width),
                      uint16_t(rows), 0, int16_t(y), 0, screen_->root_depth,
                      uint32_t(rows * pixels.bytesPerLine()), pixels.constScanLine(y));
    }
    xcb_change_window_attributes(connection_, cover_, XCB_CW_BACK_PIXMAP, &pixmap);
    xcb_free_gc(connection_, gc);
    xcb_free_pixmap(connection_, pixmap); // the window keeps its background
    xcb_clear_area(connection_, 0, cover_, 0, 0, 0, 0);
}

void PageWindow::readEvents() {
    while (xcb_generic_event_t* raw = xcb_poll_for_event(connection_)) {
        const std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event(raw, &std::free);
        switch (event->response_type & 0x7f) {
        case XCB_CONFIGURE_NOTIFY: {
            const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(raw);
            const QSize size(configure->width, configure->height);
            if (configure->window != window_ || size == size_)
                break;
            size_ = size;
            if (cover_ != XCB_NONE) {
                const uint32_t extent[] = {uint32_t(size.width()), uint32_t(size.height())};
                xcb_configure_window(connection_, cover_,
                                     XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, extent);
                if (covered_)
                    setPicture(picture_);
                xcb_flush(connection_);
            }
            emit resized(size);
            break;
        }
        case XCB_DESTROY_NOTIFY:
            if (reinterpret_cast<const xcb_destroy_notify_event_t*>(raw)->window == window_) {
                cover_ = XCB_NONE; // destroyed with its parent
                window_ = XCB_NONE;
            }
            break;
        default:
            break; // errors of requests to a window that is gone are of no interest
        }
    }
}

} // namespace lumira::chromium
