#include "capture/motion_kernel.h"

#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace talvex {
namespace {

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

// The grey values of four 32-bit pixel differences, summed into two 64-bit lanes. The
// division by 100 is (x * 5243) >> 19, exact for every x up to 43698 (x <= 25500 here).
inline __m128i gray_sum4(__m128i difference, __m128i weights, __m128i divisor) {
  const __m128i zero = _mm_setzero_si128();
  __m128i total = zero;
  for (__m128i half : {_mm_unpacklo_epi8(difference, zero), _mm_unpackhi_epi8(difference, zero)}) {
    // (11 b + 59 g) and (30 r) for two pixels, then their sum in lanes 0 and 2.
    __m128i m = _mm_madd_epi16(half, weights);
    m = _mm_add_epi32(m, _mm_srli_epi64(m, 32));
    total = _mm_add_epi64(total, _mm_srli_epi64(_mm_mul_epu32(m, divisor), 19));
  }
  return total;
}

std::int64_t lanes(__m128i v) {
  alignas(16) std::int64_t out[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(out), v);
  return out[0] + out[1];
}

}  // namespace

RowSums row_sums_32(const std::uint8_t* a, const std::uint8_t* b, int width) {
  const __m128i weights = _mm_setr_epi16(11, 59, 30, 0, 11, 59, 30, 0);
  const __m128i divisor = _mm_set1_epi32(5243);
  __m128i darker = _mm_setzero_si128(), brighter = _mm_setzero_si128();
  int x = 0;
  for (; x + 4 <= width; x += 4) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 4 * x));
    const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 4 * x));
    darker = _mm_add_epi64(darker, gray_sum4(_mm_subs_epu8(p, q), weights, divisor));
    brighter = _mm_add_epi64(brighter, gray_sum4(_mm_subs_epu8(q, p), weights, divisor));
  }
  RowSums s = scalar_32(a, b, x, width);
  s.darker += lanes(darker);
  s.brighter += lanes(brighter);
  return s;
}

#else

RowSums row_sums_32(const std::uint8_t* a, const std::uint8_t* b, int width) {
  return scalar_32(a, b, 0, width);
}

#endif

RowSums row_sums_24(const std::uint8_t* a, const std::uint8_t* b, int width) {
  RowSums s;
  for (int x = 0; x < 3 * width; x += 3) {
    s.darker +=
        gray_of(clamped(a[x], b[x]), clamped(a[x + 1], b[x + 1]), clamped(a[x + 2], b[x + 2]));
    s.brighter +=
        gray_of(clamped(b[x], a[x]), clamped(b[x + 1], a[x + 1]), clamped(b[x + 2], a[x + 2]));
  }
  return s;
}

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
