// Number texts: how numbers become item values and how item values are read as numbers.
// One place for every room; nothing here depends on the process locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vellix {

// Plain decimal, "-" for negatives, no leading zeros or plus sign.
std::string IntegerText(int64_t value);

// A float value: widened to double, printed with six decimals, then trailing "0"s and one
// trailing "." removed ("2.5", "3", "0.1", "-0.25").
std::string FloatText(float value);

// A value read as a number: a float when the text holds a "." anywhere, otherwise an
// integer clamped to the 32-bit range.
struct Number {
  bool isFloat = false;
  int32_t i = 0;
  float f = 0.0f;
  float AsFloat() const { return isFloat ? f : static_cast<float>(i); }
};
Number ReadNumber(std::string_view text);

// Leading blanks skipped, an optional sign, digits up to the first other byte; 0 when there
// are none; clamped to the 32-bit signed range.
int32_t ReadInteger(std::string_view text);

// Leading blanks skipped, the longest decimal number prefix (sign, digits, point, exponent);
// 0 when there is none. Read in double precision; callers narrow as they need.
double ReadDouble(std::string_view text);
inline float ReadFloat(std::string_view text) { return static_cast<float>(ReadDouble(text)); }

// A text of decimal digits only, as item names carry indexes ("val12", "3,4,0"): nothing when
// it is empty or holds anything else (blanks, a sign). Leading zeros are read; values stop
// growing past 2^40, far beyond any index.
std::optional<int64_t> ReadDigits(std::string_view text);

}  // namespace vellix
