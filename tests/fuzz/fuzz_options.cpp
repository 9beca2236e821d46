// Section Options on any values: every option stays inside its range, whatever is stored.
#include "common/options.h"

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One stored text per key, separated by newlines; the last bytes pick the machine's memory.
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::map<std::string, std::string> stored;
    const char* keys[] = {"LoadTimeout", "HangTimeout", "MemoryLimit", "AutoEnter", "Rendering"};
    size_t at = 0;
    for (const char* key : keys) {
        const size_t end = input.find('\n', at);
        stored[key] = input.substr(at, end == input.npos ? input.npos : end - at);
        if (end == input.npos)
            break;
        at = end + 1;
    }
    const long long physical = size >= 2 ? (data[size - 1] << 8 | data[size - 2]) * 16LL : 0;
    const lumira::Options options = lumira::readOptions(
        [&](const std::string& key) { return stored.count(key) ? stored[key] : std::string(); },
        physical);
    if (options.loadTimeoutSeconds < 5 || options.loadTimeoutSeconds > 600 ||
        options.hangTimeoutSeconds < 5 || options.hangTimeoutSeconds > 600 ||
        options.memoryLimitMiB < 64 || options.memoryLimitMiB > 65536 ||
        options.autoEnterSeconds < 0 || options.autoEnterSeconds > 3600)
        std::abort();
    return 0;
}
