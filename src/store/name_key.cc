#include "store/name_key.h"

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

bool SameKey(std::string_view a, std::string_view b, bool caseSensitive) {
  if (a.size() != b.size()) return false;
  if (caseSensitive) return a == b;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldByte(static_cast<unsigned char>(a[i])) != FoldByte(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
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
  // FNV-1a over the key bytes, then a final mix so that the low bits used for slots are good.
  uint64_t h = 1469598103934665603ull;
  if (caseSensitive) {
    for (unsigned char c : name) h = (h ^ c) * 1099511628211ull;
  } else {
    for (unsigned char c : name) h = (h ^ FoldByte(c)) * 1099511628211ull;
  }
  h ^= h >> 32;
  h *= 0xd6e8feb86659fd93ull;
  h ^= h >> 32;
  return h;
}

}  // namespace vellix
