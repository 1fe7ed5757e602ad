// The BMP decoder against the BMP Suite (good files must match their reference renderings pixel for
// pixel; questionable and bad files must decode as listed or be refused for the listed reason, never
// crash), plus small hand-made files for what the suite does not pin down.
#include <png.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/FilePath.h"
#include "imaging/BmpFormat.h"
#include "imaging/Decoders.h"
#include "imaging/WorkingImage.h"

namespace {

namespace fs = std::filesystem;
using imaging::PackRgb;
using imaging::WorkingImage;
using imaging::bmp::DecodeBmpDetailed;
using imaging::bmp::Failure;
using imaging::bmp::FailureName;

const fs::path kSuite = fs::path(CARDPHOTO_TESTDATA_DIR) / "bmpsuite";

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// ---------------------------------------------------------------------------------------------------
// Reference renderings, read with libpng as 8-bit RGBA.

struct Reference {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> rgb;   // packed like the working image, rows top to bottom
  std::vector<std::uint8_t> alpha;
};

bool ReadPng(const fs::path& path, Reference& reference) {
  FILE* file = app::OpenFileUtf8(app::Utf8FromPath(path), "rb");
  if (file == nullptr) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<png_byte> data;
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  png_set_expand(png);  // palette and low bit depths to 8-bit RGB, tRNS to alpha
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_read_update_info(png, info);
  const int width = static_cast<int>(png_get_image_width(png, info));
  const int height = static_cast<int>(png_get_image_height(png, info));
  data.resize(static_cast<std::size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) rows.push_back(data.data() + static_cast<std::size_t>(y) * width * 4);
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);

  reference.width = width;
  reference.height = height;
  reference.rgb.clear();
  reference.alpha.clear();
  for (std::size_t i = 0; i < data.size(); i += 4) {
    reference.rgb.push_back(PackRgb(data[i], data[i + 1], data[i + 2]));
    reference.alpha.push_back(data[i + 3]);
  }
  return true;
}

// How the reference's transparent pixels (alpha 0) are compared. Our picture is opaque on white.
enum class Transparent {
  kNone,       // the reference has none
  kIsWhite,    // pixels the file leaves undefined: the reference shows them transparent, we leave white
  kUnchecked,  // alpha-channel files: the reference blanks alpha-0 pixels, we show their stored colour
};

std::string Hex(std::uint32_t colour) {
  char text[16];
  std::snprintf(text, sizeof text, "#%06X", colour & 0xFFFFFFu);
  return text;
}

int ChannelDistance(std::uint32_t a, std::uint32_t b) {
  int distance = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const int difference = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    distance = std::max(distance, std::abs(difference));
  }
  return distance;
}

testing::AssertionResult MatchesReference(const WorkingImage& image, const Reference& reference,
                                          Transparent transparent, int tolerance) {
  if (image.Width() != reference.width || image.Height() != reference.height)
    return testing::AssertionFailure() << "size " << image.Width() << "x" << image.Height() << ", reference "
                                       << reference.width << "x" << reference.height;
  int mismatches = 0;
  std::string first;
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * image.Width() + x;
      std::uint32_t expected = reference.rgb[i];
      if (reference.alpha[i] == 0 && transparent == Transparent::kUnchecked) continue;
      if (reference.alpha[i] == 0 && transparent == Transparent::kIsWhite) expected = imaging::kWhite;
      const std::uint32_t actual = image.At(x, y) & 0xFFFFFFu;
      if (ChannelDistance(actual, expected) <= tolerance) continue;
      if (mismatches++ == 0)
        first = "(" + std::to_string(x) + "," + std::to_string(y) + ") is " + Hex(actual) + ", expected " +
                Hex(expected);
    }
  }
  if (mismatches == 0) return testing::AssertionSuccess();
  return testing::AssertionFailure() << mismatches << " pixels differ, first " << first;
}

// ---------------------------------------------------------------------------------------------------
// The suite, file by file.

struct SuiteCase {
  const char* file;       // below bmpsuite/
  Failure failure;        // kNone: the file decodes
  const char* reference;  // below bmpsuite/html/; nullptr: the picture is not compared
  Transparent transparent = Transparent::kNone;
  int tolerance = 0;      // largest channel difference allowed
};

