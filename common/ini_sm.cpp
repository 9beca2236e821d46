// INI_SM: see ini_sm.h for the file format and the behaviour of the two functions.
#include "common/ini_sm.h"

#include "common/text_encoding.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lumira::detail {
std::function<bool(const std::string&)> iniBeforeRenameHook;
}

namespace {

using lumira::isValidUtf8;

enum class Encoding { Utf8, Utf8Bom, Gb18030 };
constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr size_t kMaxValueBytes = 32767; // the original reader's buffer held 32768 bytes
constexpr std::string_view kNewLineEnd = "\r\n";

struct Line {
    std::string text; // raw bytes in the file's encoding, without the line end
    std::string end;  // "\r\n", "\n", "\r", or "" for a last line without one
};

struct Profile {
    Encoding encoding = Encoding::Utf8;
    std::vector<Line> lines;
};

enum class Kind { Other, Section, Key };

struct ParsedLine {
    Kind kind = Kind::Other;
    std::string name;      // UTF-8, blanks trimmed
    size_t valueBegin = 0; // offset of the value in the raw line (after '=' and blanks)
};

struct Names {
    std::string section;
    std::string key;
};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

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
    Names names{std::string(trimmed(section)), std::string(trimmed(key))};
    for (const std::string& name : {names.section, names.key}) {
        if (name.empty() || name.find_first_of(std::string_view("\r\n\0", 3)) != name.npos ||
            !isValidUtf8(name))
            return std::nullopt;
    }
    if (names.section.find(']') != names.section.npos || names.key.find('=') != names.key.npos ||
        names.key.front() == ';' || names.key.front() == '[')
        return std::nullopt;
    return names;
}

// Byte length of the character starting at s[i]. An ASCII byte is always a character of its
// own in both encodings, so searching for '=', ']' and blanks by character is safe.
size_t charLength(Encoding encoding, std::string_view s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned lead = byte(i);
    if (lead < 0x80 || i + 1 == s.size())
        return 1;
    const unsigned next = byte(i + 1);
    if (encoding == Encoding::Gb18030) {
        if (lead == 0x80 || lead == 0xFF)
            return 1;
        if (next >= 0x30 && next <= 0x39)
            return std::min<size_t>(4, s.size() - i);
        return (next >= 0x40 && next <= 0xFE && next != 0x7F) ? 2 : 1;
    }
    const size_t expected = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    size_t len = 1;
    while (len < expected && i + len < s.size() && (byte(i + len) & 0xC0) == 0x80)
        ++len;
    return len;
}

size_t findChar(Encoding encoding, std::string_view s, char wanted, size_t from) {
    for (size_t i = from; i < s.size(); i += charLength(encoding, s, i)) {
        if (s[i] == wanted)
            return i;
    }
    return std::string_view::npos;
}

// The longest start of `s` of at most `limit` bytes that ends on a character boundary.
std::string_view cutToWholeChars(Encoding encoding, std::string_view s, size_t limit) {
    if (s.size() <= limit)
        return s;
    size_t end = 0;
    while (end + charLength(encoding, s, end) <= limit)
        end += charLength(encoding, s, end);
    return s.substr(0, end);
}

std::string toUtf8(Encoding encoding, std::string_view raw) {
    return encoding == Encoding::Gb18030 ? lumira::gb18030ToUtf8(raw) : lumira::toValidUtf8(raw);
}

std::string fromUtf8(Encoding encoding, std::string_view text) {
    return encoding == Encoding::Gb18030 ? lumira::utf8ToGb18030(text) : lumira::toValidUtf8(text);
}

ParsedLine parseLine(Encoding encoding, std::string_view text) {
    size_t start = 0;
    while (start < text.size() && isBlank(text[start]))
        ++start;
    if (start == text.size() || text[start] == ';')
        return {};
    if (text[start] == '[') {
        const size_t close = findChar(encoding, text, ']', start + 1);
        if (close == text.npos)
            return {};
        return {Kind::Section,
                toUtf8(encoding, trimmed(text.substr(start + 1, close - start - 1)))};
    }
    const size_t equals = findChar(encoding, text, '=', start);
    if (equals == text.npos)
        return {};
    std::string name = toUtf8(encoding, trimmed(text.substr(start, equals - start)));
    if (name.empty())
        return {};
    size_t value = equals + 1;
    while (value < text.size() && isBlank(text[value]))
        ++value;
    return {Kind::Key, std::move(name), value};
}

Profile parseProfile(std::string_view bytes) {
    Profile profile;
    if (bytes.starts_with(kBom)) {
        profile.encoding = Encoding::Utf8Bom;
        bytes.remove_prefix(kBom.size());
    } else if (!isValidUtf8(bytes)) {
        profile.encoding = Encoding::Gb18030;
    }
    // CR and LF never occur inside a multi-byte character of either encoding.
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find_first_of("\r\n", start);
        if (end == bytes.npos) {
            profile.lines.push_back({std::string(bytes.substr(start)), ""});
            break;
        }
        const size_t endLength = bytes.substr(end, 2) == "\r\n" ? 2 : 1;
        profile.lines.push_back({std::string(bytes.substr(start, end - start)),
                                 std::string(bytes.substr(end, endLength))});
        start = end + endLength;
    }
    return profile;
}

std::string serialize(const Profile& profile) {
    std::string out(profile.encoding == Encoding::Utf8Bom ? kBom : "");
    for (const Line& line : profile.lines)
        out += line.text + line.end;
    return out;
}

struct Location {
    long section = -1;     // line of the first matching section header
    long lastKey = -1;     // last key line of that section (or its header)
    long key = -1;         // first matching key line in that section
    size_t valueBegin = 0; // of that key line
};

