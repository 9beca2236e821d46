#include "tests/harness/process_tree.h"

#include <dirent.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace harness {

namespace {

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<pid_t> allPids() {
    std::vector<pid_t> pids;
    DIR* proc = opendir("/proc");
    if (!proc)
        return pids;
    while (const dirent* entry = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid > 0 && *end == '\0')
            pids.push_back(static_cast<pid_t>(pid));
    }
    closedir(proc);
    return pids;
}

std::optional<StatFields> statOf(pid_t pid) {
    return parseStat(readWhole("/proc/" + std::to_string(pid) + "/stat"));
}

// The number after `key` in a "Key:   123 kB" file; 0 when absent.
long long kbField(const std::string& path, const std::string& key) {
    std::istringstream in(readWhole(path));
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, key.size() + 1, key + ":") == 0)
            return std::atoll(line.c_str() + key.size() + 1);
    }
    return 0;
}

} // namespace

std::optional<StatFields> parseStat(const std::string& line) {
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    // After the name: state ppid pgrp session tty_nr tpgid flags minflt cminflt majflt cmajflt
    // utime stime ...
    std::istringstream rest(line.substr(close + 1));
    std::string field;
    std::vector<std::string> fields;
    while (fields.size() < 13 && rest >> field)
        fields.push_back(field);
    if (fields.size() < 13)
        return std::nullopt;
    try {
        return StatFields{static_cast<pid_t>(std::stol(fields[1])),
                          std::stoll(fields[11]) + std::stoll(fields[12])};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::vector<pid_t> processTree(pid_t root) {
    std::multimap<pid_t, pid_t> childrenOf;
    for (pid_t pid : allPids()) {
        if (auto stat = statOf(pid))
            childrenOf.emplace(stat->parent, pid);
    }
    std::vector<pid_t> tree{root};
    for (size_t i = 0; i < tree.size(); ++i) {
        auto [first, last] = childrenOf.equal_range(tree[i]);
        for (auto it = first; it != last; ++it)
            tree.push_back(it->second);
    }
    return tree;
}

std::vector<pid_t> rendererProcesses(pid_t root) {
    std::vector<pid_t> found;
    for (pid_t pid : processTree(root)) {
        const auto stat = statOf(pid);
        const auto commandOf = [](pid_t p) {
            return readWhole("/proc/" + std::to_string(p) + "/cmdline");
        };
        const bool forkedByZygote =
            stat && commandOf(stat->parent).find("--type=zygote") != std::string::npos;
        if (commandOf(pid).find("--type=renderer") != std::string::npos || forkedByZygote)
            found.push_back(pid);
    }
    return found;
}

CpuSample sampleCpu(const std::vector<pid_t>& pids) {
    CpuSample sample;
    for (pid_t pid : pids) {
        if (auto stat = statOf(pid))
            sample[pid] = stat->cpuTicks;
    }
    return sample;
}

long long ticksBetween(const CpuSample& before, const CpuSample& after) {
    long long total = 0;
    for (auto [pid, ticks] : after) {
        const auto earlier = before.find(pid);
        total += ticks - (earlier == before.end() ? 0 : earlier->second);
    }
    return total;
}

double percentOfCore(long long ticks, double seconds) {
    return seconds > 0 ? 100.0 * double(ticks) / double(sysconf(_SC_CLK_TCK)) / seconds : 0;
}

long long ownMemoryKb(pid_t pid) {
    const std::string status = "/proc/" + std::to_string(pid) + "/status";
    return kbField(status, "RssAnon") + kbField(status, "RssShmem");
}

long long sumRssKb(const std::vector<pid_t>& pids) {
    long long total = 0;
    for (pid_t pid : pids)
        total += kbField("/proc/" + std::to_string(pid) + "/status", "VmRSS");
    return total;
}

long long sumPssKb(const std::vector<pid_t>& pids) {
    long long total = 0;
    for (pid_t pid : pids)
        total += kbField("/proc/" + std::to_string(pid) + "/smaps_rollup", "Pss");
    return total;
}

std::optional<pid_t> findXServer(const std::string& display) {
    const std::string wanted = display.substr(0, display.find('.', display.find(':')));
    for (pid_t pid : allPids()) {
        const std::string cmdline = readWhole("/proc/" + std::to_string(pid) + "/cmdline");
        std::vector<std::string> args;
        std::istringstream in(cmdline);
        for (std::string arg; std::getline(in, arg, '\0');)
            args.push_back(arg);
        if (args.empty())
            continue;
        const std::string name = args[0].substr(args[0].rfind('/') + 1);
        if (name != "Xvfb" && name != "Xorg" && name != "X")
            continue;
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i] == wanted)
                return pid;
        }
    }
    return std::nullopt;
}

} // namespace harness
