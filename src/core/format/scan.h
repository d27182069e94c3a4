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

// Whether a 64-bit word holds a CR or LF byte. The answer is exact; which bytes the test
// marks is not (it may also mark one after a true hit), so callers find the byte itself
// byte by byte.
inline bool WordHasLineEnd(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHighs = 0x8080808080808080ull;
  const uint64_t cr = word ^ (kOnes * '\r');
  const uint64_t lf = word ^ (kOnes * '\n');
  // A byte of cr or lf is zero exactly where the text has that byte.
  return (((cr - kOnes) & ~cr & kHighs) | ((lf - kOnes) & ~lf & kHighs)) != 0;
}

// The first CR or LF in [p, end), or end: eight bytes at a time in a 64-bit word.
inline const char* FindLineEndInWords(const char* p, const char* end) {
  while (end - p >= 8) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if (WordHasLineEnd(word)) break;
    p += 8;
  }
  while (p < end && *p != '\r' && *p != '\n') ++p;
  return p;
}

// The first CR or LF in [p, end), or end. Most lines of INI text are short: their ends are
// found in the first two words, which costs less than setting up the wide compare (measured
// on lines of some 30 bytes); longer lines go on sixteen bytes at a time.
inline const char* FindLineEnd(const char* p, const char* end) {
#ifdef VELLIX_SCAN_SSE2
  for (int n = 0; n < 2 && end - p >= 8; ++n) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if (WordHasLineEnd(word)) {
      while (*p != '\r' && *p != '\n') ++p;  // one of the eight is
      return p;
    }
    p += 8;
  }
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
