// Area averaging in single precision. Every quantity the algorithm rounds to single precision is a float;
// each expression is evaluated in double (exact for these operands, or rounded once) and converted to
// float where the algorithm rounds. The sums of one destination pixel take their terms in the fixed order
// rows top to bottom, columns left to right; precomputing band edges and weights does not change a bit.
//
// Speed comes from independence, not from reordering: one source row is applied to all pixels of a
// destination row, and the sums of different pixels (and channels) are separate chains that the processor
// can overlap. The sums are kept as doubles that always hold a float value.
#include "imaging/Resample.h"

#include <algorithm>
#include <cstring>

#include "imaging/PhotoStream.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define CARDPHOTO_X86 1
#endif

namespace imaging {
namespace {

constexpr int kLanes = 4;  // blue, green, red, unused (bits 24-31)

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

// sums[x] += pixel * w for the `span` terms of every destination pixel x, each addition rounded to float.
void AccumulatePlain(const std::uint32_t* row, const std::int32_t* index, const double* weights, int span,
                     int count, double* sums) {
  for (int x = 0; x < count; ++x, sums += kLanes) {
    double lane[kLanes] = {sums[0], sums[1], sums[2], sums[3]};
    for (int t = 0; t < span; ++t, ++index, ++weights) {
      const std::uint32_t pixel = row[*index];
      for (int c = 0; c < kLanes; ++c)
        lane[c] = static_cast<float>(lane[c] + static_cast<double>((pixel >> (8 * c)) & 0xFF) * *weights);
    }
    std::copy_n(lane, kLanes, sums);
  }
}

#ifdef CARDPHOTO_X86
// The same with the four channels of a pixel in one vector, and eight pixels' chains side by side.
__attribute__((target("avx2"))) inline __m256d Term(__m256d sum, const std::uint32_t* pixel, const double* weight) {
  const __m128i bytes = _mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(*pixel)));
  const __m256d product = _mm256_mul_pd(_mm256_cvtepi32_pd(bytes), _mm256_broadcast_sd(weight));
  return _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_add_pd(sum, product)));
}

__attribute__((target("avx2"))) void AccumulateAvx2(const std::uint32_t* row, const std::int32_t* index,
                                                    const double* weights, int span, int count, double* sums) {
  constexpr int kGroup = 8;
  int x = 0;
  for (; x + kGroup <= count; x += kGroup) {
    __m256d s[kGroup];
#pragma GCC unroll 8
    for (int u = 0; u < kGroup; ++u) s[u] = _mm256_loadu_pd(sums + (x + u) * kLanes);
    const std::int32_t* groupIndex = index + static_cast<std::ptrdiff_t>(x) * span;
    const double* groupWeights = weights + static_cast<std::ptrdiff_t>(x) * span;
    for (int t = 0; t < span; ++t) {
#pragma GCC unroll 8
      for (int u = 0; u < kGroup; ++u)
        s[u] = Term(s[u], row + groupIndex[u * span + t], groupWeights + u * span + t);
    }
#pragma GCC unroll 8
    for (int u = 0; u < kGroup; ++u) _mm256_storeu_pd(sums + (x + u) * kLanes, s[u]);
  }
  for (; x < count; ++x) {
    __m256d s = _mm256_loadu_pd(sums + x * kLanes);
    const std::int32_t* pixelIndex = index + static_cast<std::ptrdiff_t>(x) * span;
    const double* pixelWeights = weights + static_cast<std::ptrdiff_t>(x) * span;
    for (int t = 0; t < span; ++t) s = Term(s, row + pixelIndex[t], pixelWeights + t);
    _mm256_storeu_pd(sums + x * kLanes, s);
  }
}

bool HasAvx2() {
  static const bool available = __builtin_cpu_supports("avx2");
  return available;
}
#endif

void Accumulate(const std::uint32_t* row, const std::int32_t* index, const double* weights, int span, int count,
                double* sums) {
#ifdef CARDPHOTO_X86
  if (HasAvx2()) return AccumulateAvx2(row, index, weights, span, count, sums);
#endif
  AccumulatePlain(row, index, weights, span, count, sums);
}

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

