// Digit encoding of the stored user name and password: each byte of the GBK text becomes four
// decimal digits, one per 2-bit group, most significant first; group value x is written as 2x + (x mod 2).
#pragma once

#include <string>

namespace app {

// Both work on raw bytes (GBK text). DecodeSetting throws SettingsError
// ("'%s' is not a valid integer value") for a character that is not a decimal digit.
std::string EncodeSetting(const std::string& plainBytes);
std::string DecodeSetting(const std::string& encoded);

}  // namespace app
