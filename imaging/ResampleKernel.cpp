// Accumulating one term is sum = (float)((double)sum + (double)channel * w): the product is exact in
// double (8 by 24 bits); the addition is rounded to double, then to float. The sums of different
// destination pixels (and channels) are independent chains, so eight pixels are worked side by side and
// the processor overlaps their additions; the order of the terms within one sum never changes.
//
// Where that equals one fused multiply-add in single precision (the exact sum rounded once, to float):
// suppose the weight w of the term and those of all the pixel's earlier terms (they made the sum it starts
// from) are 0 or have |w| >= 2^-21. Such a w is a multiple of 2^-44 (the unit in the last place of a
// float at or above 2^-21), so is every term channel * w, and so is every float sum of them (rounding a
// multiple of 2^-44 to float gives one again: below 2^-20 it has at most 24 significant bits and stays,
// above it the float units are coarser). The exact sum + channel * w is then a multiple of 2^-44 below 2^9
// (the weights of a pixel add up to about 1, channels are at most 255): at most 53 significant bits, a
// double. The rounding to double does nothing, and the one rounding left, to float, is exactly the fused
// multiply-add's.
//
// The terms of a pixel come row by row of its band, and within a row column by column. So a group of 8
// columns takes the fused path for one source row of a destination row band only when every weight of the
// group's terms in that row and in the band's rows before it qualifies. w = (float)((double)wx * wy * k)
// never decreases as |wx| or |wy| grows (wx * wy is exact in double; multiplying by k > 0 and rounding
// keep the order), so the smallest nonzero |w| among those terms is the one made of the group's smallest
// nonzero |wx| and the smallest nonzero |wy| of the band's rows up to this one: the group takes the fused
// path when that w is at least 2^-21. Otherwise (a sliver of a source row or column at a band edge, or a
// w rounded to 0) it takes the path that rounds twice, and keeps it for the rest of the band, as that
// smallest |wy| only falls: a band that starts with a sliver row rounds twice throughout, one that ends
// with one keeps the fused path for the rows before it. The single columns outside the groups always
// round twice.
#include "imaging/ResampleKernel.h"

#include <algorithm>
#include <numeric>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define CARDPHOTO_X86 1
#endif

namespace imaging {
namespace {

constexpr int kGroup = ColumnGroups::kGroup;
constexpr float kSmallestFusedWeight = 0x1p-21f;

bool FusedIsExact(float weight) { return (weight == 0.0f) | (weight >= kSmallestFusedWeight); }

float PixelWeight(float columnWeight, float rowWeight, double areaFactor) {
  return static_cast<float>(static_cast<double>(columnWeight) * rowWeight * areaFactor);
}

float AddTerm(float sum, std::uint32_t channel, double weight) {
  return static_cast<float>(static_cast<double>(sum) + static_cast<double>(channel) * weight);
}

// One pixel, term by term; `step` is the distance between its consecutive terms in index and weights.
void AccumulatePixelRounded(const std::uint32_t* row, const std::int32_t* index, const float* weights, int span,
                            int step, float* sums) {
  for (int t = 0; t < span; ++t) {
    const std::uint32_t pixel = row[index[t * step]];
    const double w = weights[t * step];
    for (int c = 0; c < kSumLanes; ++c) sums[c] = AddTerm(sums[c], (pixel >> (8 * c)) & 0xFF, w);
  }
}

void AccumulateGroupPlain(const std::uint32_t* row, const int* pixels, const std::int32_t* index,
                          const float* weights, int span, float* sums) {
  for (int u = 0; u < kGroup; ++u)
    AccumulatePixelRounded(row, index + u, weights + u, span, kGroup, sums + pixels[u] * kSumLanes);
}

#ifdef CARDPHOTO_X86
// The four channels of a pixel as one vector.
__attribute__((target("avx2"))) inline __m128i Channels(const std::uint32_t* pixel) {
  return _mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(*pixel)));
}

