// Accumulating one term is sum = (float)((double)sum + (double)channel * w): the product is exact in
// double (8 by 24 bits); the addition is rounded to double, then to float. The sums of different
// destination pixels (and channels) are independent chains, so the 8 pixels of a group are worked side by
// side, one vector lane each, and the order of the terms within one sum never changes.
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
// path when that w is at least 2^-21. As that w never decreases as wy grows either, each group has a
// smallest row weight from which on it is fused, found once per picture. Otherwise (a sliver of a source
// row or column at a band edge, or a w rounded to 0) it takes the path that rounds twice, and keeps it for
// the rest of the band, as that smallest |wy| only falls: a band that starts with a sliver row rounds twice
// throughout, one that ends with one keeps the fused path for the rows before it.
//
// The vector paths read 8 consecutive source pixels of each of the group's 8 lanes and transpose them, so
// that each vector holds one term of every lane: one load per lane for 8 terms instead of one per term.
// A source row that two destination rows share (at a band edge) is read and converted once for both.
#include "imaging/ResampleKernel.h"

#include <algorithm>
#include <bit>
#include <numeric>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define CARDPHOTO_X86 1
#endif

namespace imaging {
namespace {

// Loops over a few vectors, unrolled so that the vectors stay in registers.
#define UNROLLED _Pragma("GCC unroll 8")

constexpr int kGroup = ColumnGroups::kGroup;
constexpr int kChunk = ColumnGroups::kChunk;
constexpr float kSmallestFusedWeight = 0x1p-21f;

bool FusedIsExact(float weight) { return (weight == 0.0f) | (weight >= kSmallestFusedWeight); }

float PixelWeight(float columnWeight, float rowWeight, double areaFactor) {
  return static_cast<float>(static_cast<double>(columnWeight) * rowWeight * areaFactor);
}

float AddTerm(float sum, std::uint32_t channel, double weight) {
  return static_cast<float>(static_cast<double>(sum) + static_cast<double>(channel) * weight);
}

// The smallest positive row weight with which a column weight makes a pixel weight the fused path takes.
// PixelWeight never decreases as the row weight grows, so the positive floats (ordered like their bit
// patterns) split into those below and those from this one on.
float FusedFromRowWeight(float smallestColumnWeight, double areaFactor) {
  if (smallestColumnWeight == kNoNonzeroWeight) return 0.0f;  // no term that could round
  std::uint32_t below = 0;                                      // 0.0f: no weight at all
  std::uint32_t from = std::bit_cast<std::uint32_t>(kNoNonzeroWeight);
  while (from - below > 1) {
    const std::uint32_t middle = below + (from - below) / 2;
    const float rowWeight = std::bit_cast<float>(middle);
    (PixelWeight(smallestColumnWeight, rowWeight, areaFactor) >= kSmallestFusedWeight ? from : below) = middle;
  }
  return std::bit_cast<float>(from);
}

// Where the lanes of a group read in one source row: lane u from base + offset[u] on.
struct Lanes {
  const std::uint32_t* base;
  const std::int32_t* offset;

