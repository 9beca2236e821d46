#pragma once

// What a child process of the program is given between fork() and exec(): the program has many
// threads, so these only make system calls, nothing that allocates or takes a lock.
namespace lumira::platform {

// The highest descriptor number the process may hold, read before fork().
int highestDescriptor();

// Closes every descriptor from `first` up (the kernel's close_range, else the entries of
// /proc/self/fd, else every number up to `highestToTry`), unblocks every signal and gives
// SIGPIPE its default action back.
void prepareChildForExec(int first, int highestToTry);

} // namespace lumira::platform
