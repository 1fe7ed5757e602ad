// SHA-256 (FIPS 180-4), for the digests that backups and exports record of each photo: a restore checks
// that a file still holds the value that was recorded and that a reader still holds the photo a run
// stored. A few dozen lines of our own rather than a cryptography library for one function.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace app {

using Sha256Digest = std::array<std::uint8_t, 32>;

Sha256Digest Sha256(std::span<const std::uint8_t> bytes);
// The digest as 64 lower-case hexadecimal digits.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace app