std::ostream& operator<<(std::ostream& out, const SuiteCase& c) { return out << c.file; }

std::string CaseName(const testing::TestParamInfo<SuiteCase>& info) {
  std::string name = info.param.file;
  std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
                  '_');
  return name;
}

// Every good file, with the rendering the suite's own description page pairs it with. The non-square
// picture is kept at its stored size, like an image editor shows it ("-e").
const SuiteCase kGoodFiles[] = {
    {"g/pal1.bmp", Failure::kNone, "pal1.png"},
    {"g/pal1bg.bmp", Failure::kNone, "pal1bg.png"},
    {"g/pal1wb.bmp", Failure::kNone, "pal1.png"},
    {"g/pal4.bmp", Failure::kNone, "pal4.png"},
    {"g/pal4gs.bmp", Failure::kNone, "pal4gs.png"},
    {"g/pal4rle.bmp", Failure::kNone, "pal4.png"},
    {"g/pal8-0.bmp", Failure::kNone, "pal8.png"},
    {"g/pal8.bmp", Failure::kNone, "pal8.png"},
    {"g/pal8gs.bmp", Failure::kNone, "pal8gs.png"},
    {"g/pal8nonsquare.bmp", Failure::kNone, "pal8nonsquare-e.png"},
    {"g/pal8os2.bmp", Failure::kNone, "pal8.png"},
    {"g/pal8rle.bmp", Failure::kNone, "pal8.png"},
    {"g/pal8topdown.bmp", Failure::kNone, "pal8.png"},
    {"g/pal8v4.bmp", Failure::kNone, "pal8.png"},
    {"g/pal8v5.bmp", Failure::kNone, "pal8.png"},
    {"g/pal8w124.bmp", Failure::kNone, "pal8w124.png"},
    {"g/pal8w125.bmp", Failure::kNone, "pal8w125.png"},
    {"g/pal8w126.bmp", Failure::kNone, "pal8w126.png"},
    {"g/rgb16-565.bmp", Failure::kNone, "rgb16-565.png"},
    {"g/rgb16-565pal.bmp", Failure::kNone, "rgb16-565.png"},
    {"g/rgb16.bmp", Failure::kNone, "rgb16.png"},
    {"g/rgb16bfdef.bmp", Failure::kNone, "rgb16.png"},
    {"g/rgb24.bmp", Failure::kNone, "rgb24.png"},
    {"g/rgb24pal.bmp", Failure::kNone, "rgb24.png"},
    {"g/rgb32.bmp", Failure::kNone, "rgb24.png"},
    {"g/rgb32bf.bmp", Failure::kNone, "rgb24.png"},
    {"g/rgb32bfdef.bmp", Failure::kNone, "rgb24.png"},
};

