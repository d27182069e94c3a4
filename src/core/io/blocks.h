// Compressed blocks (4-byte little-endian length + one zlib stream) and the RC4 cipher, each
// whole or as a stream in pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace vellix {

class ByteWriter;

// What a compressor is given, which decides how hard it looks for repeats.
enum class BlockContent {
  // Whatever CompressBlock is given: compressed as zlib's compress() does (default level).
  kAny,
  // INI text: the level that measured best for saves (see blocks.cc).
  kText,
  // Enciphered bytes: nothing repeats, so stored blocks, which cost a copy.
  kEnciphered,
};

std::string CompressBlock(std::string_view data);
// Why a block did not decompress.
enum class BlockFault {
  kNone,
  kBadLength,  // too short for the length field, or a length the stream cannot match
  kBadStream,  // not a zlib stream, a corrupt one, or one cut short
};
// False for a block that is not a valid compressed block; `out` is then unspecified, and
// `fault` (when given) says why.
bool DecompressBlock(std::string_view block, std::string& out, BlockFault* fault = nullptr);

// A compressed block read in pieces: the length field, then the zlib stream inflated as it
// comes, never past the length the field states. Given the whole block's size up front, it
// takes and refuses exactly the blocks DecompressBlock does, with the same faults.
class BlockInflater {
 public:
  // `blockSize`: the size of the whole block (the file's), used to judge the length field.
  explicit BlockInflater(uint64_t blockSize);
  ~BlockInflater();
  BlockInflater(const BlockInflater&) = delete;
  BlockInflater& operator=(const BlockInflater&) = delete;

  // Inflates the bytes at the front of `input` into `out` (at most `room` bytes) and removes
  // what it used from `input`; the number of bytes written. It stops when `out` is full,
  // the input is used up, the stream ends or a fault is found.
  size_t Inflate(std::string_view& input, char* out, size_t room);
  // The block's bytes are all given; `total` is how many there were. A stream that has not
  // ended is then cut short.
  void EndInput(uint64_t total);
  // The stream has ended whole (more input is not looked at).
  bool ended() const { return ended_; }
  // Why the block is bad; kNone while it is not known to be.
  BlockFault fault() const { return fault_; }
  // The length the field states (0 until it is read).
  uint64_t stated() const { return stated_; }

 private:
  bool TakeHeader(std::string_view& input);
  bool LengthBelievable(uint64_t blockSize) const;
  struct State;
  std::unique_ptr<State> state_;
  unsigned char header_[6] = {};
  size_t headerUsed_ = 0;
  size_t headerFed_ = 0;  // header bytes passed on to zlib
  uint64_t blockSize_;
  uint64_t stated_ = 0;
  uint64_t produced_ = 0;
  bool ended_ = false;
  BlockFault fault_ = BlockFault::kNone;
};

// A compressed block written in pieces: the length field first (filled in by Finish, when
// the length is known) and then the zlib stream, written to `out` as it comes out. The
// stream is the same standard zlib stream any zlib reads, whatever the content kind.
class BlockCompressor {
 public:
  BlockCompressor(BlockContent content, ByteWriter& out);
  ~BlockCompressor();
  BlockCompressor(const BlockCompressor&) = delete;
  BlockCompressor& operator=(const BlockCompressor&) = delete;

  // Compresses the next piece. False when it cannot be written (`out` refused it, memory
  // ran out, or the data passed the 4 GiB - 1 bytes a length field describes): the block
  // is then unusable.
  bool Add(std::string_view data);
  // Compresses the last piece, ends the stream and writes the length field.
  bool Finish(std::string_view last = {});

 private:
  struct State;
  bool Run(int flush);
  bool Store(std::string_view data, bool flush);
  // Takes `data` into the stream with `flush`; false, and failed from then on, when the
  // length passes what a block can state or zlib fails.
  bool Feed(std::string_view data, int flush);
  std::unique_ptr<State> state_;
  ByteWriter& out_;
  uint64_t length_ = 0;
  bool failed_ = false;
};

// The RC4 stream cipher over data given in pieces: the pieces enciphered one after the other
// give what the whole enciphered at once gives. An empty key leaves the data unchanged.
class Rc4 {
 public:
  explicit Rc4(std::string_view key);
  void Apply(char* data, size_t length);

 private:
  unsigned char s_[256];
  unsigned char x_ = 0;
  unsigned char y_ = 0;
  bool active_;
};

// Enciphers or deciphers in place; an empty key leaves the data unchanged.
inline void CipherBlock(char* data, size_t length, std::string_view key) {
  Rc4(key).Apply(data, length);
}
inline void CipherBlock(std::string& data, std::string_view key) {
  CipherBlock(data.data(), data.size(), key);
}

}  // namespace vellix
