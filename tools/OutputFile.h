// Writing a command's output file whole or not at all: the bytes go to a temporary file beside the
// target, which replaces the target only when everything was written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include "app/FilePath.h"

namespace tools {

inline int ProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<int>(::getpid());
#endif
}

inline bool WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
  const std::string temporary = path + ".tmp" + std::to_string(ProcessId());
  std::FILE* file = app::OpenFileUtf8(temporary, "wb");
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (written && closed && app::RenameOver(temporary, path)) return true;
  std::error_code ignored;
  std::filesystem::remove(app::PathFromUtf8(temporary), ignored);
  return false;
}

}  // namespace tools
