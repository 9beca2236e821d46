#pragma once

#include "common/twips.h"
#include "display/browser.h"
#include "display/cover_state.h"
#include "display/renderer_health.h"

#include <memory>
#include <string>

class QWidget;

namespace lumira {

// The browser adapter on the real engine lives in a module beside the program. Loading it
// pulls in the engine's libraries (a fraction of a second); the engine itself starts only when
// the first browser is created.

// Loads the module of the engine chosen at start (chosenEngine()) once; later calls return at
// once. True when the engine is available.
bool loadBrowserEngine();

// A browser on the real engine inside `host`, or null when the engine could not be loaded.
std::unique_ptr<Browser> makeWebBrowser(QWidget* host, TwipsFactors factors, WatchLimits limits,
                                        const CoverOptions& cover);

// Why the engine could not be loaded; empty when it was.
const std::string& browserEngineError();

// The entry the module exports under this name.
using CreateWebBrowser = Browser* (*)(QWidget* host, const TwipsFactors* factors,
                                      const WatchLimits* limits, const CoverOptions* cover);
inline constexpr char kCreateWebBrowserSymbol[] = "lumiraCreateWebBrowser";

} // namespace lumira
