// The inner loop of the area-averaging resampler: one source row's terms added into the sums of every
// pixel of one or more destination rows, each addition rounded exactly as the single-precision algorithm
// rounds it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

namespace imaging {

// The bands of one axis: for every destination index d, `span` source indices (already clamped to the
// source) with their weights, in reading order. Bands narrower than `span` are padded with weight 0 terms,
// which leave a single-precision sum unchanged.
struct AxisBands {
  int count = 0;
  int span = 0;
  int sourceSize = 0;
  std::vector<std::int32_t> index;  // count * span
  std::vector<float> weight;        // count * span
};

// The sums of a destination row: per group of 8 columns, the blue sums of its 8 columns, then the green,
// then the red ones.
inline constexpr int kChannels = 3;

// The destination columns arranged for the accumulation: groups of 8 columns (lanes), the columns whose
// weights allow a fused multiply-add grouped together (see ResampleKernel.cpp). Lane u of a group reads the
// source pixels first[u], first[u] + 1, ... of every source row: its band, then weight 0 terms.
struct ColumnGroups {
  static constexpr int kGroup = 8;
  static constexpr int kChunk = 8;  // terms read at once per lane
  int span = 0;
  int sourceWidth = 0;
  double areaFactor = 0;              // k
  std::vector<int> pixels;            // groups * 8 destination columns; -1 for the lanes past the last one
  std::vector<int> consecutiveFrom;   // per group: its first column when its 8 lanes are columns in a row
  std::vector<std::int32_t> first;    // groups * 8 first source columns of the lanes' bands (a lane past
                                      // the last column reads where its group's first lane reads)
  std::vector<float> columnWeight;    // per group: span * 8 column weights wx, term by term, 8 lanes each
  std::vector<float> smallestWeight;  // per group: the smallest nonzero |wx| of its terms
  // Per group: the smallest row weight wy for which it takes the fused path (GroupIsFused), and the largest
  // of those: a row weight at or above it takes the fused path in every group.
  std::vector<float> fusedFromRowWeight;
  float allFusedFromRowWeight = 0;
  // A group with a lane whose reading would run past the end of a source row reads a copy of the row's
  // end instead, in which the last pixel stands for every column beyond it (the clamped band edges): the
  // source columns from tailStart on, tailLength of them.
  int tailStart = 0;
  int tailLength = 0;
  std::vector<std::uint8_t> readsTail;  // per group
  std::vector<std::int32_t> offset;     // per lane: where it starts reading in the row or in the tail

  std::size_t Count() const { return pixels.size() / kGroup; }
  std::size_t SumsPerRow() const { return pixels.size() * kChannels; }
  int Chunks() const { return (span + kChunk - 1) / kChunk; }
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
inline bool GroupIsFused(const ColumnGroups& groups, std::size_t g, float smallestRowWeight) {
  return smallestRowWeight >= groups.fusedFromRowWeight[g];
}

// The pixel weights w = wx * wy * k of one source row (row weight wy), arranged as the ColumnGroups.
struct PixelWeights {
  std::vector<float> groupWeight;  // like ColumnGroups::columnWeight

  void Fill(const ColumnGroups& groups, float rowWeight);
};

// One destination row that a source row adds to: its sums (ColumnGroups::SumsPerRow()), the pixel
// weights of the source row in it, and the smallest nonzero weight of its band's rows up to this one.
struct RowTarget {
  float* sums;
  const PixelWeights* weights;
  float smallestRowWeight;
};

// Plain: every term rounded twice (to double, then to float) one at a time, on any processor; the vector
// paths must give the same sums, which is how the tests check them. Fastest: the best the processor has.
enum class KernelPath { Fastest, Plain };

// A source row's terms added to the sums of each target, term by term in their order. `row` holds
// sourceWidth pixels (bits 24-31 are not read); `tail` has room for tailLength pixels.
void AccumulateRow(const std::uint32_t* row, const ColumnGroups& groups, std::span<const RowTarget> targets,
                   std::uint32_t* tail, KernelPath path = KernelPath::Fastest);

// The finished sums of a destination row as its pixels: each channel's sum truncated to an integer.
void FinishSums(const float* sums, const ColumnGroups& groups, std::uint32_t* row, KernelPath path = KernelPath::Fastest);

}  // namespace imaging
