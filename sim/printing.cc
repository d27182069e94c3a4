#include "printing.h"

#include <charconv>
#include <cmath>

namespace vxsim {
namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendEscaped(std::string& out, std::string_view bytes) {
  for (char ch : bytes) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 32 || c > 126) {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
}

}  // namespace

std::string PrintedText(std::string_view bytes, std::string_view workFolder) {
  std::string out = "\"";
  // The root folder would turn every slash into $W: it is left as it is.
  if (workFolder.empty() || workFolder == "/") {
    AppendEscaped(out, bytes);
  } else {
    size_t pos = 0;
    while (true) {
      size_t hit = bytes.find(workFolder, pos);
      if (hit == std::string_view::npos) break;
      AppendEscaped(out, bytes.substr(pos, hit - pos));
      out += "$W";
      pos = hit + workFolder.size();
    }
    AppendEscaped(out, bytes.substr(pos));
  }
  out += '"';
  return out;
}

std::string FormatFloat(float value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec != std::errc()) return "nan";
  return std::string(buffer, end);
}

std::string HexBytes(std::string_view bytes, size_t limit) {
  std::string out;
  size_t n = bytes.size() < limit ? bytes.size() : limit;
  out.reserve(n * 3);
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    out += ' ';
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

}  // namespace vxsim
