#pragma once

#include <QString>

namespace lumira {

namespace platform {
class SingleInstance;
}
class SignWatch;

// The one-copy key: this program folder, with links resolved. The running copy holds it and
// `lumira --settings`, `--status`, `--reload` and `--address` look for it, so all take it
// from here.
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

// `lumira --reload` and `lumira --address URL` (the argument after --address): what
// `POST /reload` and `POST /address` do, asked of the copy running from this program folder
// through the channel of `lumira --settings`, which only the same user reaches; they need
// neither an X display nor the status server. 0 when the copy took it; 2, after its reason in
// one line on stderr, when it refused (an address the status server refuses too, dark hours,
// the settings window open, the sign not showing yet); 1, after one line on stderr, when no
// copy runs or none answered within two seconds.
int requestReload(int argc, char** argv);
int requestAddress(int argc, char** argv);

// The running copy's side of both: the status server's checks and outcomes (refusedAddress,
// SignWatch::reload and takeAddress), answered on the channel.
void answerCommands(platform::SingleInstance& instance, SignWatch& watch);

} // namespace lumira
