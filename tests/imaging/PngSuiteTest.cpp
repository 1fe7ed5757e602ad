// The whole PngSuite: every good file decodes to what libpng decodes, with the sample scaling, gAMA mapping
// and transparency rules applied by a small reference written here; every corrupt x* file fails.
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/FilePath.h"
#include "imaging/Decoders.h"

namespace imaging {
namespace {

namespace fs = std::filesystem;

const fs::path kSuite = fs::path(CARDPHOTO_TESTDATA_DIR) / "pngsuite";

std::vector<std::string> SuiteFiles(bool corrupt) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(kSuite, error)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".png" && (name[0] == 'x') == corrupt) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What libpng reports: RGBA at 8 bits (high bytes of 16-bit samples, low gray depths scaled up, palette
// looked up), no gamma handling, plus the chunks the reference rules need.
struct LibpngDecode {
  std::uint32_t width = 0, height = 0;
  int colourType = 0, bitDepth = 0;
  std::vector<std::uint8_t> rgba;
  std::uint32_t gamma = 0;  // gAMA times 100000, 0 without gAMA
  std::vector<png_color> palette;
  std::vector<std::uint8_t> paletteAlpha;
  bool hasKey = false;
  png_color_16 key{};
};

void CopyChunks(png_structp png, png_infop info, LibpngDecode& out) {
  png_fixed_point gamma = 0;
  if (png_get_gAMA_fixed(png, info, &gamma)) out.gamma = static_cast<std::uint32_t>(gamma);
  png_colorp palette = nullptr;
  int paletteSize = 0;
  if (png_get_PLTE(png, info, &palette, &paletteSize)) out.palette.assign(palette, palette + paletteSize);
  png_bytep alpha = nullptr;
  int alphaCount = 0;
  png_color_16p key = nullptr;
  if (png_get_tRNS(png, info, &alpha, &alphaCount, &key)) {
    if (out.colourType == PNG_COLOR_TYPE_PALETTE) {
      out.paletteAlpha.assign(alpha, alpha + alphaCount);
    } else {
      out.hasKey = true;
      out.key = *key;
    }
  }
}

// Only trivially destructible locals live across setjmp; the vectors belong to the caller.
bool ReadWithLibpng(const fs::path& path, LibpngDecode& out, std::vector<png_bytep>& rows) {
  FILE* file = app::OpenFileUtf8(app::Utf8FromPath(path), "rb");
  if (!file) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  bool ok = false;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_read_info(png, info);
    out.width = png_get_image_width(png, info);
    out.height = png_get_image_height(png, info);
    out.colourType = png_get_color_type(png, info);
    out.bitDepth = png_get_bit_depth(png, info);
    CopyChunks(png, info, out);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) == 4 * std::size_t{out.width}) {
      out.rgba.resize(4 * std::size_t{out.width} * out.height);
      rows.resize(out.height);
      for (std::uint32_t y = 0; y < out.height; ++y)
        rows[y] = out.rgba.data() + 4 * std::size_t{out.width} * y;
      png_read_image(png, rows.data());
      ok = true;
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return ok;
}

// The display rules, written out plainly: one function per colour type, one pixel at a time.
class ReferenceRules {
 public:
  explicit ReferenceRules(const LibpngDecode& d) : d_(d) {}

  std::uint32_t Pixel(const std::uint8_t* rgba) const {
    switch (d_.colourType) {
      case PNG_COLOR_TYPE_GRAY: return Gray(rgba[0]);
      case PNG_COLOR_TYPE_RGB: return Rgb(rgba);
      case PNG_COLOR_TYPE_PALETTE: return Palette(rgba);
      case PNG_COLOR_TYPE_GRAY_ALPHA:
        return Pack(Blend(rgba[0], rgba[3]), Blend(rgba[0], rgba[3]), Blend(rgba[0], rgba[3]));
      default:
        return Pack(Blend(Gamma(rgba[0]), rgba[3]), Blend(Gamma(rgba[1]), rgba[3]),
                    Blend(Gamma(rgba[2]), rgba[3]));
    }
  }

 private:
  static constexpr std::uint32_t kWhitePixel = 0xFFFFFF;
  static std::uint32_t Pack(int r, int g, int b) { return (r << 16) | (g << 8) | b; }
  static int Blend(int source, int alpha) { return (source * alpha + 255 * (255 - alpha) + 255) >> 8; }

