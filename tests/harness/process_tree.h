#pragma once

#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace harness {

// CPU ticks (user + system) per process, from /proc/<pid>/stat.
using CpuSample = std::map<pid_t, long long>;

struct StatFields {
    pid_t parent = 0;
    long long cpuTicks = 0; // utime + stime
};

// Parses one /proc/<pid>/stat line; the command name may hold blanks and parentheses.
std::optional<StatFields> parseStat(const std::string& line);

// `root` and every process below it, at this moment.
std::vector<pid_t> processTree(pid_t root);

// The browser engine's renderer processes below `root`: "--type=renderer" on their command
// line, or children of its zygote, which forks them without changing their command line.
std::vector<pid_t> rendererProcesses(pid_t root);

CpuSample sampleCpu(const std::vector<pid_t>& pids);
// Ticks spent between two samples; a process first seen in `after` counts from zero.
long long ticksBetween(const CpuSample& before, const CpuSample& after);
// Ticks as a percentage of one core over `seconds`.
double percentOfCore(long long ticks, double seconds);

// Sum over `pids` of a kB figure: "VmRSS" from status, "Pss" from smaps_rollup.
long long sumRssKb(const std::vector<pid_t>& pids);
long long sumPssKb(const std::vector<pid_t>& pids);
// A process's own memory in kB: "RssAnon" and "RssShmem" from status.
long long ownMemoryKb(pid_t pid);

// The Xvfb (or Xorg) process serving `display` (":N" or ":N.S"), if it runs on this machine.
std::optional<pid_t> findXServer(const std::string& display);

} // namespace harness
