// Text helpers: trimming, ASCII upper-casing, conversion between UTF-8 (inside the program) and GBK
// (code page 936: the settings codec, byte counts of the file lookup, file names from Windows archives).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace app {

// Removes leading and trailing bytes whose code is 32 or less.
std::string Trim(std::string_view text);
// Removes trailing bytes whose code is 32 or less only: a card number as the reader table holds it (a
// fixed-width column pads it with blanks, while a leading blank is part of it).
std::string TrimEnd(std::string_view text);
// Upper-cases (lower-cases) ASCII letters that stand as characters of their own (never a byte inside a
// multi-byte character of UTF-8 text). The one rule by which names, extensions and card numbers are
// compared without regard to letter case.
std::string UpperAscii(std::string_view utf8);
std::string LowerAscii(std::string_view utf8);
// Equal but for the case of ASCII letters.
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b);

bool IsValidUtf8(std::string_view bytes);
// UTF-8 -> GBK bytes; characters GBK cannot hold become '?'.
std::string Utf8ToGbk(std::string_view utf8);
// GBK bytes -> UTF-8; invalid sequences become U+FFFD.
std::string GbkToUtf8(std::string_view gbk);
// Whether the bytes are GBK text: every byte ASCII or part of a two-byte character GBK defines.
bool IsValidGbk(std::string_view bytes);
// A name as found on disk, shown as UTF-8: kept when it is valid UTF-8, otherwise read as GBK.
std::string FileNameToUtf8(std::string_view bytes);
// Every reading of a name found on disk, as UTF-8: the name itself when it is valid UTF-8, and its GBK
// reading when it is also (or only) valid GBK and reads differently. Some GBK names are valid UTF-8 by
// chance (叶伟 in GBK is the UTF-8 of "Ҷΰ"), so a name cannot be told to be one or the other. Never empty:
// a name that is neither gives FileNameToUtf8's reading.
std::vector<std::string> FileNameReadings(std::string_view bytes);

// UTF-8 <-> UTF-16 (the wide text of ODBC and of the Windows registry); invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace app
