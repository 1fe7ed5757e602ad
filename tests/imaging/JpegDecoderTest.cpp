// The JPEG decoder against djpeg (libjpeg-turbo's own command-line decoder, same library, same settings)
// on the public JPEG samples, and its verdicts on damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <jpeglib.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "imaging/Decoders.h"
#include "imaging/JpegDecoder.h"
#include "tests/imaging/JpegTestFiles.h"
#include "tests/imaging/PhotoTestFiles.h"
#include "support/TestPlatform.h"

namespace imaging {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string SamplePath(const std::string& name) { return std::string(CARDPHOTO_TESTDATA_DIR) + "/jpeg/" + name; }

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

Bytes Sample(const std::string& name) { return ReadFile(SamplePath(name)); }

// A PGM (P5) or PPM (P6) file as djpeg writes it, turned into working-image pixels (unused where djpeg
// cannot run).
[[maybe_unused]] WorkingImage ParsePnm(const Bytes& file) {
  std::string header(file.begin(), file.begin() + std::min<std::size_t>(file.size(), 64));
  std::istringstream fields(header);
  std::string magic;
  int width = 0, height = 0, maxValue = 0;
  fields >> magic >> width >> height >> maxValue;
  const std::size_t start = static_cast<std::size_t>(fields.tellg()) + 1;  // one whitespace byte
  const int channels = magic == "P6" ? 3 : 1;
  EXPECT_TRUE((magic == "P5" || magic == "P6") && maxValue == 255) << header;
  EXPECT_EQ(file.size(), start + static_cast<std::size_t>(width) * height * channels);
  WorkingImage image(width, height);
  const std::uint8_t* sample = file.data() + start;
  for (std::uint32_t& pixel : image.Pixels()) {
    pixel = channels == 3 ? PackRgb(sample[0], sample[1], sample[2]) : PackRgb(sample[0], sample[0], sample[0]);
    sample += channels;
  }
  return image;
}

// Runs djpeg with the given options on a file and returns what it painted. djpeg exits with 2 when it
// only warned; that is still a picture.
// djpeg is a program of the build machine, out of a Windows test program's reach.
#ifdef _WIN32
#define SKIP_WITHOUT_DJPEG() GTEST_SKIP() << "djpeg, the oracle, is a Linux program: the Linux suite compares with it"
WorkingImage Djpeg(const std::string&, const std::string&) { return WorkingImage(); }
#else
#define SKIP_WITHOUT_DJPEG() static_cast<void>(0)
WorkingImage Djpeg(const std::string& options, const std::string& path) {
  const auto output = std::filesystem::path(::testing::TempDir()) /
                      ("djpeg-oracle-" + std::to_string(testsupport::ProcessId()) + ".pnm");
  const std::string command =
      "djpeg " + options + " -outfile '" + output.string() + "' '" + path + "' 2>/dev/null";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 1) << command;
  WorkingImage image = ParsePnm(ReadFile(output.string()));
  std::filesystem::remove(output);
  return image;
}
#endif

// Our decoder paints exactly djpeg's pixels.
void ExpectSamePixels(const WorkingImage& expected, const WorkingImage& actual) {
  ASSERT_EQ(expected.Width(), actual.Width());
  ASSERT_EQ(expected.Height(), actual.Height());
  int differing = 0;
  for (std::size_t i = 0; i < expected.Pixels().size(); ++i)
    if (expected.Pixels()[i] != actual.Pixels()[i] && ++differing <= 3)
      ADD_FAILURE() << "pixel " << i % expected.Width() << "," << i / expected.Width() << ": expected "
                    << std::hex << expected.Pixels()[i] << ", got " << actual.Pixels()[i];
  EXPECT_EQ(differing, 0);
}

WorkingImage Decoded(const std::string& sample) {
  WorkingImage image;
  EXPECT_TRUE(DecodeJpeg(Sample(sample), image)) << sample;
  return image;
}

// djpeg's defaults are our settings: accurate integer IDCT (-dct int), smooth upsampling (its -nosmooth
// turns that off) and block smoothing (the library default, no djpeg flag). Block smoothing only changes
// pixels of a progressive file whose scans never send some of the low AC coefficients; no sample is such
// a file, the test JpegDecode.EstimatesTheCoefficientsAProgressiveFileNeverSends makes one.
constexpr const char* kColourOptions = "-dct int -ppm";
// Grayscale through the one-pass quantizer: djpeg then writes a PGM of the colormap's gray values.
constexpr const char* kGrayOptions = "-dct int -colors 236 -onepass -dither fs -pnm";

