// Escapes: decoding and line splitting take any bytes, and what the encoder writes decodes
// back to the text it was given.
//
// Input: byte 0 holds the switches (edge spaces, equals, name escapes for the split), byte 1 the
// length of a new-line text (0 to 4 bytes) whose bytes follow; the rest is the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "format/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool edgeSpaces = data[0] & 1;
  const bool escapeNames = data[0] & 4;
  const size_t nlSize = data[1] % 5;
  if (size < 2 + nlSize) return 0;
  const std::string_view newLine(reinterpret_cast<const char*>(data) + 2, nlSize);
  const std::string_view text(reinterpret_cast<const char*>(data) + 2 + nlSize, size - 2 - nlSize);

  // Arbitrary bytes as an escaped text and as an item line.
  (void)vellix::UnescapeText(text, vellix::Decode::kAlways, false, newLine);
  std::string scratch;
  vellix::ItemLineParts parts;
  if (vellix::SplitItemLine(text, escapeNames, newLine, scratch, parts)) {
    // The pieces are views into the line or into the scratch buffer, never past them.
    const auto inside = [&](std::string_view piece) {
      const auto within = [&](std::string_view whole) {
        return piece.empty() || (piece.data() >= whole.data() &&
                                 piece.data() + piece.size() <= whole.data() + whole.size());
      };
      return within(text) || within(scratch);
    };
    if (!inside(parts.name) || !inside(parts.value)) std::abort();
  }

  // Round trips. A new-line text made of the bytes the encoder itself writes ("\\", "q", "t",
  // a double quote or a tab...) can collide with what the other passes insert; those read
  // back as the writer's passes define, so only the decoding is exercised for them.
  const bool plain = !newLine.empty() && newLine.find_first_of(std::string_view(
                                             "\\\"\tqt_=n;[", 10)) == std::string_view::npos;
  // A value: the value decoder takes back everything but "\=", which only names use.
  const std::string value = vellix::EscapeText(text, true, edgeSpaces, false, newLine);
  if (plain && vellix::UnescapeText(value, vellix::Decode::kAlways, false, newLine) != text)
    std::abort();
  // An item name as the writer writes it: edge spaces and "=" escaped, a leading ";" or "["
  // marked, then split back out of its line.
  std::string line = vellix::EscapeText(text, true, true, true, newLine);
  if (!line.empty() && (line[0] == ';' || line[0] == '[')) line.insert(0, 1, '\\');
  line += "=v";
  if (plain) {
    if (!vellix::SplitItemLine(line, true, newLine, scratch, parts)) std::abort();
    if (parts.name != text || parts.value != "v") std::abort();
  }
  return 0;
}
