#include "common/text_encoding.h"

#include <cerrno>
#include <iconv.h>

namespace lumira {
namespace {

constexpr std::string_view kReplacementChar = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

// Length of the well-formed UTF-8 sequence starting at s[i], or 0 if there is none.
size_t utf8SequenceLength(std::string_view s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned lead = byte(i);
    if (lead < 0x80)
        return 1;
    size_t len = 0;
    unsigned low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + len > s.size() || byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (size_t k = 2; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    }
    return len;
}

// Converts `in` with iconv. Where the converter meets bytes it cannot take, `replacement` is
// written and one byte is skipped, so bad input never stops or breaks the conversion. If the
// converter is unavailable, ASCII passes through and every other byte is replaced.
std::string convert(const char* to, const char* from, std::string_view in,
                    std::string_view replacement) {
    std::string out;
    const iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        for (const char c : in) {
            if (static_cast<unsigned char>(c) < 0x80)
                out += c;
            else
                out += replacement;
        }
        return out;
    }
    size_t pos = 0;
    char buffer[4096];
    while (pos < in.size()) {
        char* inPtr = const_cast<char*>(in.data() + pos);
        size_t inLeft = in.size() - pos;
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        const size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        const int error = errno;
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        pos = in.size() - inLeft;
        if (result != static_cast<size_t>(-1) || error == E2BIG)
            continue;
        out += replacement; // EILSEQ or EINVAL (sequence cut off at the end)
        ++pos;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

} // namespace

bool isValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const size_t len = utf8SequenceLength(text, i);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

namespace {

std::string replaceInvalidUtf8(std::string_view text, std::string_view replacement) {
    if (isValidUtf8(text))
        return std::string(text);
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const size_t len = utf8SequenceLength(text, i);
        if (len == 0) {
            out += replacement;
            ++i;
        } else {
            out.append(text.substr(i, len));
            i += len;
        }
    }
    return out;
}

} // namespace

std::string toValidUtf8(std::string_view text) {
    return replaceInvalidUtf8(text, kReplacementChar);
}

std::string gb18030ToUtf8(std::string_view text) {
    return convert("UTF-8", "GB18030", text, kReplacementChar);
}

std::string utf8ToGb18030(std::string_view text) {
    return convert("GB18030", "UTF-8", replaceInvalidUtf8(text, "?"), "?");
}

namespace {

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

void appendUnit(std::string& out, char16_t unit, bool bigEndian) {
    const char high = char(unit >> 8), low = char(unit & 0xFF);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
}

} // namespace

std::string utf16ToUtf8(std::string_view text, bool bigEndian) {
    const auto unitAt = [&](size_t i) {
        const auto first = static_cast<unsigned char>(text[i]);
        const auto second = static_cast<unsigned char>(text[i + 1]);
        return char16_t(bigEndian ? (first << 8 | second) : (second << 8 | first));
    };
    constexpr char32_t kReplacement = 0xFFFD;
    std::string out;
    size_t i = 0;
    for (; i + 1 < text.size(); i += 2) {
        const char16_t unit = unitAt(i);
        if (unit < 0xD800 || unit > 0xDFFF) {
            appendUtf8(out, unit);
        } else if (unit <= 0xDBFF && i + 3 < text.size() && unitAt(i + 2) >= 0xDC00 &&
                   unitAt(i + 2) <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (unitAt(i + 2) - 0xDC00));
            i += 2;
        } else {
            appendUtf8(out, kReplacement); // a surrogate without its partner
        }
    }
    if (i < text.size())
        appendUtf8(out, kReplacement); // an odd last byte
    return out;
}

std::string utf8ToUtf16(std::string_view text, bool bigEndian) {
    const std::string valid = toValidUtf8(text);
    std::string out;
    for (size_t i = 0; i < valid.size();) {
        const size_t len = utf8SequenceLength(valid, i);
        const auto byte = [&](size_t k) { return char32_t(static_cast<unsigned char>(valid[k])); };
        char32_t c = len == 1 ? byte(i) : byte(i) & (0xFF >> (len + 1));
        for (size_t k = 1; k < len; ++k)
            c = (c << 6) | (byte(i + k) & 0x3F);
        i += len;
        if (c < 0x10000) {
            appendUnit(out, char16_t(c), bigEndian);
        } else {
            appendUnit(out, char16_t(0xD800 + ((c - 0x10000) >> 10)), bigEndian);
            appendUnit(out, char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)), bigEndian);
        }
    }
    return out;
}

} // namespace lumira
