#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

// Small helpers for xcb calls, on Qt's connection or one of the program's own.
namespace lumira::platform {

template <typename Reply> using Owned = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply> Owned<Reply> owned(Reply* reply) {
    return Owned<Reply>(reply, &std::free);
}

// Atoms are the same on every connection to a server; interned once per name.
xcb_atom_t internAtom(xcb_connection_t* c, const char* name);

// An EWMH request about `window` to the window manager (a client message to the root).
void sendToRoot(xcb_connection_t* c, xcb_window_t window, xcb_atom_t type,
                std::array<uint32_t, 5> data);

// Whether the window manager lists `atom` in _NET_SUPPORTED.
bool windowManagerSupports(xcb_connection_t* c, xcb_atom_t atom);

} // namespace lumira::platform