// Questionable files: what we make of each. The renderings of files whose channels are wider or
// narrower than 8 bits show the generator's source colours, which a field of that width cannot always
// hold exactly, so those compare within one level.
const SuiteCase kQuestionableFiles[] = {
    {"q/pal1huffmsb.bmp", Failure::kUnsupportedCompression, nullptr},  // OS/2 Huffman 1D (fax coding)
    {"q/pal1p1.bmp", Failure::kNone, "pal1p1.png"},
    {"q/pal2.bmp", Failure::kNone, "pal2.png"},
    {"q/pal2color.bmp", Failure::kNone, "pal2color.png"},
    {"q/pal4rlecut.bmp", Failure::kNone, "pal4rlecut.png", Transparent::kIsWhite},
    {"q/pal4rletrns.bmp", Failure::kNone, "pal4rletrns.png", Transparent::kIsWhite},
    {"q/pal8offs.bmp", Failure::kNone, "pal8.png"},
    {"q/pal8os2-hs.bmp", Failure::kNone, "pal8.png"},
    {"q/pal8os2-sz.bmp", Failure::kNone, "pal8.png"},
    {"q/pal8os2sp.bmp", Failure::kNone, "pal8.png"},
    {"q/pal8os2v2-16.bmp", Failure::kNone, "pal8.png"},
    {"q/pal8os2v2-40sz.bmp", Failure::kNone, "pal8.png"},
    {"q/pal8os2v2-sz.bmp", Failure::kNone, "pal8.png"},
    {"q/pal8os2v2.bmp", Failure::kNone, "pal8.png"},
    {"q/pal8oversizepal.bmp", Failure::kNone, "pal8.png"},
    {"q/pal8rlecut.bmp", Failure::kNone, "pal8rlecut.png", Transparent::kIsWhite},
    {"q/pal8rletrns.bmp", Failure::kNone, "pal8rletrns.png", Transparent::kIsWhite},
    {"q/rgb16-231.bmp", Failure::kNone, "rgb16-231.png"},
    {"q/rgb16-3103.bmp", Failure::kNone, "rgb16-3103.png"},
    {"q/rgb16faketrns.bmp", Failure::kNone, "rgb16.png"},  // the unused bit is not alpha
    {"q/rgb24jpeg.bmp", Failure::kUnsupportedCompression, nullptr},
    {"q/rgb24largepal.bmp", Failure::kNone, "rgb24.png"},
    {"q/rgb24lprof.bmp", Failure::kNone, "rgb24.png"},
    {"q/rgb24png.bmp", Failure::kUnsupportedCompression, nullptr},
    {"q/rgb24prof.bmp", Failure::kNone, "rgb24.png"},
    // Red and green are swapped in the samples and swapped back by the embedded colour profile, which
    // we do not apply (no profile is applied to any format).
    {"q/rgb24prof2.bmp", Failure::kNone, nullptr},
    {"q/rgb24rle24.bmp", Failure::kNone, "pal8.png"},
    {"q/rgb32-111110.bmp", Failure::kNone, "rgb24.png", Transparent::kNone, 1},
    {"q/rgb32-7187.bmp", Failure::kNone, "rgb32-7187.png", Transparent::kNone, 1},
    {"q/rgb32-xbgr.bmp", Failure::kNone, "rgb24.png"},
    {"q/rgb32fakealpha.bmp", Failure::kNone, "rgb24.png"},  // the unused byte is not alpha
    {"q/rgb32h52.bmp", Failure::kNone, "rgb24.png"},
    {"q/rgba16-1924.bmp", Failure::kNone, "rgba16-1924.png", Transparent::kUnchecked},
    {"q/rgba16-4444.bmp", Failure::kNone, "rgba16-4444.png", Transparent::kUnchecked},
    {"q/rgba16-5551.bmp", Failure::kNone, "rgba16-5551.png", Transparent::kUnchecked},
    {"q/rgba32-1.bmp", Failure::kNone, "rgba32.png", Transparent::kUnchecked},
    {"q/rgba32-1010102.bmp", Failure::kNone, "rgba32-1010102.png", Transparent::kUnchecked},
    {"q/rgba32-2.bmp", Failure::kNone, "rgba32.png", Transparent::kUnchecked},
    {"q/rgba32-61754.bmp", Failure::kNone, "rgba32-61754.png", Transparent::kUnchecked, 1},
    {"q/rgba32-81284.bmp", Failure::kNone, "rgba32-81284.png", Transparent::kUnchecked, 1},
    {"q/rgba32abf.bmp", Failure::kNone, "rgba32.png", Transparent::kUnchecked},
    {"q/rgba32h56.bmp", Failure::kNone, "rgba32.png", Transparent::kUnchecked},
    {"q/rgba64.bmp", Failure::kUnsupportedBitCount, nullptr},
};

