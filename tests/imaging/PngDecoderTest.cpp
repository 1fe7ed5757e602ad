// Hand-made PNG files for what the PngSuite does not pin: keys that are not white, the blending
// arithmetic, damaged containers and streams, cut files and the size limits.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/Decoders.h"
#include "tests/imaging/PhotoTestFiles.h"

namespace imaging {
namespace {

using Bytes = std::vector<std::uint8_t>;

using testing::PutBig;
using testing::ZlibCompress;

Bytes Chunk(const char* type, const Bytes& data) {
  Bytes chunk;
  testing::PutPngChunk(chunk, type, data);
  return chunk;
}

Bytes Header(std::uint32_t width, std::uint32_t height, int depth, int colourType, int interlace = 0,
             int compression = 0, int filter = 0) {
  Bytes data;
  PutBig(data, width);
  PutBig(data, height);
  for (int field : {depth, colourType, compression, filter, interlace})
    data.push_back(static_cast<std::uint8_t>(field));
  return Chunk("IHDR", data);
}

Bytes ImageData(const Bytes& scanlines) { return Chunk("IDAT", ZlibCompress(scanlines)); }
Bytes End() { return Chunk("IEND", {}); }
Bytes Gamma(std::uint32_t value) {
  Bytes data;
  PutBig(data, value);
  return Chunk("gAMA", data);
}

Bytes Png(std::initializer_list<Bytes> chunks) {
  Bytes file = {137, 80, 78, 71, 13, 10, 26, 10};
  for (const Bytes& chunk : chunks) file.insert(file.end(), chunk.begin(), chunk.end());
  return file;
}

// A valid 2 x 1 8-bit gray image with pixels 10 and 200, for the container cases.
const Bytes kTinyHeader = Header(2, 1, 8, 0);
const Bytes kTinyData = ImageData({0, 10, 200});
Bytes TinyPng() { return Png({kTinyHeader, kTinyData, End()}); }

std::vector<std::uint32_t> Pixels(const WorkingImage& image) { return image.Pixels(); }

// ---------------------------------------------------------------------------------------------------------
// What each pixel shows: keys, blending and gamma on one-row images.

struct DisplayCase {
  const char* name;
  Bytes file;
  std::vector<std::uint32_t> expected;
};

void PrintTo(const DisplayCase& c, std::ostream* os) { *os << c.name; }

constexpr std::uint32_t kWhitePixel = 0xFFFFFF;

const std::vector<DisplayCase> kDisplayCases = {
    // Truecolour key: only the exact colour is keyed, a neighbour in any channel stays.
    {"RgbKeyExactColourOnly",
     Png({Header(3, 1, 8, 2), Chunk("tRNS", {0, 10, 0, 20, 0, 30}),
          ImageData({0, 10, 20, 30, 10, 20, 31, 11, 20, 30}), End()}),
     {kWhitePixel, 0x0A141F, 0x0B141E}},
    // 16 bits: the pixel shows its high bytes, the key is the low bytes of the tRNS values.
    {"Rgb16KeyUsesLowBytes",
     Png({Header(2, 1, 16, 2), Chunk("tRNS", {0x12, 10, 0x34, 20, 0x56, 30}),
          ImageData({0, 10, 0x99, 20, 0x98, 30, 0x97, 0x12, 10, 0x34, 20, 0x56, 30}), End()}),
     {kWhitePixel, 0x123456}},
    // Gray key: level number 1 of a 2-bit scale is 85.
    {"Gray2KeyIsLevelNumber",
     Png({Header(4, 1, 2, 0), Chunk("tRNS", {0, 1}), ImageData({0, 0b00011011}), End()}),
     {0x000000, kWhitePixel, 0xAAAAAA, 0xFFFFFF}},
    // A key beyond a 4-bit scale names no level: nothing is keyed.
    {"Gray4KeyBeyondScale",
     Png({Header(2, 1, 4, 0), Chunk("tRNS", {0, 20}), ImageData({0, 0x04}), End()}),
     {0x000000, 0x444444}},
    // The gray key is the low byte of the tRNS value: 0x0103 keys level 3.
    {"Gray8KeyLowByte",
     Png({Header(2, 1, 8, 0), Chunk("tRNS", {1, 3}), ImageData({0, 3, 1}), End()}),
     {kWhitePixel, 0x010101}},
    // 16-bit gray shows its high bytes, a scale of 256 levels: the key 0x1205 is level 5 of that scale, so
    // a pixel stored as 0x0500 is keyed and one stored as 0x1205 shows 0x12.
    {"Gray16KeyIsLevelOfHighBytes",
     Png({Header(2, 1, 16, 0), Chunk("tRNS", {0x12, 5}), ImageData({0, 5, 0, 0x12, 5}), End()}),
     {kWhitePixel, 0x121212}},
    // After gAMA 1.0, levels 254 and 255 both show 255: keying 254 whitens both, 253 shows 254.
    {"GrayKeyComparedAfterGamma",
     Png({Header(3, 1, 8, 0), Gamma(100000), Chunk("tRNS", {0, 254}), ImageData({0, 253, 254, 255}), End()}),
     {0xFEFEFE, kWhitePixel, kWhitePixel}},
    // Palette key: the entry with alpha 0 and an opaque entry of the same colour both keep the white.
    {"PaletteKeyByColour",
     Png({Header(3, 1, 8, 3), Chunk("PLTE", {1, 2, 3, 4, 5, 6, 4, 5, 6}), Chunk("tRNS", {255, 0}),
          ImageData({0, 0, 1, 2}), End()}),
     {0x010203, kWhitePixel, kWhitePixel}},
    // The first entry whose alpha is 0 gives the key colour, wherever it stands in tRNS.
    {"PaletteKeyLaterEntry",
     Png({Header(3, 1, 2, 3), Chunk("PLTE", {9, 9, 9, 7, 7, 7, 5, 5, 5}), Chunk("tRNS", {255, 255, 0}),
          ImageData({0, 0b00011000}), End()}),
     {0x090909, 0x070707, kWhitePixel}},
    // Exactly one alpha below 255 that is not 0 has no key colour: that entry is blended.
    {"PaletteSingleTranslucentEntryIsBlended",
     Png({Header(2, 1, 8, 3), Chunk("PLTE", {200, 100, 0, 200, 100, 0}), Chunk("tRNS", {128}),
          ImageData({0, 0, 1}), End()}),
     {0xE3B17F, 0xC86400}},
    // Blending, alpha 0, 128 and 255: (s * a + 255 * (255 - a) + 255) >> 8.
    {"RgbaBlend",
     Png({Header(3, 1, 8, 6), ImageData({0, 200, 100, 0, 0, 200, 100, 0, 128, 200, 100, 0, 255}), End()}),
     {kWhitePixel, 0xE3B17F, 0xC86400}},
    {"Rgba16BlendUsesHighBytes",
     Png({Header(3, 1, 16, 6), ImageData({0, 200, 1,   100,  2,   0, 3,   0, 0xFF, 200, 1,   100, 2,
                                          0, 3,   128, 0xFF, 200, 1, 100, 2, 0,    3,   255, 0}),
          End()}),
     {kWhitePixel, 0xE3B17F, 0xC86400}},
    {"GrayAlphaBlend",
     Png({Header(3, 1, 8, 4), ImageData({0, 100, 0, 100, 128, 100, 255}), End()}),
     {kWhitePixel, 0xB1B1B1, 0x646464}},
    {"PaletteTwoTranslucentEntriesBlend",
     Png({Header(3, 1, 8, 3), Chunk("PLTE", {200, 100, 0, 200, 100, 0, 200, 100, 0}), Chunk("tRNS", {0, 128}),
          ImageData({0, 0, 1, 2}), End()}),
     {kWhitePixel, 0xE3B17F, 0xC86400}},
    // gAMA 0.5: 100 maps to round(255 * (100 / 255)^(1 / 1.1)) = 109; 0 and 255 stay; alpha is not mapped.
    {"GammaMapsTruecolourNotAlpha",
     Png({Header(2, 1, 8, 6), Gamma(50000), ImageData({0, 100, 0, 255, 255, 100, 0, 255, 128}), End()}),
     {0x6D00FF, 0xB67FFF}},
    // Gray-with-alpha samples are used as stored even with gAMA.
    {"GammaLeavesGrayAlphaSamples",
     Png({Header(1, 1, 8, 4), Gamma(50000), ImageData({0, 100, 255}), End()}),
     {0x646464}},
    // gAMA 0 means no mapping.
    {"GammaZeroIsNoMapping",
     Png({Header(1, 1, 8, 2), Gamma(0), ImageData({0, 100, 50, 7}), End()}),
     {0x643207}},
    // Palette indexes beyond the palette show black.
    {"IndexBeyondPaletteIsBlack",
     Png({Header(2, 1, 8, 3), Chunk("PLTE", {1, 2, 3}), ImageData({0, 0, 7}), End()}),
     {0x010203, 0x000000}},
};

class PngDisplay : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(PngDisplay, PaintsTheExpectedPixels) {
  WorkingImage image(5, 5);
  ASSERT_TRUE(DecodePng(GetParam().file, image));
  EXPECT_EQ(image.Height(), 1);
  EXPECT_EQ(Pixels(image), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PngDisplay, ::testing::ValuesIn(kDisplayCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------------------
// Damaged or invalid files: all false.

Bytes Tampered(Bytes file, std::size_t offset) {
  file.at(offset) ^= 0x01;
  return file;
}

struct FailureCase {
  const char* name;
  Bytes file;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

const Bytes kPalette2 = Chunk("PLTE", {0, 0, 0, 255, 255, 255});

Bytes CompressedWithTrailer(const Bytes& raw, const Bytes& trailer) {
  Bytes stream = ZlibCompress(raw);
  stream.insert(stream.end(), trailer.begin(), trailer.end());
  return Chunk("IDAT", stream);
}

Bytes WithBadChecksum(const Bytes& raw) {
  Bytes stream = ZlibCompress(raw);
  stream.back() ^= 0x01;  // the last byte of the Adler-32 sum
  return Chunk("IDAT", stream);
}

// Compressed data split over two IDAT chunks, with another chunk between them.
Bytes SplitImageData() {
  const Bytes stream = ZlibCompress({0, 10, 200});
  const Bytes first(stream.begin(), stream.begin() + 4), second(stream.begin() + 4, stream.end());
  return Png({kTinyHeader, Chunk("IDAT", first), Chunk("teXt", {'a'}), Chunk("IDAT", second), End()});
}

Bytes ChunkLengthBeyondFile() {
  Bytes file = Png({kTinyHeader});
  PutBig(file, 1000);
  for (char c : std::string("IDAT")) file.push_back(static_cast<std::uint8_t>(c));
  file.insert(file.end(), 20, 0);
  return file;
}

Bytes ChunkLengthAboveFormatLimit() {
  Bytes file = Png({kTinyHeader});
  PutBig(file, 0x80000000u);
  for (char c : std::string("IDAT")) file.push_back(static_cast<std::uint8_t>(c));
  file.insert(file.end(), 20, 0);
  return file;
}

std::vector<FailureCase> FailureCases() {
  const Bytes tiny = TinyPng();
  const std::size_t headerCrc = 8 + 8 + 13;  // first byte of the IHDR CRC
  return {
      {"BadSignature", Tampered(tiny, 1)},
      {"HeaderCrcMismatch", Tampered(tiny, headerCrc + 3)},
      {"HeaderDataChanged", Tampered(tiny, 8 + 8 + 3)},
      {"ImageDataCrcMismatch", Tampered(tiny, tiny.size() - 12 - 1)},
      {"EndCrcMismatch", Tampered(tiny, tiny.size() - 1)},
      {"AncillaryCrcMismatch",
       Tampered(Png({kTinyHeader, Gamma(100000), kTinyData, End()}), headerCrc + 4 + 8 + 5)},
      {"ChunkLengthBeyondFile", ChunkLengthBeyondFile()},
      {"ChunkLengthAboveFormatLimit", ChunkLengthAboveFormatLimit()},
      {"ChunkTypeNotLetters", Png({kTinyHeader, Chunk("a1cD", {}), kTinyData, End()})},
      {"FirstChunkNotHeader", Png({Gamma(100000), kTinyHeader, kTinyData, End()})},
      {"SecondHeader", Png({kTinyHeader, kTinyHeader, kTinyData, End()})},
      {"HeaderTooLong", Png({Chunk("IHDR", {0, 0, 0, 2, 0, 0, 0, 1, 8, 0, 0, 0, 0, 0}), kTinyData, End()})},
      {"UnknownCriticalChunk", Png({kTinyHeader, Chunk("ABCD", {}), kTinyData, End()})},
      {"NoImageData", Png({kTinyHeader, End()})},
      {"NoEnd", Png({kTinyHeader, kTinyData})},
      {"EndWithData", Png({kTinyHeader, kTinyData, Chunk("IEND", {0})})},
      {"ImageDataInterrupted", SplitImageData()},
      {"CompressionMethod1", Png({Header(2, 1, 8, 0, 0, 1), kTinyData, End()})},
      {"FilterMethod1", Png({Header(2, 1, 8, 0, 0, 0, 1), kTinyData, End()})},
      {"InterlaceMethod2", Png({Header(2, 1, 8, 0, 2), kTinyData, End()})},
      {"Gray3Bits", Png({Header(2, 1, 3, 0), kTinyData, End()})},
      {"Rgb4Bits", Png({Header(2, 1, 4, 2), kTinyData, End()})},
      {"Palette16Bits", Png({Header(2, 1, 16, 3), kPalette2, kTinyData, End()})},
      {"GrayAlpha4Bits", Png({Header(2, 1, 4, 4), kTinyData, End()})},
      {"Rgba1Bit", Png({Header(2, 1, 1, 6), kTinyData, End()})},
      {"ColourType1", Png({Header(2, 1, 8, 1), kTinyData, End()})},
      {"ColourType7", Png({Header(2, 1, 8, 7), kTinyData, End()})},
      {"PaletteImageWithoutPalette", Png({Header(2, 1, 8, 3), kTinyData, End()})},
      {"PaletteInGrayImage", Png({kTinyHeader, kPalette2, kTinyData, End()})},
      {"PaletteAfterImageData",
       Png({Header(2, 1, 8, 2), ImageData({0, 1, 2, 3, 4, 5, 6}), kPalette2, End()})},
      {"PaletteTwice", Png({Header(2, 1, 8, 3), kPalette2, kPalette2, kTinyData, End()})},
      {"PaletteNotWholeEntries", Png({Header(2, 1, 8, 3), Chunk("PLTE", {0, 0, 0, 1}), kTinyData, End()})},
      {"PaletteLargerThanDepthAllows",
       Png({Header(2, 1, 1, 3), Chunk("PLTE", {0, 0, 0, 1, 1, 1, 2, 2, 2}), ImageData({0, 0}), End()})},
      {"PaletteOf257Entries", Png({Header(2, 1, 8, 3), Chunk("PLTE", Bytes(3 * 257, 0)), kTinyData, End()})},
      {"TransparencyOf257Entries", Png({Header(2, 1, 8, 3), Chunk("PLTE", Bytes(3 * 256, 0)),
                                        Chunk("tRNS", Bytes(257, 0)), kTinyData, End()})},
      {"TransparencyLongerThanPalette",
       Png({Header(2, 1, 8, 3), kPalette2, Chunk("tRNS", {0, 0, 0}), kTinyData, End()})},
      {"TransparencyBeforePalette",
       Png({Header(2, 1, 8, 3), Chunk("tRNS", {0}), kPalette2, kTinyData, End()})},
      {"GrayTransparencyWrongSize", Png({kTinyHeader, Chunk("tRNS", {0, 0, 0}), kTinyData, End()})},
      {"RgbTransparencyWrongSize",
       Png({Header(1, 1, 8, 2), Chunk("tRNS", {0, 0}), ImageData({0, 1, 2, 3}), End()})},
      {"GammaWrongSize", Png({kTinyHeader, Chunk("gAMA", {0, 1}), kTinyData, End()})},
      {"UnknownFilterType", Png({kTinyHeader, ImageData({5, 10, 200}), End()})},
      {"TooLittleImageData", Png({kTinyHeader, ImageData({0, 10}), End()})},
      {"TooMuchImageData", Png({kTinyHeader, ImageData({0, 10, 200, 7}), End()})},
      {"ExtraRow", Png({kTinyHeader, ImageData({0, 10, 200, 0, 1, 2}), End()})},
      {"DataAfterStreamEnd", Png({kTinyHeader, CompressedWithTrailer({0, 10, 200}, {0}), End()})},
      {"StreamChecksumWrong", Png({kTinyHeader, WithBadChecksum({0, 10, 200}), End()})},
      {"StreamNotZlib", Png({kTinyHeader, Chunk("IDAT", {0, 10, 200}), End()})},
      {"InterlacedImageDataShort", Png({Header(2, 2, 8, 0, 1), ImageData({0, 1, 0, 2}), End()})},
  };
}

class PngFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(PngFailure, Fails) {
  WorkingImage image;
  EXPECT_FALSE(DecodePng(GetParam().file, image));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, PngFailure, ::testing::ValuesIn(FailureCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------------------
// Tolerated: what other readers pass over, and how the container may be laid out.

TEST(PngDecoder, ToleratesLayoutsAndSkippableChunks) {
  const Bytes stream = ZlibCompress({0, 10, 200});
  const Bytes first(stream.begin(), stream.begin() + 3), second(stream.begin() + 3, stream.end());
  const std::vector<std::pair<const char*, Bytes>> files = {
      {"plain", TinyPng()},
      {"unknown ancillary chunks",
       Png({kTinyHeader, Chunk("abCD", {1, 2}), kTinyData, Chunk("zzZZ", {}), End()})},
      {"image data over several chunks, some empty",
       Png({kTinyHeader, Chunk("IDAT", first), Chunk("IDAT", {}), Chunk("IDAT", second), End()})},
      {"transparency in an image with alpha",
       Png({Header(2, 1, 8, 4), Chunk("tRNS", {0, 10}), ImageData({0, 10, 255, 200, 255}), End()})},
      {"gAMA after PLTE is passed over", Png({Header(2, 1, 8, 3), Chunk("PLTE", {10, 10, 10, 200, 200, 200}),
                                              Gamma(50000), ImageData({0, 0, 1}), End()})},
      {"bytes after IEND",
       [] {
         Bytes f = TinyPng();
         f.push_back(0);
         return f;
       }()},
  };
  for (const auto& [name, file] : files) {
    WorkingImage image;
    ASSERT_TRUE(DecodePng(file, image)) << name;
    EXPECT_EQ(Pixels(image), (std::vector<std::uint32_t>{0x0A0A0A, 0xC8C8C8})) << name;
  }
}

// ---------------------------------------------------------------------------------------------------------
// Cut files: a PngSuite file cut anywhere before the end of IEND fails.

std::vector<std::uint8_t> SuiteFile(const std::string& name) {
  return testing::ReadBytes((std::filesystem::path(CARDPHOTO_TESTDATA_DIR) / "pngsuite" / name).string());
}

TEST(PngDecoder, FileCutAnywhereFails) {
  for (const char* name : {"basn2c08.png", "basi6a16.png", "oi9n2c16.png"}) {
    const Bytes whole = SuiteFile(name);
    ASSERT_GT(whole.size(), 100u) << name;
    WorkingImage image;
    ASSERT_TRUE(DecodePng(whole, image)) << name;
    // Inside the signature, inside IHDR, right after it, inside the image data, before IEND, inside IEND.
    const std::size_t size = whole.size();
    for (std::size_t cut : {std::size_t{0}, std::size_t{5}, std::size_t{8}, std::size_t{20}, std::size_t{33},
                            size / 2, size - 12, size - 4, size - 1}) {
      const Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
      EXPECT_FALSE(DecodePng(part, image)) << name << " cut at " << cut;
    }
  }
}

// ---------------------------------------------------------------------------------------------------------
// Sizes: 1 to 65535 on either side.

struct SizeCase {
  std::uint32_t width, height;
  bool loads;
};

TEST(PngDecoder, SideLimits) {
  const SizeCase cases[] = {{65535, 1, true}, {1, 65535, true}, {65536, 1, false},      {1, 65536, false},
                            {0, 1, false},    {1, 0, false},    {0x80000000u, 1, false}};
  for (const SizeCase& c : cases) {
    // A 1-bit gray image, every row filter 0, all black; a refused header needs no real data.
    const std::size_t rowBytes = (std::size_t{c.width} + 7) / 8;
    const Bytes scanlines(c.loads ? std::size_t{c.height} * (1 + rowBytes) : 2, 0);
    WorkingImage image;
    EXPECT_EQ(DecodePng(Png({Header(c.width, c.height, 1, 0), ImageData(scanlines), End()}), image), c.loads)
        << c.width << " x " << c.height;
    if (c.loads) {
      EXPECT_EQ(image.Width(), static_cast<int>(c.width));
      EXPECT_EQ(image.Height(), static_cast<int>(c.height));
      EXPECT_EQ(image.At(image.Width() - 1, image.Height() - 1), 0u);
    }
  }
}

// A header promising far more pixels than the compressed data could ever hold fails without the decoder
// first making room for them.
TEST(PngDecoder, HugeHeaderWithLittleDataFails) {
  WorkingImage image;
  EXPECT_FALSE(DecodePng(Png({Header(65535, 65535, 16, 6), ImageData(Bytes(1000, 0)), End()}), image));
}

// The decoded picture replaces whatever the image held, at the picture's own size.
TEST(PngDecoder, ReplacesTheImage) {
  WorkingImage image(40, 30);
  image.At(0, 0) = 0x123456;
  ASSERT_TRUE(DecodePng(TinyPng(), image));
  EXPECT_EQ(image.Width(), 2);
  EXPECT_EQ(image.Height(), 1);
  EXPECT_EQ(Pixels(image), (std::vector<std::uint32_t>{0x0A0A0A, 0xC8C8C8}));
}

}  // namespace
}  // namespace imaging
