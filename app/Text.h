// Text helpers: trimming, ASCII upper-casing, conversion between UTF-8 (inside the program) and GBK
// (code page 936: the settings codec, byte counts of the file lookup, file names from Windows archives).
#pragma once

#include <string>
#include <string_view>

namespace app {

// Removes leading and trailing bytes whose code is 32 or less.
std::string Trim(std::string_view text);
// Upper-cases ASCII letters that stand as characters of their own (never a byte inside a multi-byte
// character of UTF-8 text).
std::string UpperAscii(std::string_view utf8);

bool IsValidUtf8(std::string_view bytes);
// UTF-8 -> GBK bytes; characters GBK cannot hold become '?'.
std::string Utf8ToGbk(std::string_view utf8);
// GBK bytes -> UTF-8; invalid sequences become U+FFFD.
std::string GbkToUtf8(std::string_view gbk);
// A name as found on disk, shown as UTF-8: kept when it is valid UTF-8, otherwise read as GBK.
std::string FileNameToUtf8(std::string_view bytes);

// UTF-8 <-> UTF-16 (the wide text of ODBC and of the Windows registry); invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

}  // namespace app