  Lanes(const std::uint32_t* row, const std::uint32_t* tail, const ColumnGroups& groups, std::size_t g)
      : base(groups.readsTail[g] ? tail : row), offset(groups.offset.data() + g * kGroup) {}
  const std::uint32_t* Pixels(int u) const { return base + offset[u]; }
};

// Every term rounded twice, lane by lane.
void AccumulateGroupPlain(const Lanes& lanes, const float* weights, int span, float* sums) {
  for (int u = 0; u < kGroup; ++u)
    for (int t = 0; t < span; ++t) {
      const std::uint32_t pixel = lanes.Pixels(u)[t];
      const double w = weights[t * kGroup + u];
      for (int c = 0; c < kChannels; ++c)
        sums[c * kGroup + u] = AddTerm(sums[c * kGroup + u], (pixel >> (8 * c)) & 0xFF, w);
    }
}

#ifdef CARDPHOTO_X86
// 8 pixels of each of 8 lanes in, term t of every lane in r[t] out, for t < count (the others are left
// as they are: the last chunk of a span needs fewer).
__attribute__((target("avx2"))) inline void Transpose(__m256i r[8], int count) {
  const __m256i a0 = _mm256_unpacklo_epi32(r[0], r[1]), a1 = _mm256_unpackhi_epi32(r[0], r[1]);
  const __m256i a2 = _mm256_unpacklo_epi32(r[2], r[3]), a3 = _mm256_unpackhi_epi32(r[2], r[3]);
  const __m256i a4 = _mm256_unpacklo_epi32(r[4], r[5]), a5 = _mm256_unpackhi_epi32(r[4], r[5]);
  const __m256i a6 = _mm256_unpacklo_epi32(r[6], r[7]), a7 = _mm256_unpackhi_epi32(r[6], r[7]);
  const __m256i b0 = _mm256_unpacklo_epi64(a0, a2), b1 = _mm256_unpackhi_epi64(a0, a2);
  const __m256i b2 = _mm256_unpacklo_epi64(a1, a3), b3 = _mm256_unpackhi_epi64(a1, a3);
  const __m256i b4 = _mm256_unpacklo_epi64(a4, a6), b5 = _mm256_unpackhi_epi64(a4, a6);
  const __m256i b6 = _mm256_unpacklo_epi64(a5, a7), b7 = _mm256_unpackhi_epi64(a5, a7);
  r[0] = _mm256_permute2x128_si256(b0, b4, 0x20);
  r[1] = _mm256_permute2x128_si256(b1, b5, 0x20);
  r[2] = _mm256_permute2x128_si256(b2, b6, 0x20);
  r[3] = _mm256_permute2x128_si256(b3, b7, 0x20);
  if (count > 4) r[4] = _mm256_permute2x128_si256(b0, b4, 0x31);
  if (count > 5) r[5] = _mm256_permute2x128_si256(b1, b5, 0x31);
  if (count > 6) r[6] = _mm256_permute2x128_si256(b2, b6, 0x31);
  if (count > 7) r[7] = _mm256_permute2x128_si256(b3, b7, 0x31);
}

// The next chunk of terms of the 8 lanes, one vector of pixels per term, `count` of them.
__attribute__((target("avx2"))) inline void LoadChunk(const Lanes& lanes, int chunk, int count, __m256i terms[8]) {
  UNROLLED for (int u = 0; u < kGroup; ++u)
    terms[u] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes.Pixels(u) + chunk * kChunk));
  Transpose(terms, count);
}

// Blue, green and red of 8 pixels as floats.
struct ChannelVectors {
  __m256 c[kChannels];
};

// The blue, green and red bytes of 8 pixels, each in the low byte of its lane.
__attribute__((target("avx2"))) inline void ChannelIntegers(__m256i pixels, __m256i channels[kChannels]) {
  const __m256i green = _mm256_setr_epi8(1, -1, -1, -1, 5, -1, -1, -1, 9, -1, -1, -1, 13, -1, -1, -1,  //
                                         1, -1, -1, -1, 5, -1, -1, -1, 9, -1, -1, -1, 13, -1, -1, -1);
  const __m256i red = _mm256_setr_epi8(2, -1, -1, -1, 6, -1, -1, -1, 10, -1, -1, -1, 14, -1, -1, -1,  //
                                       2, -1, -1, -1, 6, -1, -1, -1, 10, -1, -1, -1, 14, -1, -1, -1);
  channels[0] = _mm256_and_si256(pixels, _mm256_set1_epi32(0xFF));
  channels[1] = _mm256_shuffle_epi8(pixels, green);
  channels[2] = _mm256_shuffle_epi8(pixels, red);
}

__attribute__((target("avx2"))) inline ChannelVectors Channels(__m256i pixels) {
  __m256i channels[kChannels];
  ChannelIntegers(pixels, channels);
  return {{_mm256_cvtepi32_ps(channels[0]), _mm256_cvtepi32_ps(channels[1]), _mm256_cvtepi32_ps(channels[2])}};
}

