// Area averaging in single precision. Every quantity the algorithm rounds to single precision is a float;
// each expression is evaluated in double (exact for these operands, or rounded once) and converted to
// float where the algorithm rounds. The sums of one destination pixel take their terms in the fixed order
// rows top to bottom, columns left to right; precomputing band edges and weights does not change a bit.
#include "imaging/Resample.h"

#include <algorithm>
#include <cstring>

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

Band BandOf(int d, float scale) {
  const float e0 = static_cast<float>(static_cast<double>(d) * scale);
  const float e1 = static_cast<float>(static_cast<double>(e0) + scale);
  return {static_cast<int>(e0), CeilPositive(e1), e0, e1};
}

std::uint32_t Truncate(double sum) { return static_cast<std::uint32_t>(static_cast<int>(sum)); }

}  // namespace

int CeilPositive(float x) {
  const int whole = static_cast<int>(x);
  return x - static_cast<float>(whole) > 0.0f ? whole + 1 : whole;
}

AxisBands MakeAxisBands(int sourceSize, int destinationSize, float scale) {
  AxisBands bands;
  bands.count = destinationSize;
  for (int d = 0; d < destinationSize; ++d) {
    const Band band = BandOf(d, scale);
    bands.span = std::max(bands.span, band.end - band.first);
  }
  const std::size_t total = static_cast<std::size_t>(destinationSize) * bands.span;
  bands.index.assign(total, 0);
  bands.weight.assign(total, 0.0f);
  bands.first.resize(destinationSize);
  for (int d = 0; d < destinationSize; ++d) {
    const Band band = BandOf(d, scale);
    bands.first[d] = band.first;
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

StreamingResampler::StreamingResampler(int sourceWidth, int sourceHeight, WorkingImage& destination)
    : sourceWidth_(sourceWidth), sourceHeight_(sourceHeight), destination_(destination) {
  const int dW = destination.Width();
  const int dH = destination.Height();
  const float sx = Scale(sourceWidth, dW);
  const float sy = Scale(sourceHeight, dH);
  areaFactor_ = AreaFactor(sx, sy);
  columns_ = MakeAxisBands(sourceWidth, dW, sx);
  rowTerms_.resize(dH);
  for (int y = 0; y < dH; ++y) {
    const Band band = BandOf(y, sy);
    for (int j = band.first; j < band.end; ++j)
      rowTerms_[y].push_back({std::min(j, sourceHeight - 1), BandWeight(j, band.e0, band.e1)});
  }
  nextTerm_.assign(dH, 0);
  sums_.assign(static_cast<std::size_t>(dH) * 3 * dW, 0.0);
  pixelWeights_.resize(columns_.weight.size());
  // Destination rows with no source rows at all are finished at once (all sums 0).
  while (firstOpenRow_ < dH && rowTerms_[firstOpenRow_].empty()) FinishRow(firstOpenRow_++);
}

void StreamingResampler::AddRow(const std::uint32_t* row) {
  if (nextRow_ >= sourceHeight_) return;
  const int j = nextRow_++;
  const bool lastRow = nextRow_ == sourceHeight_;
  for (int y = firstOpenRow_; y < destination_.Height(); ++y) {
    auto& terms = rowTerms_[y];
    std::size_t& next = nextTerm_[y];
    if (next < terms.size() && terms[next].sourceRow > j) break;
    while (next < terms.size() && terms[next].sourceRow == j) ApplyRow(y, row, terms[next++].weight);
    if (y == firstOpenRow_ && (next == terms.size() || lastRow)) {
      FinishRow(y);
      ++firstOpenRow_;
    }
  }
  while (lastRow && firstOpenRow_ < destination_.Height()) FinishRow(firstOpenRow_++);
}

void StreamingResampler::ApplyRow(int y, const std::uint32_t* row, float rowWeight) {
  const int dW = destination_.Width();
  const int span = columns_.span;
  double* red = sums_.data() + static_cast<std::size_t>(y) * 3 * dW;
  double* green = red + dW;
  double* blue = green + dW;
  const double k = areaFactor_;
  for (std::size_t n = 0; n < columns_.weight.size(); ++n)
    pixelWeights_[n] = static_cast<float>(static_cast<double>(columns_.weight[n]) * rowWeight * k);
  for (int x = 0; x < dW; ++x) {
    const std::size_t base = static_cast<std::size_t>(x) * span;
    double r = red[x], g = green[x], b = blue[x];
    for (int t = 0; t < span; ++t) {
      const std::uint32_t pixel = row[columns_.index[base + t]];
      const double w = pixelWeights_[base + t];
      r = static_cast<float>(r + static_cast<double>((pixel >> 16) & 0xFF) * w);
      g = static_cast<float>(g + static_cast<double>((pixel >> 8) & 0xFF) * w);
      b = static_cast<float>(b + static_cast<double>(pixel & 0xFF) * w);
    }
    red[x] = r, green[x] = g, blue[x] = b;
  }
}

void StreamingResampler::FinishRow(int y) {
  const int dW = destination_.Width();
  const double* red = sums_.data() + static_cast<std::size_t>(y) * 3 * dW;
  const double* green = red + dW;
  const double* blue = green + dW;
  std::uint32_t* out = destination_.Row(y);
  for (int x = 0; x < dW; ++x) out[x] = PackRgb(Truncate(red[x]), Truncate(green[x]), Truncate(blue[x]));
}

void ResampleBitmap(const WorkingImage& source, WorkingImage& destination) {
  if (source.Width() == destination.Width() && source.Height() == destination.Height()) {
    destination.Pixels() = source.Pixels();
    return;
  }
  StreamingResampler resampler(source.Width(), source.Height(), destination);
  for (int y = 0; y < source.Height(); ++y) resampler.AddRow(source.Row(y));
}

}  // namespace imaging
