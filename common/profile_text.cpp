#include "common/profile_text.h"

#include "common/blanks.h"
#include "common/text_encoding.h"

#include <algorithm>

namespace lumira::profile {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

bool isGb18030(Encoding encoding) {
    return encoding == Encoding::Gb18030;
}

// Byte length of the character starting at s[i]. An ASCII byte is always a character of its
// own in every held encoding, so searching for '=', ']' and blanks by character is safe.
size_t charLength(Encoding encoding, std::string_view s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned lead = byte(i);
    if (lead < 0x80 || i + 1 == s.size())
        return 1;
    const unsigned next = byte(i + 1);
    if (isGb18030(encoding)) {
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

} // namespace

std::string_view cutToWholeChars(Encoding encoding, std::string_view s, size_t limit) {
    if (s.size() <= limit)
        return s;
    size_t end = 0;
    while (end + charLength(encoding, s, end) <= limit)
        end += charLength(encoding, s, end);
    return s.substr(0, end);
}

std::string toUtf8(Encoding encoding, std::string_view held) {
    return isGb18030(encoding) ? gb18030ToUtf8(held) : toValidUtf8(held);
}

std::string fromUtf8(Encoding encoding, std::string_view text) {
    return isGb18030(encoding) ? utf8ToGb18030(text) : toValidUtf8(text);
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
                toUtf8(encoding, trimBlanks(text.substr(start + 1, close - start - 1)))};
    }
    const size_t equals = findChar(encoding, text, '=', start);
    if (equals == text.npos) {
        std::string name = toUtf8(encoding, trimBlanks(text.substr(start)));
        return {Kind::Key, std::move(name), text.size(), false};
    }
    std::string name = toUtf8(encoding, trimBlanks(text.substr(start, equals - start)));
    if (name.empty())
        return {};
    size_t value = equals + 1;
    while (value < text.size() && isBlank(text[value]))
        ++value;
    return {Kind::Key, std::move(name), value};
}

bool isBlankLine(std::string_view line) {
    return trimBlanks(line).empty();
}

Text parse(std::string_view bytes) {
    Text profile;
    std::string decoded;
    if (bytes.starts_with(kUtf8Bom)) {
        profile.encoding = Encoding::Utf8Bom;
        bytes.remove_prefix(kUtf8Bom.size());
    } else if (bytes.starts_with(kUtf16LeBom) || bytes.starts_with(kUtf16BeBom)) {
        const bool bigEndian = bytes.starts_with(kUtf16BeBom);
        profile.encoding = bigEndian ? Encoding::Utf16Be : Encoding::Utf16Le;
        decoded = utf16ToUtf8(bytes.substr(2), bigEndian);
        bytes = decoded;
    } else if (!isValidUtf8(bytes)) {
        profile.encoding = Encoding::Gb18030;
    }
    // CR and LF never occur inside a multi-byte character of a held encoding.
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

std::string serialize(const Text& profile) {
    std::string out;
    for (const Line& line : profile.lines)
        out += line.text + line.end;
    switch (profile.encoding) {
    case Encoding::Utf8Bom:
        return std::string(kUtf8Bom) + out;
    case Encoding::Utf16Le:
        return std::string(kUtf16LeBom) + utf8ToUtf16(out, false);
    case Encoding::Utf16Be:
        return std::string(kUtf16BeBom) + utf8ToUtf16(out, true);
    default:
        return out;
    }
}

} // namespace lumira::profile
