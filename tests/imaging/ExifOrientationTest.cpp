// EXIF orientation: reading tag 0x0112 from an APP1 block, the transform to the upright picture, and
// DecodeJpeg returning a camera's sideways-stored photo upright.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "imaging/Decoders.h"
#include "imaging/ExifOrientation.h"
#include "imaging/JpegDecoder.h"
#include "tests/imaging/JpegTestFiles.h"

namespace imaging {
namespace {

using Bytes = std::vector<std::uint8_t>;

using testing::ExifWriter;
using testing::IfdEntry;
using testing::OrientationBlock;

constexpr std::uint16_t kOrientationTag = testing::kExifOrientationTag;
constexpr std::uint16_t kShort = testing::kExifShort;
constexpr std::uint16_t kLong = testing::kExifLong;
constexpr std::uint16_t kAscii = testing::kExifAscii;

// --- Reading the tag --------------------------------------------------------------------------------

TEST(ExifOrientationRead, TheTagInEitherByteOrder) {
  for (bool bigEndian : {false, true})
    for (int orientation = 1; orientation <= 8; ++orientation)
      EXPECT_EQ(ReadExifOrientation(OrientationBlock(orientation, bigEndian)), orientation)
          << orientation << (bigEndian ? " MM" : " II");
}

TEST(ExifOrientationRead, Cases) {
  const IfdEntry make{0x010F, kAscii, 6, 0x1000};
  const IfdEntry model{0x0110, kAscii, 6, 0x1000};
  Bytes wrongOrderMark = OrientationBlock(6);
  wrongOrderMark[7] = 'M';  // "IM"
  Bytes wrongMagic = OrientationBlock(6);
  wrongMagic[8] = 43;
  Bytes notExif = OrientationBlock(6);
  notExif[5] = 1;  // "Exif\0\1"
  struct Case {
    const char* what;
    Bytes block;
    int expected;
  } cases[] = {
      {"after other tags", ExifWriter(true).Block({make, model, {kOrientationTag, kShort, 1, 6}}), 6},
      {"stored as LONG", ExifWriter(false).Block({{kOrientationTag, kLong, 1, 8}}), 8},
      {"no orientation tag", ExifWriter(false).Block({make, model}), 1},
      {"no IFD entries", ExifWriter(false).Block({}), 1},
      {"value 0", OrientationBlock(0), 1},
      {"value 9", OrientationBlock(9), 1},
      {"value 65535", OrientationBlock(65535, true), 1},
      {"ASCII type", ExifWriter(false).Block({{kOrientationTag, kAscii, 1, '6'}}), 1},
      {"count 2", ExifWriter(false).Block({{kOrientationTag, kShort, 2, 6}}), 1},
      {"IFD beyond the block", ExifWriter(false).Block({{kOrientationTag, kShort, 1, 6}}, 0xFFFFFFF0u), 1},
      {"IFD offset into the header", ExifWriter(false).Block({{kOrientationTag, kShort, 1, 6}}, 1), 1},
      {"byte-order mark IM", wrongOrderMark, 1},
      {"TIFF magic 43", wrongMagic, 1},
      {"not an EXIF block", notExif, 1},
      {"XMP block", Bytes{'h', 't', 't', 'p', ':', '/', '/', 'n', 's', 0}, 1},
      {"empty", {}, 1},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadExifOrientation(c.block), c.expected) << c.what;
}

TEST(ExifOrientationRead, EveryTruncationIsIgnored) {
  // Cut anywhere before the end of the orientation value, the block gives no orientation; the reads
  // stay inside it (the sanitizer build checks that).
  const Bytes block = ExifWriter(true).Block(
      {{0x010F, kAscii, 6, 0x1000}, {kOrientationTag, kShort, 1, 6}, {0x0110, kAscii, 6, 0x1000}});
  const std::size_t orientationValueEnd = 6 + 8 + 2 + 12 + 10;  // second entry, value of 2 bytes
  for (std::size_t length = 0; length < orientationValueEnd; ++length)
    EXPECT_EQ(ReadExifOrientation({block.data(), length}), 1) << length;
  EXPECT_EQ(ReadExifOrientation({block.data(), orientationValueEnd}), 6);
  // An entry count far above the entries present: reading stops at the end of the block.
  Bytes overcounted = ExifWriter(false).Block({{0x010F, kAscii, 6, 0x1000}});
  overcounted[6 + 8] = overcounted[6 + 9] = 0xFF;
  EXPECT_EQ(ReadExifOrientation(overcounted), 1);
}

// --- The transform ----------------------------------------------------------------------------------

// Where stored pixel (x, y) of a w x h picture belongs in the upright picture, from the EXIF definition:
// each orientation names the visual side that the stored 0th row and the stored 0th column show.
enum Side { kTop, kBottom, kLeft, kRight };
struct Sides {
  Side row0;
  Side column0;
};
constexpr Sides kExifSides[9] = {
    {kTop, kLeft},                                                            // (unused)
    {kTop, kLeft},    {kTop, kRight},   {kBottom, kRight}, {kBottom, kLeft},  // 1..4
    {kLeft, kTop},    {kRight, kTop},   {kRight, kBottom}, {kLeft, kBottom},  // 5..8
};

struct Point {
  int x;
  int y;
};

Point UprightPosition(int orientation, int w, int h, int x, int y) {
  const Sides s = kExifSides[orientation];
  if (s.row0 == kTop || s.row0 == kBottom)  // rows stay rows
    return {s.column0 == kLeft ? x : w - 1 - x, s.row0 == kTop ? y : h - 1 - y};
  // rows become columns: the upright picture is h wide and w high
  return {s.row0 == kLeft ? y : h - 1 - y, s.column0 == kTop ? x : w - 1 - x};
}

bool SwapsSides(int orientation) { return orientation >= 5; }

WorkingImage ExpectedUpright(const WorkingImage& stored, int orientation) {
  const int w = stored.Width();
  const int h = stored.Height();
  WorkingImage upright(SwapsSides(orientation) ? h : w, SwapsSides(orientation) ? w : h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const Point p = UprightPosition(orientation, w, h, x, y);
      upright.At(p.x, p.y) = stored.At(x, y);
    }
  return upright;
}

// What a camera stores for an upright scene when it records `orientation`.
WorkingImage StoredForm(const WorkingImage& upright, int orientation) {
  const int storedW = SwapsSides(orientation) ? upright.Height() : upright.Width();
  const int storedH = SwapsSides(orientation) ? upright.Width() : upright.Height();
  WorkingImage stored(storedW, storedH);
  for (int y = 0; y < storedH; ++y)
    for (int x = 0; x < storedW; ++x) {
      const Point p = UprightPosition(orientation, storedW, storedH, x, y);
      stored.At(x, y) = upright.At(p.x, p.y);
    }
  return stored;
}

bool SamePixels(const WorkingImage& a, const WorkingImage& b) {
  return a.Width() == b.Width() && a.Height() == b.Height() && a.Pixels() == b.Pixels();
}

TEST(ExifOrientationApply, MovesEveryPixelWhereTheTagSays) {
  WorkingImage stored(3, 2);  // not square, every pixel different
  for (std::size_t i = 0; i < stored.Pixels().size(); ++i) stored.Pixels()[i] = static_cast<std::uint32_t>(i);
  for (int orientation = 1; orientation <= 8; ++orientation)
    EXPECT_TRUE(SamePixels(ApplyOrientation(stored, orientation), ExpectedUpright(stored, orientation)))
        << orientation;
  for (int outOfRange : {0, 9, -1})
    EXPECT_TRUE(SamePixels(ApplyOrientation(stored, outOfRange), stored)) << outOfRange;
}

// --- Camera JPEGs ----------------------------------------------------------------------------------

// Quality 100 without chroma subsampling, so that flat blocks come back nearly exact.
Bytes EncodeJpeg(const WorkingImage& image, const std::vector<Bytes>& app1Blocks) {
  testing::JpegSettings settings;
  settings.quality = 100;
  settings.subsampleChroma = false;
  settings.app1Payloads = app1Blocks;
  return testing::EncodeJpeg(image, settings);
}

// A landscape scene of flat 8 x 8 blocks, each its own colour, so that JPEG keeps it nearly exact and
// any misplaced block shows.
WorkingImage BlockyScene() {
  WorkingImage scene(32, 16);
  for (int y = 0; y < scene.Height(); ++y)
    for (int x = 0; x < scene.Width(); ++x) {
      const std::uint32_t bx = x / 8, by = y / 8;
      scene.At(x, y) = PackRgb(30 + 60 * bx, 40 + 150 * by, 220 - 40 * bx - 70 * by);
    }
  return scene;
}

int LargestChannelDifference(const WorkingImage& a, const WorkingImage& b) {
  int largest = 0;
  for (std::size_t i = 0; i < a.Pixels().size(); ++i)
    for (int shift : {0, 8, 16})
      largest = std::max(largest, std::abs(static_cast<int>((a.Pixels()[i] >> shift) & 0xFF) -
                                           static_cast<int>((b.Pixels()[i] >> shift) & 0xFF)));
  return largest;
}

WorkingImage Decode(const Bytes& file) {
  WorkingImage image;
  EXPECT_TRUE(DecodeJpeg(file, image));
  return image;
}

TEST(JpegOrientation, EveryOrientationDecodesUpright) {
  const WorkingImage scene = BlockyScene();
  for (bool bigEndian : {false, true}) {
    for (int orientation = 1; orientation <= 8; ++orientation) {
      SCOPED_TRACE(::testing::Message() << "orientation " << orientation << (bigEndian ? " MM" : " II"));
      const WorkingImage stored = StoredForm(scene, orientation);
      const WorkingImage decoded = Decode(EncodeJpeg(stored, {OrientationBlock(orientation, bigEndian)}));
      ASSERT_EQ(decoded.Width(), scene.Width());
      ASSERT_EQ(decoded.Height(), scene.Height());
      EXPECT_LE(LargestChannelDifference(decoded, scene), 3);  // JPEG loss at quality 100, flat blocks
      // Exactly the stored pixels, moved.
      const WorkingImage storedPixels = Decode(EncodeJpeg(stored, {}));
      EXPECT_TRUE(SamePixels(decoded, ExpectedUpright(storedPixels, orientation)));
    }
  }
}

TEST(JpegOrientation, ScanlineReaderReportsTheTagAndStreamsStoredRows) {
  const WorkingImage stored = StoredForm(BlockyScene(), 6);
  const Bytes file = EncodeJpeg(stored, {OrientationBlock(6)});
  JpegScanlineReader reader;
  ASSERT_TRUE(reader.Open(file));
  EXPECT_EQ(reader.Orientation(), 6);
  EXPECT_EQ(reader.Width(), stored.Width());
  EXPECT_EQ(reader.Height(), stored.Height());
  WorkingImage rows(reader.Width(), reader.Height());
  for (int y = 0; y < rows.Height(); ++y) ASSERT_TRUE(reader.ReadRow(rows.Row(y)));
  EXPECT_TRUE(reader.Finish());
  EXPECT_TRUE(SamePixels(rows, Decode(EncodeJpeg(stored, {}))));
}

TEST(JpegOrientation, WhichApp1BlockCounts) {
  const WorkingImage stored = StoredForm(BlockyScene(), 8);
  const WorkingImage storedPixels = Decode(EncodeJpeg(stored, {}));
  Bytes truncated = OrientationBlock(8);
  truncated.resize(truncated.size() - 8);
  const Bytes xmp = {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', '.', 'a', 'd', 'o', 'b', 'e', 0};
  struct Case {
    const char* what;
    std::vector<Bytes> blocks;
    int expected;
  } cases[] = {
      {"XMP before EXIF", {xmp, OrientationBlock(8)}, 8},
      {"only the first EXIF block", {OrientationBlock(8), OrientationBlock(3)}, 8},
      {"malformed EXIF ignored", {truncated}, 1},
      {"XMP only", {xmp}, 1},
  };
  for (const Case& c : cases) {
    const WorkingImage decoded = Decode(EncodeJpeg(stored, c.blocks));
    EXPECT_TRUE(SamePixels(decoded, ExpectedUpright(storedPixels, c.expected))) << c.what;
  }
}

}  // namespace
}  // namespace imaging
