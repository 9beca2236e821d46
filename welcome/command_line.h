#pragma once

namespace lumira {

// `lumira --settings`: asks the copy running from this program folder to open its settings
// window (what a desktop's own key binding calls where the program cannot see Shift+F12).
bool askedForSettings(int argc, char** argv);

// Sends the request; 0 when the running copy answered, 1 (after one line on stderr) when no
// copy runs or none answered within two seconds. Needs no X display.
int requestSettings(int argc, char** argv);

} // namespace lumira
