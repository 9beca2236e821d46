#include "platform/window_system.h"

#include "platform/x11_reply.h"

#include <QGuiApplication>
#include <QHash>
#include <cstdlib>

namespace lumira::platform {

bool hasX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb") && x11Connection() != nullptr;
}

xcb_connection_t* x11Connection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t x11Root() {
    xcb_connection_t* c = x11Connection();
    if (!c)
        return XCB_NONE;
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    static QHash<QByteArray, xcb_atom_t> cache;
    const QByteArray key(name);
    if (auto it = cache.constFind(key); it != cache.constEnd())
        return *it;
    if (!c)
        return XCB_NONE;
    auto reply = owned(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, uint16_t(key.size()), key.constData()), nullptr));
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_NONE);
    if (atom != XCB_NONE)
        cache.insert(key, atom);
    return atom;
}

xcb_atom_t x11Atom(const char* name) {
    return internAtom(x11Connection(), name);
}

} // namespace lumira::platform
