#include "wide.h"

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace vxsim {
namespace {

constexpr const char* kWideCode =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// Converts `in` from one code to another; at an input sequence the conversion refuses,
// `refused` is called with the rest of the input and returns how many bytes it took (after
// appending what stands for them to `out`).
template <class Refused>
std::string Convert(const char* to, const char* from, std::string_view in, Refused refused) {
  std::string out;
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  out.resize(in.size() * 4 + 16);
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  size_t used = 0;
  while (srcLeft > 0) {
    char* dst = out.data() + used;
    size_t dstLeft = out.size() - used;
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    used = out.size() - dstLeft;
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    // EILSEQ or EINVAL (a sequence cut at the end): the caller decides.
    out.resize(used);
    const size_t took = refused(std::string_view(src, srcLeft), out);
    used = out.size();
    out.resize(used + srcLeft * 4 + 16);
    src += took;
    srcLeft -= took;
  }
  iconv_close(cd);
  out.resize(used);
  return out;
}

void AppendUnit(std::string& out, char16_t unit) {
  char bytes[2];
  std::memcpy(bytes, &unit, 2);
  out.append(bytes, 2);
}

}  // namespace

std::u16string WidenUtf8(std::string_view utf8) {
  const std::string bytes =
      Convert(kWideCode, "UTF-8", utf8, [](std::string_view rest, std::string& out) {
        AppendUnit(out, static_cast<char16_t>(static_cast<unsigned char>(rest[0])));
        return size_t{1};
      });
  std::u16string wide(bytes.size() / 2, u'\0');
  std::memcpy(wide.data(), bytes.data(), wide.size() * 2);
  return wide;
}

std::string NarrowToUtf8(std::u16string_view wide) {
  const std::string_view bytes(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
  return Convert("UTF-8", kWideCode, bytes, [](std::string_view rest, std::string& out) {
    out += "\xEF\xBF\xBD";
    return std::min<size_t>(2, rest.size());
  });
}

}  // namespace vxsim
