#include "search/wildcard.h"

#include "store/name_key.h"

namespace vellix {

bool WildcardMatch(std::string_view pattern, std::string_view subject, bool caseSensitive) {
  pattern = UpToZero(pattern);
  subject = UpToZero(subject);
  if (pattern == "*") return true;

  size_t p = 0;
  size_t s = 0;
  bool negate = false;
  if (!pattern.empty() && pattern[0] == '!') {
    negate = true;
    p = 1;
  }
  const size_t pn = pattern.size();
  const size_t sn = subject.size();
  // Whether the pattern byte at p stands for the subject byte at s ("." or the same byte).
  const auto fits = [&](size_t pi, size_t si) {
    const auto a = static_cast<unsigned char>(pattern[pi]);
    const auto b = static_cast<unsigned char>(subject[si]);
    return a == '.' || KeyByte(a, caseSensitive) == KeyByte(b, caseSensitive);
  };

  // Anchored start: up to the first star every byte must fit.
  while (s < sn) {
    if (p < pn && pattern[p] == '*') break;
    if (p < pn && fits(p, s)) {
      ++p;
      ++s;
      continue;
    }
    return negate;
  }

  // After a star: on a mismatch the most recent star swallows one more byte and the
  // pattern after it is tried again from there. Earlier stars never need a retry, since a
  // later star can absorb whatever they would.
  size_t patternMark = p;
  size_t subjectMark = s;
  while (s < sn) {
    if (p < pn && pattern[p] == '*') {
      ++p;
      if (p == pn) return !negate;
      patternMark = p;
      subjectMark = s + 1;
    } else if (p < pn && fits(p, s)) {
      ++p;
      ++s;
    } else {
      p = patternMark;
      s = subjectMark;
      ++subjectMark;
    }
  }

  while (p < pn && pattern[p] == '*') ++p;
  return (p == pn) != negate;
}

}  // namespace vellix
