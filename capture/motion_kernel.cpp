#include "capture/motion_kernel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>
#include <tmmintrin.h>
#endif

namespace talvex {
namespace {

RowSums scalar_24(const std::uint8_t* a, const std::uint8_t* b, int from, int width) {
  RowSums s;
  for (int x = 3 * from; x < 3 * width; x += 3) {
    s.darker +=
        gray_of(clamped(a[x], b[x]), clamped(a[x + 1], b[x + 1]), clamped(a[x + 2], b[x + 2]));
    s.brighter +=
        gray_of(clamped(b[x], a[x]), clamped(b[x + 1], a[x + 1]), clamped(b[x + 2], a[x + 2]));
  }
  return s;
}

RowSums scalar_32(const std::uint8_t* a, const std::uint8_t* b, int from, int width) {
  RowSums s;
  for (int x = from; x < width; ++x) {
    const std::uint8_t* p = a + 4 * x;
    const std::uint8_t* q = b + 4 * x;
    s.darker += gray_of(clamped(p[0], q[0]), clamped(p[1], q[1]), clamped(p[2], q[2]));
    s.brighter += gray_of(clamped(q[0], p[0]), clamped(q[1], p[1]), clamped(q[2], p[2]));
  }
  return s;
}

}  // namespace

#if defined(__SSE2__)

namespace {

// 11 b + 59 g + 30 r of four 32-bit pixels (blue, green, red, unused) in 32-bit lanes:
// the low byte of each 16-bit lane is blue or red, the high byte green or unused.
inline __m128i weighted4(__m128i pixels) {
  const __m128i low_bytes = _mm_set1_epi16(0x00FF);
  const __m128i blue_red = _mm_setr_epi16(11, 30, 11, 30, 11, 30, 11, 30);
  const __m128i green = _mm_setr_epi16(59, 0, 59, 0, 59, 0, 59, 0);
  return _mm_add_epi32(_mm_madd_epi16(_mm_and_si128(pixels, low_bytes), blue_red),
                       _mm_madd_epi16(_mm_srli_epi16(pixels, 8), green));
}

// x / 100 for the eight 16-bit lanes: (x * 20972) >> 21 is exact for every x below 43690,
// and x <= 25500 here.
inline __m128i divide100(__m128i x) {
  return _mm_srli_epi16(_mm_mulhi_epu16(x, _mm_set1_epi16(20972)), 5);
}

// The grey values of sixteen 32-bit pixel differences, summed into the two 64-bit lanes.
inline __m128i gray_sum16(__m128i d0, __m128i d1, __m128i d2, __m128i d3) {
  // The weighted sums fit 16 bits (at most 25500), so they pack without saturating.
  const __m128i g01 = divide100(_mm_packs_epi32(weighted4(d0), weighted4(d1)));
  const __m128i g23 = divide100(_mm_packs_epi32(weighted4(d2), weighted4(d3)));
  return _mm_sad_epu8(_mm_packus_epi16(g01, g23), _mm_setzero_si128());
}

inline __m128i load(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

std::int64_t lanes(__m128i v) {
  alignas(16) std::int64_t out[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(out), v);
  return out[0] + out[1];
}

RowSums sse2_32(const std::uint8_t* a, const std::uint8_t* b, int width) {
  __m128i darker = _mm_setzero_si128(), brighter = _mm_setzero_si128();
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    const std::uint8_t* p = a + 4 * x;
    const std::uint8_t* q = b + 4 * x;
    const __m128i p0 = load(p), p1 = load(p + 16), p2 = load(p + 32), p3 = load(p + 48);
    const __m128i q0 = load(q), q1 = load(q + 16), q2 = load(q + 32), q3 = load(q + 48);
    darker = _mm_add_epi64(darker, gray_sum16(_mm_subs_epu8(p0, q0), _mm_subs_epu8(p1, q1),
                                              _mm_subs_epu8(p2, q2), _mm_subs_epu8(p3, q3)));
    brighter = _mm_add_epi64(brighter, gray_sum16(_mm_subs_epu8(q0, p0), _mm_subs_epu8(q1, p1),
                                                  _mm_subs_epu8(q2, p2), _mm_subs_epu8(q3, p3)));
  }
  RowSums s = scalar_32(a, b, x, width);
  s.darker += lanes(darker);
  s.brighter += lanes(brighter);
  return s;
}

// With SSSE3 the weights are applied to the bytes as they are (pmaddubsw), pairs of lanes
// are added into one sum a pixel (phaddw), and 24-bit pixels are spread to four bytes
// (pshufb) to take the same road.
#define TALVEX_SSSE3 __attribute__((target("ssse3")))

// The grey values of sixteen 32-bit pixel differences, summed into the two 64-bit lanes.
TALVEX_SSSE3 inline __m128i gray_sum16_ssse3(__m128i d0, __m128i d1, __m128i d2, __m128i d3) {
  const __m128i weights = _mm_setr_epi8(11, 59, 30, 0, 11, 59, 30, 0, 11, 59, 30, 0, 11, 59, 30, 0);
  const __m128i magic = _mm_set1_epi16(20972);
  // (11 b + 59 g) and (30 r) a pixel, then their sums: at most 25500, no saturation.
  const __m128i s01 =
      _mm_hadd_epi16(_mm_maddubs_epi16(d0, weights), _mm_maddubs_epi16(d1, weights));
  const __m128i s23 =
      _mm_hadd_epi16(_mm_maddubs_epi16(d2, weights), _mm_maddubs_epi16(d3, weights));
  const __m128i g01 = _mm_srli_epi16(_mm_mulhi_epu16(s01, magic), 5);
  const __m128i g23 = _mm_srli_epi16(_mm_mulhi_epu16(s23, magic), 5);
  return _mm_sad_epu8(_mm_packus_epi16(g01, g23), _mm_setzero_si128());
}

TALVEX_SSSE3 inline void add_block_ssse3(__m128i& darker, __m128i& brighter, __m128i p0, __m128i p1,
                                         __m128i p2, __m128i p3, __m128i q0, __m128i q1, __m128i q2,
                                         __m128i q3) {
  darker = _mm_add_epi64(darker, gray_sum16_ssse3(_mm_subs_epu8(p0, q0), _mm_subs_epu8(p1, q1),
                                                  _mm_subs_epu8(p2, q2), _mm_subs_epu8(p3, q3)));
  brighter =
      _mm_add_epi64(brighter, gray_sum16_ssse3(_mm_subs_epu8(q0, p0), _mm_subs_epu8(q1, p1),
                                               _mm_subs_epu8(q2, p2), _mm_subs_epu8(q3, p3)));
}

TALVEX_SSSE3 RowSums ssse3_32(const std::uint8_t* a, const std::uint8_t* b, int width) {
  __m128i darker = _mm_setzero_si128(), brighter = _mm_setzero_si128();
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    const std::uint8_t* p = a + 4 * x;
    const std::uint8_t* q = b + 4 * x;
    add_block_ssse3(darker, brighter, load(p), load(p + 16), load(p + 32), load(p + 48), load(q),
                    load(q + 16), load(q + 32), load(q + 48));
  }
  RowSums s = scalar_32(a, b, x, width);
  s.darker += lanes(darker);
  s.brighter += lanes(brighter);
  return s;
}

// Four 24-bit pixels from the first twelve of sixteen bytes, as blue, green, red, zero.
TALVEX_SSSE3 inline __m128i spread24(const std::uint8_t* p) {
  const __m128i order = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  return _mm_shuffle_epi8(load(p), order);
}

TALVEX_SSSE3 RowSums ssse3_24(const std::uint8_t* a, const std::uint8_t* b, int width) {
  __m128i darker = _mm_setzero_si128(), brighter = _mm_setzero_si128();
  int x = 0;
  // The last load of a block reads four bytes past its sixteen pixels: stay in the row.
  for (; 3 * (x + 16) + 4 <= 3 * width; x += 16) {
    const std::uint8_t* p = a + 3 * x;
    const std::uint8_t* q = b + 3 * x;
    add_block_ssse3(darker, brighter, spread24(p), spread24(p + 12), spread24(p + 24),
                    spread24(p + 36), spread24(q), spread24(q + 12), spread24(q + 24),
                    spread24(q + 36));
  }
  RowSums s = scalar_24(a, b, x, width);
  s.darker += lanes(darker);
  s.brighter += lanes(brighter);
  return s;
}

// With AVX2 the same in two 128-bit lanes: 32 pixels a step.
#define TALVEX_AVX2 __attribute__((target("avx2")))

TALVEX_AVX2 inline __m256i load256(const std::uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The grey values of 32 pixel differences (four registers of eight blue, green, red,
// unused pixels), summed into the four 64-bit lanes. Within each 128-bit lane as above;
// which pixel ends up where does not matter for the sum.
TALVEX_AVX2 inline __m256i gray_sum32_avx2(__m256i d0, __m256i d1, __m256i d2, __m256i d3) {
  const __m256i weights =
      _mm256_setr_epi8(11, 59, 30, 0, 11, 59, 30, 0, 11, 59, 30, 0, 11, 59, 30, 0, 11, 59, 30, 0,
                       11, 59, 30, 0, 11, 59, 30, 0, 11, 59, 30, 0);
  const __m256i magic = _mm256_set1_epi16(20972);
  const __m256i s01 =
      _mm256_hadd_epi16(_mm256_maddubs_epi16(d0, weights), _mm256_maddubs_epi16(d1, weights));
  const __m256i s23 =
      _mm256_hadd_epi16(_mm256_maddubs_epi16(d2, weights), _mm256_maddubs_epi16(d3, weights));
  const __m256i g01 = _mm256_srli_epi16(_mm256_mulhi_epu16(s01, magic), 5);
  const __m256i g23 = _mm256_srli_epi16(_mm256_mulhi_epu16(s23, magic), 5);
  return _mm256_sad_epu8(_mm256_packus_epi16(g01, g23), _mm256_setzero_si256());
}

TALVEX_AVX2 inline void add_block_avx2(__m256i& darker, __m256i& brighter, __m256i p0, __m256i p1,
                                       __m256i p2, __m256i p3, __m256i q0, __m256i q1, __m256i q2,
                                       __m256i q3) {
  darker =
      _mm256_add_epi64(darker, gray_sum32_avx2(_mm256_subs_epu8(p0, q0), _mm256_subs_epu8(p1, q1),
                                               _mm256_subs_epu8(p2, q2), _mm256_subs_epu8(p3, q3)));
  brighter = _mm256_add_epi64(brighter,
                              gray_sum32_avx2(_mm256_subs_epu8(q0, p0), _mm256_subs_epu8(q1, p1),
                                              _mm256_subs_epu8(q2, p2), _mm256_subs_epu8(q3, p3)));
}

TALVEX_AVX2 std::int64_t lanes256(__m256i v) {
  return lanes(_mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)));
}

TALVEX_AVX2 RowSums avx2_32(const std::uint8_t* a, const std::uint8_t* b, int width) {
  __m256i darker = _mm256_setzero_si256(), brighter = _mm256_setzero_si256();
  int x = 0;
  for (; x + 32 <= width; x += 32) {
    const std::uint8_t* p = a + 4 * x;
    const std::uint8_t* q = b + 4 * x;
    add_block_avx2(darker, brighter, load256(p), load256(p + 32), load256(p + 64), load256(p + 96),
                   load256(q), load256(q + 32), load256(q + 64), load256(q + 96));
  }
  const std::int64_t d = lanes256(darker), l = lanes256(brighter);
  RowSums s = ssse3_32(a + 4 * x, b + 4 * x, width - x);
  s.darker += d;
  s.brighter += l;
  return s;
}

// Eight 24-bit pixels, four from p and four from p + 12, as blue, green, red, zero.
TALVEX_AVX2 inline __m256i spread24_avx2(const std::uint8_t* p) {
  const __m256i order = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1,
                                         2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m256i both = _mm256_inserti128_si256(_mm256_castsi128_si256(load(p)), load(p + 12), 1);
  return _mm256_shuffle_epi8(both, order);
}

TALVEX_AVX2 RowSums avx2_24(const std::uint8_t* a, const std::uint8_t* b, int width) {
  __m256i darker = _mm256_setzero_si256(), brighter = _mm256_setzero_si256();
  int x = 0;
  // The last load of a block reads four bytes past its 32 pixels: stay in the row.
  for (; 3 * (x + 32) + 4 <= 3 * width; x += 32) {
    const std::uint8_t* p = a + 3 * x;
    const std::uint8_t* q = b + 3 * x;
    add_block_avx2(darker, brighter, spread24_avx2(p), spread24_avx2(p + 24), spread24_avx2(p + 48),
                   spread24_avx2(p + 72), spread24_avx2(q), spread24_avx2(q + 24),
                   spread24_avx2(q + 48), spread24_avx2(q + 72));
  }
  const std::int64_t d = lanes256(darker), l = lanes256(brighter);
  RowSums s = ssse3_24(a + 3 * x, b + 3 * x, width - x);
  s.darker += d;
  s.brighter += l;
  return s;
}

bool has_ssse3() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3");
}