// The fused path for kGroups groups and kTargets destination rows at once: 3 * kGroups * kTargets
// independent sums, so that the processor always has additions to start while others finish.
template <int kGroups, int kTargets>
__attribute__((target("avx2,fma"))) void AccumulateGroupsFused(const Lanes* lanes, const float* const* weights,
                                                               int span, float* const* sums) {
  __m256 s[kGroups][kTargets][kChannels];
  UNROLLED for (int g = 0; g < kGroups; ++g)
    UNROLLED for (int r = 0; r < kTargets; ++r)
      UNROLLED for (int c = 0; c < kChannels; ++c) s[g][r][c] = _mm256_loadu_ps(sums[g * kTargets + r] + c * kGroup);
  for (int chunk = 0; chunk * kChunk < span; ++chunk) {
    const int count = std::min(kChunk, span - chunk * kChunk);
    __m256i terms[kGroups][kChunk];
    UNROLLED for (int g = 0; g < kGroups; ++g) LoadChunk(lanes[g], chunk, count, terms[g]);
    for (int i = 0; i < count; ++i) {
      const int t = chunk * kChunk + i;
      UNROLLED for (int g = 0; g < kGroups; ++g) {
        const ChannelVectors channels = Channels(terms[g][i]);
        UNROLLED for (int r = 0; r < kTargets; ++r) {
          const __m256 w = _mm256_loadu_ps(weights[g * kTargets + r] + t * kGroup);
          UNROLLED for (int c = 0; c < kChannels; ++c) s[g][r][c] = _mm256_fmadd_ps(channels.c[c], w, s[g][r][c]);
        }
      }
    }
  }
  UNROLLED for (int g = 0; g < kGroups; ++g)
    UNROLLED for (int r = 0; r < kTargets; ++r)
      UNROLLED for (int c = 0; c < kChannels; ++c) _mm256_storeu_ps(sums[g * kTargets + r] + c * kGroup, s[g][r][c]);
}

// The path that rounds twice. The sums are held as doubles between terms, each always a float's value:
// sum = (float)(sum + channel * w) in double, where the product is exact in double, so one fused
// multiply-add in double rounds the addition exactly as adding the product does.
__attribute__((target("avx2,fma"))) inline __m256d RoundedTerm(__m256d sum, __m128i channel, __m256d weight) {
  return _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_fmadd_pd(_mm256_cvtepi32_pd(channel), weight, sum)));
}

__attribute__((target("avx2,fma"))) void AccumulateGroupRounded(const Lanes& lanes, const float* weights, int span,
                                                                float* sums) {
  __m256d s[kChannels][2];
  UNROLLED for (int c = 0; c < kChannels; ++c)
    UNROLLED for (int h = 0; h < 2; ++h) s[c][h] = _mm256_cvtps_pd(_mm_loadu_ps(sums + c * kGroup + 4 * h));
  for (int chunk = 0; chunk * kChunk < span; ++chunk) {
    const int count = std::min(kChunk, span - chunk * kChunk);
    __m256i terms[kChunk];
    LoadChunk(lanes, chunk, count, terms);
    for (int i = 0; i < count; ++i) {
      const int t = chunk * kChunk + i;
      __m256i channels[kChannels];
      ChannelIntegers(terms[i], channels);
      UNROLLED for (int h = 0; h < 2; ++h) {
        const __m256d w = _mm256_cvtps_pd(_mm_loadu_ps(weights + t * kGroup + 4 * h));
        UNROLLED for (int c = 0; c < kChannels; ++c) {
          const __m128i half = h ? _mm256_extracti128_si256(channels[c], 1) : _mm256_castsi256_si128(channels[c]);
          s[c][h] = RoundedTerm(s[c][h], half, w);
        }
      }
    }
  }
  UNROLLED for (int c = 0; c < kChannels; ++c)
    UNROLLED for (int h = 0; h < 2; ++h) _mm_storeu_ps(sums + c * kGroup + 4 * h, _mm256_cvtpd_ps(s[c][h]));
}

