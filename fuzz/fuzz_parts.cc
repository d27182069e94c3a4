// Fuzz target for item parts: reading and replacing one comma-separated part of a value.
//
// Input: a byte choosing the index (below 64, or, with bit 7, one of a few huge ones), then
// the value and the new part separated by the first zero byte.
//
// Invariants checked besides "no crash": after setting part i to a text without commas,
// reading part i gives that text back, the parts before it are unchanged, and an index past
// the bound changes nothing.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "exchange/parts.h"
#include "store/store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static const int64_t kHuge[] = {-1, vellix::kMaxItemParts, 2000000000,
                                  std::numeric_limits<int64_t>::max(),
                                  std::numeric_limits<int64_t>::min()};
  const int64_t index = (data[0] & 0x80) ? kHuge[(data[0] & 0x7F) % 5] : (data[0] & 0x3F);
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t zero = rest.find('\0');
  const std::string value = rest.substr(0, zero);
  const std::string text = zero == std::string::npos ? std::string() : rest.substr(zero + 1);

  vellix::Store store;
  store.settings().autoSave = false;
  store.SetItem("g", "v", value);
  const std::vector<std::string> before = vellix::SplitList(value);
  vellix::SetItemPart(store, "g", "v", index, text);
  const std::string after = store.GetItem("g", "v", "");
  if (index < 0 || index >= vellix::kMaxItemParts) {
    if (after != value) std::abort();
    return 0;
  }
  if (text.find(',') == std::string::npos &&
      vellix::GetItemPart(store, "g", "v", index, "\x01") != text)
    std::abort();
  for (size_t i = 0; static_cast<int64_t>(i) < index && i < 4; ++i) {
    // A part that was missing is now an empty one.
    const std::string expected = i < before.size() ? before[i] : std::string();
    if (vellix::GetItemPart(store, "g", "v", static_cast<int64_t>(i), "\x01") != expected)
      std::abort();
  }
  return 0;
}
