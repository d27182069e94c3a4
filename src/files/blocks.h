// Compressed blocks (4-byte little-endian length + one zlib stream) and the RC4 cipher.
#pragma once

#include <string>
#include <string_view>

namespace vellix {

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
// Enciphers or deciphers in place; an empty key leaves the data unchanged.
void CipherBlock(char* data, size_t length, std::string_view key);
inline void CipherBlock(std::string& data, std::string_view key) {
  CipherBlock(data.data(), data.size(), key);
}

}  // namespace vellix
