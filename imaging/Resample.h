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
  StreamingResampler(int sourceWidth, int sourceHeight, WorkingImage& destination);
  StreamingResampler(const StreamingResampler&) = delete;
  StreamingResampler& operator=(const StreamingResampler&) = delete;

  // `row` holds sourceWidth pixels. Rows beyond sourceHeight are ignored.
  void AddRow(const std::uint32_t* row);

 private:
  struct RowTerm {
    int sourceRow;
    float weight;
    float smallestSoFar;  // the smallest nonzero weight of the band's rows up to this one
  };

  void OpenRows(int sourceRow);
  void FinishRow(int y);
  float* SumsOf(int y);
  const PixelWeights& WeightsOfRow(float rowWeight);

  int sourceHeight_;
  WorkingImage& destination_;
  double areaFactor_ = 0;
  AxisBands columns_;
  std::vector<std::vector<RowTerm>> rowTerms_;  // per destination row, top to bottom
  std::vector<std::size_t> nextTerm_;           // per destination row
  // Sums of the open destination rows: 4 lanes (blue, green, red, unused) per pixel, in a ring of rows.
  std::vector<float> sums_;
  int sumRows_ = 0;
  // Pixel weights w = wx * wy * k of one row weight wy; those of wy = 1 (every inner row of a band) are
  // kept, the others made when needed.
  ColumnGroups groups_;
  PixelWeights unitRowWeights_;
  PixelWeights edgeRowWeights_;
  int firstOpenRow_ = 0;
  int nextOpenRow_ = 0;
  int nextRow_ = 0;
};

}  // namespace imaging