StreamingResampler::StreamingResampler(int sourceWidth, int sourceHeight, WorkingImage& destination)
    : sourceHeight_(sourceHeight), destination_(destination) {
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
  // As many rows of sums as can be open at once: those whose bands share one source row.
  for (int y = 0, first = 0; y < dH; ++y) {
    if (rowTerms_[y].empty()) continue;
    while (first < y && (rowTerms_[first].empty() || rowTerms_[first].back().sourceRow < rowTerms_[y].front().sourceRow))
      ++first;
    sumRows_ = std::max(sumRows_, y - first + 1);
  }
  sums_.assign(static_cast<std::size_t>(std::max(sumRows_, 1)) * dW * kLanes, 0.0);
  unitRowWeights_ = std::vector<double>(columns_.weight.size());
  for (std::size_t n = 0; n < unitRowWeights_.size(); ++n)
    unitRowWeights_[n] = static_cast<float>(static_cast<double>(columns_.weight[n]) * 1.0 * areaFactor_);
  edgeRowWeights_.resize(columns_.weight.size());
  // Destination rows without source rows (an empty source) are finished at once: all sums 0.
  while (firstOpenRow_ < dH && rowTerms_[firstOpenRow_].empty()) FinishRow(firstOpenRow_++);
  nextOpenRow_ = firstOpenRow_;
}

double* StreamingResampler::SumsOf(int y) {
  return sums_.data() + static_cast<std::size_t>(y % std::max(sumRows_, 1)) * destination_.Width() * kLanes;
}

const double* StreamingResampler::PixelWeights(float rowWeight) {
  if (rowWeight == 1.0f) return unitRowWeights_.data();
  const double k = areaFactor_;
  for (std::size_t n = 0; n < edgeRowWeights_.size(); ++n)
    edgeRowWeights_[n] = static_cast<float>(static_cast<double>(columns_.weight[n]) * rowWeight * k);
  return edgeRowWeights_.data();
}

// Destination rows whose band starts at or before this source row get fresh sums.
void StreamingResampler::OpenRows(int sourceRow) {
  const int dH = destination_.Height();
  while (nextOpenRow_ < dH && (rowTerms_[nextOpenRow_].empty() || rowTerms_[nextOpenRow_].front().sourceRow <= sourceRow)) {
    std::fill_n(SumsOf(nextOpenRow_), static_cast<std::size_t>(destination_.Width()) * kLanes, 0.0);
    ++nextOpenRow_;
  }
}

void StreamingResampler::AddRow(const std::uint32_t* row) {
  if (nextRow_ >= sourceHeight_) return;
  const int j = nextRow_++;
  const bool lastRow = nextRow_ == sourceHeight_;
  OpenRows(j);
  for (int y = firstOpenRow_; y < nextOpenRow_; ++y) {
    const auto& terms = rowTerms_[y];
    std::size_t& next = nextTerm_[y];
    while (next < terms.size() && terms[next].sourceRow == j) {
      Accumulate(row, columns_.index.data(), PixelWeights(terms[next].weight), columns_.span,
                 destination_.Width(), SumsOf(y));
      ++next;
    }
  }
  while (firstOpenRow_ < nextOpenRow_ &&
         (nextTerm_[firstOpenRow_] == rowTerms_[firstOpenRow_].size() || lastRow))
    FinishRow(firstOpenRow_++);
}

void StreamingResampler::FinishRow(int y) {
  const int dW = destination_.Width();
  const double* sums = rowTerms_[y].empty() ? nullptr : SumsOf(y);
  std::uint32_t* out = destination_.Row(y);
  for (int x = 0; x < dW; ++x) {
    if (!sums) {
      out[x] = 0;
      continue;
    }
    const double* lane = sums + static_cast<std::size_t>(x) * kLanes;
    out[x] = PackRgb(Truncate(lane[2]), Truncate(lane[1]), Truncate(lane[0]));
  }
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
