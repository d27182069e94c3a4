// Compressed blocks and the RC4 cipher.
//
// A compressed block is the uncompressed length as four little-endian bytes followed by one
// zlib stream. The length comes from a file, so it is never trusted for an allocation: a
// deflate stream cannot expand by more than 1032 to 1 (a 258-byte match coded in two bits),
// so a length beyond that bound cannot be honest and is refused outright, and below it the
// output buffer grows only as fast as the stream really produces bytes. A plain text or
// random bytes read with compression on therefore fail after a few bytes of work instead of
// asking for gigabytes.
//
// How hard deflate works depends on what it is given. Enciphered text looks random: no
// match search can find anything in it, and at the default level deflate spends some 40 ms
// per megabyte looking before it stores the bytes as they are anyway. So enciphered saves
// are written as stored blocks (level 0), the same size for a copy's cost. These are framed
// here rather than by zlib: zlib's level 0 copies every byte through its window on the way,
// and its Adler-32 checksum takes a byte at a time, which together cost a fifth of what
// writing and enciphering the text does. Here the bytes go once into the output buffer,
// their checksum sixteen at a time (StreamChecksum). Plain INI text
// compresses well; for saves it uses level 4, which measured within a few percent of the
// default level's size on INI texts at three to five times its speed (levels 1 and 2 were
// faster still but 10 to 40% larger). Either way the stream is standard zlib.
#include "io/blocks.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define VELLIX_BLOCKS_SSE2 1
#endif

#include "io/file_io.h"

