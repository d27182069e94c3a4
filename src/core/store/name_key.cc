#include "store/name_key.h"

#include <cstring>

namespace vellix {

std::string NormalizeName(std::string_view name, bool caseSensitive) {
  if (caseSensitive) return std::string(name);
  return LowerAscii(name);
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(FoldByte(static_cast<unsigned char>(c)));
  return out;
}

bool IsLowerAscii(std::string_view text) {
  for (char c : text) {
    if (c >= 'A' && c <= 'Z') return false;
  }
  return true;
}

namespace {

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

// The last 1 to 7 bytes in a zero-filled word, the same word for the same bytes. Names are
// short, so this is on every lookup's path: two overlapping loads, or three bytes, rather
// than a copy of a varying length (a call).
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

}  // namespace

bool SameKey(std::string_view a, std::string_view b, bool caseSensitive) {
  if (a.size() != b.size()) return false;
  if (caseSensitive) return a == b;
  const char* p = a.data();
  const char* q = b.data();
  size_t n = a.size();
  for (; n >= 8; n -= 8, p += 8, q += 8) {
    const uint64_t x = LoadWord(p);
    const uint64_t y = LoadWord(q);
    if (x != y && FoldWord(x) != FoldWord(y)) return false;
  }
  if (n == 0) return true;
  const uint64_t x = LoadTail(p, n);
  const uint64_t y = LoadTail(q, n);
  return x == y || FoldWord(x) == FoldWord(y);
}

int CompareKeys(std::string_view a, std::string_view b, bool caseSensitive) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = KeyByte(static_cast<unsigned char>(a[i]), caseSensitive);
    const unsigned char y = KeyByte(static_cast<unsigned char>(b[i]), caseSensitive);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

uint64_t HashKey(std::string_view name, bool caseSensitive) {
  // Eight bytes a step, folded first when names fold, then a final mix so that both the
  // low bits (slot) and the high bits (tag) are good.
  constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
  uint64_t h = 0x243F6A8885A308D3ull ^ (name.size() * kMul);
  const char* p = name.data();
  size_t n = name.size();
  for (; n >= 8; n -= 8, p += 8) {
    uint64_t w = LoadWord(p);
    if (!caseSensitive) w = FoldWord(w);
    h = (h ^ w) * kMul;
    h ^= h >> 29;
  }
  if (n > 0) {
    uint64_t w = LoadTail(p, n);
    if (!caseSensitive) w = FoldWord(w);
    h = (h ^ w) * kMul;
  }
  h ^= h >> 32;
  h *= 0xD6E8FEB86659FD93ull;
  h ^= h >> 32;
  return h;
}

}  // namespace vellix
