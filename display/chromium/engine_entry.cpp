#include "display/browser_engine.h"
#include "display/chromium/chromium_browser.h"

// The one symbol the program looks up in this module.
extern "C" __attribute__((visibility("default"))) Browser*
lumiraCreateWebBrowser(QWidget* host, const lumira::TwipsFactors* factors,
                       const lumira::WatchLimits* limits, const lumira::CoverOptions* cover) {
    return new lumira::chromium::ChromiumBrowser(host, *factors, *limits, *cover);
}
