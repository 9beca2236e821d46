// INI_SM: reads and writes single keys of profile files such as lumira.ini.
//
// File format: "[Section]" header lines and "key=value" lines. Section and key names match
// without regard to ASCII case; blanks (space, tab) around names and values are not part of
// them; lines starting with ';' are comments. Lines may end in CR LF, LF or a lone CR.
// A file with a UTF-16 byte-order mark (either endianness) is UTF-16; one that is valid UTF-8
// (BOM or not) is UTF-8; any other file is GB18030. A write keeps the file's encoding and
// mark. All text passed to and returned from these functions is UTF-8. Anything that is not a
// regular file (a folder, FIFO, device) reads as missing and is never written. No state is
// kept between calls.
#pragma once

#include <string>
#include <utility>
#include <vector>

// Returns the value of `key` in the first `section` of `file`, or "" when the file, section or
// key is missing. The first matching key of the section wins. A value wholly enclosed in a pair
// of double or single quotation marks is returned without them; a value holding a NUL byte
// ends there. At most 32767 bytes of the file's text are returned, cut back to the last whole
// character. Never throws.
std::string readIniValue(const std::string& section, const std::string& key,
                         const std::string& file);

// Sets `key` in the first `section` of `file` to `value` (only the part before any line break),
// creating the file or section when missing, and keeping every other line byte for byte and
// the file's encoding. New lines end in CR LF. The change is atomic: a temporary file in the
// same folder replaces the old one, which stays whole if anything fails. A file or folder
// without write permission bits, a name that cannot be stored (empty, containing a line break,
// '=' in a key, ']' in a section, a key starting with ';' or '[') or a dangling symbolic link
// leave everything unchanged. A symbolic link is never followed: nothing is written when the
// file is one, or when a link or another file takes its place before the replacement. A new
// file is readable by its owner only. Failures are silent; never throws.
void writeIniValue(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file);

// Sets several keys of `section` as writeIniValue does, in one atomic replacement of the file:
// a crash or power cut leaves either all old values or all new ones. Keys that cannot be
// stored are skipped; new keys are added in the order given.
void writeIniValues(const std::string& section,
                    const std::vector<std::pair<std::string, std::string>>& values,
                    const std::string& file);