// Also asks the system whether it saves the wide registers.
bool has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

const bool kHasSsse3 = has_ssse3();
const bool kHasAvx2 = kHasSsse3 && has_avx2();

}  // namespace

RowSums row_sums_32(const std::uint8_t* a, const std::uint8_t* b, int width) {
  if (kHasAvx2) return avx2_32(a, b, width);
  return kHasSsse3 ? ssse3_32(a, b, width) : sse2_32(a, b, width);
}

RowSums row_sums_24(const std::uint8_t* a, const std::uint8_t* b, int width) {
  if (kHasAvx2) return avx2_24(a, b, width);
  return kHasSsse3 ? ssse3_24(a, b, width) : scalar_24(a, b, 0, width);
}

RowSums sse2_row_sums_32(const std::uint8_t* a, const std::uint8_t* b, int width) {
  return sse2_32(a, b, width);
}

RowSums ssse3_row_sums_32(const std::uint8_t* a, const std::uint8_t* b, int width) {
  return kHasSsse3 ? ssse3_32(a, b, width) : sse2_32(a, b, width);
}

RowSums ssse3_row_sums_24(const std::uint8_t* a, const std::uint8_t* b, int width) {
  return kHasSsse3 ? ssse3_24(a, b, width) : scalar_24(a, b, 0, width);
}

