// The area-averaging resampler: hand-checked results, the single-precision behaviour that decides the
// stored bytes, and the production resampler against the plain oracle of ResampleReference.h.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>

#include "imaging/PhotoStream.h"
#include "imaging/Resample.h"
#include "imaging/ResampleKernel.h"
#include "imaging/WorkingImage.h"
#include "tests/imaging/ResampleReference.h"

namespace imaging {
namespace {

WorkingImage Uniform(int width, int height, std::uint32_t pixel) {
  WorkingImage image(width, height);
  for (auto& p : image.Pixels()) p = pixel;
  return image;
}

WorkingImage RandomImage(int width, int height, std::mt19937& random) {
  WorkingImage image(width, height);
  for (auto& p : image.Pixels()) p = random() & 0x00FFFFFFu;
  return image;
}

WorkingImage Resampled(const WorkingImage& source, int width, int height, KernelPath path = KernelPath::Fastest) {
  WorkingImage destination(width, height);
  ResampleBitmap(source, destination, path);
  return destination;
}

// The vector kernel (where the processor has one) and the plain one that rounds every term twice.
constexpr KernelPath kPaths[] = {KernelPath::Fastest, KernelPath::Plain};

std::map<std::uint32_t, int> CountValues(const WorkingImage& image) {
  std::map<std::uint32_t, int> counts;
  for (auto p : image.Pixels()) ++counts[p];
  return counts;
}

TEST(CeilPositive, IntegerPartPlusOneForAFraction) {
  const struct {
    float x;
    int expected;
  } cases[] = {{0.0f, 0}, {1.0f, 1}, {1.5f, 2}, {0.0001f, 1}, {3.9999f, 4}, {110.0f, 110}, {65535.5f, 65536}};
  for (const auto& c : cases) EXPECT_EQ(CeilPositive(c.x), c.expected) << c.x;
}

TEST(ResampleBitmap, EqualSizesCopyEveryBitOfEveryPixel) {
  std::mt19937 random(7);
  WorkingImage source(37, 23);
  for (auto& p : source.Pixels()) p = random();  // bits 24-31 too
  EXPECT_EQ(Resampled(source, 37, 23).Pixels(), source.Pixels());
}

// 3 x 3 -> 2 x 2, worked by hand. sx = sy = 1.5; 1/1.5 in single precision is 0.6666667 (0x3F2AAAAB) and
// k = 0.6666667^2 rounds to 0.44444448 (0x3EE38E3A), a hair above 4/9. Column (and row) bands: [0, 1.5)
// reads index 0 with weight 1 and index 1 with 0.5; [1.5, 3) reads index 1 with 0.5 and index 2 with 1.
// Pixel weights are k, k/2 and k/4 (exact halvings of k).
//   blue source       10 20 30 / 40 50 60 / 70 80 90
//   blue (0,0) = (10 + 20/2 + 40/2 + 50/4) * k = 52.5 * 4/9 = 23.33 -> 23
//   blue (1,0) = (20/2 + 30 + 50/4 + 60/2) * k = 82.5 * 4/9 = 36.67 -> 36
//   blue (0,1) = (40/2 + 50/4 + 70 + 80/2) * k = 142.5 * 4/9 = 63.33 -> 63
//   blue (1,1) = (50/4 + 60/2 + 80/2 + 90) * k = 172.5 * 4/9 = 76.67 -> 76
//   green 255 everywhere: 255 * 2.25 * k. With k = 4/9 exactly this is 255; k lies above 4/9, and the four
//   single-precision partial sums of (0,0) are 113.33334, 170.00002, 226.66669, 255.00002 -> 255.
//   red 0 everywhere stays 0.
TEST(ResampleBitmap, ThreeByThreeToTwoByTwoMatchesTheHandWorking) {
  WorkingImage source(3, 3);
  const std::uint32_t blue[3][3] = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) source.At(x, y) = PackRgb(0, 255, blue[y][x]);
  const WorkingImage result = Resampled(source, 2, 2);
  EXPECT_EQ(result.At(0, 0), PackRgb(0, 255, 23));
  EXPECT_EQ(result.At(1, 0), PackRgb(0, 255, 36));
  EXPECT_EQ(result.At(0, 1), PackRgb(0, 255, 63));
  EXPECT_EQ(result.At(1, 1), PackRgb(0, 255, 76));
}

TEST(ResampleBitmap, BlackAndExactHalvingsStayUniform) {
  const struct {
    std::uint32_t pixel;
    int sourceWidth, sourceHeight, width, height;
  } cases[] = {
      {PackRgb(0, 0, 0), 480, 640, 90, 120},   // black through any scale
      {PackRgb(0, 0, 0), 358, 441, 97, 120},
      {PackRgb(8, 4, 8), 220, 240, 110, 120},  // sx = sy = 2: k = 0.25 exactly, every sum exact
      {PackRgb(255, 255, 255), 220, 240, 110, 120},
      {PackRgb(200, 100, 50), 440, 480, 110, 120},  // factor 4
  };
  for (const auto& c : cases) {
    const WorkingImage result =
        Resampled(Uniform(c.sourceWidth, c.sourceHeight, c.pixel), c.width, c.height);
    const auto counts = CountValues(result);
    ASSERT_EQ(counts.size(), 1u) << c.sourceWidth << "x" << c.sourceHeight;
    EXPECT_EQ(counts.begin()->first, c.pixel);
  }
}

// A uniform (8, 4, 8) portrait at 480 x 640 -> 90 x 120 (sx = sy = 5.3333335). The single-precision sums
// of many pixels end just below the integer, and truncation gives one level less in every channel there:
// (7, 3, 7). That is the defined result. The counts and positions below were computed by the oracle and,
// independently, by a NumPy float32 transcription of the same steps.
TEST(ResampleBitmap, UniformPictureLosesALevelWhereSumsFallShort) {
  const WorkingImage source = Uniform(480, 640, PackRgb(8, 4, 8));
  const WorkingImage oracle = reference::Resample(source, 90, 120);
  const WorkingImage result = Resampled(source, 90, 120);
  EXPECT_EQ(result.Pixels(), oracle.Pixels());
  EXPECT_EQ(Resampled(source, 90, 120, KernelPath::Plain).Pixels(), oracle.Pixels());
  const std::map<std::uint32_t, int> expected = {{PackRgb(7, 3, 7), 4145}, {PackRgb(8, 4, 8), 6655}};
  EXPECT_EQ(CountValues(oracle), expected);
  EXPECT_EQ(CountValues(result), expected);
  const struct {
    int x, y;
    std::uint32_t pixel;
  } positions[] = {{0, 0, PackRgb(8, 4, 8)}, {4, 0, PackRgb(8, 4, 8)}, {5, 0, PackRgb(7, 3, 7)},
                   {11, 0, PackRgb(7, 3, 7)}, {1, 1, PackRgb(7, 3, 7)}, {7, 3, PackRgb(8, 4, 8)},
                   {9, 3, PackRgb(7, 3, 7)}, {10, 3, PackRgb(8, 4, 8)}};
  for (const auto& p : positions) EXPECT_EQ(result.At(p.x, p.y), p.pixel) << p.x << "," << p.y;
}

TEST(ResampleBitmap, EqualsTheOracleOnRandomPicturesAndSizes) {
  std::mt19937 random(20240611);
  // Fixed shapes that stress the band edges (narrow, tall, scale just above 1, enlarging), then random ones.
  struct Shape {
    int sourceWidth, sourceHeight, width, height;
  };
  std::vector<Shape> shapes = {{1, 200, 1, 120}, {200, 1, 110, 1},  {111, 120, 110, 118}, {110, 121, 109, 120},
                               {358, 441, 97, 120}, {3, 5, 7, 11}, {2, 2, 5, 3},  {640, 480, 110, 82},
                               {1201, 1601, 90, 120}, {7, 3, 1, 1},
                               {1512, 403, 45, 12},  // scale 33.6: band edges a sliver past a column
                               {1200, 1600, 90, 120},
                               {3024, 4032, 90, 120},  // slivers in 8 columns and 14 row bands
                               {2000, 1001, 1000, 500}};  // edge row weights too many to make with the plan
  std::uniform_int_distribution<int> size(1, 400);
  for (int n = 0; n < 60; ++n) {
    const int sourceWidth = size(random), sourceHeight = size(random);
    shapes.push_back({sourceWidth, sourceHeight, 1 + size(random) % 110, 1 + size(random) % 120});
  }
  for (const auto& s : shapes) {
    const WorkingImage source = RandomImage(s.sourceWidth, s.sourceHeight, random);
    const WorkingImage oracle = reference::Resample(source, s.width, s.height);
    for (const KernelPath path : kPaths)
      ASSERT_EQ(Resampled(source, s.width, s.height, path).Pixels(), oracle.Pixels())
          << s.sourceWidth << "x" << s.sourceHeight << " -> " << s.width << "x" << s.height << " path "
          << static_cast<int>(path);
  }
}

// 52 x 62 -> 16 x 14: the band of destination row 7 starts at 7 * 4.428571 = 30.999998 in single
// precision, so it takes source row 30 with a sliver of weight 2e-6 (pixel weights near 1.3e-7, below
// 2^-21) and then rows 31 to 34 whole. Its pixels must take the path that rounds twice for every term,
// the full rows included.
TEST(ResampleBitmap, BandStartingWithASliverRowEqualsTheOracle) {
  const float sy = static_cast<float>(62.0 / 14);
  const AxisBands rows = MakeAxisBands(62, 14, sy);
  const float* band = rows.weight.data() + 7 * rows.span;
  ASSERT_EQ(rows.index[7 * rows.span], 30);
  ASSERT_GT(band[0], 0.0f);
  ASSERT_LT(band[0], 1e-5f);
  for (int t = 1; t <= 4; ++t) ASSERT_EQ(band[t], 1.0f) << t;
  std::mt19937 random(3);
  std::vector<WorkingImage> sources = {RandomImage(52, 62, random), RandomImage(52, 62, random)};
  for (std::uint32_t pixel : {PackRgb(255, 255, 255), PackRgb(8, 4, 8), PackRgb(201, 97, 13)})
    sources.push_back(Uniform(52, 62, pixel));
  for (const auto& source : sources)
    for (const KernelPath path : kPaths)
      ASSERT_EQ(Resampled(source, 16, 14, path).Pixels(), reference::Resample(source, 16, 14).Pixels());
}

// The fault a sliver row invites, shown on the kernel with weights chosen for it: a first term of weight
// 2^-60, then 3 * (1 + 3 * 2^-23) = 3 + 4.5 units of the float. Rounded to double the sum is that tie,
// which goes to the even float 3 + 2^-20; a fused multiply-add would see the sliver and round up to
// 3 + 5 * 2^-22. Every later term of the band must take the path that rounds twice.
TEST(ResampleKernel, TermsAfterASliverRowRoundTwice) {
  AxisBands columns;
  columns.count = 8;
  columns.span = 1;
  columns.sourceSize = 8;
  columns.index = {0, 1, 2, 3, 4, 5, 6, 7};
  columns.weight.assign(8, 1.0f + 0x3p-23f);
  const ColumnGroups groups = MakeColumnGroups(columns, 1.0);
  ASSERT_EQ(groups.Count(), 1u);
  const float sliver = 0x1p-60f;
  PixelWeights sliverRow, fullRow;
  sliverRow.Fill(groups, sliver);
  fullRow.Fill(groups, 1.0f);
  const std::vector<std::uint32_t> first(8, PackRgb(1, 1, 1)), second(8, PackRgb(3, 3, 3));
  for (const KernelPath path : {KernelPath::Fastest, KernelPath::Plain}) {
    std::vector<float> sums(groups.SumsPerRow(), 0.0f);
    std::vector<std::uint32_t> tail(std::max(groups.tailLength, 1));
    const RowTarget sliverTarget{sums.data(), &sliverRow, sliver}, fullTarget{sums.data(), &fullRow, sliver};
    AccumulateRow(first.data(), groups, {&sliverTarget, 1}, tail.data(), path);
    AccumulateRow(second.data(), groups, {&fullTarget, 1}, tail.data(), path);
    for (int x = 0; x < 8; ++x)
      for (int c = 0; c < kChannels; ++c)
        EXPECT_EQ(sums[c * ColumnGroups::kGroup + x], 3.0f + 0x1p-20f) << x << "," << c;
  }
}

// Band edges that land a float rounding past a whole column leave slivers of weight near 1e-8; those
// pixels must take the path that rounds each sum twice (to double, then to float), the others may take a
// fused multiply-add. The oracle comparison above covers both in its 1512 -> 45 case: the same scale, 33.6,
// whose 45 columns are the first 45 of these, slivers included.
TEST(ResampleKernel, SliverWeightsAreKeptOffTheFusedPath) {
  const float sx = static_cast<float>(3024.0 / 90);
  const double k = static_cast<float>(static_cast<double>(static_cast<float>(1.0 / sx)) * static_cast<float>(1.0 / sx));
  const AxisBands columns = MakeAxisBands(3024, 90, sx);
  const ColumnGroups groups = MakeColumnGroups(columns, k);
  const auto fusedGroups = [&](float smallestRowWeight) {
    long fused = 0;
    for (std::size_t g = 0; g < groups.Count(); ++g) fused += GroupIsFused(groups, g, smallestRowWeight);
    return fused;
  };
  EXPECT_GT(fusedGroups(1.0f), 0);
  EXPECT_LT(fusedGroups(1.0f), static_cast<long>(groups.Count()));
  EXPECT_EQ(fusedGroups(1e-6f), 0);  // a band with a sliver of a row: nothing is fused
}

}  // namespace
}  // namespace imaging
