// Conversions between UTF-8 (the program's text) and the encodings of text files written on
// Chinese Windows systems: GB18030 (a superset of GB2312 and GBK) and UTF-16 ("Unicode").
#pragma once

#include <string>
#include <string_view>

namespace lumira {

// Strict check: rejects overlong forms, UTF-16 surrogates and code points above U+10FFFF.
bool isValidUtf8(std::string_view text);

// Returns `text` with every byte that is not part of a well-formed UTF-8 sequence replaced
// by U+FFFD.
std::string toValidUtf8(std::string_view text);

// Bytes that are not valid GB18030 (including a character cut off at the end) become U+FFFD,
// one per bad byte; the rest of the text converts normally. The result is valid UTF-8.
std::string gb18030ToUtf8(std::string_view text);

// Bytes that are not valid UTF-8 become '?', one per bad byte; the rest converts normally.
std::string utf8ToGb18030(std::string_view text);

// UTF-16 without a byte-order mark, little or big endian. Unpaired surrogates and an odd last
// byte become U+FFFD.
std::string utf16ToUtf8(std::string_view text, bool bigEndian);
// Bytes that are not valid UTF-8 become U+FFFD.
std::string utf8ToUtf16(std::string_view text, bool bigEndian);

} // namespace lumira