// Bad files: refused for a named reason, or (fields no reader needs; damaged run-length data, whose
// stray runs and moves are clipped to the picture) decoded without touching anything outside it.
const SuiteCase kBadFiles[] = {
    {"b/badbitcount.bmp", Failure::kUnsupportedBitCount, nullptr},
    {"b/badbitssize.bmp", Failure::kNone, "pal1.png"},  // the image-size field is not needed
    {"b/baddens1.bmp", Failure::kNone, "pal1.png"},     // nor the density
    {"b/baddens2.bmp", Failure::kNone, "pal1.png"},
    {"b/badfilesize.bmp", Failure::kNone, "pal1.png"},  // nor the file-size field
    {"b/badheadersize.bmp", Failure::kUnknownHeaderSize, nullptr},
    {"b/badpalettesize.bmp", Failure::kPaletteBeyondFile, nullptr},
    {"b/badplanes.bmp", Failure::kBadPlanes, nullptr},
    {"b/badrle.bmp", Failure::kNone, nullptr},
    {"b/badrle4.bmp", Failure::kNone, nullptr},
    {"b/badrle4bis.bmp", Failure::kNone, nullptr},
    {"b/badrle4ter.bmp", Failure::kNone, nullptr},
    {"b/badrlebis.bmp", Failure::kNone, nullptr},
    {"b/badrleter.bmp", Failure::kNone, nullptr},
    {"b/badwidth.bmp", Failure::kBadWidth, nullptr},
    {"b/pal8badindex.bmp", Failure::kNone, nullptr},  // indices beyond the palette show black
    {"b/reallybig.bmp", Failure::kBadWidth, nullptr},
    {"b/rgb16-880.bmp", Failure::kNone, "rgb16-880.png"},  // the empty blue mask reads as 0
    {"b/rletopdown.bmp", Failure::kTopDownRle, nullptr},
    {"b/shortfile.bmp", Failure::kTruncatedPixels, nullptr},
    {"x/ba-bm.bmp", Failure::kNotBmp, nullptr},  // an OS/2 bitmap array, not a bitmap file
};

class BmpSuite : public testing::TestWithParam<SuiteCase> {};

TEST_P(BmpSuite, DecodesAsListed) {
  const SuiteCase& c = GetParam();
  const std::vector<std::uint8_t> file = ReadBytes(kSuite / c.file);
  ASSERT_FALSE(file.empty()) << "missing " << (kSuite / c.file);
  WorkingImage image;
  const Failure failure = DecodeBmpDetailed(file, image);
  ASSERT_EQ(FailureName(failure), std::string(FailureName(c.failure)));
  EXPECT_EQ(imaging::DecodeBmp(file, image), c.failure == Failure::kNone);
  if (c.reference == nullptr) return;
  Reference reference;
  ASSERT_TRUE(ReadPng(kSuite / "html" / c.reference, reference)) << c.reference;
  EXPECT_TRUE(MatchesReference(image, reference, c.transparent, c.tolerance)) << "reference " << c.reference;
}

INSTANTIATE_TEST_SUITE_P(Good, BmpSuite, testing::ValuesIn(kGoodFiles), CaseName);
INSTANTIATE_TEST_SUITE_P(Questionable, BmpSuite, testing::ValuesIn(kQuestionableFiles), CaseName);
INSTANTIATE_TEST_SUITE_P(Bad, BmpSuite, testing::ValuesIn(kBadFiles), CaseName);

std::vector<SuiteCase> AllSuiteCases() {
  std::vector<SuiteCase> all(std::begin(kGoodFiles), std::end(kGoodFiles));
  all.insert(all.end(), std::begin(kQuestionableFiles), std::end(kQuestionableFiles));
  all.insert(all.end(), std::begin(kBadFiles), std::end(kBadFiles));
  return all;
}

TEST(BmpSuiteCoverage, EveryFileOfTheSuiteIsListed) {
  std::set<std::string> listed;
  for (const SuiteCase& c : AllSuiteCases()) listed.insert(c.file);
  for (const char* folder : {"g", "q", "b", "x"})
    for (const auto& entry : fs::directory_iterator(kSuite / folder))
      EXPECT_TRUE(listed.count(std::string(folder) + "/" + entry.path().filename().string()))
          << entry.path() << " is not in any table";
}

