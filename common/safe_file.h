// Whole-file reads that never block and writes that never lose the old file.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace lumira {

enum class Links { Follow, Refuse };

// Reads a regular file whole. False when it is missing, unreadable, or not a regular file (a
// folder, FIFO or device is never read, and opening it never waits), and with Links::Refuse
// also when it is a symbolic link. `found`, when given, gets the stat of the file actually opened.
bool readRegularFile(const std::string& path, std::string& out, Links links = Links::Follow,
                     struct stat* found = nullptr);

// Writes all of `data`, going on after interrupted writes. False on any other failure.
bool writeAll(int fd, std::string_view data);

// Writable the way a user expects: some 'w' permission bit set (even for root, who may write
// anything) and access granted to us.
bool isWritable(const std::string& path, const struct stat& st);

// The folder part of a path ("." when there is none).
std::string folderOf(const std::string& path);

// Atomically replaces (or creates) `target` with `content`: a temporary file in the same
// folder is written, synced and renamed over it. `old` is the stat of the existing file, if
// any, whose owner and permission bits the new file takes over; a new file is readable by its
// owner only (it may hold a password). Right before the rename the target is looked at again,
// without following links: unless it is still the file `old` describes (or, without `old`,
// still missing), nothing is written, so a symbolic link or another file planted there in the
// meantime is never replaced or written through. On failure the old file stays as it was and
// no temporary file is left; temporary files that an earlier, killed write left are removed.
void replaceFile(const std::string& target, const std::string& content, const struct stat* old);

namespace detail {
// For tests only: when set, called with the temporary file's path just before it replaces the
// real file. Returning false abandons the write as if it had failed at that point.
extern std::function<bool(const std::string& tempPath)> beforeReplaceHook;
} // namespace detail

} // namespace lumira
