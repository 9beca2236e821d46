// Section Options of lumira.ini: settings beyond the page and the rectangle. Read once at
// start-up, never written by the program. A missing value, one that is not a whole number,
// or one outside its range takes the default.
#pragma once

#include "common/dark_hours.h"

#include <functional>
#include <string>
#include <vector>

namespace lumira {

struct Options {
    int loadTimeoutSeconds = 30;      // LoadTimeout, 5..600: a load that has not ended is a failure
    int hangTimeoutSeconds = 15;      // HangTimeout, 5..600: a renderer that stops answering
    int memoryLimitMiB = 1024;        // MemoryLimit, 64..65536: a renderer that grows past it
    int autoEnterSeconds = 0;         // AutoEnter, 0..3600: the welcome window presses OK itself
    std::string rendering;            // Rendering: "auto", "gpu" or "software", as written
    std::string offlinePage;          // OfflinePage: picture shown when no good frame is kept
    std::vector<DarkRange> darkHours; // DarkHours: the sign shows black inside them
    int reloadEveryMinutes = 0;       // ReloadEvery, 0..10080: the page loaded again, 0 never
    int staleAfterMinutes = 0;        // StaleAfter, 0..10080: a kept frame's age limit, 0 never
    std::string status;               // Status: where the status server listens, empty nowhere
    std::string statusToken;          // StatusToken: the status server's secret, as written
    std::string engine;               // Engine: "auto", "chromium" or "qtwebengine", as written
};

// Reads the keys through `read` (key to stored text). The default memory limit is a quarter
// of `physicalMiB`, at most 1024.
Options readOptions(const std::function<std::string(const std::string& key)>& read,
                    long long physicalMiB);

// The machine's physical memory in MiB.
long long physicalMemoryMiB();

} // namespace lumira
