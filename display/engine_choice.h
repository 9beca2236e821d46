// Which browser module shows the page: Qt WebEngine's or Debian's Chromium, from the Engine
// option and what is installed. QtCore alone, so the rules are tested without either engine.
#pragma once

#include <string>

namespace lumira {

enum class EngineKind { QtWebEngine, Chromium };

struct EngineChoice {
    EngineKind kind = EngineKind::QtWebEngine;
    std::string chromium; // the Chromium executable to run; empty for Qt WebEngine
    std::string reason;   // why, in a few words, for the start-up line
    std::string warning;  // one line to print besides, empty when none
};

// `option`: Engine as written (any letter case, blanks around; blank or unknown counts as
// auto, an unknown value gets a warning). `chromiumPath`: the installed Chromium, empty when
// there is none. Auto takes Chromium where it is installed.
EngineChoice chooseEngine(const std::string& option, const std::string& chromiumPath);

// Debian's Chromium: `fixedPath` when it is an executable file, else `chromium` found in an
// absolute folder of `pathVariable` (':'-separated; empty and relative elements, which would
// name the current folder, are skipped), resolved through its links to the real executable.
// Where that is a script (#!), or a program of another name that may act on the name it is
// called by, the file is returned as found. Empty when there is none.
std::string findChromium(const std::string& pathVariable,
                         const std::string& fixedPath = "/usr/lib/chromium/chromium");

// The choice made at start, kept for the module's start-up line (set once by the program).
void setChosenEngine(const EngineChoice& choice);
const EngineChoice& chosenEngine();

// The module file for a choice: "lumira-browser.so" or "lumira-browser-chromium.so".
const char* moduleFileOf(EngineKind kind);

} // namespace lumira
