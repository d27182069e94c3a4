#include "store/number_text.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace vellix {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

size_t SkipBlanks(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  return i;
}

// Passes over one "+" or "-" at i; `negative` tells which it was.
size_t SkipSign(std::string_view text, size_t i, bool& negative) {
  negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  return i;
}

}  // namespace

std::string IntegerText(int64_t value) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

std::string FloatText(float value) {
  const double wide = static_cast<double>(value);
  if (std::isnan(wide)) return std::signbit(wide) ? "-nan" : "nan";
  if (std::isinf(wide)) return wide < 0 ? "-inf" : "inf";
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, wide, std::chars_format::fixed, 6);
  std::string text(buf, r.ptr);
  while (!text.empty() && text.back() == '0') text.pop_back();
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

int32_t ReadInteger(std::string_view text) {
  bool negative = false;
  size_t i = SkipSign(text, SkipBlanks(text), negative);
  int64_t value = 0;
  constexpr int64_t kLimit = int64_t{1} << 32;  // beyond either end of the 32-bit range
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value < kLimit) value = value * 10 + (text[i] - '0');
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

std::optional<int64_t> ReadDigits(std::string_view text) {
  if (text.empty()) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    if (value < (int64_t{1} << 40)) value = value * 10 + (c - '0');
  }
  return value;
}

double ReadDouble(std::string_view text) {
  bool negative = false;
  size_t i = SkipSign(text, SkipBlanks(text), negative);
  // Only decimal digits or a point may start the number: no "inf", "nan" or hex forms.
  if (i >= text.size() || !((text[i] >= '0' && text[i] <= '9') || text[i] == '.')) return 0.0;
  double value = 0.0;
  auto r = std::from_chars(text.data() + i, text.data() + text.size(), value,
                           std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    // from_chars leaves the value alone on overflow or underflow; strtod's answers are
    // the ones users expect: infinity for too large, zero for too small.
    value = 0.0;
    for (size_t k = i; k < text.size() && text[k] != 'e' && text[k] != 'E'; ++k) {
      if (text[k] >= '1' && text[k] <= '9') {
        size_t e = text.find_first_of("eE", i);
        value = (e != std::string_view::npos && e + 1 < text.size() && text[e + 1] == '-')
                    ? 0.0
                    : std::numeric_limits<double>::infinity();
        break;
      }
    }
  } else if (r.ec != std::errc()) {
    return 0.0;
  }
  return negative ? -value : value;
}

Number ReadNumber(std::string_view text) {
  Number n;
  if (text.find('.') != std::string_view::npos) {
    n.isFloat = true;
    n.f = static_cast<float>(ReadDouble(text));
  } else {
    n.i = ReadInteger(text);
  }
  return n;
}

}  // namespace vellix
