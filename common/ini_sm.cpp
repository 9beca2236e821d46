// INI_SM: see ini_sm.h for the file format and the behaviour of the two functions.
#include "common/ini_sm.h"

#include "common/blanks.h"
#include "common/profile_text.h"
#include "common/safe_file.h"
#include "common/text_encoding.h"

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <sys/stat.h>

namespace {

using namespace lumira::profile;
using lumira::trimBlanks;

constexpr size_t kMaxValueBytes = 32767; // the original reader's buffer held 32768 bytes
constexpr std::string_view kNewLineEnd = "\r\n";

struct Names {
    std::string section;
    std::string key;
};

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// Names as they will be matched and stored, or nothing when they cannot be stored in a file
// so that they read back.
std::optional<Names> usableNames(std::string_view section, std::string_view key) {
    Names names{std::string(trimBlanks(section)), std::string(trimBlanks(key))};
    for (const std::string& name : {names.section, names.key}) {
        if (name.empty() || name.find_first_of(std::string_view("\r\n\0", 3)) != name.npos ||
            !lumira::isValidUtf8(name))
            return std::nullopt;
    }
    if (names.section.find(']') != names.section.npos || names.key.find('=') != names.key.npos ||
        names.key.front() == ';' || names.key.front() == '[')
        return std::nullopt;
    return names;
}

struct Location {
    long section = -1;     // line of the first matching section header
    long lastLine = -1;    // last line of that section that is not blank (or its header)
    long key = -1;         // first matching key line in that section
    size_t valueBegin = 0; // of that key line
    bool hasEquals = true; // of that key line
};

Location locate(const Text& profile, const Names& names) {
    Location at;
    for (size_t i = 0; i < profile.lines.size(); ++i) {
        ParsedLine line = parseLine(profile.encoding, profile.lines[i].text);
        if (at.section < 0) {
            if (line.kind == Kind::Section && equalsIgnoringAsciiCase(line.name, names.section))
                at.section = at.lastLine = long(i);
            continue;
        }
        if (line.kind == Kind::Section)
            break;
        if (!isBlankLine(profile.lines[i].text))
            at.lastLine = long(i); // comments included, as the Windows profile functions do
        if (line.kind == Kind::Key && at.key < 0 && equalsIgnoringAsciiCase(line.name, names.key)) {
            at.key = long(i);
            at.valueBegin = line.valueBegin;
            at.hasEquals = line.hasEquals;
        }
    }
    return at;
}

void insertLine(Text& profile, size_t index, std::string text) {
    if (index > 0 && profile.lines[index - 1].end.empty())
        profile.lines[index - 1].end = kNewLineEnd; // never glue two lines together
    profile.lines.insert(profile.lines.begin() + long(index),
                         {std::move(text), std::string(kNewLineEnd)});
}

void setValue(Text& profile, const Names& names, std::string_view value) {
    const Encoding enc = profile.encoding;
    const std::string stored = fromUtf8(enc, value);
    const Location at = locate(profile, names);
    if (at.key >= 0) {
        Line& line = profile.lines[size_t(at.key)];
        line.text = line.text.substr(0, at.valueBegin) + (at.hasEquals ? "" : "=") + stored;
        if (line.end.empty())
            line.end = kNewLineEnd; // a changed last line ends as every written line does
    } else if (at.section >= 0) {
        insertLine(profile, size_t(at.lastLine + 1), fromUtf8(enc, names.key) + "=" + stored);
    } else {
        std::string header(1, '[');
        header.append(fromUtf8(enc, names.section)).push_back(']');
        insertLine(profile, profile.lines.size(), std::move(header));
        insertLine(profile, profile.lines.size(), fromUtf8(enc, names.key) + "=" + stored);
    }
}

using Change = std::pair<Names, std::string>;

void writeValues(const std::vector<Change>& changes, const std::string& file) {
    // A symbolic link is never followed: whoever may plant one where the file is could
    // otherwise have a save overwrite any file the saving user may write.
    const std::string& target = file;
    struct stat st {};
    const bool exists = lstat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT)
        return;
    std::string bytes;
    if (exists && (!S_ISREG(st.st_mode) || !lumira::isWritable(target, st) ||
                   !lumira::readRegularFile(target, bytes, lumira::Links::Refuse, &st)))
        return;
    const std::string folder = lumira::folderOf(target);
    struct stat folderStat {};
    if (stat(folder.c_str(), &folderStat) != 0 || !lumira::isWritable(folder, folderStat))
        return;

    Text profile = parse(bytes);
    for (const auto& [names, value] : changes) {
        const std::string_view text = value;
        setValue(profile, names, text.substr(0, text.find_first_of(std::string_view("\r\n\0", 3))));
    }
    lumira::replaceFile(target, serialize(profile), exists ? &st : nullptr);
}

} // namespace

std::string readIniValue(const std::string& section, const std::string& key,
                         const std::string& file) {
    try {
        const std::optional<Names> names = usableNames(section, key);
        std::string bytes;
        if (!names || !lumira::readRegularFile(file, bytes))
            return {};
        const Text profile = parse(bytes);
        const Location at = locate(profile, *names);
        if (at.key < 0)
            return {};
        std::string_view value = std::string_view(profile.lines[size_t(at.key)].text);
        value = value.substr(at.valueBegin);
        value = trimBlanks(value.substr(0, value.find('\0'))); // a value ends at a NUL byte
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return toUtf8(profile.encoding, cutToWholeChars(profile.encoding, value, kMaxValueBytes));
    } catch (...) {
        return {}; // out of memory: behave as if the key were missing
    }
}

void writeIniValue(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) {
    writeIniValues(section, {{key, value}}, file);
}

void writeIniValues(const std::string& section,
                    const std::vector<std::pair<std::string, std::string>>& values,
                    const std::string& file) {
    try {
        std::vector<Change> changes;
        for (const auto& [key, value] : values)
            if (std::optional<Names> names = usableNames(section, key))
                changes.emplace_back(std::move(*names), value);
        if (!changes.empty() && !file.empty())
            writeValues(changes, file);
    } catch (...) {
        // out of memory: the old file has not been touched
    }
}
