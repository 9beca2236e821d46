#pragma once

#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

// Small helpers for xcb calls on a connection of the program's own.
namespace lumira::platform {

template <typename Reply> using Owned = std::unique_ptr<Reply, decltype(&std::free)>;

template <typename Reply> Owned<Reply> owned(Reply* reply) {
    return Owned<Reply>(reply, &std::free);
}

// Atoms are the same on every connection to a server; interned once per name.
xcb_atom_t internAtom(xcb_connection_t* c, const char* name);

} // namespace lumira::platform
