#include "imaging/ExifOrientation.h"

#include <algorithm>
#include <cstring>

namespace imaging {
namespace {

constexpr std::uint8_t kExifSignature[] = {'E', 'x', 'i', 'f', 0, 0};
constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;
constexpr std::size_t kIfdEntrySize = 12;

// The TIFF structure inside the EXIF block: every read is checked against its end, so a damaged or
// hostile block can only make the reads fail.
class TiffReader {
 public:
  explicit TiffReader(std::span<const std::uint8_t> tiff) : tiff_(tiff) {}

  bool ReadHeader(std::uint64_t& firstIfd) {
    if (tiff_.size() < 8) return false;
    if (tiff_[0] == 'I' && tiff_[1] == 'I') {
      littleEndian_ = true;
    } else if (tiff_[0] == 'M' && tiff_[1] == 'M') {
      littleEndian_ = false;
    } else {
      return false;
    }
    std::uint32_t magic = 0;
    return Read(2, 2, magic) && magic == 42 && Read(4, 4, firstIfd);
  }

  // Reads an unsigned value of `size` bytes (2 or 4) at `offset` in the file's byte order.
  template <typename T>
  bool Read(std::uint64_t offset, int size, T& value) const {
    if (offset > tiff_.size() || tiff_.size() - offset < static_cast<std::uint64_t>(size)) return false;
    std::uint32_t v = 0;
    for (int i = 0; i < size; ++i) {
      const std::uint32_t byte = tiff_[offset + (littleEndian_ ? size - 1 - i : i)];
      v = (v << 8) | byte;
    }
    value = v;
    return true;
  }

 private:
  std::span<const std::uint8_t> tiff_;
  bool littleEndian_ = true;
};

// The value of one IFD entry that holds the orientation, or 0 when the entry is unusable.
int OrientationValue(const TiffReader& tiff, std::uint64_t entry) {
  std::uint16_t type = 0;
  std::uint32_t count = 0;
  if (!tiff.Read(entry + 2, 2, type) || !tiff.Read(entry + 4, 4, count) || count != 1) return 0;
  std::uint32_t value = 0;
  if (type == kTypeShort) {
    if (!tiff.Read(entry + 8, 2, value)) return 0;
  } else if (type == kTypeLong) {
    if (!tiff.Read(entry + 8, 4, value)) return 0;
  } else {
    return 0;
  }
  return value <= 8 ? static_cast<int>(value) : 0;
}

}  // namespace

bool IsExifPayload(std::span<const std::uint8_t> app1Payload) {
  return app1Payload.size() >= sizeof kExifSignature &&
         std::memcmp(app1Payload.data(), kExifSignature, sizeof kExifSignature) == 0;
}

int ReadExifOrientation(std::span<const std::uint8_t> app1Payload) {
  if (!IsExifPayload(app1Payload)) return kOrientationUpright;
  TiffReader tiff(app1Payload.subspan(sizeof kExifSignature));
  std::uint64_t ifd = 0;
  std::uint16_t entryCount = 0;
  if (!tiff.ReadHeader(ifd) || !tiff.Read(ifd, 2, entryCount)) return kOrientationUpright;
  for (std::uint32_t i = 0; i < entryCount; ++i) {
    const std::uint64_t entry = ifd + 2 + i * kIfdEntrySize;
    std::uint16_t tag = 0;
    if (!tiff.Read(entry, 2, tag)) break;
    if (tag == kOrientationTag) {
      const int value = OrientationValue(tiff, entry);
      return value >= 1 ? value : kOrientationUpright;
    }
  }
  return kOrientationUpright;
}

bool OrientationSwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }

int UprightWidth(int storedWidth, int storedHeight, int orientation) {
  return OrientationSwapsSides(orientation) ? storedHeight : storedWidth;
}

int UprightHeight(int storedWidth, int storedHeight, int orientation) {
  return OrientationSwapsSides(orientation) ? storedWidth : storedHeight;
}

// Stored pixel (x, y) of a W x H picture lands at upright (x', y'):
//   1: (x, y)          2: (W-1-x, y)        3: (W-1-x, H-1-y)    4: (x, H-1-y)
//   5: (y, x)          6: (H-1-y, x)        7: (H-1-y, W-1-x)    8: (y, W-1-x)
// So orientations 1..4 keep a stored row a row (maybe reversed, maybe moved to the mirrored row), and
// 5..8 turn it into a column (maybe filled bottom to top).
void PlaceStoredRow(const std::uint32_t* row, int y, int storedWidth, int storedHeight, int orientation,
                    WorkingImage& upright) {
  const int w = storedWidth;
  const int h = storedHeight;
  const bool mirrored = orientation == 2 || orientation == 3 || orientation == 7 || orientation == 8;
  if (!OrientationSwapsSides(orientation)) {
    const bool flipped = orientation == 3 || orientation == 4;
    std::uint32_t* out = upright.Row(flipped ? h - 1 - y : y);
    if (mirrored) {
      std::reverse_copy(row, row + w, out);
    } else {
      std::copy_n(row, w, out);
    }
    return;
  }
  const int column = (orientation == 5 || orientation == 8) ? y : h - 1 - y;
  for (int x = 0; x < w; ++x) upright.At(column, mirrored ? w - 1 - x : x) = row[x];
}

WorkingImage ApplyOrientation(const WorkingImage& stored, int orientation) {
  const int w = stored.Width();
  const int h = stored.Height();
  WorkingImage upright(UprightWidth(w, h, orientation), UprightHeight(w, h, orientation));
  for (int y = 0; y < h; ++y) PlaceStoredRow(stored.Row(y), y, w, h, orientation, upright);
  return upright;
}

}  // namespace imaging
