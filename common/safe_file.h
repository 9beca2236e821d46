// Whole-file reads that never block and writes that never lose the old file.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace lumira {

// Reads a regular file whole. False when it is missing, unreadable, or not a regular file (a
// folder, FIFO or device is never read, and opening it never waits).
bool readRegularFile(const std::string& path, std::string& out);

// Writes all of `data`, going on after interrupted writes. False on any other failure.
bool writeAll(int fd, std::string_view data);

// Writable the way a user expects: some 'w' permission bit set (even for root, who may write
// anything) and access granted to us.
bool isWritable(const std::string& path, const struct stat& st);

// The folder part of a path ("." when there is none).
std::string folderOf(const std::string& path);

// Atomically replaces (or creates) `target` with `content`: a temporary file in the same
// folder is written, synced and renamed over it. `old` is the stat of the existing file, if
// any, whose owner and permission bits the new file takes over; a new file gets `newMode`, or
// 0666 less the umask. On failure the old file stays as it was and no temporary file is left;
// temporary files that an earlier, killed write left are removed.
void replaceFile(const std::string& target, const std::string& content, const struct stat* old,
                 std::optional<mode_t> newMode = std::nullopt);

namespace detail {
// For tests only: when set, called with the temporary file's path just before it replaces the
// real file. Returning false abandons the write as if it had failed at that point.
extern std::function<bool(const std::string& tempPath)> beforeReplaceHook;
} // namespace detail

} // namespace lumira