// Cutting a file anywhere must give either a refusal or the very same picture (only the last row's
// padding or a final end-of-bitmap code may be missing). Every cut inside the headers and the palette,
// then every 37th byte.
TEST(BmpSuiteTruncation, EveryCutIsRefusedOrLosesNothing) {
  for (const SuiteCase& c : AllSuiteCases()) {
    const std::string name = c.file;
    const std::vector<std::uint8_t> file = ReadBytes(kSuite / name);
    WorkingImage whole;
    if (!imaging::DecodeBmp(file, whole)) continue;
    const std::size_t headers = std::min<std::size_t>(file.size(), 1300);
    for (std::size_t length = 0; length < file.size(); length += length < headers ? 1 : 37) {
      WorkingImage cut;
      const std::span<const std::uint8_t> prefix(file.data(), length);
      if (!imaging::DecodeBmp(prefix, cut)) continue;
      ASSERT_EQ(cut.Pixels(), whole.Pixels()) << name << " cut to " << length << " bytes";
      ASSERT_EQ(cut.Width(), whole.Width());
    }
  }
}

// ---------------------------------------------------------------------------------------------------
// Hand-made files.

constexpr std::uint32_t kRed = PackRgb(255, 0, 0);
constexpr std::uint32_t kGreen = PackRgb(0, 255, 0);
constexpr std::uint32_t kBlue = PackRgb(0, 0, 255);
constexpr std::uint32_t kBlack = 0;
constexpr std::uint32_t kW = imaging::kWhite;

constexpr std::uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitFields = 3, kBiAlphaBitFields = 6;

// A bitmap file with a 40-byte header; masks and palette follow the header in that order.
struct BmpLayout {
  int width = 1;
  int height = 1;
  int bitCount = 8;
  std::uint32_t compression = kBiRgb;
  std::uint32_t colorsUsed = 0;
  std::vector<std::uint32_t> palette = {kRed, kGreen, kBlue};
  std::vector<std::uint32_t> masks;
  std::vector<std::uint8_t> pixels;
  std::optional<std::uint32_t> pixelOffset;  // default: right after the palette
};

void PutU16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(v & 0xFF);
  out.push_back((v >> 8) & 0xFF);
}
void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  PutU16(out, v & 0xFFFF);
  PutU16(out, v >> 16);
}

std::vector<std::uint8_t> MakeBmp(const BmpLayout& layout) {
  const std::uint32_t offset = layout.pixelOffset.value_or(
      static_cast<std::uint32_t>(54 + 4 * layout.masks.size() + 4 * layout.palette.size()));
  std::vector<std::uint8_t> out = {'B', 'M'};
  PutU32(out, static_cast<std::uint32_t>(offset + layout.pixels.size()));
  PutU32(out, 0);
  PutU32(out, offset);
  PutU32(out, 40);
  PutU32(out, static_cast<std::uint32_t>(layout.width));
  PutU32(out, static_cast<std::uint32_t>(layout.height));
  PutU16(out, 1);
  PutU16(out, static_cast<std::uint32_t>(layout.bitCount));
  PutU32(out, layout.compression);
  PutU32(out, static_cast<std::uint32_t>(layout.pixels.size()));
  PutU32(out, 2835);
  PutU32(out, 2835);
  PutU32(out, layout.colorsUsed);
  PutU32(out, 0);
  for (std::uint32_t mask : layout.masks) PutU32(out, mask);
  for (std::uint32_t colour : layout.palette) PutU32(out, colour);  // B, G, R, reserved
  out.resize(std::max<std::size_t>(out.size(), offset));
  out.insert(out.end(), layout.pixels.begin(), layout.pixels.end());
  return out;
}

// Runs the decoder on a hand-made file: the failure, and the pixels top row first on success.
struct Decoded {
  Failure failure = Failure::kNone;
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};

Decoded Decode(const std::vector<std::uint8_t>& file) {
  WorkingImage image;
  Decoded result;
  result.failure = DecodeBmpDetailed(file, image);
  result.width = image.Width();
  result.height = image.Height();
  result.pixels = image.Pixels();
  return result;
}

TEST(BmpPalette, IndicesBeyondThePaletteShowBlack) {
  // Two colours listed in an 8-bit file: index 2 lies in the palette block but past the colours used.
  BmpLayout layout;
  layout.width = 4;
  layout.colorsUsed = 2;
  layout.pixels = {0, 1, 2, 255};
  const Decoded decoded = Decode(MakeBmp(layout));
  ASSERT_EQ(decoded.failure, Failure::kNone);
  EXPECT_EQ(decoded.pixels, (std::vector<std::uint32_t>{kRed, kGreen, kBlack, kBlack}));
}

