// MD5 message digest (RFC 1321).
#include "calc/md5.h"

#include <cstring>

namespace vellix {

namespace {

constexpr uint32_t RotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

constexpr uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); }
constexpr uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return (x & z) | (y & ~z); }
constexpr uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
constexpr uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

// One step of a round: a = b + ((a + f(b, c, d) + x + t) <<< s).
template <uint32_t (*Fn)(uint32_t, uint32_t, uint32_t)>
inline void Step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t t) {
  a = b + RotateLeft(a + Fn(b, c, d) + x + t, s);
}

inline uint32_t LoadLittle32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void StoreLittle32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

// Compilers may drop a plain memset of memory that is dead afterwards; writing through a
// volatile pointer keeps the wipe.
void SecureZero(void* p, size_t n) {
  volatile uint8_t* v = static_cast<volatile uint8_t*>(p);
  while (n-- > 0) *v++ = 0;
}

constexpr char kHexDigits[] = "0123456789abcdef";

}  // namespace

void Md5Context::Reset() {
  state_[0] = 0x67452301u;
  state_[1] = 0xefcdab89u;
  state_[2] = 0x98badcfeu;
  state_[3] = 0x10325476u;
  count_[0] = count_[1] = 0;
  std::memset(buffer_, 0, sizeof buffer_);
}

void Md5Context::Wipe() {
  SecureZero(state_, sizeof state_);
  SecureZero(count_, sizeof count_);
  SecureZero(buffer_, sizeof buffer_);
}

void Md5Context::Update(const void* data, size_t length) {
  const uint8_t* input = static_cast<const uint8_t*>(data);
  size_t index = (count_[0] >> 3) & 0x3F;  // bytes already waiting in the buffer

  // The bit count is a 64-bit number (modulo 2^64) kept in two words, low word first.
  const uint64_t bits = static_cast<uint64_t>(length) << 3;
  const uint32_t low = static_cast<uint32_t>(bits);
  count_[0] += low;
  if (count_[0] < low) ++count_[1];
  count_[1] += static_cast<uint32_t>(bits >> 32);

  const size_t space = 64 - index;
  size_t i = 0;
  if (length >= space) {
    std::memcpy(buffer_ + index, input, space);
    Transform(buffer_);
    for (i = space; i + 63 < length; i += 64) Transform(input + i);
    index = 0;
  }
  if (length > i) std::memcpy(buffer_ + index, input + i, length - i);
}

std::array<uint8_t, 16> Md5Context::Final() {
  uint8_t bitCount[8];
  StoreLittle32(bitCount, count_[0]);
  StoreLittle32(bitCount + 4, count_[1]);

  // One 0x80 byte, then zeros up to 56 modulo 64: 1 to 64 bytes of padding in all.
  static const uint8_t kPadding[64] = {0x80};
  const size_t index = (count_[0] >> 3) & 0x3F;
  const size_t padLength = index < 56 ? 56 - index : 120 - index;
  Update(kPadding, padLength);
  Update(bitCount, 8);

  std::array<uint8_t, 16> digest;
  for (int w = 0; w < 4; ++w) StoreLittle32(digest.data() + size_t{4} * w, state_[w]);
  Wipe();
  return digest;
}