  int Gamma(int v) const {
    if (d_.gamma == 0) return v;
    return static_cast<int>(std::nearbyint(255.0 * std::pow(v / 255.0, 1.0 / (d_.gamma / 100000.0 * 2.2))));
  }

  std::uint32_t Gray(int level8) const {
    const std::uint32_t colour = Pack(Gamma(level8), Gamma(level8), Gamma(level8));
    if (!d_.hasKey) return colour;
    const int levels = d_.bitDepth == 16 ? 256 : 1 << d_.bitDepth;
    const int t = d_.key.gray & 0xFF;
    if (t >= levels) return colour;
    const int keyLevel = Gamma(t * 255 / (levels - 1));
    return colour == Pack(keyLevel, keyLevel, keyLevel) ? kWhitePixel : colour;
  }

  std::uint32_t Rgb(const std::uint8_t* rgba) const {
    const std::uint32_t colour = Pack(Gamma(rgba[0]), Gamma(rgba[1]), Gamma(rgba[2]));
    if (!d_.hasKey) return colour;
    const std::uint32_t key =
        Pack(Gamma(d_.key.red & 0xFF), Gamma(d_.key.green & 0xFF), Gamma(d_.key.blue & 0xFF));
    return colour == key ? kWhitePixel : colour;
  }

  std::uint32_t Palette(const std::uint8_t* rgba) const {
    const std::uint32_t colour = Pack(Gamma(rgba[0]), Gamma(rgba[1]), Gamma(rgba[2]));
    int below255 = 0, firstZero = -1;
    for (std::size_t i = 0; i < d_.paletteAlpha.size(); ++i) {
      if (d_.paletteAlpha[i] < 255) ++below255;
      if (d_.paletteAlpha[i] == 0 && firstZero < 0) firstZero = static_cast<int>(i);
    }
    if (below255 == 0) return colour;
    if (below255 == 1 && firstZero >= 0) {
      const png_color& k = d_.palette[firstZero];
      return colour == Pack(Gamma(k.red), Gamma(k.green), Gamma(k.blue)) ? kWhitePixel : colour;
    }
    return Pack(Blend(Gamma(rgba[0]), rgba[3]), Blend(Gamma(rgba[1]), rgba[3]),
                Blend(Gamma(rgba[2]), rgba[3]));
  }

  const LibpngDecode& d_;
};

class PngSuiteGood : public testing::TestWithParam<std::string> {};

TEST_P(PngSuiteGood, DecodesLikeLibpngWithTheDisplayRules) {
  const fs::path path = kSuite / GetParam();
  LibpngDecode expected;
  std::vector<png_bytep> rows;
  ASSERT_TRUE(ReadWithLibpng(path, expected, rows));

  WorkingImage image;
  ASSERT_TRUE(DecodePng(ReadBytes(path), image));
  ASSERT_EQ(image.Width(), static_cast<int>(expected.width));
  ASSERT_EQ(image.Height(), static_cast<int>(expected.height));

  const ReferenceRules rules(expected);
  int mismatches = 0;
  for (int y = 0; y < image.Height(); ++y) {
    for (int x = 0; x < image.Width(); ++x) {
      const std::uint32_t want = rules.Pixel(&expected.rgba[4 * (std::size_t{expected.width} * y + x)]);
      if (image.At(x, y) != want && ++mismatches <= 5)
        ADD_FAILURE() << "pixel (" << x << ", " << y << "): got " << std::hex << image.At(x, y) << ", want "
                      << want;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

class PngSuiteCorrupt : public testing::TestWithParam<std::string> {};

TEST_P(PngSuiteCorrupt, Fails) {
  WorkingImage image;
  EXPECT_FALSE(DecodePng(ReadBytes(kSuite / GetParam()), image));
}

std::string FileStem(const testing::TestParamInfo<std::string>& info) {
  return fs::path(info.param).stem().string();
}

INSTANTIATE_TEST_SUITE_P(PngSuite, PngSuiteGood, testing::ValuesIn(SuiteFiles(false)), FileStem);
INSTANTIATE_TEST_SUITE_P(PngSuite, PngSuiteCorrupt, testing::ValuesIn(SuiteFiles(true)), FileStem);

TEST(PngSuiteFiles, AreThere) {
  EXPECT_EQ(SuiteFiles(false).size(), 161u);
  EXPECT_EQ(SuiteFiles(true).size(), 14u);
}

}  // namespace
}  // namespace imaging