bool HasAvx2Fma() {
  static const bool available = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return available;
}

// out = w = wx * (wy * k) for `count` column weights, count a multiple of 4; rowArea = wy * k, exact.
__attribute__((target("avx2"))) void FillWeightsAvx2(const float* columnWeights, float* out, std::size_t count,
                                                     double rowArea) {
  const __m256d factor = _mm256_set1_pd(rowArea);
  for (std::size_t n = 0; n < count; n += 4)
    _mm_storeu_ps(out + n, _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtps_pd(_mm_loadu_ps(columnWeights + n)), factor)));
}
#endif

#ifdef CARDPHOTO_X86
bool UseVectors(KernelPath path) { return path == KernelPath::Fastest && HasAvx2Fma(); }

// The 8 pixels of a group: the channel sums truncated (toward 0, as a conversion to int), then packed.
__attribute__((target("avx2"))) void FinishGroup(const float* sums, std::uint32_t* pixels) {
  const __m256i blue = _mm256_cvttps_epi32(_mm256_loadu_ps(sums));
  const __m256i green = _mm256_cvttps_epi32(_mm256_loadu_ps(sums + kGroup));
  const __m256i red = _mm256_cvttps_epi32(_mm256_loadu_ps(sums + 2 * kGroup));
  const __m256i packed =
      _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(red, 16), _mm256_slli_epi32(green, 8)), blue);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels), packed);
}
#endif

std::uint32_t Truncate(float sum) { return static_cast<std::uint32_t>(static_cast<int>(sum)); }

void FinishGroupPlain(const float* sums, std::uint32_t* pixels) {
  for (int u = 0; u < kGroup; ++u)
    pixels[u] = (Truncate(sums[2 * kGroup + u]) << 16) | (Truncate(sums[kGroup + u]) << 8) | Truncate(sums[u]);
}

// Where the weights and sums of group g of a target start.
const float* WeightsOf(const RowTarget& target, const ColumnGroups& groups, std::size_t g) {
  return target.weights->groupWeight.data() + g * static_cast<std::size_t>(groups.span) * kGroup;
}

float* SumsOf(const RowTarget& target, std::size_t g) { return target.sums + g * kGroup * kChannels; }

void AccumulatePlain(const std::uint32_t* row, const std::uint32_t* tail, const ColumnGroups& groups,
                     std::span<const RowTarget> targets) {
  for (std::size_t g = 0; g < groups.Count(); ++g) {
    const Lanes lanes(row, tail, groups, g);
    for (const RowTarget& target : targets)
      AccumulateGroupPlain(lanes, WeightsOf(target, groups, g), groups.span, SumsOf(target, g));
  }
}

#ifdef CARDPHOTO_X86
// One target: two groups at a time where both are fused.
void AccumulateVectorsOneTarget(const std::uint32_t* row, const std::uint32_t* tail, const ColumnGroups& groups,
                                const RowTarget& target) {
  const std::size_t count = groups.Count();
  for (std::size_t g = 0; g < count;) {
    const Lanes lanes[2] = {Lanes(row, tail, groups, g), Lanes(row, tail, groups, std::min(g + 1, count - 1))};
    if (!GroupIsFused(groups, g, target.smallestRowWeight)) {
      AccumulateGroupRounded(lanes[0], WeightsOf(target, groups, g), groups.span, SumsOf(target, g));
      ++g;
    } else if (g + 1 < count && GroupIsFused(groups, g + 1, target.smallestRowWeight)) {
      const float* weights[2] = {WeightsOf(target, groups, g), WeightsOf(target, groups, g + 1)};
      float* sums[2] = {SumsOf(target, g), SumsOf(target, g + 1)};
      AccumulateGroupsFused<2, 1>(lanes, weights, groups.span, sums);
      g += 2;
    } else {
      const float* weights = WeightsOf(target, groups, g);
      float* sums = SumsOf(target, g);
      AccumulateGroupsFused<1, 1>(lanes, &weights, groups.span, &sums);
      ++g;
    }
  }
}

