// Paths between the program's UTF-8 text and the file system. On Windows every path goes through the wide
// (UTF-16) API: the narrow one reads a path in the ANSI code page, which loses a Chinese name on a machine
// set to another language and every character outside GBK on a Chinese one. On Linux a path is its bytes.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

namespace app {

// The path that UTF-8 text names.
std::filesystem::path PathFromUtf8(const std::string& utf8);
// The path as text: UTF-8 on Windows; on Linux its bytes as the file system holds them (UTF-8 on any
// current system; a name copied from a Windows archive may be GBK, see FileNameToUtf8).
std::string Utf8FromPath(const std::filesystem::path& path);

// std::fopen of a file named by UTF-8 text; nullptr when it cannot be opened.
std::FILE* OpenFileUtf8(const std::string& utf8Path, const char* mode);

// Renames source over target in one step: a reader of target sees the old file or the new one, never a
// mix. An existing target is replaced (std::rename refuses that on Windows). False when it fails.
bool RenameOver(const std::string& sourceUtf8, const std::string& targetUtf8);

}  // namespace app
