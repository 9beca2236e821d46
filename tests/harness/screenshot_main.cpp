// Saves the screen of $DISPLAY as a PNG:
//   lumira-screenshot [--until-painted X,Y,W,H] <file.png>
// With --until-painted it first waits (up to 30 s) until that rectangle shows a rendered
// page, that is more than a few distinct colours, rather than an empty window.
#include "tests/harness/wait.h"
#include "tests/harness/x11_session.h"

#include <cstdio>
#include <exception>
#include <set>
#include <string>

namespace {
bool looksPainted(harness::X11Session& session, int x, int y, int w, int h) {
    std::set<uint32_t> colours;
    for (int row = y; row < y + h; row += 3)
        for (int column = x; column < x + w; column += 3)
            colours.insert(session.pixel(column, row));
    return colours.size() >= 8;
}
} // namespace

int main(int argc, char** argv) {
    int x = 0, y = 0, w = 0, h = 0;
    const bool wait = argc == 4 && std::string(argv[1]) == "--until-painted" &&
                      std::sscanf(argv[2], "%d,%d,%d,%d", &x, &y, &w, &h) == 4;
    if (argc != 2 && !wait) {
        std::fputs("usage: lumira-screenshot [--until-painted X,Y,W,H] <file.png>\n", stderr);
        return 2;
    }
    try {
        harness::X11Session session;
        if (wait && !harness::waitUntil([&] { return looksPainted(session, x, y, w, h); },
                                        std::chrono::seconds(30), std::chrono::milliseconds(100)))
            std::fputs("lumira-screenshot: the page did not paint within 30 s\n", stderr);
        return session.savePng(argv[argc - 1]) ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumira-screenshot: %s\n", error.what());
        return 1;
    }
}
