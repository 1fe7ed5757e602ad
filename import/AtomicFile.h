// Files the import writes for the user (run reports, photo backups) are written whole or not at all: the
// bytes go to a temporary file beside the target and reach the disk before the temporary file takes the
// target's name, so a crash or a full disk never leaves a half-written report or backup behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace photoimport {


enum class ExistingFile { Replace, Keep };

// Writes bytes as the file at path. Replace: an existing file is replaced in one step (readers see the old
// or the new content, never a mix). Keep: an existing file is never touched and the write fails. Returns
// the empty string on success, otherwise the reason (the system's message, with the path).
std::string WriteFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                                ExistingFile existing = ExistingFile::Replace);

}  // namespace photoimport
