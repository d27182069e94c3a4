#include "token.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "printing.h"

namespace vxsim {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsNumberSpelling(std::string_view s) {
  size_t i = 0;
  if (i < s.size() && s[i] == '-') ++i;
  size_t digits = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  if (i == digits) return false;
  if (i == s.size()) return true;
  if (s[i] != '.') return false;
  ++i;
  size_t fraction = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  return i > fraction && i == s.size();
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A decimal integer in [lo, hi], with an optional leading '-'.
std::optional<long> ParseBoundedInt(std::string_view s, long lo, long hi) {
  long value = 0;
  const char* first = s.data();
  const char* last = s.data() + s.size();
  auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end != last || value < lo || value > hi) return std::nullopt;
  return value;
}

std::string UnquoteText(std::string_view raw) {
  // raw starts with '"'.
  std::string out;
  size_t i = 1;
  while (true) {
    if (i >= raw.size()) throw SyntaxError("unterminated text " + std::string(raw));
    char c = raw[i];
    if (c == '"') break;
    if (c != '\\') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 >= raw.size()) throw SyntaxError("unterminated text " + std::string(raw));
    char e = raw[i + 1];
    i += 2;
    switch (e) {
      case '\\':
        out += '\\';
        break;
      case '"':
        out += '"';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case '0':
        out += '\0';
        break;
      case 'x': {
        int hi = i < raw.size() ? HexDigit(raw[i]) : -1;
        int lo = i + 1 < raw.size() ? HexDigit(raw[i + 1]) : -1;
        if (hi < 0 || lo < 0) throw SyntaxError("\\x needs two hex digits in " + std::string(raw));
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default:
        throw SyntaxError(std::string("unknown escape \\") + e + " in " + std::string(raw));
    }
  }
  if (i + 1 != raw.size()) {
    throw SyntaxError("characters after the closing quote in " + std::string(raw));
  }
  return out;
}

}  // namespace

int32_t Token::PackedPosition() const {
  uint32_t packed =
      (static_cast<uint32_t>(static_cast<uint16_t>(x)) << 16) | static_cast<uint16_t>(y);
  return static_cast<int32_t>(packed);
}

std::vector<std::string> SplitLine(std::string_view line) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (true) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    // A '#' that begins a token begins a comment to the end of the line; inside a word
    // ("a#b") or a quoted text it is an ordinary character.
    if (i >= line.size() || line[i] == '#') break;
    size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) {
      if (line[i] != '"') {
        ++i;
        continue;
      }
      // A quoted section: blanks inside belong to the token.
      ++i;
      while (i < line.size() && line[i] != '"') {
        i += (line[i] == '\\' && i + 1 < line.size()) ? 2 : 1;
      }
      if (i >= line.size()) {
        throw SyntaxError("unterminated text " + std::string(line.substr(start)));
      }
      ++i;
    }
    tokens.emplace_back(line.substr(start, i - start));
  }
  return tokens;
}

Token ParseToken(std::string_view raw) {
  Token t;
  t.spelling = std::string(raw);
  t.text = t.spelling;
  if (!raw.empty() && raw[0] == '"') {
    t.kind = TokenKind::Text;
    t.text = UnquoteText(raw);
    return t;
  }
  if (raw.find('"') != std::string_view::npos) {
    throw SyntaxError("stray double quote in " + std::string(raw));
  }
  if (!raw.empty() && raw[0] == '@') {
    if (raw.size() == 1) throw SyntaxError("object reference without a name");
    t.kind = TokenKind::Object;
    t.text = std::string(raw.substr(1));
    return t;
  }
  if (!raw.empty() && raw[0] == '[') {
    if (raw.back() != ']' || raw.size() < 2) {
      throw SyntaxError("malformed custom block " + std::string(raw));
    }
    t.kind = TokenKind::Block;
    std::string_view inner = raw.substr(1, raw.size() - 2);
    if (inner.empty()) return t;
    size_t pos = 0;
    while (true) {
      size_t comma = inner.find(',', pos);
      std::string_view item =
          inner.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
      auto value = ParseBoundedInt(item, -128, 255);
      if (!value) {
        throw SyntaxError("custom block values are bytes from -128 to 255: " + std::string(raw));
      }
      t.block.push_back(static_cast<int8_t>(static_cast<uint8_t>(*value & 0xFF)));
      if (comma == std::string_view::npos) break;
      pos = comma + 1;
    }
    return t;
  }
  if (!raw.empty() && raw[0] == '<') {
    size_t comma = raw.find(',');
    if (raw.back() != '>' || comma == std::string_view::npos || raw.size() < 2) {
      throw SyntaxError("malformed position " + std::string(raw));
    }
    auto x = ParseBoundedInt(raw.substr(1, comma - 1), -32768, 32767);
    auto y = ParseBoundedInt(raw.substr(comma + 1, raw.size() - comma - 2), -32768, 32767);
    if (!x || !y) {
      throw SyntaxError("a position is two numbers from -32768 to 32767: " + std::string(raw));
    }
    t.kind = TokenKind::Position;
    t.x = static_cast<int16_t>(*x);
    t.y = static_cast<int16_t>(*y);
    return t;
  }
  t.kind = IsNumberSpelling(raw) ? TokenKind::Number : TokenKind::Word;
  return t;
}