struct OracleCase {
  const char* sample;
  const char* djpegOptions;
};

class JpegMatchesDjpeg : public ::testing::TestWithParam<OracleCase> {};

TEST_P(JpegMatchesDjpeg, PaintsTheSamePixels) {
  SKIP_WITHOUT_DJPEG();
  ExpectSamePixels(Djpeg(GetParam().djpegOptions, SamplePath(GetParam().sample)), Decoded(GetParam().sample));
}

INSTANTIATE_TEST_SUITE_P(
    Samples, JpegMatchesDjpeg,
    ::testing::Values(OracleCase{"testorig.jpg", kColourOptions},          // baseline 4:2:0
                    OracleCase{"testimgint.jpg", kColourOptions},        // baseline 4:2:0, other tables
                    OracleCase{"testorig-422.jpg", kColourOptions},      // 4:2:2
                    OracleCase{"testorig-444.jpg", kColourOptions},      // 4:4:4
                    OracleCase{"testorig-restart.jpg", kColourOptions},  // restart markers
                    OracleCase{"testimgp.jpg", kColourOptions},          // progressive
                    OracleCase{"testimgari.jpg", kColourOptions},  // arithmetic coding: libjpeg-turbo has it
                    OracleCase{"32x32x8_ycbcr.jpg", kColourOptions},  // one scan per component
                    OracleCase{"32x32x8_ycbcr_2x2_2x1_1x2_interleaved.jpg", kColourOptions},
                    // Corrupted entropy data that libjpeg only reports as stray bytes before the next
                    // marker: nothing was lost in the data's own terms, so the picture counts as whole.
                    OracleCase{"testorig-corrupt-scan.jpg", kColourOptions},
                    OracleCase{"testorig-restart-corrupt.jpg", kColourOptions},
                    OracleCase{"testimggray.jpg", kGrayOptions},
                    OracleCase{"32x32x8_restarts.jpg", kGrayOptions},
                    OracleCase{"1x1x8_grayscale.jpg", kGrayOptions}),
    [](const ::testing::TestParamInfo<OracleCase>& info) {
      std::string name = info.param.sample;
      name = name.substr(0, name.find('.'));
      std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
      return name;
    });

// The samples of a four-component file as libjpeg hands them out, unconverted.
struct CmykSamples {
  int width = 0;
  int height = 0;
  Bytes samples;  // C, M, Y, K per pixel
};

CmykSamples ReadCmykSamples(const Bytes& file) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr errors{};
  cinfo.err = jpeg_std_error(&errors);  // these samples are whole: an error here may exit the test
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), file.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_CMYK;
  cinfo.dct_method = JDCT_ISLOW;
  jpeg_start_decompress(&cinfo);
  CmykSamples result{static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), {}};
  result.samples.resize(static_cast<std::size_t>(result.width) * result.height * 4);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = result.samples.data() + static_cast<std::size_t>(cinfo.output_scanline) * result.width * 4;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return result;
}

class JpegCmyk : public ::testing::TestWithParam<const char*> {};

