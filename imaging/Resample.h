// The area-averaging resampler, fed one source row at a time, so that a decoder can hand its rows over as
// it produces them instead of building the whole picture first. The arithmetic is the single-precision
// arithmetic of ResampleBitmap (imaging/PhotoStream.h), bit for bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/ResampleKernel.h"
#include "imaging/WorkingImage.h"

namespace imaging {

// scale is the source size divided by the destination size, rounded to single precision.
AxisBands MakeAxisBands(int sourceSize, int destinationSize, float scale);

// Resamples a source of sourceWidth x sourceHeight pixels into `destination` (already sized). Rows are
// added top to bottom with AddRow; a destination row is written as soon as its last source row has come.
// The destination must not be the same size as the source (ResampleBitmap copies that case).
class StreamingResampler {
 public:
  StreamingResampler(int sourceWidth, int sourceHeight, WorkingImage& destination,
                     KernelPath path = KernelPath::Fastest);
  StreamingResampler(const StreamingResampler&) = delete;
  StreamingResampler& operator=(const StreamingResampler&) = delete;

  // `row` holds sourceWidth pixels (bits 24-31 are not read). Rows beyond sourceHeight are ignored.
  void AddRow(const std::uint32_t* row);

 private:
  struct RowTerm {
    int sourceRow;
    float weight;
    float smallestSoFar;  // the smallest nonzero weight of the band's rows up to this one
  };

  void OpenRows(int sourceRow);
  bool CollectTargets(int sourceRow);
  void FinishRow(int y);
  float* SumsOf(int y);
  const PixelWeights* WeightsOfRow(float rowWeight);

  int sourceHeight_;
  WorkingImage& destination_;
  KernelPath path_;
  double areaFactor_ = 0;
  std::vector<std::vector<RowTerm>> rowTerms_;  // per destination row, top to bottom
  std::vector<std::size_t> nextTerm_;           // per destination row
  // Sums of the open destination rows (ColumnGroups::SumsPerRow() each), in a ring of rows.
  std::vector<float> sums_;
  int sumRows_ = 0;
  ColumnGroups groups_;
  std::vector<std::uint32_t> tail_;  // the end of the current source row, for the kernel
  // Pixel weights w = wx * wy * k of one row weight wy; those of wy = 1 (every inner row of a band) are
  // kept, the others made when needed, one table for each destination row the source row goes into.
  PixelWeights unitRowWeights_;
  std::vector<PixelWeights> edgeRowWeights_;
  std::size_t edgeWeightsUsed_ = 0;
  std::vector<RowTarget> targets_;  // the destination rows of the current source row
  int firstOpenRow_ = 0;
  int nextOpenRow_ = 0;
  int nextRow_ = 0;
};

// ResampleBitmap (imaging/PhotoStream.h) on a chosen kernel path.
void ResampleBitmap(const WorkingImage& source, WorkingImage& destination, KernelPath path);

}  // namespace imaging
