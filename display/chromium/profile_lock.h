// Chromium's profile folder for this program folder and the lock a Chromium keeps on it.
#pragma once

#include <QString>
#include <functional>
#include <string>

namespace lumira::chromium {

enum class LockState { Free, Held, Stale };

// Chromium's profile lock, the symbolic link `SingletonLock`, whose target is "<host>-<pid>".
// `target`: the link's target, empty when there is no lock. `host`: this machine's name.
// `running(pid)`: a Chromium process with that id runs. A lock of another host is Held (a
// profile on a shared home: leave it), as is any lock while this machine's name is unknown. A
// lock naming this host is Stale when its process no longer runs, and also when the rest is
// no process id, since a Chromium on this host always writes its own; a target that names no
// host at all may be another machine's in a form not read here, so it is Held.
LockState judgeProfileLock(const std::string& target, const std::string& host,
                           const std::function<bool(long pid)>& running);

// A Chromium process with that id runs: its executable's name begins with "chromium" (also
// after an upgrade replaced the file). A process whose executable cannot be read (another
// user's) counts as running, so its lock is left alone.
bool chromiumRuns(long pid);

// The profile folder for the Chromium of this program folder:
// $XDG_CACHE_HOME/lumira/chromium-<16 hex digits of a SHA-256 of the program folder>
// (XDG_CACHE_HOME unset, empty or relative: ~/.cache, with the home from the password
// database). Missing folders on the way are made with mode 0700. Empty when the folder cannot
// be made, or is no folder of this user (a symbolic link, another owner); a folder of this
// user that others may open is made private.
QString profileFolder(const QString& programFolder);

// Removes SingletonLock, SingletonSocket and SingletonCookie when the lock is Stale, or when
// SingletonLock is no symbolic link (no Chromium made it). True when the profile is free to
// use (Free or cleared), false when another Chromium holds it or the lock cannot be removed.
bool clearStaleProfileLock(const QString& profile);

} // namespace lumira::chromium
