// Decoding of one photo file onto the white 32-bit working image: decoder chosen by extension
// ("jpg", "jpeg", "png", "bmp", any letter case), then a second try as PNG whatever the extension.
#pragma once

#include <string>

#include "imaging/WorkingImage.h"

namespace imaging {

// fileName is the path as the file system takes it. True when the whole picture was painted at its own
// size; false when the file cannot be used. Never throws.
bool LoadPictureFile(WorkingImage& bitmap, const std::string& fileName);

}  // namespace imaging
