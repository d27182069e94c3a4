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

// Hash of a name's key.
uint64_t HashKey(std::string_view name, bool caseSensitive);

// A text as the host sees it: up to its first zero byte. Every text that reaches the store
// from outside ends there, so that no name or value holds a byte a saved file cannot give
// back.
inline std::string_view UpToZero(std::string_view text) {
  const void* zero = text.empty() ? nullptr : std::memchr(text.data(), 0, text.size());
  if (zero == nullptr) return text;
  return text.substr(0, static_cast<size_t>(static_cast<const char*>(zero) - text.data()));
}

}  // namespace vellix
