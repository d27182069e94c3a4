// Finding the bytes the text reader stops at (line ends) several bytes at a time: sixteen
// with SSE2 where the compiler targets it (every x86-64 build, and 32-bit ones built with
// SSE2), eight at a time in a plain 64-bit word elsewhere. Both give exactly the answer of
// a loop over single bytes; the word form is also compiled everywhere, so the tests compare
// the two on the machine that runs them.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define VELLIX_SCAN_SSE2 1
#endif

namespace vellix::scan {

// The first CR or LF in [p, end), or end: eight bytes at a time in a 64-bit word.
inline const char* FindLineEndInWords(const char* p, const char* end) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHighs = 0x8080808080808080ull;
  while (end - p >= 8) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    const uint64_t cr = word ^ (kOnes * '\r');
    const uint64_t lf = word ^ (kOnes * '\n');
    // A byte of cr or lf is zero exactly where the text has that byte (the test may also
    // mark a byte after a true hit, never one before: the loop below finds the first).
    const uint64_t hit = ((cr - kOnes) & ~cr & kHighs) | ((lf - kOnes) & ~lf & kHighs);
    if (hit != 0) break;
    p += 8;
  }
  while (p < end && *p != '\r' && *p != '\n') ++p;
  return p;
}

// The first CR or LF in [p, end), or end.
inline const char* FindLineEnd(const char* p, const char* end) {
#ifdef VELLIX_SCAN_SSE2
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (mask != 0) return p + std::countr_zero(mask);
    p += 16;
  }
#endif
  return FindLineEndInWords(p, end);
}

}  // namespace vellix::scan
