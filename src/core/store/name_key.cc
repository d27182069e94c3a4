#include "store/name_key.h"

#include <cstring>

namespace vellix {

using name_key_detail::FoldWord;
using name_key_detail::LoadTail;
using name_key_detail::LoadWord;

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

}  // namespace vellix
