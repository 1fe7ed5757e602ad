#include "app/SettingsCodec.h"

#include "app/SettingsStore.h"
#include "app/Text.h"

namespace app {
namespace {

// Group value x (0..3) is written as the digit 2x + (x mod 2): 0, 3, 4, 7.
constexpr char kGroupDigits[4] = {'0', '3', '4', '7'};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The character at position pos of GBK text whose earlier bytes are all ASCII, shown as UTF-8, for the
// conversion error (a lead byte alone would be half a character).
std::string CharacterAt(const std::string& gbk, size_t pos) {
  const auto lead = static_cast<unsigned char>(gbk[pos]);
  size_t length = 1;
  if (lead >= 0x81 && lead <= 0xFE && pos + 1 < gbk.size()) {
    const auto trail = static_cast<unsigned char>(gbk[pos + 1]);
    if (trail >= 0x40 && trail <= 0xFE && trail != 0x7F) length = 2;
  }
  return GbkToUtf8(gbk.substr(pos, length));
}

}  // namespace

std::string EncodeSetting(const std::string& plainBytes) {
  std::string encoded;
  encoded.reserve(plainBytes.size() * 4);
  for (const char c : plainBytes) {
    const auto byte = static_cast<unsigned char>(c);
    for (int shift = 6; shift >= 0; shift -= 2) encoded += kGroupDigits[(byte >> shift) & 3];
  }
  return encoded;
}

// Each digit d stands for the group d div 2, so the digits 8 and 9 read as the group 4 and a group of
// four such digits can exceed a byte: only the low 8 bits are kept.
std::string DecodeSetting(const std::string& encoded) {
  if (encoded.size() % 4 != 0) return {};
  std::string plain;
  plain.reserve(encoded.size() / 4);
  for (size_t group = 0; group < encoded.size(); group += 4) {
    unsigned value = 0;
    for (size_t i = group; i < group + 4; ++i) {
      if (!IsDigit(encoded[i])) {
        throw SettingsError("'" + CharacterAt(encoded, i) + "' is not a valid integer value");
      }
      value = value * 4 + static_cast<unsigned>(encoded[i] - '0') / 2;
    }
    plain += static_cast<char>(value & 0xFF);
  }
  return plain;
}

}  // namespace app