void Md5Context::Transform(const uint8_t block[64]) {
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLittle32(block + size_t{4} * i);

  // Round 1
  Step<F>(a, b, c, d, x[0], 7, 0xd76aa478u);
  Step<F>(d, a, b, c, x[1], 12, 0xe8c7b756u);
  Step<F>(c, d, a, b, x[2], 17, 0x242070dbu);
  Step<F>(b, c, d, a, x[3], 22, 0xc1bdceeeu);
  Step<F>(a, b, c, d, x[4], 7, 0xf57c0fafu);
  Step<F>(d, a, b, c, x[5], 12, 0x4787c62au);
  Step<F>(c, d, a, b, x[6], 17, 0xa8304613u);
  Step<F>(b, c, d, a, x[7], 22, 0xfd469501u);
  Step<F>(a, b, c, d, x[8], 7, 0x698098d8u);
  Step<F>(d, a, b, c, x[9], 12, 0x8b44f7afu);
  Step<F>(c, d, a, b, x[10], 17, 0xffff5bb1u);
  Step<F>(b, c, d, a, x[11], 22, 0x895cd7beu);
  Step<F>(a, b, c, d, x[12], 7, 0x6b901122u);
  Step<F>(d, a, b, c, x[13], 12, 0xfd987193u);
  Step<F>(c, d, a, b, x[14], 17, 0xa679438eu);
  Step<F>(b, c, d, a, x[15], 22, 0x49b40821u);

  // Round 2
  Step<G>(a, b, c, d, x[1], 5, 0xf61e2562u);
  Step<G>(d, a, b, c, x[6], 9, 0xc040b340u);
  Step<G>(c, d, a, b, x[11], 14, 0x265e5a51u);
  Step<G>(b, c, d, a, x[0], 20, 0xe9b6c7aau);
  Step<G>(a, b, c, d, x[5], 5, 0xd62f105du);
  Step<G>(d, a, b, c, x[10], 9, 0x02441453u);
  Step<G>(c, d, a, b, x[15], 14, 0xd8a1e681u);
  Step<G>(b, c, d, a, x[4], 20, 0xe7d3fbc8u);
  Step<G>(a, b, c, d, x[9], 5, 0x21e1cde6u);
  Step<G>(d, a, b, c, x[14], 9, 0xc33707d6u);
  Step<G>(c, d, a, b, x[3], 14, 0xf4d50d87u);
  Step<G>(b, c, d, a, x[8], 20, 0x455a14edu);
  Step<G>(a, b, c, d, x[13], 5, 0xa9e3e905u);
  Step<G>(d, a, b, c, x[2], 9, 0xfcefa3f8u);
  Step<G>(c, d, a, b, x[7], 14, 0x676f02d9u);
  Step<G>(b, c, d, a, x[12], 20, 0x8d2a4c8au);

  // Round 3
  Step<H>(a, b, c, d, x[5], 4, 0xfffa3942u);
  Step<H>(d, a, b, c, x[8], 11, 0x8771f681u);
  Step<H>(c, d, a, b, x[11], 16, 0x6d9d6122u);
  Step<H>(b, c, d, a, x[14], 23, 0xfde5380cu);
  Step<H>(a, b, c, d, x[1], 4, 0xa4beea44u);
  Step<H>(d, a, b, c, x[4], 11, 0x4bdecfa9u);
  Step<H>(c, d, a, b, x[7], 16, 0xf6bb4b60u);
  Step<H>(b, c, d, a, x[10], 23, 0xbebfbc70u);
  Step<H>(a, b, c, d, x[13], 4, 0x289b7ec6u);
  Step<H>(d, a, b, c, x[0], 11, 0xeaa127fau);
  Step<H>(c, d, a, b, x[3], 16, 0xd4ef3085u);
  Step<H>(b, c, d, a, x[6], 23, 0x04881d05u);
  Step<H>(a, b, c, d, x[9], 4, 0xd9d4d039u);
  Step<H>(d, a, b, c, x[12], 11, 0xe6db99e5u);
  Step<H>(c, d, a, b, x[15], 16, 0x1fa27cf8u);
  Step<H>(b, c, d, a, x[2], 23, 0xc4ac5665u);

  // Round 4
  Step<I>(a, b, c, d, x[0], 6, 0xf4292244u);
  Step<I>(d, a, b, c, x[7], 10, 0x432aff97u);
  Step<I>(c, d, a, b, x[14], 15, 0xab9423a7u);
  Step<I>(b, c, d, a, x[5], 21, 0xfc93a039u);
  Step<I>(a, b, c, d, x[12], 6, 0x655b59c3u);
  Step<I>(d, a, b, c, x[3], 10, 0x8f0ccc92u);
  Step<I>(c, d, a, b, x[10], 15, 0xffeff47du);
  Step<I>(b, c, d, a, x[1], 21, 0x85845dd1u);
  Step<I>(a, b, c, d, x[8], 6, 0x6fa87e4fu);
  Step<I>(d, a, b, c, x[15], 10, 0xfe2ce6e0u);
  Step<I>(c, d, a, b, x[6], 15, 0xa3014314u);
  Step<I>(b, c, d, a, x[13], 21, 0x4e0811a1u);
  Step<I>(a, b, c, d, x[4], 6, 0xf7537e82u);
  Step<I>(d, a, b, c, x[11], 10, 0xbd3af235u);
  Step<I>(c, d, a, b, x[2], 15, 0x2ad7d2bbu);
  Step<I>(b, c, d, a, x[9], 21, 0xeb86d391u);

  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  SecureZero(x, sizeof x);
}

std::array<uint8_t, 16> Md5(std::string_view bytes) {
  Md5Context context;
  context.Update(bytes.data(), bytes.size());
  return context.Final();
}

namespace {

void WriteHex(const uint8_t* digest, char* out) {
  for (int i = 0; i < 16; ++i) {
    out[size_t{2} * i] = kHexDigits[digest[i] >> 4];
    out[size_t{2} * i + 1] = kHexDigits[digest[i] & 0x0F];
  }
  out[32] = '\0';
}

}  // namespace

std::string Md5Hex(std::string_view bytes) {
  const std::array<uint8_t, 16> digest = Md5(bytes);
  char hex[33];
  WriteHex(digest.data(), hex);
  return std::string(hex, 32);
}

bool CMD5::Compute(const char* text) {
  return Compute(text == nullptr ? std::string_view() : std::string_view(text));
}

bool CMD5::Compute(std::string_view text) {
  const size_t end = text.find('\0');
  if (end != std::string_view::npos) text = text.substr(0, end);
  const std::array<uint8_t, 16> digest = Md5(text);
  WriteHex(digest.data(), hex_);
  valid_ = true;
  return true;
}

}  // namespace vellix
