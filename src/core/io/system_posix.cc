// The POSIX side of system.h.
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>

#include "io/system.h"

namespace vellix {

uint32_t TickCount() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint32_t>(ms.count());
}

std::string CurrentDirectory() {
  std::string cwd(4096, '\0');
  while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
    if (errno != ERANGE) return {};
    cwd.resize(cwd.size() * 2);
  }
  cwd.resize(std::strlen(cwd.c_str()));
  return cwd;
}

std::string SystemFolder(KnownFolder) { return {}; }

const void* ThisModuleHandle() { return nullptr; }

void UseBinaryStandardStreams() {}

namespace {

constexpr const char* kWideCode =
    std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

std::string CodePageName(int32_t codePage) {
  if (codePage == 65001) return "UTF-8";
  return "CP" + std::to_string(codePage);
}

// Converts with iconv; at an input sequence the conversion refuses, `refused` appends what
// stands for it and says how many input bytes it took. False when iconv has no such
// conversion.
template <class Refused>
bool Convert(const std::string& to, const std::string& from, std::string_view in, std::string& out,
             Refused refused) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.assign(in.size() * 2 + 16, '\0');
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
    out.resize(used);
    const size_t took = refused(std::string_view(src, srcLeft), out);
    used = out.size();
    out.resize(used + srcLeft * 2 + 16);
    src += took;
    srcLeft -= took;
  }
  iconv_close(cd);
  out.resize(used);
  return true;
}

}  // namespace

bool Utf16ToCodePage(int32_t codePage, std::u16string_view wide, std::string& out) {
  const std::string_view bytes(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
  const bool ok = Convert(CodePageName(codePage), kWideCode, bytes, out,
                          [](std::string_view rest, std::string& o) {
                            o.push_back('?');
                            char16_t unit = 0;
                            std::memcpy(&unit, rest.data(), std::min<size_t>(2, rest.size()));
                            // A surrogate pair is one character.
                            const bool pair = unit >= 0xD800 && unit < 0xDC00 && rest.size() >= 4;
                            return std::min<size_t>(pair ? 4 : 2, rest.size());
                          });
  if (!ok) out.clear();
  return ok;
}

bool CodePageToUtf16(int32_t codePage, std::string_view narrow, std::u16string& out) {
  std::string bytes;
  const bool ok = Convert(kWideCode, CodePageName(codePage), narrow, bytes,
                          [](std::string_view rest, std::string& o) {
                            const char16_t unit = static_cast<unsigned char>(rest[0]);
                            char two[2];
                            std::memcpy(two, &unit, 2);
                            o.append(two, 2);
                            return size_t{1};
                          });
  out.clear();
  if (!ok) return false;
  out.resize(bytes.size() / 2);
  std::memcpy(out.data(), bytes.data(), out.size() * 2);
  return true;
}

bool IsAbsolutePath(std::string_view path) { return !path.empty() && path.front() == '/'; }

// A leading "\" is a root too, as "/" (a path written for Windows); only "/" makes a path
// absolute.
size_t PathRootLength(std::string_view path) {
  return !path.empty() && (path.front() == '/' || path.front() == '\\') ? 1 : 0;
}

bool ChangeMode(const std::string& path, unsigned mode) {
  return ::chmod(path.c_str(), static_cast<mode_t>(mode)) == 0;
}

}  // namespace vellix
