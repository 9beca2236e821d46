// INI_SM: reads and writes single keys of profile files such as lumira.ini.
//
// File format: "[Section]" header lines and "key=value" lines. Section and key names match
// without regard to ASCII case; blanks (space, tab) around names and values are not part of
// them; lines starting with ';' are comments. Lines may end in CR LF, LF or a lone CR.
// A file that is valid UTF-8 (BOM or not) is UTF-8; any other file is GB18030. All text passed
// to and returned from these functions is UTF-8. No state is kept between calls.
#pragma once

#include <functional>
#include <string>

// Returns the value of `key` in the first `section` of `file`, or "" when the file, section or
// key is missing. The first matching key of the section wins. A value wholly enclosed in a pair
// of double or single quotation marks is returned without them. At most 32767 bytes of the
// file's text are returned, cut back to the last whole character. Never throws.
std::string readIniValue(const std::string& section, const std::string& key,
                         const std::string& file);

// Sets `key` in the first `section` of `file` to `value` (only the part before any line break),
// creating the file or section when missing, and keeping every other line byte for byte and
// the file's encoding. New lines end in CR LF. The change is atomic: a temporary file in the
// same folder replaces the old one, which stays whole if anything fails. A file or folder
// without write permission bits, a name that cannot be stored (empty, containing a line break,
// '=' in a key, ']' in a section, a key starting with ';' or '[') or a dangling symbolic link
// leave everything unchanged. A symbolic link is written through: its target is replaced and
// the link stays. Failures are silent; never throws.
void writeIniValue(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file);

namespace lumira::detail {
// For tests only: when set, called with the temporary file's path just before it replaces the
// real file. Returning false abandons the write as if it had failed at that point.
extern std::function<bool(const std::string& tempPath)> iniBeforeRenameHook;
} // namespace lumira::detail