namespace vellix {

namespace {

constexpr size_t kHeaderSize = 4;
// Most output one byte of deflate stream can stand for.
constexpr uint64_t kMaxExpansion = 1032;
// First output buffer: as large as the input (never more than the stated length), then
// doubled whenever the stream has really filled it. Memory thus follows what the stream
// produces, at most twice over, and never what the length field claims.
constexpr uint64_t kFirstGuessMinimum = uint64_t{64} * 1024;

// The two-byte zlib header: deflate, a window zlib can use, a valid check, no preset
// dictionary. Plain text almost never passes, so it is turned away before any allocation.
bool PlausibleZlibHeader(const unsigned char* p, uint64_t available) {
  if (available < 2) return false;
  const unsigned cmf = p[0];
  const unsigned flg = p[1];
  return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && ((cmf << 8) | flg) % 31 == 0 && (flg & 0x20) == 0;
}

uint32_t ReadLength(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Gives `buffer` exactly `size` bytes, keeping its first `keep`. A string grown in place
// may take up to twice its old capacity, past what the length field allows; a new string
// starts small and gets what it is asked for.
void GrowExactly(std::string& buffer, size_t size, size_t keep) {
  std::string grown;
  grown.resize(size);
  if (keep > 0) std::memcpy(grown.data(), buffer.data(), keep);
  buffer.swap(grown);
}

void WriteLength(unsigned char* p, uint32_t n) {
  p[0] = static_cast<unsigned char>(n);
  p[1] = static_cast<unsigned char>(n >> 8);
  p[2] = static_cast<unsigned char>(n >> 16);
  p[3] = static_cast<unsigned char>(n >> 24);
}

}  // namespace

std::string CompressBlock(std::string_view data) {
  std::string out;
  // The length field has 32 bits; a larger input cannot be described by a block, and
  // writing a block that would not read back is worse than writing none.
  if (data.size() > UINT32_MAX) return out;
  out.reserve(kHeaderSize + compressBound(static_cast<uLong>(data.size())));
  StringWriter writer(out);
  BlockCompressor compressor(BlockContent::kAny, writer);
  // The whole input with the finish flag, as compress() gives it: the same stream.
  // zlib fails here only when memory runs out; the empty result tells the caller that there
  // is no block to write (every real block has at least a header and a stream).
  if (!compressor.Finish(data)) out.clear();
  return out;
}

struct BlockInflater::State {
  z_stream zs;
  bool open = false;
};

BlockInflater::BlockInflater(uint64_t blockSize)
    : state_(std::make_unique<State>()), blockSize_(blockSize) {
  std::memset(&state_->zs, 0, sizeof state_->zs);
}

BlockInflater::~BlockInflater() {
  if (state_->open) inflateEnd(&state_->zs);
}

bool BlockInflater::LengthBelievable(uint64_t blockSize) const {
  return stated_ <= (blockSize - kHeaderSize) * kMaxExpansion;
}

// The length field and the zlib header are gathered first (they may come split over pieces),
// and judged as DecompressBlock judges them before inflating anything.
bool BlockInflater::TakeHeader(std::string_view& input) {
  constexpr size_t kFull = sizeof header_;
  while (headerUsed_ < kFull && !input.empty()) {
    header_[headerUsed_++] = static_cast<unsigned char>(input.front());
    input.remove_prefix(1);
    if (headerUsed_ == kHeaderSize) {
      stated_ = ReadLength(header_);
      if (blockSize_ < kHeaderSize || !LengthBelievable(blockSize_)) {
        fault_ = BlockFault::kBadLength;
        return false;
      }
    }
  }
  if (headerUsed_ < kFull) return false;
  if (state_->open) return true;
  if (!PlausibleZlibHeader(header_ + kHeaderSize, kFull - kHeaderSize) ||
      inflateInit(&state_->zs) != Z_OK) {
    fault_ = BlockFault::kBadStream;
    return false;
  }
  state_->open = true;
  return true;
}

size_t BlockInflater::Inflate(std::string_view& input, char* out, size_t room) {
  if (ended_ || fault_ != BlockFault::kNone || !TakeHeader(input)) return 0;
  z_stream& zs = state_->zs;
  size_t written = 0;
  while (written < room) {
    bool fromInput = false;
    if (zs.avail_in == 0) {
      if (headerFed_ < sizeof header_ - kHeaderSize) {
        // The zlib header, read into header_ to be judged, goes first.
        zs.next_in = header_ + kHeaderSize + headerFed_;
        zs.avail_in = static_cast<uInt>(sizeof header_ - kHeaderSize - headerFed_);
      } else {
        // Also with no input left: zlib may still hold output it has decoded.
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
        zs.avail_in = static_cast<uInt>(std::min<size_t>(input.size(), UINT_MAX));
        fromInput = true;
      }
    }
    // Never past the stated length: zlib is given no room beyond it.
    const uint64_t left = stated_ - produced_;
    zs.next_out = reinterpret_cast<Bytef*>(out + written);
    zs.avail_out = static_cast<uInt>(std::min<uint64_t>({room - written, left, UINT_MAX}));
    const uInt inBefore = zs.avail_in;
    const uInt outBefore = zs.avail_out;
    const int rc = inflate(&zs, Z_NO_FLUSH);
    const uInt used = inBefore - zs.avail_in;
    if (fromInput) {
      input.remove_prefix(used);
    } else {
      headerFed_ += used;
    }
    // What zlib left unused is given again from where it stands next time.
    zs.avail_in = 0;
    const uInt got = outBefore - zs.avail_out;
    written += got;
    produced_ += got;
    if (rc == Z_STREAM_END) {
      ended_ = true;
      break;
    }
    if (rc == Z_BUF_ERROR) {
      // No progress: either the input is used up (more may come) or the stream holds more
      // than the stated length while input is left.
      const bool inputLeft = !input.empty() || headerFed_ < sizeof header_ - kHeaderSize;
      if (inputLeft && left == 0) fault_ = BlockFault::kBadLength;
      if (inputLeft && left > 0 && written < room) fault_ = BlockFault::kBadStream;
      break;
    }
    if (rc != Z_OK) {
      fault_ = BlockFault::kBadStream;
      break;
    }
  }
  return written;
}

void BlockInflater::EndInput(uint64_t total) {
  // The length field is judged against the whole block as it was read, as DecompressBlock
  // judges it, also when the file changed size while it was read.
  if (total < kHeaderSize || headerUsed_ < kHeaderSize) {
    fault_ = BlockFault::kBadLength;
    ended_ = false;
    return;
  }
  if (!LengthBelievable(total)) {
    fault_ = BlockFault::kBadLength;
    ended_ = false;
    return;
  }
  if (!ended_ && fault_ == BlockFault::kNone) fault_ = BlockFault::kBadStream;  // cut short
}

bool DecompressBlock(std::string_view block, std::string& out, BlockFault* fault) {
  out.clear();
  BlockFault unused;
  BlockFault& why = fault ? *fault : unused;
  why = BlockFault::kBadLength;
  if (block.size() < kHeaderSize) return false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
  const uint64_t stated = ReadLength(bytes);
  const uint64_t streamLength = block.size() - kHeaderSize;
  if (stated > streamLength * kMaxExpansion) return false;
  why = BlockFault::kBadStream;
  if (!PlausibleZlibHeader(bytes + kHeaderSize, streamLength)) return false;
  z_stream zs;
  std::memset(&zs, 0, sizeof zs);
  if (inflateInit(&zs) != Z_OK) return false;

  const uint64_t firstGuess = std::max<uint64_t>(kFirstGuessMinimum, streamLength);
  size_t capacity = static_cast<size_t>(std::min(stated, firstGuess));
  GrowExactly(out, capacity, 0);
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(capacity);  // stated < 2^32, so capacity fits

  const Bytef* input = bytes + kHeaderSize;
  uint64_t inputLeft = streamLength;
  bool ok = false;
  for (;;) {
    if (zs.avail_in == 0 && inputLeft > 0) {
      const uInt chunk = static_cast<uInt>(std::min<uint64_t>(inputLeft, UINT_MAX));
      zs.next_in = const_cast<Bytef*>(input);
      zs.avail_in = chunk;
      input += chunk;
      inputLeft -= chunk;
    }
    if (zs.avail_out == 0 && capacity < stated) {
      // The stream really produced this much: grow towards the stated length.
      const size_t produced = capacity;
      capacity = static_cast<size_t>(std::min<uint64_t>(stated, uint64_t{capacity} * 2));
      GrowExactly(out, capacity, produced);
      zs.next_out = reinterpret_cast<Bytef*>(out.data()) + produced;
      zs.avail_out = static_cast<uInt>(capacity - produced);
    }
    const int rc = inflate(&zs, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      ok = true;
      break;
    }
    // Z_OK means progress; Z_BUF_ERROR means none is possible: the input ended early or
    // the stream holds more than the stated length. Everything else is a corrupt stream.
    if (rc == Z_BUF_ERROR && zs.avail_in + inputLeft > 0) {
      why = BlockFault::kBadLength;  // input left, but the stated length is reached
    }
    if (rc != Z_OK) break;
  }
  const size_t produced = static_cast<size_t>(zs.total_out);
  inflateEnd(&zs);
  if (!ok) {
    out.clear();
    return false;
  }
  out.resize(produced);
  why = BlockFault::kNone;
  return true;
}

// ---------------------------------------------------------------- streamed compression

struct BlockCompressor::State {
  z_stream zs;
  bool open = false;
  bool stored = false;     // stored blocks framed here, not by zlib
  uint32_t checksum = 1;   // Adler-32 of the stored bytes so far
  std::string buffer;      // compressed bytes waiting to be written
  size_t used = 0;         // of buffer, when stored
  bool blockOpen = false;  // a stored block is being filled: its header is not written yet
  size_t openAt = 0;       // where in the buffer its header goes
  size_t openLength = 0;   // the bytes in it so far
};

namespace {

// The output gathered before it is written: a few large writes rather than many small ones.
constexpr size_t kOutputPiece = size_t{128} << 10;

// A stored block: a header byte (the final flag, type 00, padding to the byte), the length
// and its complement in two little-endian bytes each, then at most 65,535 bytes as they are.
constexpr size_t kStoredHeader = 5;
constexpr size_t kStoredMax = 65535;
// The zlib header zlib itself writes at level 0: deflate, 32 KiB window, "fastest".
constexpr unsigned char kStoredZlibHeader[2] = {0x78, 0x01};

// The Adler-32 of `data` continued from `adler`: what zlib's adler32() gives, sixteen bytes
// at a time where SSE2 is there. Over a run of n bytes starting at sums (a, b), a grows by
// the bytes' sum and b by n * a plus each byte weighted by how many bytes, itself included,
// are left from it to the run's end. For every 16-byte round the vectors keep the byte sum
// (a), the sum of that running byte sum before each round (times 16 it is what earlier
// rounds add to b) and the bytes weighted 16 down to 1; the runs are short enough that no
// 32-bit lane can overflow, and their sums are reduced modulo 65521 after each run.
uint32_t StreamChecksum(uint32_t adler, const unsigned char* p, size_t n) {
#ifdef VELLIX_BLOCKS_SSE2
  constexpr uint32_t kBase = 65521;
  constexpr size_t kRun = 5552;  // zlib's own run between reductions, 347 rounds of 16
  uint32_t a = adler & 0xFFFF;
  uint32_t b = adler >> 16;
  const __m128i zero = _mm_setzero_si128();
  const __m128i firstWeights = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
  const __m128i lastWeights = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
  while (n >= 16) {
    const size_t run = std::min(kRun, n / 16 * 16);
    n -= run;
    __m128i sums = zero;
    __m128i earlier = zero;
    __m128i weighted = zero;
    for (const unsigned char* end = p + run; p < end; p += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      earlier = _mm_add_epi32(earlier, sums);
      sums = _mm_add_epi32(sums, _mm_sad_epu8(v, zero));
      weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(v, zero), firstWeights));
      weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(v, zero), lastWeights));
    }
    uint32_t s[4];
    uint32_t e[4];
    uint32_t w[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s), sums);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(e), earlier);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w), weighted);
    // The byte sums are in the low halves of two 64-bit lanes (lanes 0 and 2).
    const uint64_t newB =
        uint64_t{b} + uint64_t{a} * run + 16 * (uint64_t{e[0]} + e[2]) + w[0] + w[1] + w[2] + w[3];
    a = static_cast<uint32_t>((uint64_t{a} + s[0] + s[2]) % kBase);
    b = static_cast<uint32_t>(newB % kBase);
  }
  for (; n > 0; --n) {
    a += *p++;
    b += a;
  }
  return (a % kBase) | ((b % kBase) << 16);