// A 1x1 32-bit pixel holding `value` in a red field described by `mask`; green and blue are empty.
struct ScaleCase {
  std::uint32_t mask;
  std::uint32_t value;  // the field's value, before shifting into place
  std::uint32_t expected;
};

TEST(BmpBitFields, FieldsSpreadOverTheFullRangeRoundedToNearest) {
  const ScaleCase cases[] = {
      {0x1, 1, 255},                 // one bit: full on
      {0x6, 1, 85},                  // two bits, not at bit 0
      {0x70, 3, 109},                // 3 * 255 / 7 = 109.3
      {0x70, 4, 146},                // 145.7 rounds up
      {0x1F, 3, 25},                 // 24.7: plain shifting would give 24
      {0x1F, 31, 255},               // the brightest 5-bit level is white, not 248
      {0x3F << 5, 1, 4},             // 6 bits: 4.05
      {0xFF00, 0xAB, 0xAB},          // 8 bits are used as they are
      {0x3FF, 512, 128},             // 10 bits: 127.6
      {0xFFFF0000u, 0x8000, 128},    // 16 bits: 127.502
      {0xFFFFFFFFu, 0xFFFFFFFFu, 255},  // a 32-bit field must not overflow
      {0xFFFFFFFFu, 0x7FFFFFFFu, 127},  // 127.49999
  };
  for (const ScaleCase& c : cases) {
    BmpLayout layout;
    layout.bitCount = 32;
    layout.compression = kBiBitFields;
    layout.palette.clear();
    layout.masks = {c.mask, 0, 0};
    const std::uint32_t pixel = c.value << std::countr_zero(c.mask);
    PutU32(layout.pixels, pixel);
    const Decoded decoded = Decode(MakeBmp(layout));
    ASSERT_EQ(decoded.failure, Failure::kNone) << std::hex << c.mask;
    EXPECT_EQ(decoded.pixels.at(0), PackRgb(c.expected, 0, 0)) << "mask " << std::hex << c.mask << " value "
                                                              << c.value;
  }
}

TEST(BmpBitFields, AlphaIsIgnored) {
  // BI_ALPHABITFIELDS after a 40-byte header: four masks; alpha 0 still shows the stored colour.
  BmpLayout layout;
  layout.bitCount = 32;
  layout.compression = kBiAlphaBitFields;
  layout.palette.clear();
  layout.masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
  PutU32(layout.pixels, 0x00FF8040);
  const Decoded decoded = Decode(MakeBmp(layout));
  ASSERT_EQ(decoded.failure, Failure::kNone);
  EXPECT_EQ(decoded.pixels.at(0), PackRgb(0xFF, 0x80, 0x40));
}

