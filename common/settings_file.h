// Where lumira.ini lives (cfgfn). Beside the program when that folder is the user's own,
// writable by that user and by nobody else, not the installed program's folder under /usr, and
// its lumira.ini is no symbolic link; otherwise (an installed package, a folder of another user
// or one others may write) in the per-user file $XDG_CONFIG_HOME/lumira/lumira.ini, readable by
// its owner only, with the program folder's lumira.ini as the shipped defaults until the first
// save.
#pragma once

#include <QString>
#include <string>

namespace lumira {

// The rule itself: the program folder's file when `folderHoldsSettings`, otherwise the per-user
// file under `xdgConfigHome`, or `home`/.config when that is empty or not absolute.
QString settingsFileFor(const QString& programFolder, bool folderHoldsSettings,
                        const QString& xdgConfigHome, const QString& home);

// Whether `folder`, the program's, holds the settings file (see above).
bool programFolderHoldsSettings(const QString& folder);

// cfgfn for this run.
QString settingsFile();

// Reads one value of cfgfn or, while a per-user cfgfn does not exist yet, of the shipped
// defaults beside the program.
std::string readSetting(const QString& cfgfn, const std::string& section, const std::string& key);

// Call before writing cfgfn: a per-user file that does not exist yet gets its folder and
// starts as a copy of the shipped defaults, so their other sections and keys are kept.
void prepareSettingsWrite(const QString& cfgfn);

// The warning to give at start when `statusToken`, read for cfgfn, is set in a file that group
// or others may read, naming the file and the command that fixes it; empty otherwise.
std::string exposedTokenWarning(const QString& cfgfn, const std::string& statusToken);

} // namespace lumira
