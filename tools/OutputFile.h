// Writing a command's output file whole or not at all: the bytes go to a temporary file beside the
// target, which is renamed over the target only when everything was written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <unistd.h>

namespace tools {

inline bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
  const std::string temporary = path + ".tmp" + std::to_string(::getpid());
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (written && closed && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
  std::remove(temporary.c_str());
  return false;
}

}  // namespace tools
