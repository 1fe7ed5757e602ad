// The area-averaging resampler, fed one source row at a time, so that a decoder can hand its rows over as
// it produces them instead of building the whole picture first. The arithmetic is the single-precision
// arithmetic of ResampleBitmap (imaging/PhotoStream.h), bit for bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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
    int edgeWeights = -1;  // its pixel weights in Plan::edgeRowWeights, when made there
  };
  // What depends only on the sizes: the terms of the destination rows, the column groups, the pixel
  // weights of inner rows. Pictures of one size (ID photos all have the same) share one.
  struct Plan {
    std::vector<RowTerm> rowTerms;       // destination rows top to bottom, each band's rows in order
    std::vector<std::size_t> firstTerm;  // per destination row, and one past the last
    int sumRows = 0;                     // destination rows open at once at most
    ColumnGroups groups;
    PixelWeights unitRowWeights;
    // The pixel weights of every row weight other than 1 (a band's first and last rows), made once with
    // the plan where they take little memory; otherwise each picture makes them as it needs them.
    std::vector<PixelWeights> edgeRowWeights;
  };
  static std::shared_ptr<const Plan> PlanFor(int sourceWidth, int sourceHeight, int width, int height);
  static std::shared_ptr<const Plan> MakePlan(int sourceWidth, int sourceHeight, int width, int height);

  bool HasTerms(int y) const { return plan_->firstTerm[y] < plan_->firstTerm[y + 1]; }
  void OpenRows(int sourceRow);
  bool CollectTargets(int sourceRow);
  void FinishRow(int y);
  float* SumsOf(int y);
  const PixelWeights* WeightsOf(const RowTerm& term);

  int sourceHeight_;
  WorkingImage& destination_;
  KernelPath path_;
  std::shared_ptr<const Plan> plan_;
  std::vector<std::size_t> nextTerm_;  // per destination row: its next term in plan_->rowTerms
  // Sums of the open destination rows (ColumnGroups::SumsPerRow() each), in a ring of rows.
  std::vector<float> sums_;
  std::vector<std::uint32_t> tail_;  // the end of the current source row, for the kernel
  // Pixel weights w = wx * wy * k of a row weight wy other than 1, made when needed where the plan has
  // none: one table for each destination row the current source row goes into.
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