TEST(BmpHeader, RefusesWhatNoReaderCanDraw) {
  struct Case {
    const char* what;
    BmpLayout layout;
    Failure failure;
  };
  BmpLayout base;
  base.pixels = {0, 0, 0, 0};
  auto with = [&](auto change) {
    BmpLayout layout = base;
    change(layout);
    return layout;
  };
  const Case cases[] = {
      {"mask with a gap", with([](BmpLayout& s) {
         s.bitCount = 16, s.compression = kBiBitFields, s.masks = {0x0F0F, 0xF0, 0}, s.palette.clear();
       }),
       Failure::kBadMasks},
      {"16-bit mask beyond the pixel", with([](BmpLayout& s) {
         s.bitCount = 16, s.compression = kBiBitFields, s.masks = {0x1F0000, 0x7E0, 0x1F}, s.palette.clear();
       }),
       Failure::kBadMasks},
      {"bit fields at 8 bits", with([](BmpLayout& s) { s.compression = kBiBitFields, s.masks = {1, 2, 4}; }),
       Failure::kCompressionMismatch},
      {"RLE4 at 8 bits", with([](BmpLayout& s) { s.compression = kBiRle4; }), Failure::kCompressionMismatch},
      {"RLE8 at 24 bits", with([](BmpLayout& s) { s.bitCount = 24, s.compression = kBiRle8; }),
       Failure::kCompressionMismatch},
      {"embedded PNG", with([](BmpLayout& s) { s.compression = 5; }), Failure::kUnsupportedCompression},
      {"width 0", with([](BmpLayout& s) { s.width = 0; }), Failure::kBadWidth},
      {"width 65536", with([](BmpLayout& s) { s.width = 65536; }), Failure::kBadWidth},
      {"height 0", with([](BmpLayout& s) { s.height = 0; }), Failure::kBadHeight},
      {"height 65536", with([](BmpLayout& s) { s.height = 65536; }), Failure::kBadHeight},
      {"height -65536", with([](BmpLayout& s) { s.height = -65536; }), Failure::kBadHeight},
      {"height INT_MIN", with([](BmpLayout& s) { s.height = INT_MIN; }), Failure::kBadHeight},
      {"pixel offset inside the headers", with([](BmpLayout& s) { s.pixelOffset = 30; }),
       Failure::kBadPixelOffset},
      // A lying header must be refused before anything is allocated for it.
      {"60000 x 60000 at 24 bits in a few bytes", with([](BmpLayout& s) { s.width = s.height = 60000, s.bitCount = 24; }),
       Failure::kImageTooLarge},
      {"65535 x 65535 run-length picture", with([](BmpLayout& s) {
         s.width = s.height = 65535, s.compression = kBiRle8, s.pixels = {0, 1};
       }),
       Failure::kImageTooLarge},
      // Eight pixels a byte: 8 MB of rows would paint a working image of 256 MB.
      {"8193 x 8192 at 1 bit with all its rows", with([](BmpLayout& s) {
         s.width = 8193, s.height = 8192, s.bitCount = 1, s.pixels.assign(std::size_t{1028} * 8192, 0);
       }),
       Failure::kImageTooLarge},
  };
  for (const Case& c : cases) EXPECT_EQ(FailureName(Decode(MakeBmp(c.layout)).failure), std::string(FailureName(c.failure))) << c.what;
}

TEST(BmpHeader, BrokenFileHeaderFieldsAreRefused) {
  BmpLayout layout;
  layout.pixels = {0, 0, 0, 0};
  const std::vector<std::uint8_t> file = MakeBmp(layout);
  std::vector<std::uint8_t> pastTheEnd = file;
  pastTheEnd[12] = 0x10;  // pixel data offset 0x100000 + the real one
  EXPECT_EQ(Decode(pastTheEnd).failure, Failure::kBadPixelOffset);
  const std::vector<std::uint8_t> cutHeader(file.begin(), file.begin() + 30);
  EXPECT_EQ(Decode(cutHeader).failure, Failure::kTruncatedHeader);
}

TEST(BmpRows, TheLastRowMayLackItsPadding) {
  // 3 x 2 at 8 bits: rows of 3 bytes padded to 4. Bottom row first in the file.
  BmpLayout layout;
  layout.width = 3;
  layout.height = 2;
  layout.pixels = {0, 1, 2, 0, 2, 1, 0};  // the top row's padding byte is missing
  const Decoded decoded = Decode(MakeBmp(layout));
  ASSERT_EQ(decoded.failure, Failure::kNone);
  EXPECT_EQ(decoded.pixels, (std::vector<std::uint32_t>{kBlue, kGreen, kRed, kRed, kGreen, kBlue}));
  layout.pixels.pop_back();
  EXPECT_EQ(Decode(MakeBmp(layout)).failure, Failure::kTruncatedPixels);
}

// Run-length data for a 4 x 2 picture (bottom row first in the data), palette red, green, blue.
struct RleCase {
  const char* what;
  std::uint32_t compression;
  std::vector<std::uint8_t> data;
  Failure failure;
  std::vector<std::uint32_t> expected;  // top row first
};

