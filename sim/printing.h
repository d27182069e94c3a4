// Printed forms of the scenario output: texts, floats and hex dumps.
#pragma once

#include <string>
#include <string_view>

namespace vxsim {

// `bytes` between double quotes: backslash, double quote, CR, LF and tab as \\ \" \r \n \t,
// every other byte below 32 or above 126 as \xHH (lowercase). Every occurrence of
// `workFolder` (when not empty) is written $W, so outputs do not depend on where they ran.
std::string PrintedText(std::string_view bytes, std::string_view workFolder);

// The shortest decimal text that reads back as the same single-precision value; "inf",
// "-inf" and "nan" for the special values.
std::string FormatFloat(float value);

// The first `limit` bytes as two lowercase hex digits each, each preceded by a space.
std::string HexBytes(std::string_view bytes, size_t limit);

}  // namespace vxsim