#else

RowSums row_sums_32(const std::uint8_t* a, const std::uint8_t* b, int width) {
  return scalar_32(a, b, 0, width);
}

RowSums row_sums_24(const std::uint8_t* a, const std::uint8_t* b, int width) {
  return scalar_24(a, b, 0, width);
}

RowSums sse2_row_sums_32(const std::uint8_t* a, const std::uint8_t* b, int width) {
  return scalar_32(a, b, 0, width);
}

RowSums ssse3_row_sums_32(const std::uint8_t* a, const std::uint8_t* b, int width) {
  return scalar_32(a, b, 0, width);
}

RowSums ssse3_row_sums_24(const std::uint8_t* a, const std::uint8_t* b, int width) {
  return scalar_24(a, b, 0, width);
}

#endif

RowSums row_sums_16(const std::uint8_t* a, const std::uint8_t* b, int width) {
  RowSums s;
  for (int x = 0; x < width; ++x) {
    const int w = a[2 * x] | (a[2 * x + 1] << 8);
    const int v = b[2 * x] | (b[2 * x + 1] << 8);
    const int ab = (w & 0x1F) << 3, ag = ((w & 0x3E0) >> 2) & 0xFF, ar = ((w & 0x7C00) >> 7) & 0xFF;
    const int bb = (v & 0x1F) << 3, bg = ((v & 0x3E0) >> 2) & 0xFF, br = ((v & 0x7C00) >> 7) & 0xFF;
    s.darker += gray_of(clamped(ab, bb), clamped(ag, bg), clamped(ar, br));
    s.brighter += gray_of(clamped(bb, ab), clamped(bg, ag), clamped(br, ar));
  }
  return s;
}

}  // namespace talvex
