// The motion measure's inner loop on raw frame-file rows: for one row pair, the sums of
// the grey values of max(0, a - b) and of max(0, b - a), exact in integers.
#pragma once

#include <cstdint>

namespace talvex {

struct RowSums {
  std::int64_t darker = 0;    // from a - b
  std::int64_t brighter = 0;  // from b - a
};

// Pixels as stored in the files: 4 bytes (blue, green, red, unused), 3 bytes, or one
// little-endian 5-5-5 word, each channel widened as the frame loader does.
RowSums row_sums_32(const std::uint8_t* a, const std::uint8_t* b, int width);
RowSums row_sums_24(const std::uint8_t* a, const std::uint8_t* b, int width);
RowSums row_sums_16(const std::uint8_t* a, const std::uint8_t* b, int width);
// The kernels above pick the widest instructions the machine has (AVX2, SSSE3, SSE2);
// these are the narrower ones that machines without AVX2 or SSSE3 run.
RowSums sse2_row_sums_32(const std::uint8_t* a, const std::uint8_t* b, int width);
RowSums ssse3_row_sums_32(const std::uint8_t* a, const std::uint8_t* b, int width);
RowSums ssse3_row_sums_24(const std::uint8_t* a, const std::uint8_t* b, int width);

// The grey of one pixel's channel differences.
inline int gray_of(int b, int g, int r) { return (11 * b + 59 * g + 30 * r) / 100; }
inline int clamped(int x, int y) { return x > y ? x - y : 0; }

}  // namespace talvex
