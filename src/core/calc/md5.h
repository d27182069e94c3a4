// MD5 (RFC 1321) and the digest object of hashed values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vellix {

// The streaming form: feed bytes in any number of pieces, then finish once.
class Md5Context {
 public:
  Md5Context() { Reset(); }
  ~Md5Context() { Wipe(); }
  Md5Context(const Md5Context&) = delete;
  Md5Context& operator=(const Md5Context&) = delete;

  void Reset();
  void Update(const void* data, size_t length);
  // Pads, writes the 16-byte digest and wipes the context; Reset() before reusing it.
  std::array<uint8_t, 16> Final();

 private:
  void Transform(const uint8_t block[64]);
  void Wipe();

  uint32_t state_[4];
  uint32_t count_[2];  // bits processed, low word first
  uint8_t buffer_[64];
};

// The raw 16-byte digest of a byte string (all of its bytes, NULs included).
std::array<uint8_t, 16> Md5(std::string_view bytes);
// 32 lowercase hexadecimal digits.
std::string Md5Hex(std::string_view bytes);

// The digest object of hashed values. Texts here come from the host and end at their first
// NUL, so both forms of Compute digest the bytes before the first NUL only.
class CMD5 {
 public:
  CMD5() = default;
  virtual ~CMD5() = default;
  CMD5(const CMD5&) = delete;
  CMD5& operator=(const CMD5&) = delete;

  // Digests the text up to its first NUL; always true. A null text digests as "".
  bool Compute(const char* text);
  bool Compute(std::string_view text);
  // The last digest as 32 lowercase hex digits, or null before any digest was computed.
  const char* Hex() const { return valid_ ? hex_ : nullptr; }

 private:
  bool valid_ = false;
  char hex_[33] = {};
};

}  // namespace vellix
