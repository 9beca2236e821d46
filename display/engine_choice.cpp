#include "display/engine_choice.h"

#include "common/blanks.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <unistd.h>

namespace lumira {

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return out;
}

// A regular file (links followed) that this user may run.
bool isExecutableFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

bool isScript(const std::filesystem::path& path) {
    char start[2] = {};
    std::ifstream(path, std::ios::binary).read(start, 2);
    return start[0] == '#' && start[1] == '!';
}

EngineChoice& chosen() {
    static EngineChoice choice;
    return choice;
}

} // namespace

EngineChoice chooseEngine(const std::string& option, const std::string& chromiumPath) {
    const std::string written(trimBlanks(option));
    const std::string value = lowered(written);
    EngineChoice choice;
    const bool installed = !chromiumPath.empty();
    if (value == "qtwebengine") {
        choice.reason = "Engine=qtwebengine";
        return choice;
    }
    if (value == "chromium") {
        if (!installed) {
            choice.reason = "Engine=chromium, but chromium is not installed";
            choice.warning =
                "Engine=chromium, but chromium is not installed; Qt WebEngine shows the page";
            return choice;
        }
        choice.kind = EngineKind::Chromium;
        choice.chromium = chromiumPath;
        choice.reason = "Engine=chromium";
        return choice;
    }
    std::string asked = "Engine=auto";
    if (!value.empty() && value != "auto") {
        asked = "Engine=" + written + " (read as auto)";
        choice.warning =
            "Engine=" + written + " is none of auto, chromium and qtwebengine; it counts as auto";
    }
    if (installed) {
        choice.kind = EngineKind::Chromium;
        choice.chromium = chromiumPath;
        choice.reason = asked + " and Debian's chromium is installed";
    } else {
        choice.reason = asked + " and chromium is not installed";
    }
    return choice;
}

std::string findChromium(const std::string& pathVariable, const std::string& fixedPath) {
    if (!fixedPath.empty() && isExecutableFile(fixedPath))
        return fixedPath;
    std::string_view rest = pathVariable;
    while (true) {
        const size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        // Empty and relative elements would run whatever the current folder holds.
        if (folder.starts_with('/')) {
            const std::filesystem::path found = std::filesystem::path(folder) / "chromium";
            if (isExecutableFile(found)) {
                std::error_code error;
                const std::filesystem::path real = std::filesystem::canonical(found, error);
                // Another name may be a program that acts on the name it is called by.
                if (error || isScript(real) || !real.filename().string().starts_with("chromium"))
                    return found.string();
                return real.string();
            }
        }
        if (colon == std::string_view::npos)
            return {};
        rest.remove_prefix(colon + 1);
    }
}

void setChosenEngine(const EngineChoice& choice) {
    chosen() = choice;
}

const EngineChoice& chosenEngine() {
    return chosen();
}

const char* moduleFileOf(EngineKind kind) {
    return kind == EngineKind::Chromium ? "lumira-browser-chromium.so" : "lumira-browser.so";
}

} // namespace lumira