__attribute__((target("avx2"))) inline __m256d RoundedTerm(__m256d sum, const std::uint32_t* pixel,
                                                           const float* weight) {
  const __m256d product = _mm256_mul_pd(_mm256_cvtepi32_pd(Channels(pixel)), _mm256_set1_pd(*weight));
  return _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_add_pd(sum, product)));
}

__attribute__((target("avx2,fma"))) inline __m128 FusedTerm(__m128 sum, const std::uint32_t* pixel,
                                                            const float* weight) {
  return _mm_fmadd_ps(_mm_cvtepi32_ps(Channels(pixel)), _mm_broadcast_ss(weight), sum);
}

__attribute__((target("avx2"))) void AccumulateGroupRounded(const std::uint32_t* row, const int* pixels,
                                                            const std::int32_t* index, const float* weights,
                                                            int span, float* sums) {
  __m256d s[kGroup];
#pragma GCC unroll 8
  for (int u = 0; u < kGroup; ++u) s[u] = _mm256_cvtps_pd(_mm_loadu_ps(sums + pixels[u] * kSumLanes));
  for (int t = 0; t < span; ++t, index += kGroup, weights += kGroup) {
#pragma GCC unroll 8
    for (int u = 0; u < kGroup; ++u) s[u] = RoundedTerm(s[u], row + index[u], weights + u);
  }
#pragma GCC unroll 8
  for (int u = 0; u < kGroup; ++u) _mm_storeu_ps(sums + pixels[u] * kSumLanes, _mm256_cvtpd_ps(s[u]));
}

__attribute__((target("avx2,fma"))) void AccumulateGroupFused(const std::uint32_t* row, const int* pixels,
                                                              const std::int32_t* index, const float* weights,
                                                              int span, float* sums) {
  __m128 s[kGroup];
#pragma GCC unroll 8
  for (int u = 0; u < kGroup; ++u) s[u] = _mm_loadu_ps(sums + pixels[u] * kSumLanes);
  for (int t = 0; t < span; ++t, index += kGroup, weights += kGroup) {
#pragma GCC unroll 8
    for (int u = 0; u < kGroup; ++u) s[u] = FusedTerm(s[u], row + index[u], weights + u);
  }
#pragma GCC unroll 8
  for (int u = 0; u < kGroup; ++u) _mm_storeu_ps(sums + pixels[u] * kSumLanes, s[u]);
}

bool HasAvx2Fma() {
  static const bool available = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return available;
}
#endif

void AccumulateGroup(bool fused, const std::uint32_t* row, const int* pixels, const std::int32_t* index,
                     const float* weights, int span, float* sums) {
#ifdef CARDPHOTO_X86
  if (HasAvx2Fma()) {
    if (fused) return AccumulateGroupFused(row, pixels, index, weights, span, sums);
    return AccumulateGroupRounded(row, pixels, index, weights, span, sums);
  }
#endif
  AccumulateGroupPlain(row, pixels, index, weights, span, sums);
}


// out = w = wx * wy * k for `count` column weights.
void FillWeightsPlain(const float* columnWeights, float* out, std::size_t count, float rowWeight, double areaFactor) {
  for (std::size_t n = 0; n < count; ++n) out[n] = PixelWeight(columnWeights[n], rowWeight, areaFactor);
}

#ifdef CARDPHOTO_X86
// The same four weights at a time; count is a multiple of 8.
__attribute__((target("avx2"))) void FillWeightsAvx2(const float* columnWeights, float* out, std::size_t count,
                                                     float rowWeight, double areaFactor) {
  const __m256d row = _mm256_set1_pd(rowWeight);
  const __m256d area = _mm256_set1_pd(areaFactor);
  for (std::size_t n = 0; n < count; n += 4) {
    const __m256d w = _mm256_mul_pd(_mm256_mul_pd(_mm256_cvtps_pd(_mm_loadu_ps(columnWeights + n)), row), area);
    _mm_storeu_ps(out + n, _mm256_cvtpd_ps(w));
  }
}
#endif

void FillWeights(const float* columnWeights, float* out, std::size_t count, float rowWeight, double areaFactor) {
#ifdef CARDPHOTO_X86
  if (HasAvx2Fma()) return FillWeightsAvx2(columnWeights, out, count, rowWeight, areaFactor);
#endif
  FillWeightsPlain(columnWeights, out, count, rowWeight, areaFactor);
}

}  // namespace

