// Compressed blocks (4-byte little-endian length + one zlib stream) and the RC4 cipher.
#pragma once

#include <string>
#include <string_view>

namespace vellix {

std::string CompressBlock(std::string_view data);
// False for a block that is not a valid compressed block; `out` is then unspecified.
bool DecompressBlock(std::string_view block, std::string& out);
// Enciphers or deciphers in place; an empty key leaves the data unchanged.
void CipherBlock(char* data, size_t length, std::string_view key);
inline void CipherBlock(std::string& data, std::string_view key) {
  CipherBlock(data.data(), data.size(), key);
}

}  // namespace vellix