#else
  return static_cast<uint32_t>(adler32_z(adler, p, n));
#endif
}

int LevelFor(BlockContent content) {
  switch (content) {
    case BlockContent::kText:
      return 4;
    case BlockContent::kEnciphered:
      return 0;
    case BlockContent::kAny:
      break;
  }
  return Z_DEFAULT_COMPRESSION;
}

}  // namespace

BlockCompressor::BlockCompressor(BlockContent content, ByteWriter& out)
    : state_(std::make_unique<State>()), out_(out) {
  state_->buffer.resize(kOutputPiece);
  const char header[kHeaderSize] = {0, 0, 0, 0};  // the length, written by Finish
  if (content == BlockContent::kEnciphered) {
    state_->stored = true;
    std::memcpy(state_->buffer.data(), header, kHeaderSize);
    std::memcpy(state_->buffer.data() + kHeaderSize, kStoredZlibHeader, sizeof kStoredZlibHeader);
    state_->used = kHeaderSize + sizeof kStoredZlibHeader;
    return;
  }
  std::memset(&state_->zs, 0, sizeof state_->zs);
  // The default window and memory level, as compress() uses them.
  state_->open =
      deflateInit2(&state_->zs, LevelFor(content), Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  failed_ = !state_->open || !out_.Append(std::string_view(header, kHeaderSize));
}

BlockCompressor::~BlockCompressor() {
  if (state_->open) deflateEnd(&state_->zs);
}

// Runs deflate over the input it has been given, writing every full output buffer.
bool BlockCompressor::Run(int flush) {
  z_stream& zs = state_->zs;
  for (;;) {
    zs.next_out = reinterpret_cast<Bytef*>(state_->buffer.data());
    zs.avail_out = static_cast<uInt>(state_->buffer.size());
    const int rc = deflate(&zs, flush);
    if (rc == Z_STREAM_ERROR) return false;
    const size_t produced = state_->buffer.size() - zs.avail_out;
    if (produced > 0 && !out_.Append(std::string_view(state_->buffer.data(), produced))) {
      return false;
    }
    if (flush == Z_FINISH ? rc == Z_STREAM_END : (zs.avail_in == 0 && zs.avail_out > 0)) {
      return true;
    }
    // Z_BUF_ERROR with output room left means nothing could be done: it would loop.
    if (rc == Z_BUF_ERROR && zs.avail_out > 0) return false;
  }
}

// Frames `data` as stored blocks in the output buffer, writing the buffer whenever it fills;
// with `flush`, the last block is the final one and the checksum and every byte left are
// written. A block stays open until more data needs a new one or the stream ends, so its
// header says whether it is the last: a stream of at most 65,535 bytes is one final block,
// as zlib writes it, and an empty block ends only an empty stream.
bool BlockCompressor::Store(std::string_view data, bool flush) {
  State& st = *state_;
  st.checksum =
      StreamChecksum(st.checksum, reinterpret_cast<const unsigned char*>(data.data()), data.size());
  const auto writeBuffer = [&] {
    const bool written = out_.Append(std::string_view(st.buffer.data(), st.used));
    st.used = 0;
    return written;
  };
  const auto open = [&] {
    if (st.buffer.size() - st.used <= kStoredHeader && !writeBuffer()) return false;
    st.openAt = st.used;
    st.openLength = 0;
    st.used += kStoredHeader;
    st.blockOpen = true;
    return true;
  };
  const auto close = [&](bool last) {
    auto* at = reinterpret_cast<unsigned char*>(st.buffer.data() + st.openAt);
    const size_t n = st.openLength;
    at[0] = last ? 1 : 0;
    at[1] = static_cast<unsigned char>(n);
    at[2] = static_cast<unsigned char>(n >> 8);
    at[3] = static_cast<unsigned char>(~n);
    at[4] = static_cast<unsigned char>(~n >> 8);
    st.blockOpen = false;
  };
  while (!data.empty()) {
    if (st.blockOpen && (st.openLength == kStoredMax || st.used == st.buffer.size())) close(false);
    if (!st.blockOpen && !open()) return false;
    const size_t n =
        std::min({data.size(), kStoredMax - st.openLength, st.buffer.size() - st.used});
    std::memcpy(st.buffer.data() + st.used, data.data(), n);
    st.used += n;
    st.openLength += n;
    data.remove_prefix(n);
  }
  if (!flush) return true;
  if (!st.blockOpen && !open()) return false;
  close(true);
  if (st.buffer.size() - st.used < 4 && !writeBuffer()) return false;
  // The checksum ends the stream, most significant byte first.
  auto* at = reinterpret_cast<unsigned char*>(st.buffer.data() + st.used);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<unsigned char>(st.checksum >> (24 - 8 * i));
  st.used += 4;
  return writeBuffer();
}

bool BlockCompressor::Feed(std::string_view data, int flush) {
  if (failed_) return false;
  length_ += data.size();
  if (length_ > UINT32_MAX) {
    failed_ = true;
    return false;
  }
  if (state_->stored) {
    if (!Store(data, flush == Z_FINISH)) failed_ = true;
    return !failed_;
  }
  z_stream& zs = state_->zs;
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());  // below 2^32, as length_ is
  if (!Run(flush)) failed_ = true;
  return !failed_;
}

