// The wildcard matcher against a plain backtracking reference.
//
// Input: byte 0 bit 0 is the case flag; byte 1 the pattern's length (what is left when that
// is more); the pattern follows, and the rest is the subject. Zero bytes may appear anywhere:
// both texts end at their first one. A disagreement aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "search/wildcard.h"

namespace {

std::string_view UpToZero(std::string_view text) {
  const size_t zero = text.find('\0');
  return zero == std::string_view::npos ? text : text.substr(0, zero);
}

unsigned char Fold(unsigned char c, bool caseSensitive) {
  return (!caseSensitive && c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

// Tries every way a star can split the subject, remembering positions already known to
// fail so that patterns with many stars stay polynomial.
class Reference {
 public:
  Reference(std::string_view pattern, std::string_view subject, bool caseSensitive)
      : p_(pattern),
        s_(subject),
        cs_(caseSensitive),
        failed_((pattern.size() + 1) * (subject.size() + 1), 0) {}

  bool Match(size_t p, size_t s) {
    if (p == p_.size()) return s == s_.size();
    const size_t at = p * (s_.size() + 1) + s;
    if (failed_[at]) return false;
    bool ok = false;
    if (p_[p] == '*') {
      ok = Match(p + 1, s) || (s < s_.size() && Match(p, s + 1));
    } else if (s < s_.size() &&
               (p_[p] == '.' || Fold(static_cast<unsigned char>(p_[p]), cs_) ==
                                    Fold(static_cast<unsigned char>(s_[s]), cs_))) {
      ok = Match(p + 1, s + 1);
    }
    if (!ok) failed_[at] = 1;
    return ok;
  }

 private:
  std::string_view p_;
  std::string_view s_;
  bool cs_;
  std::vector<char> failed_;
};

bool ReferenceMatch(std::string_view pattern, std::string_view subject, bool caseSensitive) {
  pattern = UpToZero(pattern);
  subject = UpToZero(subject);
  if (pattern == "*") return true;
  bool negate = false;
  if (!pattern.empty() && pattern.front() == '!') {
    negate = true;
    pattern.remove_prefix(1);
  }
  return Reference(pattern, subject, caseSensitive).Match(0, 0) != negate;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 1200) return 0;  // the reference's table grows with the product
  const bool caseSensitive = (data[0] & 1) != 0;
  const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  const size_t split = data[1] < rest.size() ? data[1] : rest.size();
  const std::string_view pattern = rest.substr(0, split);
  const std::string_view subject = rest.substr(split);
  const bool got = vellix::WildcardMatch(pattern, subject, caseSensitive);
  const bool want = ReferenceMatch(pattern, subject, caseSensitive);
  if (got != want) {
    std::fprintf(stderr, "matcher says %d, reference says %d\n", got, want);
    std::abort();
  }
  return 0;
}
