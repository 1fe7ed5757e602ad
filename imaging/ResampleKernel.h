// The inner loop of the area-averaging resampler: one source row's terms added into the sums of every
// pixel of one destination row, each addition rounded exactly as the single-precision algorithm rounds it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace imaging {

// The bands of one axis: for every destination index d, `span` source indices (already clamped to the
// source) with their weights, in reading order. Bands narrower than `span` are padded with weight 0 terms,
// which leave a single-precision sum unchanged.
struct AxisBands {
  int count = 0;
  int span = 0;
  std::vector<std::int32_t> index;  // count * span
  std::vector<float> weight;        // count * span
};

// Four lanes of sums per destination pixel: blue, green, red and one that nothing reads (bits 24-31).
inline constexpr int kSumLanes = 4;

// The destination columns arranged for the accumulation: groups of 8 columns whose terms are interleaved
// (term t of the 8 columns side by side), the columns whose weights allow a fused multiply-add grouped
// together (see ResampleKernel.cpp), and the few columns left over on their own.
struct ColumnGroups {
  static constexpr int kGroup = 8;
  int span = 0;
  double areaFactor = 0;                // k
  std::vector<int> pixels;              // groups * 8 destination columns
  std::vector<std::int32_t> index;      // per group: span * 8 source columns, interleaved
  std::vector<float> columnWeight;      // per group: span * 8 column weights wx, interleaved
  std::vector<float> smallestWeight;    // per group: the smallest nonzero |wx| of its terms
  std::vector<int> singles;             // destination columns outside the groups

  std::size_t Count() const { return pixels.size() / kGroup; }
};

// Groups the columns by the pixel weights of inner rows (row weight 1), which most source rows have.
ColumnGroups MakeColumnGroups(const AxisBands& columns, double areaFactor);

// The smallest magnitude among nonzero weights, taken one weight at a time from kNoNonzeroWeight.
inline constexpr float kNoNonzeroWeight = std::numeric_limits<float>::infinity();
inline float SmallestNonzeroWeight(float smallest, float weight) {
  return weight == 0.0f ? smallest : std::min(smallest, std::fabs(weight));
}

// Whether group g takes the fused multiply-add for one source row of a destination row band, where
// smallestRowWeight is the smallest nonzero weight of the band's rows up to this one: true only when it
// rounds exactly for every term of the group's pixels so far (see ResampleKernel.cpp).
bool GroupIsFused(const ColumnGroups& groups, std::size_t g, float smallestRowWeight);

// The pixel weights w = wx * wy * k of one source row (row weight wy), arranged as the ColumnGroups.
struct PixelWeights {
  std::vector<float> groupWeight;   // like ColumnGroups::columnWeight
  std::vector<float> singleWeight;  // span per single column

  void Fill(const AxisBands& columns, const ColumnGroups& groups, float rowWeight);
};

// sums[x] = sums[x] + pixel * w for the terms of every destination pixel x, term by term in their order.
// smallestRowWeight is the smallest nonzero weight of the band's source rows up to and including this one.
void AccumulateRow(const std::uint32_t* row, const AxisBands& columns, const ColumnGroups& groups,
                   const PixelWeights& weights, float smallestRowWeight, float* sums);

}  // namespace imaging
