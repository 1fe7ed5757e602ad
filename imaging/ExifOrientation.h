// The EXIF orientation tag of camera JPEGs and the transform that turns a stored picture upright.
// A camera held sideways stores its rows as the sensor read them and records the turn in tag 0x0112 of
// the APP1 "Exif" block; without applying it the photo would be stored lying on its side.
#pragma once

#include <cstdint>
#include <span>

#include "imaging/WorkingImage.h"

namespace imaging {

// Orientation 1 ("stored rows are upright"). Values 2..8 mean a mirror and/or a quarter turn.
inline constexpr int kOrientationUpright = 1;

// True when an APP1 payload is an EXIF block (starts with "Exif\0\0"); XMP also lives in APP1.
bool IsExifPayload(std::span<const std::uint8_t> app1Payload);

// The orientation recorded in the payload of an APP1 segment (the bytes after the length field,
// starting with "Exif\0\0"). Returns 1 when the payload is not EXIF, has no tag 0x0112 in IFD0, the
// value is out of 1..8, or any part of the block is malformed. Reads only inside the payload.
int ReadExifOrientation(std::span<const std::uint8_t> app1Payload);

// True when the orientation swaps width and height (the quarter turns 5..8).
bool OrientationSwapsSides(int orientation);

// Size of the upright picture for a stored picture of storedWidth x storedHeight.
int UprightWidth(int storedWidth, int storedHeight, int orientation);
int UprightHeight(int storedWidth, int storedHeight, int orientation);

// Writes stored row y (storedWidth pixels of a storedWidth x storedHeight picture) to where it belongs
// in the upright picture, which already has the upright size. With orientation 1 it is a plain copy.
void PlaceStoredRow(const std::uint32_t* row, int y, int storedWidth, int storedHeight, int orientation,
                    WorkingImage& upright);

// The upright picture of a whole stored picture. Only the tests use it (as the whole-picture statement of
// what PlaceStoredRow does row by row); decoding places each row as it comes.
WorkingImage ApplyOrientation(const WorkingImage& stored, int orientation);

}  // namespace imaging
