// The INI text form: escapes, the parser and the writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellix {

class Store;

// The blanks of the INI text: space and tab, never other white space.
inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
// The text without the blanks at its ends.
inline std::string_view TrimBlanks(std::string_view s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Encodes a text (escapes): with active off the text comes back unchanged. `newLine` is
// the store's new-line text, encoded as "\n".
std::string EscapeText(std::string_view text, bool active, bool edgeSpaces, bool equals,
                       std::string_view newLine);
// The same, appended to `out` (the writer's form: no temporary per name or value).
void AppendEscaped(std::string& out, std::string_view text, bool edgeSpaces, bool equals,
                   std::string_view newLine);

// When UnescapeText decodes.
enum class Decode {
  kNever,              // the text comes back as it is
  kWhenValuesEscaped,  // only when `escapeValues` is set
  kAlways,
};
// Decodes a text as `when` says. `newLine` is what "\n" decodes to.
std::string UnescapeText(std::string_view text, Decode when, bool escapeValues,
                         std::string_view newLine);
// Always decodes, replacing the content of `out`.
void DecodeInto(std::string& out, std::string_view text, std::string_view newLine);

// Splits one trimmed item line into name and value, without copies; false when no
// splitting "=" is found. Without name escapes the name is the text before the first "="
// and the value all after it, and both views point into `line`; with them the name is
// decoded while it is read, an escaped "=" does not split, and the decoded name is built in
// `scratch` with `name` pointing there. Either way the name comes back trimmed the parser's
// way: blanks written literally at its ends are dropped, while blanks that were escaped
// ("\_", "\t") belong to the name and stay. The value is neither decoded nor trimmed.
struct ItemLineParts {
  std::string_view name;
  std::string_view value;  // undecoded, untrimmed
};
bool SplitItemLine(std::string_view line, bool escapeItemNames, std::string_view newLine,
                   std::string& scratch, ItemLineParts& parts);

// Finds a new-line text in a longer text, left to right and without overlaps, in time
// linear in the text whatever the new-line text is (no rescans of a partial match).
class NewLineFinder {
 public:
  explicit NewLineFinder(std::string_view needle);
  // Position of the first occurrence at or after `from`, or npos.
  size_t Find(std::string_view text, size_t from) const;
  size_t size() const { return needle_.size(); }

 private:
  std::string needle_;
  std::vector<size_t> fail_;  // longest proper border of each prefix (KMP table)
};

// What the reader did with a line it could not take in as it stands. The object's own files
// never hold one; files written by hand or by other programs often do, and a document read
// from them and written back would lose or move what such a line said.
enum class LineLoss {
  kNone,
  kNotRead,        // neither a group header, an item, a comment nor blank: not read
  kContinuation,   // indented deeper than the item above (a continued value): read apart
  kBadHeader,      // begins with "[" but does not end with "]": its items join the group above
  kItemReplaced,   // repeats an item: the earlier value is replaced (item repeat "last")
  kItemDropped,    // repeats an item: this value is dropped (item repeat "first")
  kGroupMerged,    // repeats a group header: its items join the earlier group ("merge")
  kGroupReplaced,  // repeats a group header: the earlier group is dropped ("last")
  kGroupDropped,   // repeats a group header: its items are dropped ("first")
};

// The first such line of a text.
struct ParseLoss {
  size_t line = 0;  // its number, from 1; 0 when no line was lost
  LineLoss what = LineLoss::kNone;
  std::string text;   // the line itself, trimmed and cut to a readable length
  std::string group;  // the group it concerns (repeats, and where a bad header's items go)
  std::string item;   // the item it concerns (repeated items)
};

// The loss in words: line 7 repeats item "a" of group "g": its earlier value is
// replaced. Control bytes of the line are shown as escapes ("\r").
std::string DescribeLoss(const ParseLoss& loss);

// How a text's lines end, for a writer that keeps the form of a file it did not write.
enum class LineEnd { kNone, kCrLf, kLf, kCr };
struct TextShape {
  LineEnd lineEnd = LineEnd::kNone;  // the first line end of the text (kNone: a single line)
  bool finalLineEnd = false;         // the text ends with a line end
};

// What a parse did.
struct ParseResult {
  // A line was longer than an item can hold (ItemLengthLimit): the text was refused whole,
  // and the store was not touched.
  bool refused = false;
  // Group headers and item lines read; 0 when the text held nothing but blanks, comments
  // and lines that are neither.
  size_t entries = 0;
  // The first line that was not taken in as it stands.
  ParseLoss loss;
  TextShape shape;
};

// How ParseText treats the store around the read.
struct ParseOptions {
  // The store is emptied first (once the text is known to fit, so a refused text leaves
  // it as it was).
  bool clearFirst = false;
  // The store's listeners are told of the change once, after the whole text is in.
  bool notifyAfter = false;
};

// Reads INI text into the store under its format settings.
//
// The text ends at its first zero byte, as every text from the host or from a file does, so
// the same bytes parse the same whichever way they arrive; nothing after a zero byte is
// read. The parse is linear in the size of the text (plus the store's own costs per group
// and item). The store is `loading` throughout, so no auto save writes a partial document.
ParseResult ParseText(Store& store, std::string_view text, ParseOptions options = {});

// Hands out a text in pieces, in order, for ParseTextFrom.
class TextSource {
 public:
  // The next piece (it stays valid until the next call); false at the end. A source that
  // fails throws, and the parse then takes back all it read.
  virtual bool Next(std::string_view& piece) = 0;
  // The text's whole length as far as known beforehand (0 when not): a hint only.
  virtual uint64_t ExpectedBytes() const { return 0; }

 protected:
  ~TextSource() = default;
};

// ParseText over a text that comes in pieces, so that it is never whole in memory: the
// store ends up exactly as ParseText of the pieces joined leaves it. The whole source is
// drawn, also past a zero byte (whose rest is not read). A line longer than an item can hold
// is found only when it comes: everything read before it is then taken back, and the result
// is refused as for ParseText.
ParseResult ParseTextFrom(Store& store, TextSource& source, ParseOptions options = {});

// The whole store as INI text, without a trailing new line.
std::string WriteText(const Store& store);
// The same into `out`, whose content is replaced and whose memory is reused.
void WriteText(const Store& store, std::string& out);

// Receives the text in pieces, in order. A piece may be changed in place (a cipher works on
// it); it is gone once Take returns. False stops the text: nothing more is written.
class TextSink {
 public:
  virtual bool Take(char* data, size_t size) = 0;

 protected:
  ~TextSink() = default;
};

// The same text handed to `sink` in pieces of about a hundred kilobytes, so that a save
// never holds the whole text. Their concatenation is exactly WriteText's text. False when
// the sink stopped it.
bool WriteTextTo(const Store& store, TextSink& sink);

}  // namespace vellix
