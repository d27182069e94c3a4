// Fuzz target for what a file can feed the loader: the compressed block, the cipher and the
// text parser, in the order a load runs them, with the settings drawn from the input.
//
// Invariants checked besides "no crash": a block that decompresses compresses back to a
// block giving the same bytes, and the cipher undoes itself.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "format/text.h"
#include "io/blocks.h"
#include "store/store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t options = data[0];
  const size_t keyLength = data[1] % 8;
  if (size < 2 + keyLength) return 0;
  const std::string key(reinterpret_cast<const char*>(data + 2), keyLength);
  std::string bytes(reinterpret_cast<const char*>(data + 2 + keyLength), size - 2 - keyLength);

  if (options & 1) {
    std::string plain;
    if (vellix::DecompressBlock(bytes, plain)) {
      std::string again;
      if (!vellix::DecompressBlock(vellix::CompressBlock(plain), again) || again != plain) {
        std::abort();
      }
      bytes.swap(plain);
    }
  }
  if (options & 2) {
    const std::string before = bytes;
    vellix::CipherBlock(bytes, key);
    std::string twice = bytes;
    vellix::CipherBlock(twice, key);
    if (twice != before) std::abort();
  }

  vellix::Store store;
  store.settings().autoSave = false;
  store.settings().escapeValues = options & 4;
  store.settings().escapeItemNames = options & 8;
  store.settings().escapeGroups = options & 16;
  store.settings().subgroups = options & 32;
  store.settings().groupRepeatMode = (options >> 6) & 3;
  store.settings().itemRepeatMode = (options >> 6) % 3;
  if (options & 64) store.settings().SetNewLine("|");
  const size_t textLength = std::strlen(bytes.c_str());
  vellix::ParseText(store, std::string_view(bytes.data(), textLength), false, false);
  return 0;
}