Location locate(const Profile& profile, const Names& names) {
    Location at;
    for (size_t i = 0; i < profile.lines.size(); ++i) {
        ParsedLine line = parseLine(profile.encoding, profile.lines[i].text);
        if (at.section < 0) {
            if (line.kind == Kind::Section && equalsIgnoringAsciiCase(line.name, names.section))
                at.section = at.lastKey = long(i);
            continue;
        }
        if (line.kind == Kind::Section)
            break;
        if (line.kind != Kind::Key)
            continue;
        at.lastKey = long(i);
        if (at.key < 0 && equalsIgnoringAsciiCase(line.name, names.key)) {
            at.key = long(i);
            at.valueBegin = line.valueBegin;
        }
    }
    return at;
}

void insertLine(Profile& profile, size_t index, std::string text) {
    if (index > 0 && profile.lines[index - 1].end.empty())
        profile.lines[index - 1].end = kNewLineEnd; // never glue two lines together
    profile.lines.insert(profile.lines.begin() + long(index),
                         {std::move(text), std::string(kNewLineEnd)});
}

void setValue(Profile& profile, const Names& names, std::string_view value) {
    const Encoding enc = profile.encoding;
    const std::string stored = fromUtf8(enc, value);
    const Location at = locate(profile, names);
    if (at.key >= 0) {
        std::string& text = profile.lines[size_t(at.key)].text;
        text = text.substr(0, at.valueBegin) + stored;
    } else if (at.section >= 0) {
        insertLine(profile, size_t(at.lastKey + 1), fromUtf8(enc, names.key) + "=" + stored);
    } else {
        std::string header(1, '[');
        header.append(fromUtf8(enc, names.section)).push_back(']');
        insertLine(profile, profile.lines.size(), std::move(header));
        insertLine(profile, profile.lines.size(), fromUtf8(enc, names.key) + "=" + stored);
    }
}

// Reads a regular file whole. False when it does not exist or cannot be read.
bool readFile(const std::string& path, std::string& out) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    char buffer[65536];
    for (ssize_t n = 1; ok && n > 0;) {
        n = read(fd, buffer, sizeof buffer);
        if (n > 0)
            out.append(buffer, size_t(n));
        ok = n >= 0;
    }
    close(fd);
    return ok;
}

// Writable the way a user expects: some 'w' permission bit set (even for root, who may write
// anything) and access granted to us.
bool isWritable(const std::string& path, const struct stat& st) {
    return (st.st_mode & 0222) != 0 && access(path.c_str(), W_OK) == 0;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == path.npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Permission bits a newly created file gets: 0666 less the process umask, read without
// changing it (umask() would race with other threads).
mode_t newFileMode() {
    mode_t mask = 022;
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1)
                mask = mode_t(value);
        }
        std::fclose(status);
    }
    return 0666 & ~mask;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0)
            return false;
        data.remove_prefix(size_t(n));
    }
    return true;
}

// Atomically replaces (or creates) `target` with `content`. `old` is the stat of the existing
// file, if any, whose owner and permission bits the new file takes over.
void replaceFile(const std::string& target, const std::string& content, const struct stat* old) {
    const std::string folder = folderOf(target);
    const std::string name = target.substr(target.rfind('/') + 1);
    std::string temp = folder + "/." + name.substr(0, 100) + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return;
    bool ok = writeAll(fd, content);
    if (ok && old && fchown(fd, old->st_uid, old->st_gid) != 0) {
        // Not permitted for ordinary users on others' files; the folder owner's file is fine.
    }
    ok = ok && fchmod(fd, old ? old->st_mode & 07777 : newFileMode()) == 0;
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && lumira::detail::iniBeforeRenameHook)
        ok = lumira::detail::iniBeforeRenameHook(temp);
    if (!ok || rename(temp.c_str(), target.c_str()) != 0) {
        unlink(temp.c_str());
        return;
    }
    const int dirFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        fsync(dirFd); // make the rename itself durable; best effort
        close(dirFd);
    }
}

void writeValue(const Names& names, std::string_view value, const std::string& file) {
    // A symbolic link is written through to its final target, so the link itself stays.
    std::string target = file;
    struct stat st {};
    if (lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (!realpath(file.c_str(), resolved))
            return; // dangling link: do not guess where to create a file
        target = resolved;
    }
    const bool exists = stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT)
        return;
    std::string bytes;
    if (exists && (!S_ISREG(st.st_mode) || !isWritable(target, st) || !readFile(target, bytes)))
        return;
    const std::string folder = folderOf(target);
    struct stat folderStat {};
    if (stat(folder.c_str(), &folderStat) != 0 || !isWritable(folder, folderStat))
        return;

    Profile profile = parseProfile(bytes);
    setValue(profile, names, value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3))));
    replaceFile(target, serialize(profile), exists ? &st : nullptr);
}

} // namespace

std::string readIniValue(const std::string& section, const std::string& key,
                         const std::string& file) {
    try {
        const std::optional<Names> names = usableNames(section, key);
        std::string bytes;
        if (!names || !readFile(file, bytes))
            return {};
        const Profile profile = parseProfile(bytes);
        const Location at = locate(profile, *names);
        if (at.key < 0)
            return {};
        std::string_view value =
            trimmed(std::string_view(profile.lines[size_t(at.key)].text).substr(at.valueBegin));
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
    try {
        const std::optional<Names> names = usableNames(section, key);
        if (names && !file.empty())
            writeValue(*names, value, file);
    } catch (...) {
        // out of memory: the old file has not been touched
    }
}
