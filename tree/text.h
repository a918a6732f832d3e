// The one text module: image names and identifiers are UTF-16; a character is one code unit.
#pragma once

#include <string>
#include <string_view>

namespace tavrine::text {

// UTF-8 bytes (a local file name) to UTF-16; every invalid byte sequence becomes U+FFFD.
std::u16string FromUtf8(std::string_view utf8);
// A local file name (bytes) as an image name: UTF-8, where every byte outside a valid sequence
// stands for its Windows-1252 character (the five bytes the code page leaves undefined for the
// C1 controls U+0081, U+008D, U+008F, U+0090, U+009D), so that different names stay apart.
std::u16string FromLocalName(std::string_view name);
// True when bytes are valid UTF-8 throughout.
bool IsUtf8(std::string_view bytes);
// Local bytes for a message: valid UTF-8 as it is, every other byte as "\xE9".
std::string ShowLocalName(std::string_view bytes);
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view utf16);

// Unicode simple upper-case mapping of one code unit, independent of the user's locale.
char16_t SimpleUpper(char16_t c);
std::u16string ToUpper(std::u16string_view s);

// Unicode simple case folding of one code unit; names compare equal ignoring case when their
// foldings are equal.
char16_t SimpleFold(char16_t c);
std::u16string Fold(std::u16string_view s);

// Windows-1252, the single-byte form of ISO 9660 text: the byte of a character, or '?' (0x3F)
// for a character that Windows-1252 cannot show.
unsigned char ToWindows1252(char16_t c);
std::string ToWindows1252(std::u16string_view s);
// Windows-1252 bytes to UTF-16; the five undefined bytes stand for the C1 controls of the same
// value.
std::u16string FromWindows1252(std::string_view bytes);
// True when the character has a Windows-1252 byte.
bool InWindows1252(char16_t c);

// A decimal number: optional surrounding spaces, an optional sign, digits with at most one
// decimal point, an optional exponent, at least one digit. No hex, "inf", "nan" or separators.
bool IsDecimalNumber(std::u16string_view s);

// The text without its leading and trailing spaces (U+0020 only).
std::u16string TrimSpaces(std::u16string_view s);

}  // namespace tavrine::text
