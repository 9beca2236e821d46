#include "display/chromium/window_picture.h"

#include "platform/x11_reply.h"
#include <sys/ipc.h>
#include <sys/shm.h>

namespace lumira::chromium {

using platform::owned;

WindowPicture::WindowPicture(xcb_connection_t* connection) : connection_(connection) {
    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(connection_, &xcb_shm_id);
    offered_ = shm && shm->present;
}

WindowPicture::~WindowPicture() {
    release();
}

QImage WindowPicture::take(xcb_window_t window) {
    if (!offered_ || window == XCB_NONE)
        return {};
    const auto geometry =
        owned(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr));
    if (!geometry || (geometry->depth != 24 && geometry->depth != 32))
        return {};
    const int width = geometry->width, height = geometry->height;
    const std::size_t bytes = std::size_t(width) * std::size_t(height) * 4;
    if (bytes == 0 || !reserve(bytes))
        return {};
    const auto image = owned(xcb_shm_get_image_reply(
        connection_,
        xcb_shm_get_image(connection_, window, 0, 0, uint16_t(width), uint16_t(height), ~0u,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, segment_, 0),
        nullptr));
    if (!image || image->size != bytes) // not 32 bits a pixel
        return {};
    return QImage(static_cast<const uchar*>(memory_), width, height, width * 4,
                  QImage::Format_RGB32)
        .copy();
}

bool WindowPicture::reserve(std::size_t bytes) {
    if (bytes <= bytes_)
        return true;
    release();
    const int id = ::shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0)
        return offered_ = false;
    void* memory = ::shmat(id, nullptr, 0);
    const xcb_shm_seg_t segment = xcb_generate_id(connection_);
    xcb_generic_error_t* error =
        memory == reinterpret_cast<void*>(-1)
            ? nullptr
            : xcb_request_check(connection_,
                                xcb_shm_attach_checked(connection_, segment, uint32_t(id), 0));
    ::shmctl(id, IPC_RMID, nullptr); // gone once both sides have let go of it
    if (memory == reinterpret_cast<void*>(-1) || error) {
        std::free(error);
        if (memory != reinterpret_cast<void*>(-1))
            ::shmdt(memory);
        return offered_ = false; // a remote server, or one that may not see our memory
    }
    segment_ = segment;
    memory_ = memory;
    bytes_ = bytes;
    return true;
}

void WindowPicture::release() {
    if (!memory_)
        return;
    xcb_shm_detach(connection_, segment_);
    xcb_flush(connection_);
    ::shmdt(memory_);
    memory_ = nullptr;
    bytes_ = 0;
}

} // namespace lumira::chromium
