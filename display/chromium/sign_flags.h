#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>

namespace lumira::chromium {

// Chromium's command line for a sign: its own profile, the DevTools pipe and nothing else to
// reach it by, one window on `place` without tabs or toolbar, and nothing that asks anybody
// anything (first-run pages, bubbles, bars, translation, password prompts, permission
// prompts) or works in the background (updates, networking of its own, throttling of an
// unfocused page). `root`: the sandbox is refused to root, and the bar that says so hidden.
// The empty document Chromium's window starts with (an app window needs an address of its own).
inline constexpr char kStartDocument[] = "data:text/html,";

QList<QByteArray> signArguments(const QString& profile, const QRect& place, bool root,
                                bool software);

// Sets the preferences a sign needs in the profile's Preferences file, keeping the rest: the
// window manager's plain window (which the sign makes borderless) instead of Chromium's own
// title bar, no translation or password offers, and a clean last exit (no restore bubble).
void preparePreferences(const QString& profile);

} // namespace lumira::chromium