bool BlockCompressor::Add(std::string_view data) { return Feed(data, Z_NO_FLUSH); }

bool BlockCompressor::Finish(std::string_view last) {
  if (!Feed(last, Z_FINISH)) return false;
  unsigned char header[kHeaderSize];
  WriteLength(header, static_cast<uint32_t>(length_));
  if (!out_.Overwrite(0, std::string_view(reinterpret_cast<char*>(header), kHeaderSize))) {
    failed_ = true;
  }
  return !failed_;
}

// ---------------------------------------------------------------- RC4

Rc4::Rc4(std::string_view key) : active_(!key.empty()) {
  for (int i = 0; i < 256; ++i) s_[i] = static_cast<unsigned char>(i);
  if (!active_) return;
  const auto* k = reinterpret_cast<const unsigned char*>(key.data());
  const size_t keyLength = key.size();
  unsigned char j = 0;
  for (size_t i = 0; i < 256; ++i) {
    j = static_cast<unsigned char>(j + s_[i] + k[i % keyLength]);
    std::swap(s_[i], s_[j]);
  }
}

// RC4 is one long chain of dependent byte lookups, so what can be saved is everything around
// the chain: the state stays in a local copy (stores into the data, which may alias anything,
// would otherwise force every lookup to reload the members), the counters stay bytes (the
// compiler keeps them in registers and wraps them for free), and the keystream is gathered
// into 64-bit words, each XORed into the data with one load and one store instead of eight
// byte-wise read-modify-writes. Two words per round gave the compiler the most room to
// overlap the lookups of one step with the bookkeeping of the last. The output is the same
// byte for byte, in whatever pieces the data comes.
void Rc4::Apply(char* data, size_t length) {
  if (!active_) return;
  uint8_t s[256];
  std::memcpy(s, s_, sizeof s);
  uint8_t x = x_;
  uint8_t y = y_;
  // One step of the generator: the next keystream byte.
  auto next = [&]() -> uint64_t {
    ++x;
    const uint8_t sx = s[x];
    y = static_cast<uint8_t>(y + sx);
    const uint8_t sy = s[y];
    s[x] = sy;
    s[y] = sx;
    return s[static_cast<uint8_t>(sx + sy)];
  };
  // Eight keystream bytes, the first in the lowest byte, which is the first in memory on a
  // little-endian machine (elsewhere every byte takes the byte-wise loop).
  auto word = [&]() -> uint64_t {
    uint64_t k = next();
    for (int shift = 8; shift < 64; shift += 8) k |= next() << shift;
    return k;
  };
  auto* p = reinterpret_cast<unsigned char*>(data);
  size_t n = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; length - n >= 16; n += 16) {
      for (size_t at = n; at < n + 16; at += 8) {
        uint64_t v;
        std::memcpy(&v, p + at, sizeof v);
        v ^= word();
        std::memcpy(p + at, &v, sizeof v);
      }
    }
  }
  for (; n < length; ++n) p[n] ^= static_cast<unsigned char>(next());
  std::memcpy(s_, s, sizeof s);
  x_ = x;
  y_ = y;
}

}  // namespace vellix
