// Names and their lookup keys.
//
// A name's key is the name itself when the store is case sensitive, otherwise the name with
// "A" to "Z" lowered (every other byte, including bytes of 128 and above, unchanged). Keys
// are never stored: every group and item keeps only its display name, whose key is derived
// on the fly, so comparing and hashing fold while they read.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace vellix {

inline unsigned char FoldByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

inline unsigned char KeyByte(unsigned char c, bool caseSensitive) {
  return caseSensitive ? c : FoldByte(c);
}

// The key of a name (NormalizeName).
std::string NormalizeName(std::string_view name, bool caseSensitive);

// "A" to "Z" lowered, whatever the store's rule.
std::string LowerAscii(std::string_view text);
bool IsLowerAscii(std::string_view text);

// Whether two names have the same key.
bool SameKey(std::string_view a, std::string_view b, bool caseSensitive);

// Byte-wise order of the keys of two names: unsigned bytes, a prefix first. <0, 0, >0.
int CompareKeys(std::string_view a, std::string_view b, bool caseSensitive);

namespace name_key_detail {

constexpr uint64_t kHighBits = 0x8080808080808080ull;

// "A" to "Z" lowered in eight bytes at once; every other byte is left alone.
inline uint64_t FoldWord(uint64_t w) {
  const uint64_t low7 = w & ~kHighBits;
  const uint64_t atLeastA = low7 + 0x3F3F3F3F3F3F3F3Full;  // high bit set where byte >= 'A'
  const uint64_t aboveZ = low7 + 0x2525252525252525ull;    // high bit set where byte > 'Z'
  const uint64_t upper = atLeastA & ~aboveZ & ~w & kHighBits;
  return w | (upper >> 2);
}

inline uint64_t LoadWord(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// The last 1 to 7 bytes in a zero-filled word, the same word for the same bytes: two
// overlapping loads, or three bytes, rather than a copy of a varying length (a call).
inline uint64_t LoadTail(const char* p, size_t n) {
  if (n >= 4) {
    uint32_t low;
    uint32_t high;
    std::memcpy(&low, p, sizeof low);
    std::memcpy(&high, p + n - 4, sizeof high);
    return low | uint64_t{high} << ((n - 4) * 8);
  }
  const auto byte = [p](size_t i) { return uint64_t{static_cast<unsigned char>(p[i])}; };
  return byte(0) | byte(n / 2) << (n / 2 * 8) | byte(n - 1) << ((n - 1) * 8);
}

}  // namespace name_key_detail

// Hash of a name's key: eight bytes a step, folded first when names fold, then a final mix
// so that both the low bits (an index's slot) and the high bits (its tag) are good. Inline:
// it is on the path of every lookup, and names are short.
inline uint64_t HashKey(std::string_view name, bool caseSensitive) {
  using name_key_detail::FoldWord;
  constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
  uint64_t h = 0x243F6A8885A308D3ull ^ (name.size() * kMul);
  const char* p = name.data();
  size_t n = name.size();
  for (; n >= 8; n -= 8, p += 8) {
    uint64_t w = name_key_detail::LoadWord(p);
    if (!caseSensitive) w = FoldWord(w);
    h = (h ^ w) * kMul;
    h ^= h >> 29;
  }
  if (n > 0) {
    uint64_t w = name_key_detail::LoadTail(p, n);
    if (!caseSensitive) w = FoldWord(w);
    h = (h ^ w) * kMul;
  }
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93ull;
  h ^= h >> 32;
  return h;
}

// A text as the host sees it: up to its first zero byte. Every text that reaches the store
// from outside ends there, so that no name or value holds a byte a saved file cannot give
// back.
inline std::string_view UpToZero(std::string_view text) {
  const void* zero = text.empty() ? nullptr : std::memchr(text.data(), 0, text.size());
  if (zero == nullptr) return text;
  return text.substr(0, static_cast<size_t>(static_cast<const char*>(zero) - text.data()));
}

}  // namespace vellix