// Two targets (the source row at the edge of two bands): each group read once for both where both are
// fused.
void AccumulateVectorsTwoTargets(const std::uint32_t* row, const std::uint32_t* tail, const ColumnGroups& groups,
                                 const RowTarget& first, const RowTarget& second) {
  for (std::size_t g = 0; g < groups.Count(); ++g) {
    const Lanes lanes(row, tail, groups, g);
    const bool fused[2] = {GroupIsFused(groups, g, first.smallestRowWeight),
                           GroupIsFused(groups, g, second.smallestRowWeight)};
    if (fused[0] && fused[1]) {
      const float* weights[2] = {WeightsOf(first, groups, g), WeightsOf(second, groups, g)};
      float* sums[2] = {SumsOf(first, g), SumsOf(second, g)};
      AccumulateGroupsFused<1, 2>(&lanes, weights, groups.span, sums);
      continue;
    }
    for (int r = 0; r < 2; ++r) {
      const RowTarget& target = r ? second : first;
      const float* weights = WeightsOf(target, groups, g);
      float* sums = SumsOf(target, g);
      if (fused[r]) AccumulateGroupsFused<1, 1>(&lanes, &weights, groups.span, &sums);
      else AccumulateGroupRounded(lanes, weights, groups.span, sums);
    }
  }
}
#endif

}  // namespace

ColumnGroups MakeColumnGroups(const AxisBands& columns, double areaFactor) {
  ColumnGroups groups;
  const int span = groups.span = columns.span;
  groups.sourceWidth = columns.sourceSize;
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
  const std::size_t groupCount = (order.size() + kGroup - 1) / kGroup;
  order.resize(groupCount * kGroup, -1);  // lanes past the last column: weight 0 throughout
  groups.pixels = order;
  groups.first.assign(order.size(), 0);
  groups.columnWeight.assign(order.size() * span, 0.0f);
  for (std::size_t g = 0; g < groupCount; ++g)
    for (int u = 0; u < kGroup; ++u) {
      const int x = order[g * kGroup + u];
      if (x < 0) {
        groups.first[g * kGroup + u] = groups.first[g * kGroup];
        continue;
      }
      const std::size_t from = static_cast<std::size_t>(x) * span;
      groups.first[g * kGroup + u] = columns.index[from];
      for (int t = 0; t < span; ++t) groups.columnWeight[(g * span + t) * kGroup + u] = columns.weight[from + t];
    }
  groups.consecutiveFrom.assign(groupCount, -1);
  for (std::size_t g = 0; g < groupCount; ++g) {
    const int* pixels = groups.pixels.data() + g * kGroup;
    if (pixels[0] >= 0 && std::adjacent_find(pixels, pixels + kGroup, [](int a, int b) { return b != a + 1; }) ==
                              pixels + kGroup)
      groups.consecutiveFrom[g] = pixels[0];
  }
  groups.smallestWeight.resize(groupCount);
  groups.fusedFromRowWeight.resize(groupCount);
  const std::size_t groupTerms = static_cast<std::size_t>(span) * kGroup;
  for (std::size_t g = 0; g < groupCount; ++g) {
    const float* weights = groups.columnWeight.data() + g * groupTerms;
    groups.smallestWeight[g] = std::accumulate(
        weights, weights + groupTerms, kNoNonzeroWeight,
        [](float smallest, float w) { return SmallestNonzeroWeight(smallest, w); });
    groups.fusedFromRowWeight[g] = FusedFromRowWeight(groups.smallestWeight[g], areaFactor);
    groups.allFusedFromRowWeight = std::max(groups.allFusedFromRowWeight, groups.fusedFromRowWeight[g]);
  }
  // The groups with a lane whose chunks would read past the row's end read the tail copy, which starts
  // where the first of their lanes starts reading and reaches as far as the last of them reads.
  const int readLength = groups.Chunks() * kChunk;
  const int lastInRow = groups.sourceWidth - readLength;
  groups.readsTail.assign(groupCount, 0);
  for (std::size_t lane = 0; lane < groups.first.size(); ++lane)
    if (groups.first[lane] > lastInRow) groups.readsTail[lane / kGroup] = 1;
  int tailEnd = 0;
  groups.tailStart = groups.sourceWidth;
  for (std::size_t lane = 0; lane < groups.first.size(); ++lane) {
    if (!groups.readsTail[lane / kGroup]) continue;
    groups.tailStart = std::min(groups.tailStart, groups.first[lane]);
    tailEnd = std::max(tailEnd, groups.first[lane] + readLength);
  }
  groups.tailLength = std::max(tailEnd - groups.tailStart, 0);
  groups.offset = groups.first;
  for (std::size_t lane = 0; lane < groups.first.size(); ++lane)
    if (groups.readsTail[lane / kGroup]) groups.offset[lane] -= groups.tailStart;
  return groups;
}

