// Files the program writes (run reports, photo backups, exports, the settings file, card-photo's outputs)
// are written whole or not at all: the bytes go to a temporary file beside the target and reach the disk
// before the temporary file takes the target's name, so a crash or a full disk never leaves a
// half-written file behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace app {

enum class ExistingFile { Replace, Keep };

// Who may read the new file on Linux: as the user's umask says, or everyone (a machine-wide settings file
// that every user's program reads). Windows files inherit their folder's access.
enum class FileReaders { AsUmask, Everyone };

// Writes bytes as the file at path. Replace: an existing file is replaced in one step (readers see the old
// or the new content, never a mix). Keep: an existing file is never touched and the write fails. Returns
// the empty string on success, otherwise the reason (the system's message, with the path).
std::string WriteFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                                ExistingFile existing = ExistingFile::Replace,
                                FileReaders readers = FileReaders::AsUmask);
// The same for text.
std::string WriteFileAtomically(const std::filesystem::path& path, std::string_view text,
                                ExistingFile existing = ExistingFile::Replace,
                                FileReaders readers = FileReaders::AsUmask);

// Appends text to the end of the file at path (created when missing) in one write, and returns once it
// has reached the disk. For a journal of records, each ended by a line break: a crash leaves the file as
// it was, or with the new record, or with a part of it that lacks its line break (which a reader of the
// journal passes over). Returns the empty string on success, otherwise the reason.
std::string AppendDurably(const std::filesystem::path& path, std::string_view text);

}  // namespace app
