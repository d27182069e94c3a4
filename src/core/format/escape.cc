// Escape sequences: one encoder and the two decoders (values and headers, item names).
//
// The encoder is defined as a series of replacing passes (backslashes, double quotes, tabs,
// the new-line text, edge spaces, equals signs), each scanning the output of the one before.
// For every new-line text that shares no byte with what the earlier passes insert or replace
// (backslash, double quote, tab, "q", "t") the passes cannot interact, and one left-to-right
// pass gives the same bytes; that is the path every ordinary new-line text ("\r\n", "|",
// "<br>") takes. Other new-line texts go through the passes one by one.
#include <algorithm>
#include <cstring>

#include "format/text.h"

namespace vellix {

NewLineFinder::NewLineFinder(std::string_view needle) : needle_(needle), fail_(needle.size(), 0) {
  for (size_t i = 1, k = 0; i < needle_.size(); ++i) {
    while (k > 0 && needle_[i] != needle_[k]) k = fail_[k - 1];
    if (needle_[i] == needle_[k]) ++k;
    fail_[i] = k;
  }
}

size_t NewLineFinder::Find(std::string_view text, size_t from) const {
  const size_t m = needle_.size();
  const size_t n = text.size();
  if (m == 0 || from >= n || n - from < m) return std::string_view::npos;
  const char first = needle_[0];
  if (m == 1) {
    const void* p = std::memchr(text.data() + from, first, n - from);
    return p ? static_cast<size_t>(static_cast<const char*>(p) - text.data())
             : std::string_view::npos;
  }
  size_t k = 0;  // length of the needle prefix matched so far
  size_t i = from;
  while (i < n) {
    if (k == 0) {
      // Nothing matched: jump to the next possible start.
      const void* p = std::memchr(text.data() + i, first, n - i);
      if (p == nullptr) return std::string_view::npos;
      i = static_cast<size_t>(static_cast<const char*>(p) - text.data()) + 1;
      k = 1;
      continue;
    }
    const char c = text[i];
    while (k > 0 && c != needle_[k]) k = fail_[k - 1];
    if (c == needle_[k]) ++k;
    ++i;
    if (k == m) return i - m;
  }
  return std::string_view::npos;
}

namespace {

constexpr std::string_view kEscapedNewLine = "\\n";

// The passes one by one, for new-line texts that take part in the other replacements.
std::string EscapeByPasses(std::string_view text, bool edgeSpaces, bool equals,
                           std::string_view newLine) {
  auto replaceByte = [](const std::string& in, char c, std::string_view with) {
    std::string out;
    out.reserve(in.size() + in.size() / 8);
    for (char x : in) {
      if (x == c) {
        out.append(with);
      } else {
        out.push_back(x);
      }
    }
    return out;
  };
  std::string s(text);
  s = replaceByte(s, '\\', "\\\\");
  s = replaceByte(s, '"', "\\q");
  s = replaceByte(s, '\t', "\\t");
  if (!newLine.empty()) {
    const NewLineFinder finder(newLine);
    std::string out;
    out.reserve(s.size());
    size_t at = 0;
    for (size_t hit; (hit = finder.Find(s, at)) != std::string::npos; at = hit + newLine.size()) {
      out.append(s, at, hit - at);
      out.append(kEscapedNewLine);
    }
    out.append(s, at, std::string::npos);
    s.swap(out);
  }
  if (edgeSpaces) {
    if (!s.empty() && s.front() == ' ') s.replace(0, 1, "\\_");
    if (!s.empty() && s.back() == ' ') s.replace(s.size() - 1, 1, "\\_");
  }
  if (equals) s = replaceByte(s, '=', "\\=");
  return s;
}

bool NewLineIsPlain(std::string_view newLine) {
  return newLine.find_first_of(std::string_view("\\\"\tqt", 5)) == std::string_view::npos;
}

// One pass, appending to out; only for plain new-line texts (see above).
void EscapeOnePass(std::string& out, std::string_view text, bool edgeSpaces, bool equals,
                   std::string_view newLine) {
  const size_t n = text.size();
  const NewLineFinder finder(newLine);
  size_t nextNewLine = finder.Find(text, 0);
  size_t i = 0;
  size_t runStart = 0;  // bytes [runStart, i) are copied unchanged
  auto flush = [&] { out.append(text.data() + runStart, i - runStart); };
  while (i < n) {
    if (i == nextNewLine) {
      flush();
      out.append(kEscapedNewLine);
      i += newLine.size();
      runStart = i;
      nextNewLine = finder.Find(text, i);
      continue;
    }
    const char c = text[i];
    const char* with = nullptr;
    switch (c) {
      case '\\':
        with = "\\\\";
        break;
      case '"':
        with = "\\q";
        break;
      case '\t':
        with = "\\t";
        break;
      case '=':
        with = equals ? "\\=" : nullptr;
        break;
      case ' ':
        // Only one space at each end is marked; the new-line pass ran before this one, so a
        // space that starts or ends a new-line text is not an edge space.
        if (edgeSpaces && (i == 0 || i == n - 1)) with = "\\_";
        break;
      default:
        break;
    }
    if (with != nullptr) {
      flush();
      out.append(with, 2);
      runStart = i + 1;
    }
    ++i;
  }
  flush();
}

}  // namespace

void AppendEscaped(std::string& out, std::string_view text, bool edgeSpaces, bool equals,
                   std::string_view newLine) {
  if (NewLineIsPlain(newLine)) {
    EscapeOnePass(out, text, edgeSpaces, equals, newLine);
  } else {
    out.append(EscapeByPasses(text, edgeSpaces, equals, newLine));
  }
}

std::string EscapeText(std::string_view text, bool active, bool edgeSpaces, bool equals,
                       std::string_view newLine) {
  if (!active) return std::string(text);
  std::string out;
  out.reserve(text.size() + 8);
  AppendEscaped(out, text, edgeSpaces, equals, newLine);
  return out;
}

namespace {

// Appends what a backslash and the byte after it stand for. Item names know three more
// sequences than values and headers: ";", "=" and "[", which keep a name from reading as a
// comment, an item line's split or a header. Any other byte after a backslash stands for
// nothing.
void AppendUnescaped(std::string& out, char marked, std::string_view newLine, bool itemName) {
  switch (marked) {
    case '"':
    case 'q':
      out.push_back('"');
      break;
    case '\\':
      out.push_back('\\');
      break;
    case '_':
      out.push_back(' ');
      break;
    case 't':
      out.push_back('\t');
      break;
    case 'n':
      out.append(newLine);
      break;
    case ';':
    case '=':
    case '[':
      if (itemName) out.push_back(marked);
      break;
    default:
      break;
  }
}

}  // namespace

void DecodeInto(std::string& out, std::string_view text, std::string_view newLine) {
  out.clear();
  const size_t n = text.size();
  size_t runStart = 0;
  for (size_t i = 0; i < n; ++i) {
    if (text[i] != '\\') continue;
    out.append(text.data() + runStart, i - runStart);
    ++i;  // the marked byte; a backslash at the very end marks nothing and is dropped
    if (i < n) AppendUnescaped(out, text[i], newLine, false);
    runStart = i + 1;
  }
  if (runStart < n) out.append(text.data() + runStart, n - runStart);
}

std::string UnescapeText(std::string_view text, Decode when, bool escapeValues,
                         std::string_view newLine) {
  if (when == Decode::kNever || (when == Decode::kWhenValuesEscaped && !escapeValues)) {
    return std::string(text);
  }
  std::string out;
  out.reserve(text.size());
  DecodeInto(out, text, newLine);
  return out;
}

bool SplitItemLine(std::string_view line, bool escapeItemNames, std::string_view newLine,
                   std::string& scratch, ItemLineParts& parts) {
  if (!escapeItemNames) {
    // Names are short: the "=" is looked for byte by byte first, and only a longer name
    // pays for the call that looks at many bytes at a time.
    constexpr size_t kNear = 16;
    size_t at = 0;
    const size_t near = std::min(line.size(), kNear);
    while (at < near && line[at] != '=') ++at;
    if (at == near) {
      if (near == line.size()) return false;
      const void* eq = std::memchr(line.data() + near, '=', line.size() - near);
      if (eq == nullptr) return false;
      at = static_cast<size_t>(static_cast<const char*>(eq) - line.data());
    }
    size_t b = 0;
    size_t e = at;
    while (b < e && IsBlank(line[b])) ++b;
    while (e > b && IsBlank(line[e - 1])) --e;
    parts.name = line.substr(b, e - b);
    parts.value = line.substr(at + 1);
    return true;
  }
  scratch.clear();
  // keep: length of the name up to its last byte that is not a literal blank. Blanks at the
  // start need no such care: the line is trimmed, so only escaped ones can be there.
  size_t keep = 0;
  const size_t n = line.size();
  for (size_t i = 0; i < n; ++i) {
    const char c = line[i];
    if (c == '=') {
      scratch.resize(keep);
      parts.name = scratch;
      parts.value = line.substr(i + 1);
      return true;
    }
    if (c != '\\') {
      scratch.push_back(c);
      if (!IsBlank(c)) keep = scratch.size();
      continue;
    }
    if (++i >= n) break;  // a final backslash marks nothing: no "=" follows either
    AppendUnescaped(scratch, line[i], newLine, true);
    keep = scratch.size();
  }
  return false;
}

}  // namespace vellix