ColumnGroups MakeColumnGroups(const AxisBands& columns, double areaFactor) {
  ColumnGroups groups;
  const int span = groups.span = columns.span;
  groups.areaFactor = areaFactor;
  // Columns whose every inner-row weight allows the fused multiply-add first, then the others.
  std::vector<int> order, rounded;
  for (int x = 0; x < columns.count; ++x) {
    const float* wx = columns.weight.data() + static_cast<std::size_t>(x) * span;
    const bool exact =
        std::all_of(wx, wx + span, [&](float w) { return FusedIsExact(PixelWeight(w, 1.0f, areaFactor)); });
    (exact ? order : rounded).push_back(x);
  }
  order.insert(order.end(), rounded.begin(), rounded.end());
  const std::size_t groupCount = order.size() / kGroup;
  const std::size_t groupTerms = static_cast<std::size_t>(span) * kGroup;
  groups.pixels.assign(order.begin(), order.begin() + groupCount * kGroup);
  groups.singles.assign(order.begin() + groupCount * kGroup, order.end());
  groups.index.resize(groupCount * groupTerms);
  groups.columnWeight.resize(groupCount * groupTerms);
  for (std::size_t g = 0; g < groupCount; ++g)
    for (int u = 0; u < kGroup; ++u) {
      const std::size_t from = static_cast<std::size_t>(groups.pixels[g * kGroup + u]) * span;
      for (int t = 0; t < span; ++t) {
        const std::size_t to = (g * span + t) * kGroup + u;
        groups.index[to] = columns.index[from + t];
        groups.columnWeight[to] = columns.weight[from + t];
      }
    }
  groups.smallestWeight.resize(groupCount);
  for (std::size_t g = 0; g < groupCount; ++g) {
    const float* weights = groups.columnWeight.data() + g * groupTerms;
    groups.smallestWeight[g] = std::accumulate(
        weights, weights + groupTerms, kNoNonzeroWeight,
        [](float smallest, float w) { return SmallestNonzeroWeight(smallest, w); });
  }
  return groups;
}

bool GroupIsFused(const ColumnGroups& groups, std::size_t g, float smallestRowWeight) {
  return PixelWeight(groups.smallestWeight[g], smallestRowWeight, groups.areaFactor) >= kSmallestFusedWeight;
}

void PixelWeights::Fill(const AxisBands& columns, const ColumnGroups& groups, float rowWeight) {
  groupWeight.resize(groups.columnWeight.size());
  FillWeights(groups.columnWeight.data(), groupWeight.data(), groupWeight.size(), rowWeight, groups.areaFactor);
  singleWeight.resize(groups.singles.size() * groups.span);
  for (std::size_t n = 0; n < groups.singles.size(); ++n)
    for (int t = 0; t < groups.span; ++t)
      singleWeight[n * groups.span + t] =
          PixelWeight(columns.weight[static_cast<std::size_t>(groups.singles[n]) * groups.span + t], rowWeight,
                      groups.areaFactor);
}

void AccumulateRow(const std::uint32_t* row, const AxisBands& columns, const ColumnGroups& groups,
                   const PixelWeights& weights, float smallestRowWeight, float* sums) {
  const int span = groups.span;
  const std::size_t groupTerms = static_cast<std::size_t>(span) * kGroup;
  for (std::size_t g = 0; g < groups.Count(); ++g)
    AccumulateGroup(GroupIsFused(groups, g, smallestRowWeight), row, groups.pixels.data() + g * kGroup,
                    groups.index.data() + g * groupTerms, weights.groupWeight.data() + g * groupTerms, span, sums);
  for (std::size_t n = 0; n < groups.singles.size(); ++n) {
    const int x = groups.singles[n];
    AccumulatePixelRounded(row, columns.index.data() + static_cast<std::size_t>(x) * span,
                           weights.singleWeight.data() + n * span, span, 1, sums + x * kSumLanes);
  }
}

}  // namespace imaging
