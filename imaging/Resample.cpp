// Area averaging in single precision. Every quantity the algorithm rounds to single precision is a float;
// each expression is evaluated in double (exact for these operands, or rounded once) and converted to
// float where the algorithm rounds. The sums of one destination pixel take their terms in the fixed order
// rows top to bottom, columns left to right; precomputing band edges and weights does not change a bit.
//
// One source row is applied to all pixels of a destination row at a time (ResampleKernel.cpp), so that a
// decoder can feed rows as it makes them.
#include "imaging/Resample.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

#include "imaging/PhotoStream.h"

namespace imaging {
namespace {

// Weight of source index i in the band [e0, e1): 1, less the part before e0, less the part after e1.
float BandWeight(int i, float e0, float e1) {
  float weight = 1.0f;
  if (i < e0) weight = static_cast<float>(static_cast<double>(weight) - (static_cast<double>(e0) - i));
  if (i + 1 > e1) weight = static_cast<float>(static_cast<double>(weight) - (static_cast<double>(i + 1) - e1));
  return weight;
}

float Scale(int sourceSize, int destinationSize) {
  return static_cast<float>(static_cast<double>(sourceSize) / destinationSize);
}

float AreaFactor(float sx, float sy) {
  const float inverseX = static_cast<float>(1.0 / sx);
  const float inverseY = static_cast<float>(1.0 / sy);
  return static_cast<float>(static_cast<double>(inverseX) * inverseY);
}

struct Band {
  int first;
  int end;  // one past the last source index
  float e0;
  float e1;
};

// The pixel weights of a plan's band edge rows are made with the plan up to this size: a run over ID photos
// then makes them once instead of for each photo (where they cost about a sixth of the resampling), and
// the plans kept stay small. Larger pictures make them as they go, a small part of their decoding time.
constexpr std::size_t kLargestEdgeWeightTables = 1 << 20;

Band BandOf(int d, float scale) {
  const float e0 = static_cast<float>(static_cast<double>(d) * scale);
  const float e1 = static_cast<float>(static_cast<double>(e0) + scale);
  return {static_cast<int>(e0), CeilPositive(e1), e0, e1};
}

}  // namespace

int CeilPositive(float x) {
  const int whole = static_cast<int>(x);
  return x - static_cast<float>(whole) > 0.0f ? whole + 1 : whole;
}

AxisBands MakeAxisBands(int sourceSize, int destinationSize, float scale) {
  AxisBands bands;
  bands.count = destinationSize;
  bands.sourceSize = sourceSize;
  for (int d = 0; d < destinationSize; ++d) {
    const Band band = BandOf(d, scale);
    bands.span = std::max(bands.span, band.end - band.first);
  }
  const std::size_t total = static_cast<std::size_t>(destinationSize) * bands.span;
  bands.index.assign(total, 0);
  bands.weight.assign(total, 0.0f);
  for (int d = 0; d < destinationSize; ++d) {
    const Band band = BandOf(d, scale);
    const std::size_t base = static_cast<std::size_t>(d) * bands.span;
    for (int t = 0; t < bands.span; ++t) {
      const int i = band.first + t;
      // Padding terms read a valid index with weight 0.
      bands.index[base + t] = std::clamp(i, 0, std::max(sourceSize - 1, 0));
      if (i < band.end) bands.weight[base + t] = BandWeight(i, band.e0, band.e1);
    }
  }
  return bands;
}

std::shared_ptr<const StreamingResampler::Plan> StreamingResampler::MakePlan(int sourceWidth, int sourceHeight,
                                                                               int width, int height) {
  auto plan = std::make_shared<Plan>();
  const float sx = Scale(sourceWidth, width);
  const float sy = Scale(sourceHeight, height);
  const double areaFactor = AreaFactor(sx, sy);
  for (int y = 0; y < height; ++y) {
    plan->firstTerm.push_back(plan->rowTerms.size());
    const Band band = BandOf(y, sy);
    float smallest = kNoNonzeroWeight;
    for (int j = band.first; j < band.end; ++j) {
      const float weight = BandWeight(j, band.e0, band.e1);
      smallest = SmallestNonzeroWeight(smallest, weight);
      plan->rowTerms.push_back({std::min(j, sourceHeight - 1), weight, smallest});
    }
  }
  plan->firstTerm.push_back(plan->rowTerms.size());
  // As many rows of sums as can be open at once: those whose bands share one source row.
  const auto& terms = plan->rowTerms;
  const auto& start = plan->firstTerm;
  const auto empty = [&](int y) { return start[y] == start[y + 1]; };
  for (int y = 0, first = 0; y < height; ++y) {
    if (empty(y)) continue;
    while (first < y && (empty(first) || terms[start[first + 1] - 1].sourceRow < terms[start[y]].sourceRow)) ++first;
    plan->sumRows = std::max(plan->sumRows, y - first + 1);
  }
  plan->sumRows = std::max(plan->sumRows, 1);
  plan->groups = MakeColumnGroups(MakeAxisBands(sourceWidth, width, sx), areaFactor);
  plan->unitRowWeights.Fill(plan->groups, 1.0f);
  std::map<float, int> edgeWeights;  // the distinct row weights other than 1, each with its table's index
  for (const RowTerm& term : terms)
    if (term.weight != 1.0f) edgeWeights.emplace(term.weight, 0);
  if (edgeWeights.size() * plan->groups.columnWeight.size() * sizeof(float) <= kLargestEdgeWeightTables) {
    for (auto& [weight, index] : edgeWeights) {
      index = static_cast<int>(plan->edgeRowWeights.size());
      plan->edgeRowWeights.emplace_back().Fill(plan->groups, weight);
    }
    for (RowTerm& term : plan->rowTerms)
      if (term.weight != 1.0f) term.edgeWeights = edgeWeights.at(term.weight);
  }
  return plan;
}

// The plans of the last few sizes are kept and shared by all threads: a run over photos of one size makes
// its plan once. (Not one per thread in a thread_local: where threads keep thread_local storage in the
// runtime's own emulation, as MinGW does, such an object can be destroyed after its storage was freed.)
std::shared_ptr<const StreamingResampler::Plan> StreamingResampler::PlanFor(int sourceWidth, int sourceHeight,
                                                                              int width, int height) {
  struct Kept {
    std::array<int, 4> sizes;
    std::shared_ptr<const Plan> plan;
  };
  constexpr std::size_t kKept = 4;
  static std::mutex mutex;
  static std::deque<Kept> kept;  // the most recently used first
  const std::array<int, 4> sizes = {sourceWidth, sourceHeight, width, height};
  std::lock_guard lock(mutex);
  const auto found = std::ranges::find(kept, sizes, &Kept::sizes);
  if (found != kept.end()) {
    Kept hit = std::move(*found);
    kept.erase(found);
    kept.push_front(std::move(hit));
  } else {
    kept.push_front({sizes, MakePlan(sourceWidth, sourceHeight, width, height)});
    if (kept.size() > kKept) kept.pop_back();
  }
  return kept.front().plan;
}

StreamingResampler::StreamingResampler(int sourceWidth, int sourceHeight, WorkingImage& destination,
                                       KernelPath path)
    : sourceHeight_(sourceHeight), destination_(destination), path_(path),
      plan_(PlanFor(sourceWidth, sourceHeight, destination.Width(), destination.Height())),
      nextTerm_(plan_->firstTerm.begin(), plan_->firstTerm.end() - 1),
      sums_(static_cast<std::size_t>(plan_->sumRows) * plan_->groups.SumsPerRow()),
      tail_(static_cast<std::size_t>(std::max(plan_->groups.tailLength, 1))),
      edgeRowWeights_(static_cast<std::size_t>(plan_->sumRows)) {  // one per open row at most
  // Destination rows without source rows (an empty source) are finished at once: all sums 0.
  const int dH = destination.Height();
  while (firstOpenRow_ < dH && !HasTerms(firstOpenRow_)) FinishRow(firstOpenRow_++);
  nextOpenRow_ = firstOpenRow_;
}

float* StreamingResampler::SumsOf(int y) {
  return sums_.data() + static_cast<std::size_t>(y % plan_->sumRows) * plan_->groups.SumsPerRow();
}

const PixelWeights* StreamingResampler::WeightsOf(const RowTerm& term) {
  if (term.weight == 1.0f) return &plan_->unitRowWeights;
  if (term.edgeWeights >= 0) return &plan_->edgeRowWeights[static_cast<std::size_t>(term.edgeWeights)];
  PixelWeights& weights = edgeRowWeights_[edgeWeightsUsed_++];
  weights.Fill(plan_->groups, term.weight);
  return &weights;
}

// Destination rows whose band starts at or before this source row get fresh sums.
void StreamingResampler::OpenRows(int sourceRow) {
  const int dH = destination_.Height();
  while (nextOpenRow_ < dH &&
         (!HasTerms(nextOpenRow_) || plan_->rowTerms[plan_->firstTerm[nextOpenRow_]].sourceRow <= sourceRow)) {
    std::fill_n(SumsOf(nextOpenRow_), plan_->groups.SumsPerRow(), 0.0f);
    ++nextOpenRow_;
  }
}

// The next term with this source row of every open destination row, as targets of one pass over the
// row. False when no destination row has such a term left. A destination row whose band takes the
// source row twice (clamped past the last row) gets its second term in the next pass: its terms must
// come one after the other.
bool StreamingResampler::CollectTargets(int sourceRow) {
  targets_.clear();
  edgeWeightsUsed_ = 0;
  for (int y = firstOpenRow_; y < nextOpenRow_; ++y) {
    std::size_t& next = nextTerm_[y];
    if (next == plan_->firstTerm[y + 1] || plan_->rowTerms[next].sourceRow != sourceRow) continue;
    const RowTerm& term = plan_->rowTerms[next++];
    targets_.push_back({SumsOf(y), WeightsOf(term), term.smallestSoFar});
  }
  return !targets_.empty();
}

void StreamingResampler::AddRow(const std::uint32_t* row) {
  if (nextRow_ >= sourceHeight_) return;
  const int j = nextRow_++;
  const bool lastRow = nextRow_ == sourceHeight_;
  OpenRows(j);
  while (CollectTargets(j)) AccumulateRow(row, plan_->groups, targets_, tail_.data(), path_);
  while (firstOpenRow_ < nextOpenRow_ && (nextTerm_[firstOpenRow_] == plan_->firstTerm[firstOpenRow_ + 1] || lastRow))
    FinishRow(firstOpenRow_++);
}

void StreamingResampler::FinishRow(int y) {
  std::uint32_t* out = destination_.Row(y);
  if (!HasTerms(y)) {
    std::fill_n(out, destination_.Width(), 0u);
    return;
  }
  FinishSums(SumsOf(y), plan_->groups, out, path_);
}

void ResampleBitmap(const WorkingImage& source, WorkingImage& destination, KernelPath path) {
  if (source.Width() == destination.Width() && source.Height() == destination.Height()) {
    destination.Pixels() = source.Pixels();
    return;
  }
  StreamingResampler resampler(source.Width(), source.Height(), destination, path);
  for (int y = 0; y < source.Height(); ++y) resampler.AddRow(source.Row(y));
}

void ResampleBitmap(const WorkingImage& source, WorkingImage& destination) {
  ResampleBitmap(source, destination, KernelPath::Fastest);
}

}  // namespace imaging