TEST(BmpRle, RunsMovesAndEndsAsWindowsDrawsThem) {
  const RleCase cases[] = {
      {"runs and end of line", kBiRle8, {2, 0, 2, 1, 0, 0, 4, 2, 0, 1}, Failure::kNone,
       {kBlue, kBlue, kBlue, kBlue, kRed, kRed, kGreen, kGreen}},
      {"delta skips pixels, which stay white", kBiRle8, {1, 0, 0, 2, 2, 1, 1, 1, 0, 1}, Failure::kNone,
       {kW, kW, kW, kGreen, kRed, kW, kW, kW}},
      {"early end of bitmap leaves the rest white", kBiRle8, {2, 1, 0, 1}, Failure::kNone,
       {kW, kW, kW, kW, kGreen, kGreen, kW, kW}},
      {"a run past the right edge is cut, not wrapped", kBiRle8, {6, 0, 0, 0, 1, 1, 0, 1}, Failure::kNone,
       {kGreen, kW, kW, kW, kRed, kRed, kRed, kRed}},
      {"literal run with its padding byte", kBiRle8, {0, 3, 0, 1, 2, 0, 0, 0, 4, 1, 0, 1}, Failure::kNone,
       {kGreen, kGreen, kGreen, kGreen, kRed, kGreen, kBlue, kW}},
      {"a delta past the top ends the picture", kBiRle8, {1, 2, 0, 2, 0, 9, 4, 1}, Failure::kNone,
       {kW, kW, kW, kW, kBlue, kW, kW, kW}},
      {"no end-of-bitmap after the last complete row", kBiRle8, {4, 0, 0, 0, 4, 1}, Failure::kNone,
       {kGreen, kGreen, kGreen, kGreen, kRed, kRed, kRed, kRed}},
      {"data ends while rows are missing", kBiRle8, {4, 0}, Failure::kTruncatedRle, {}},
      {"literal run cut by the end of the file", kBiRle8, {0, 5, 1, 2}, Failure::kTruncatedRle, {}},
      {"delta cut by the end of the file", kBiRle8, {0, 2, 1}, Failure::kTruncatedRle, {}},
      {"RLE4 run alternates two colours", kBiRle4, {4, 0x12, 0, 0, 3, 0x21, 0, 1}, Failure::kNone,
       {kBlue, kGreen, kBlue, kW, kGreen, kBlue, kGreen, kBlue}},
      {"RLE4 odd literal run, cut at the edge, padded", kBiRle4, {0, 5, 0x01, 0x20, 0x10, 0, 0, 0, 4, 0x22, 0, 1},
       Failure::kNone, {kBlue, kBlue, kBlue, kBlue, kRed, kGreen, kBlue, kRed}},
  };
  for (const RleCase& c : cases) {
    BmpLayout layout;
    layout.width = 4;
    layout.height = 2;
    layout.bitCount = c.compression == kBiRle4 ? 4 : 8;
    layout.compression = c.compression;
    layout.pixels = c.data;
    const Decoded decoded = Decode(MakeBmp(layout));
    EXPECT_EQ(FailureName(decoded.failure), std::string(FailureName(c.failure))) << c.what;
    if (c.failure == Failure::kNone) {
      EXPECT_EQ(decoded.pixels, c.expected) << c.what;
    }
  }
}

TEST(BmpRle, SkippedPixelsAreWhiteEvenOverAnEarlierPicture) {
  BmpLayout layout;
  layout.width = 2;
  layout.height = 1;
  layout.compression = kBiRle8;
  layout.pixels = {1, 2, 0, 1};
  WorkingImage image(5, 5);
  std::fill(image.Pixels().begin(), image.Pixels().end(), kBlack);
  ASSERT_TRUE(imaging::DecodeBmp(MakeBmp(layout), image));
  ASSERT_EQ(image.Width(), 2);
  ASSERT_EQ(image.Height(), 1);
  EXPECT_EQ(image.Pixels(), (std::vector<std::uint32_t>{kBlue, kW}));
}

TEST(BmpDecoder, AFailedDecodeLeavesTheImageAlone) {
  WorkingImage image(3, 2);
  const std::vector<std::uint8_t> notBmp = {'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(imaging::DecodeBmp(notBmp, image));
  EXPECT_EQ(image.Width(), 3);
  EXPECT_FALSE(imaging::DecodeBmp({}, image));
}

}  // namespace
