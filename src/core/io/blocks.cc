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
// are written as stored blocks (level 0), the same size for a copy's cost. Plain INI text
// compresses well; for saves it uses level 4, which measured within a few percent of the
// default level's size on INI texts at three to five times its speed (levels 1 and 2 were
// faster still but 10 to 40% larger). Either way the stream is standard zlib.
#include "io/blocks.h"

#include <zlib.h>

#include <memory>
#include <new>
#include <utility>

#include "io/file_io.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>

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
  std::string buffer;  // compressed bytes waiting to be written
};

namespace {

// The output gathered before it is written: a few large writes rather than many small ones.
constexpr size_t kOutputPiece = size_t{128} << 10;

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
  std::memset(&state_->zs, 0, sizeof state_->zs);
  // The default window and memory level, as compress() uses them.
  state_->open =
      deflateInit2(&state_->zs, LevelFor(content), Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  state_->buffer.resize(kOutputPiece);
  const char header[kHeaderSize] = {0, 0, 0, 0};  // the length, written by Finish
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

bool BlockCompressor::Feed(std::string_view data, int flush) {
  if (failed_) return false;
  length_ += data.size();
  if (length_ > UINT32_MAX) {
    failed_ = true;
    return false;
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