void PixelWeights::Fill(const ColumnGroups& groups, float rowWeight) {
  // wx * wy * k with wx * wy exact is the exact product rounded once to double; so is wx * (wy * k) with
  // wy * k exact (both factors are floats): one multiplication per weight.
  const double rowArea = static_cast<double>(rowWeight) * groups.areaFactor;
  const std::size_t count = groups.columnWeight.size();
  groupWeight.resize(count);
#ifdef CARDPHOTO_X86
  if (HasAvx2Fma()) return FillWeightsAvx2(groups.columnWeight.data(), groupWeight.data(), count, rowArea);
#endif
  for (std::size_t n = 0; n < count; ++n)
    groupWeight[n] = static_cast<float>(static_cast<double>(groups.columnWeight[n]) * rowArea);
}

void FinishSums(const float* sums, const ColumnGroups& groups, std::uint32_t* row, KernelPath path) {
  std::uint32_t pixels[kGroup];
#ifdef CARDPHOTO_X86
  const bool vectors = UseVectors(path);
#else
  (void)path;
  constexpr bool vectors = false;
#endif
  for (std::size_t g = 0; g < groups.Count(); ++g, sums += kGroup * kChannels) {
#ifdef CARDPHOTO_X86
    if (vectors) FinishGroup(sums, pixels);
    else FinishGroupPlain(sums, pixels);
#else
    (void)vectors;
    FinishGroupPlain(sums, pixels);
#endif
    if (const int x = groups.consecutiveFrom[g]; x >= 0) {
      std::copy_n(pixels, kGroup, row + x);
      continue;
    }
    for (int u = 0; u < kGroup; ++u)
      if (const int x = groups.pixels[g * kGroup + u]; x >= 0) row[x] = pixels[u];
  }
}

void AccumulateRow(const std::uint32_t* row, const ColumnGroups& groups, std::span<const RowTarget> targets,
                   std::uint32_t* tail, KernelPath path) {
  if (groups.tailLength > 0) {
    const int inRow = std::min(groups.sourceWidth - groups.tailStart, groups.tailLength);
    std::copy_n(row + groups.tailStart, inRow, tail);
    std::fill(tail + inRow, tail + groups.tailLength, row[groups.sourceWidth - 1]);
  }
#ifdef CARDPHOTO_X86
  if (UseVectors(path)) {
    std::size_t done = 0;
    for (; done + 2 <= targets.size(); done += 2)
      AccumulateVectorsTwoTargets(row, tail, groups, targets[done], targets[done + 1]);
    if (done < targets.size()) AccumulateVectorsOneTarget(row, tail, groups, targets[done]);
    return;
  }
#else
  (void)path;
#endif
  AccumulatePlain(row, tail, groups, targets);
}

}  // namespace imaging
