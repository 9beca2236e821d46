// The text of a profile file (lumira.ini) as lines, in the encoding the file was written in.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumira::profile {

// UTF-16 files are held as UTF-8 lines and turned back into UTF-16 when written.
enum class Encoding { Utf8, Utf8Bom, Gb18030, Utf16Le, Utf16Be };

struct Line {
    std::string text; // bytes in the held encoding, without the line end
    std::string end;  // "\r\n", "\n", "\r", or "" for a last line without one
};

struct Text {
    Encoding encoding = Encoding::Utf8;
    std::vector<Line> lines;
};

enum class Kind { Other, Section, Key };

struct ParsedLine {
    Kind kind = Kind::Other;
    std::string name;      // UTF-8, blanks trimmed
    size_t valueBegin = 0; // offset of the value in the line (after '=' and blanks)
    bool hasEquals = true; // false for a key line that is a name alone (an empty value)
};

// A file's bytes as lines. A byte-order mark tells UTF-8 or UTF-16; without one, valid UTF-8
// is UTF-8 and anything else GB18030.
Text parse(std::string_view bytes);
// Whether a held line holds nothing but blanks.
bool isBlankLine(std::string_view line);
// The lines back as the file's bytes, mark included.
std::string serialize(const Text& text);

// "[name]" headers and "key=value" lines; a line that is a name alone is that key with an
// empty value, as the Windows profile functions read it. Comments (';'), blank lines and an
// unclosed header are Kind::Other.
ParsedLine parseLine(Encoding encoding, std::string_view line);

// Between the program's UTF-8 and the held encoding.
std::string toUtf8(Encoding encoding, std::string_view held);
std::string fromUtf8(Encoding encoding, std::string_view text);

// The longest start of `s` of at most `limit` bytes that ends on a character boundary.
std::string_view cutToWholeChars(Encoding encoding, std::string_view s, size_t limit);

} // namespace lumira::profile
