// Command-line access to the block functions, so that other implementations of zlib and RC4
// can be checked against ours from a script.
//
//   vellix_block_tool compress IN OUT      IN's bytes as a compressed block
//   vellix_block_tool decompress IN OUT    exit status 1 when IN is not a valid block
//   vellix_block_tool cipher KEY IN OUT    RC4 with the bytes of KEY
//   vellix_block_tool save KEY IN OUT      IN's text read into a document and saved to OUT
//                                          compressed, and enciphered unless KEY is empty
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "files/files.h"
#include "format/text.h"
#include "io/blocks.h"
#include "store/store.h"

namespace {

bool Read(const char* path, std::string& out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::ostringstream s;
  s << f.rdbuf();
  out = s.str();
  return true;
}

bool Write(const char* path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}

int Usage() {
  std::fputs("usage: vellix_block_tool compress|decompress IN OUT | cipher|save KEY IN OUT\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Usage();
  const std::string command = argv[1];
  std::string input;
  if (command == "compress" && argc == 4) {
    if (!Read(argv[2], input)) return 2;
    return Write(argv[3], vellix::CompressBlock(input)) ? 0 : 2;
  }
  if (command == "decompress" && argc == 4) {
    if (!Read(argv[2], input)) return 2;
    std::string output;
    if (!vellix::DecompressBlock(input, output)) return 1;
    return Write(argv[3], output) ? 0 : 2;
  }
  if (command == "cipher" && argc == 5) {
    if (!Read(argv[3], input)) return 2;
    vellix::CipherBlock(input, argv[2]);
    return Write(argv[4], input) ? 0 : 2;
  }
  if (command == "save" && argc == 5) {
    if (!Read(argv[3], input)) return 2;
    vellix::Store store;
    store.settings().autoSave = false;
    vellix::ParseText(store, input, false, false);
    const std::string key = argv[2];
    return vellix::SaveFile(store, argv[4], true, !key.empty(), key) ? 0 : 2;
  }
  return Usage();
}