// Four-component files are read as inverted CMYK: red = max(0, C + K - 255) and so on.
TEST_P(JpegCmyk, PaintsInvertedCmyk) {
  const CmykSamples cmyk = ReadCmykSamples(Sample(GetParam()));
  WorkingImage expected(cmyk.width, cmyk.height);
  const std::uint8_t* s = cmyk.samples.data();
  for (std::uint32_t& pixel : expected.Pixels()) {
    const int k = s[3];
    pixel = PackRgb(std::max(0, s[0] + k - 255), std::max(0, s[1] + k - 255), std::max(0, s[2] + k - 255));
    s += 4;
  }
  ExpectSamePixels(expected, Decoded(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Samples, JpegCmyk,
                         ::testing::Values("testorig-cmyk-adobe.jpg", "testorig-ycck-adobe.jpg",
                                         "32x32x8_cmyk_interleaved.jpg"));

TEST(JpegCmyk, InvertedCmykOfThePhotoLooksLikeTheColourOriginal) {
  // The CMYK sample was made from the same picture as testorig.jpg; read with the inverted formula it
  // must come out close to it. The formula is not an exact inverse of the CMYK separation (about 18 levels
  // apart on average); read as plain, not inverted, CMYK it is about a hundred levels off.
  const WorkingImage cmyk = Decoded("testorig-cmyk-adobe.jpg");
  const WorkingImage rgb = Decoded("testorig.jpg");
  ASSERT_EQ(cmyk.Pixels().size(), rgb.Pixels().size());
  double totalDifference = 0;
  for (std::size_t i = 0; i < rgb.Pixels().size(); ++i)
    for (int shift : {0, 8, 16})
      totalDifference += std::abs(static_cast<int>((cmyk.Pixels()[i] >> shift) & 0xFF) -
                                  static_cast<int>((rgb.Pixels()[i] >> shift) & 0xFF));
  EXPECT_LT(totalDifference / (rgb.Pixels().size() * 3), 24.0);
}

// --- Damaged and unsupported data -------------------------------------------------------------------

Bytes WithSofSize(Bytes file, int width, int height) {
  constexpr std::size_t kSofHeight = 163;  // testorig.jpg: SOF0 at 158, then length and precision
  file[kSofHeight] = static_cast<std::uint8_t>(height >> 8);
  file[kSofHeight + 1] = static_cast<std::uint8_t>(height);
  file[kSofHeight + 2] = static_cast<std::uint8_t>(width >> 8);
  file[kSofHeight + 3] = static_cast<std::uint8_t>(width);
  return file;
}

struct RejectedCase {
  const char* what;
  Bytes file;
};

std::vector<RejectedCase> RejectedFiles() {
  const Bytes original = Sample("testorig.jpg");
  return {
      {"cut in the entropy data", Sample("testorig-trunc-scan.jpg")},
      {"no EOI marker", Sample("testorig-no-eoi.jpg")},
      {"half an EOI marker", Bytes(original.begin(), original.end() - 1)},
      {"cut in the frame header", Sample("testorig-trunc-header.jpg")},
      {"progressive, cut in the seventh scan", Sample("testimgp-trunc.jpg")},
      {"12-bit samples", Sample("testorig12.jpg")},
      {"empty", {}},
      {"not a JPEG", Sample("README.md")},
      {"SOI marker only", {0xFF, 0xD8}},
      {"wider than libjpeg allows", WithSofSize(original, 65535, 149)},
      {"height 0 (a DNL marker would be needed)", WithSofSize(original, 227, 0)},
  };
}

TEST(JpegRejects, DamagedOrUnsupportedFiles) {
  for (const RejectedCase& c : RejectedFiles()) {
    WorkingImage image;
    EXPECT_FALSE(DecodeJpeg(c.file, image)) << c.what;
  }
}

TEST(JpegRejects, EveryShortenedFile) {
  const Bytes original = Sample("testorig.jpg");
  for (std::size_t length = 0; length < original.size(); length += 61) {
    WorkingImage image;
    EXPECT_FALSE(DecodeJpeg({original.data(), length}, image)) << length;
  }
}

TEST(JpegAccepts, HarmlessIrregularities) {
  const Bytes original = Sample("testorig.jpg");
  const WorkingImage expected = Decoded("testorig.jpg");
  constexpr std::size_t kAfterApp0 = 20;
  Bytes strayBytes = original;  // padding between two segments, as some cameras write it
  strayBytes.insert(strayBytes.begin() + kAfterApp0, {0x00, 0x12, 0x34, 0x00});
  Bytes trailingBytes = original;  // data after the end-of-image marker
  trailingBytes.insert(trailingBytes.end(), {0x00, 0xFF, 0xD8, 0x42});
  for (const Bytes& file : {strayBytes, trailingBytes}) {
    WorkingImage image;
    ASSERT_TRUE(DecodeJpeg(file, image));
    ExpectSamePixels(expected, image);
  }
}

TEST(JpegDecode, RepaintsAnImageThatHeldAnotherPicture) {
  const WorkingImage expected = Decoded("testorig.jpg");
  for (const char* previous : {"testorig-444.jpg", "32x32x8_ycbcr.jpg"}) {  // same size, other size
    WorkingImage image = Decoded(previous);
    ASSERT_TRUE(DecodeJpeg(Sample("testorig.jpg"), image));
    ExpectSamePixels(expected, image);
  }
}

// --- Block smoothing ------------------------------------------------------------------------------

// A progressive file of a detailed picture whose scans send the DC coefficients and then only AC 1 and 2
// of each component: the decoder has to estimate the others from the neighbouring blocks.
Bytes LowFrequencyOnlyJpeg() {
  WorkingImage picture(96, 64);
  std::mt19937 random(7);
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x)
      picture.At(x, y) = PackRgb((x * 8) ^ (y * 4), (x * x + y * y) / 32 % 256, random() % 256);
  testing::JpegSettings settings;
  settings.scanScript = {{3, {0, 1, 2}, 0, 0, 0, 0},  // components, their indices, Ss, Se, Ah, Al
                         {1, {0}, 1, 2, 0, 0},
                         {1, {1}, 1, 2, 0, 0},
                         {1, {2}, 1, 2, 0, 0}};
  return testing::EncodeJpeg(picture, settings);
}

// libjpeg's decoding with our settings except block smoothing.
WorkingImage DecodedWithoutBlockSmoothing(const Bytes& file) {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr errors{};
  cinfo.err = jpeg_std_error(&errors);  // a file the test wrote: an error here may exit the test
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, file.data(), file.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.do_block_smoothing = FALSE;
  jpeg_start_decompress(&cinfo);
  WorkingImage image(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height));
  std::vector<JSAMPLE> row(static_cast<std::size_t>(image.Width()) * 3);
  for (int y = 0; y < image.Height(); ++y) {
    JSAMPROW pointer = row.data();
    jpeg_read_scanlines(&cinfo, &pointer, 1);
    for (int x = 0; x < image.Width(); ++x)
      image.At(x, y) = PackRgb(row[3 * x], row[3 * x + 1], row[3 * x + 2]);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return image;
}

TEST(JpegDecode, EstimatesTheCoefficientsAProgressiveFileNeverSends) {
  SKIP_WITHOUT_DJPEG();
  const Bytes file = LowFrequencyOnlyJpeg();
  testing::TemporaryFolder folder;
  testing::WriteBytes(folder.File("low-frequency.jpg"), file);
  WorkingImage decoded;
  ASSERT_TRUE(DecodeJpeg(file, decoded));
  ExpectSamePixels(Djpeg(kColourOptions, folder.File("low-frequency.jpg")), decoded);
  // Without the estimate libjpeg paints other pixels: the file does show whether smoothing is on.
  const WorkingImage unsmoothed = DecodedWithoutBlockSmoothing(file);
  ASSERT_EQ(unsmoothed.Pixels().size(), decoded.Pixels().size());
  std::size_t differing = 0;
  for (std::size_t i = 0; i < decoded.Pixels().size(); ++i)
    differing += decoded.Pixels()[i] != unsmoothed.Pixels()[i];
  EXPECT_GT(differing, decoded.Pixels().size() / 2);
}

// --- Scanline reader --------------------------------------------------------------------------------

TEST(JpegScanlineReader, StreamsTheRowsDecodeJpegPaints) {
  const WorkingImage expected = Decoded("testorig-422.jpg");
  const Bytes file = Sample("testorig-422.jpg");
  JpegScanlineReader reader;
  ASSERT_TRUE(reader.Open(file));
  ASSERT_EQ(reader.Width(), 227);
  ASSERT_EQ(reader.Height(), 149);
  EXPECT_EQ(reader.Orientation(), 1);
  std::vector<std::uint32_t> row(227);
  for (int y = 0; y < 149; ++y) {
    ASSERT_TRUE(reader.ReadRow(row.data())) << y;
    ASSERT_TRUE(std::equal(row.begin(), row.end(), expected.Row(y))) << y;
  }
  EXPECT_FALSE(reader.ReadRow(row.data()));  // no row after the last
  EXPECT_TRUE(reader.Finish());
}

TEST(JpegScanlineReader, GivesItsVerdictOnDamagedDataAtTheLatestInFinish) {
  for (const char* sample : {"testorig-no-eoi.jpg", "testorig-trunc-scan.jpg", "testimgp-trunc.jpg"}) {
    const Bytes file = Sample(sample);
    JpegScanlineReader reader;
    if (reader.Open(file)) {
      std::vector<std::uint32_t> row(reader.Width());
      int rows = 0;
      while (reader.ReadRow(row.data())) ++rows;
      EXPECT_LE(rows, reader.Height()) << sample;
    }
    EXPECT_FALSE(reader.Finish()) << sample;
  }
}

TEST(JpegScanlineReader, FinishBeforeTheLastRowIsNotAWholePicture) {
  const Bytes file = Sample("testorig.jpg");
  JpegScanlineReader reader;
  ASSERT_TRUE(reader.Open(file));
  std::vector<std::uint32_t> row(reader.Width());
  ASSERT_TRUE(reader.ReadRow(row.data()));
  EXPECT_FALSE(reader.Finish());
}

}  // namespace
}  // namespace imaging
