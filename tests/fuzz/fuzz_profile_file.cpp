// The configuration file routines on any bytes: read every key the program reads, then write
// the five keys in one save and read them back. UTF-8, GB18030 and UTF-16 files all come
// through the seeds. A crash, a sanitizer report or a value that does not read back fails.
#include "common/ini_sm.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

const std::string& scratchFile() {
    static const std::string path = [] {
        // tmpfs where there is one: the save's flushes to disk cost nothing there.
        std::string folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        folder += "/lumira-fuzz-XXXXXX";
        if (!mkdtemp(folder.data()))
            std::abort();
        return folder + "/lumira.ini";
    }();
    return path;
}

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "profile file: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = scratchFile();
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    for (const char* section : {"Main", "Options", "main"})
        for (const char* key : {"URL", "wLeft", "wTop", "wWidth", "wHeight", "LoadTimeout",
                                "AutoEnter", "Rendering", ""})
            check(readIniValue(section, key, path).size() <= 32767 * 3, "value too long");

    const std::string address = "http://127.0.0.1:8080/看板?id=3#top";
    writeIniValues("Main",
                   {{"wTop", "-20"},
                    {"wLeft", "100.5"},
                    {"wWidth", "320"},
                    {"wHeight", "240"},
                    {"URL", address}},
                   path);
    check(readIniValue("Main", "URL", path) == address, "URL did not read back");
    check(readIniValue("main", "WLEFT", path) == "100.5", "wLeft did not read back");
    check(readIniValue("Main", "wTop", path) == "-20", "wTop did not read back");
    unlink(path.c_str());
    return 0;
}
