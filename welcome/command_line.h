#pragma once

#include <QString>

namespace lumira {

// The one-copy key: this program folder, with links resolved. The running copy holds it and
// `lumira --settings` and `lumira --status` look for it, so all take it from here.
QString oneCopyKey();

// Whether `option` (e.g. "--settings") is among the arguments.
bool askedFor(int argc, char** argv, const char* option);

// `lumira --settings`: asks the copy running from this program folder to open its settings
// window (what a desktop's own key binding calls where the program cannot see Shift+F12).

// Sends the request; 0 when the running copy answered, 1 (after one line on stderr) when no
// copy runs or none answered within two seconds. Needs no X display.
int requestSettings(int argc, char** argv);

// `lumira --status`: prints the status report of the copy running from this program folder;
// 0 when it starts, shows its page or is in dark hours, 2 when its page fails, 1 (after one
// line on stderr) when no copy runs or none answered within two seconds. Needs no X display.
int printStatus(int argc, char** argv);

} // namespace lumira
