// Decoding of one photo file onto the white 32-bit working image: decoder chosen by extension
// ("jpg", "jpeg", "png", "bmp", any letter case), then a second try as PNG whatever the extension.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imaging/WorkingImage.h"

namespace imaging {

// fileName is the path as the file system takes it. True when the whole picture was painted at its own
// size; false when the file cannot be used. Never throws.
bool LoadPictureFile(WorkingImage& bitmap, const std::string& fileName);

// The steps of LoadPictureFile, for callers that decode a file their own way first (the normalizer
// streams JPEG rows) and fall back to the same rules.
enum class PictureKind { Jpeg, Png, Bmp, Unregistered };

// By the text after the last dot of the file's name (not of a folder in the path), case-insensitive.
PictureKind PictureKindOf(const std::string& fileName);
// False for a name of fewer than 4 characters (nothing is read then) or a file that cannot be read
// (ReadPhotoFile: missing, unreadable, too large, changed while read).
bool ReadPictureFile(const std::string& fileName, std::vector<std::uint8_t>& bytes);
// Whether the name is long enough to be read at all: 4 characters or more.
bool LongEnoughName(const std::string& fileName);
// The second attempt: the file read as PNG whatever its extension.
bool DecodePngFallback(std::span<const std::uint8_t> file, WorkingImage& picture);
// Both attempts on the bytes of a file of the given kind. May throw (std::bad_alloc).
bool DecodePicture(std::span<const std::uint8_t> file, PictureKind kind, WorkingImage& picture);

}  // namespace imaging
