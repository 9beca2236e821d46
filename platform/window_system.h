#pragma once

#include <cstdint>
#include <xcb/xcb.h>

// The X11 connection Qt opened, for the few window-system calls Qt does not offer.
// Without X11 (e.g. the offscreen platform) the calls report no connection and callers skip.
namespace lumira::platform {

bool hasX11();
xcb_connection_t* x11Connection();
xcb_window_t x11Root();
xcb_atom_t x11Atom(const char* name);

} // namespace lumira::platform
