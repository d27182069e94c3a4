// Random INI text read under random format settings, then written back.
//
// Input: byte 0 holds the switches, byte 1 the repeat modes and case sensitivity, byte 2 the
// length of a custom new-line text (0: standard) whose bytes follow; the rest is the text.
// Besides the sanitizers' checks, documents read under the plainest settings must survive a
// second write and read unchanged: what the writer makes, the reader takes back as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "format/text.h"
#include "store/store.h"

namespace {

void Configure(vellix::Store& s, const uint8_t* data, std::string_view newLine) {
  s.settings().autoSave = false;
  s.settings().escapeGroups = data[0] & 1;
  s.settings().escapeItemNames = data[0] & 2;
  s.settings().escapeValues = data[0] & 4;
  s.settings().alwaysQuote = data[0] & 8;
  s.settings().subgroups = data[0] & 16;
  s.settings().allowEmptyGroups = data[0] & 32;
  s.settings().saveRepeatedAsOriginal = data[0] & 64;
  s.settings().groupRepeatMode = data[1] % 5;  // 4: a value outside the known modes
  s.settings().itemRepeatMode = (data[1] >> 3) % 4;
  s.SetCaseSensitive(data[1] & 128);
  s.settings().SetNewLine(std::string(newLine));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t nlSize = data[2] % 5;
  if (size < 3 + nlSize) return 0;
  const std::string_view newLine(reinterpret_cast<const char*>(data) + 3, nlSize);
  const std::string_view text(reinterpret_cast<const char*>(data) + 3 + nlSize, size - 3 - nlSize);

  vellix::Store first;
  Configure(first, data, newLine);
  vellix::ParseText(first, text, {.clearFirst = true, .notifyAfter = true});
  const std::string written = vellix::WriteText(first);

  // Subgroup parents that are not groups come back as empty groups when those are allowed.
  const bool plain = (!first.settings().subgroups || !first.settings().allowEmptyGroups) &&
                     !first.settings().saveRepeatedAsOriginal &&
                     first.settings().groupRepeatMode == 3 &&
                     first.settings().itemRepeatMode == 1 && first.NewLineText() == "\r\n";
  vellix::Store second;
  Configure(second, data, newLine);
  vellix::ParseText(second, written);
  const std::string again = vellix::WriteText(second);
  if (plain && again != written) std::abort();
  return 0;
}
