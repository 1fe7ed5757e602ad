#include "app/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace app {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes the UTF-8 character at text[pos]; on success advances pos past it. Overlong forms, surrogates
// and code points above U+10FFFF are invalid.
std::optional<char32_t> DecodeUtf8At(std::string_view text, size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  size_t length = 0;
  char32_t code = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, code = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code = lead & 0x07, minimum = 0x10000;
  } else {
    return std::nullopt;
  }
  if (pos + length > text.size()) return std::nullopt;
  for (size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[pos + i]);
    if (!IsContinuation(byte)) return std::nullopt;
    code = (code << 6) | (byte & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return std::nullopt;
  pos += length;
  return code;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

#ifndef _WIN32
// One conversion descriptor per direction and thread, opened on first use: the file lookup converts
// tens of thousands of names per run, and opening a descriptor each time would dominate.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts one whole piece of input; false when iconv rejects it (then out is unspecified).
  bool Convert(std::string_view in, std::string& out) {
    out.clear();
    if (cd_ == reinterpret_cast<iconv_t>(-1)) return false;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char buffer[256];
    while (inLeft > 0) {
      char* outPtr = buffer;
      size_t outLeft = sizeof buffer;
      const size_t result = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
      out.append(buffer, outPtr - buffer);
      if (result == static_cast<size_t>(-1) && errno != E2BIG) return false;
    }
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    if (iconv(cd_, nullptr, nullptr, &outPtr, &outLeft) == static_cast<size_t>(-1)) return false;
    out.append(buffer, outPtr - buffer);
    return true;
  }

 private:
  iconv_t cd_;
};

bool Utf8CharToGbk(std::string_view utf8Char, std::string& out) {
  thread_local Converter converter("GBK", "UTF-8");
  return converter.Convert(utf8Char, out);
}

bool GbkPieceToUtf8(std::string_view gbk, std::string& out) {
  thread_local Converter converter("UTF-8", "GBK");
  return converter.Convert(gbk, out);
}
#else
std::wstring ToWide(UINT codePage, std::string_view in) {
  if (in.empty()) return {};
  const int size = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), nullptr, 0);
  if (size <= 0) return {};
  std::wstring wide(size, L'\0');
  MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), wide.data(), size);
  return wide;
}

bool FromWide(UINT codePage, const std::wstring& wide, std::string& out) {
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultPtr = codePage == CP_UTF8 ? nullptr : &usedDefault;
  const int size = WideCharToMultiByte(codePage, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr,
                                       usedDefaultPtr);
  if (size <= 0) return false;
  out.assign(size, '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), int(wide.size()), out.data(), size, nullptr, usedDefaultPtr);
  return !usedDefault;
}

bool Utf8CharToGbk(std::string_view utf8Char, std::string& out) {
  const std::wstring wide = ToWide(CP_UTF8, utf8Char);
  return !wide.empty() && FromWide(936, wide, out);
}

bool GbkPieceToUtf8(std::string_view gbk, std::string& out) {
  const std::wstring wide = ToWide(936, gbk);
  return !wide.empty() && FromWide(CP_UTF8, wide, out);
}
#endif

bool IsGbkLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }
bool IsGbkTrailByte(unsigned char byte) { return byte >= 0x40 && byte <= 0xFE && byte != 0x7F; }

}  // namespace

std::string Trim(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string TrimEnd(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
  return std::string(text.substr(0, end));
}

// In UTF-8 every byte of a multi-byte character is 0x80 or above, so a byte in 'a'..'z' is always a
// character of its own.
std::string UpperAscii(std::string_view utf8) {
  std::string result(utf8);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

std::string LowerAscii(std::string_view utf8) {
  std::string result(utf8);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && UpperAscii(a) == UpperAscii(b);
}

bool IsValidUtf8(std::string_view bytes) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    if (!DecodeUtf8At(bytes, pos)) return false;
  }
  return true;
}

std::string Utf8ToGbk(std::string_view utf8) {
  std::string result;
  result.reserve(utf8.size());
  std::string piece;
  size_t pos = 0;
  while (pos < utf8.size()) {
    const size_t start = pos;
    const auto code = DecodeUtf8At(utf8, pos);
    if (!code) {
      ++pos;
      result += '?';
    } else if (*code < 0x80) {
      result += static_cast<char>(*code);
    } else if (Utf8CharToGbk(utf8.substr(start, pos - start), piece)) {
      result += piece;
    } else {
      result += '?';
    }
  }
  return result;
}

std::string GbkToUtf8(std::string_view gbk) {
  std::string result;
  result.reserve(gbk.size() * 3 / 2);
  std::string piece;
  size_t pos = 0;
  while (pos < gbk.size()) {
    const auto byte = static_cast<unsigned char>(gbk[pos]);
    if (byte < 0x80) {
      result += static_cast<char>(byte);
      ++pos;
      continue;
    }
    const bool pair = IsGbkLeadByte(byte) && pos + 1 < gbk.size() &&
                      IsGbkTrailByte(static_cast<unsigned char>(gbk[pos + 1]));
    const size_t length = pair ? 2 : 1;
    if (GbkPieceToUtf8(gbk.substr(pos, length), piece)) {
      result += piece;
    } else {
      AppendUtf8(result, kReplacement);
    }
    pos += length;
  }
  return result;
}

bool IsValidGbk(std::string_view bytes) {
  std::string ignored;
  return GbkPieceToUtf8(bytes, ignored);
}

std::string FileNameToUtf8(std::string_view bytes) {
  return IsValidUtf8(bytes) ? std::string(bytes) : GbkToUtf8(bytes);
}

std::vector<std::string> FileNameReadings(std::string_view bytes) {
  std::vector<std::string> readings;
  if (IsValidUtf8(bytes)) readings.emplace_back(bytes);
  const bool ascii =
      std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (readings.empty() || (!ascii && IsValidGbk(bytes))) {
    std::string gbkReading = GbkToUtf8(bytes);
    if (readings.empty() || gbkReading != readings.front()) readings.push_back(std::move(gbkReading));
  }
  return readings;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string result;
  result.reserve(utf8.size());
  size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t code = kReplacement;
    if (const auto decoded = DecodeUtf8At(utf8, pos)) {
      code = *decoded;
    } else {
      ++pos;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      result += static_cast<char16_t>(0xD800 + (code >> 10));
      result += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      result += static_cast<char16_t>(code);
    }
  }
  return result;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string result;
  result.reserve(utf16.size() * 3 / 2);
  for (size_t pos = 0; pos < utf16.size(); ++pos) {
    const char16_t unit = utf16[pos];
    char32_t code = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF && pos + 1 < utf16.size() && utf16[pos + 1] >= 0xDC00 &&
        utf16[pos + 1] <= 0xDFFF) {
      code = 0x10000 + ((unit - 0xD800) << 10) + (utf16[pos + 1] - 0xDC00);
      ++pos;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      code = kReplacement;
    }
    AppendUtf8(result, code);
  }
  return result;
}

}  // namespace app