std::optional<Option> ParseOption(std::string_view raw) {
  size_t eq = raw.find('=');
  if (eq == std::string_view::npos || eq == 0) return std::nullopt;
  for (size_t i = 0; i < eq; ++i) {
    char c = raw[i];
    bool ok = IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    if (!ok) return std::nullopt;
  }
  return Option{std::string(raw.substr(0, eq)), ParseToken(raw.substr(eq + 1))};
}

std::optional<int32_t> NumberAsInt(const Token& number) {
  const std::string& s = number.spelling;
  if (s.find('.') == std::string::npos) {
    auto v = ParseBoundedInt(s, std::numeric_limits<int32_t>::min(),
                             std::numeric_limits<int32_t>::max());
    if (!v) return std::nullopt;
    return static_cast<int32_t>(*v);
  }
  double d = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
  (void)end;
  if (ec != std::errc()) return std::nullopt;
  d = std::trunc(d);
  if (d < -2147483648.0 || d > 2147483647.0) return std::nullopt;
  return static_cast<int32_t>(d);
}

float NumberAsFloat(const Token& number) {
  const std::string& s = number.spelling;
  float f = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), f);
  (void)end;
  // Beyond the float range from_chars reports an error and leaves f alone; strtod's
  // overflow to infinity and underflow to zero are what a host's conversion gives.
  if (ec != std::errc()) f = std::strtof(s.c_str(), nullptr);
  return f;
}

std::string DescribeToken(const Token& token) {
  switch (token.kind) {
    case TokenKind::Text:
      return "text " + PrintedText(token.text, "");
    case TokenKind::Number:
      return "number " + token.spelling;
    case TokenKind::Object:
      return "object " + token.spelling;
    case TokenKind::Block:
      return "custom block " + token.spelling;
    case TokenKind::Position:
      return "position " + token.spelling;
    case TokenKind::Word:
      return "word " + token.spelling;
  }
  return token.spelling;
}

std::string NameToken(const std::string& raw) {
  Token t = ParseToken(raw);
  if (t.kind != TokenKind::Word && t.kind != TokenKind::Text && t.kind != TokenKind::Number) {
    throw SyntaxError("expected a name, got " + DescribeToken(t));
  }
  if (t.text.empty()) throw SyntaxError("empty name");
  return t.text;
}

std::string TextToken(const std::string& raw) {
  Token t = ParseToken(raw);
  if (!t.IsTextual()) throw SyntaxError("expected a text, got " + DescribeToken(t));
  return t.text;
}

long IntegerToken(const Token& t, long lo, long hi, const std::string& what) {
  if (t.kind == TokenKind::Number && t.spelling.find('.') == std::string::npos) {
    auto v = NumberAsInt(t);
    if (v && *v >= lo && *v <= hi) return *v;
  }
  throw SyntaxError(what + " must be a whole number from " + std::to_string(lo) + " to " +
                    std::to_string(hi) + ", got " + t.spelling);
}

Option OptionToken(const std::string& raw) {
  auto option = ParseOption(raw);
  if (!option) throw SyntaxError("expected KEY=VALUE, got " + raw);
  return *option;
}

bool FlagOption(const Option& o) { return IntegerToken(o.value, 0, 1, o.key) != 0; }

void ExpectCount(const std::vector<std::string>& raw, size_t min, size_t max, const char* usage) {
  size_t args = raw.size() - 1;
  if (args < min || args > max) throw SyntaxError(std::string("usage: ") + usage);
}

}  // namespace vxsim
