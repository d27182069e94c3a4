// The wildcard matcher behind condition 6 and every search.
//
// "*" stands for any run of bytes, "." for exactly one byte, and one leading "!" negates the
// result. The pattern that is exactly "*" matches everything; that test comes before the
// "!" is looked at. Without the case flag, "A" to "Z" compare as "a" to "z"; every other
// byte compares as it is. Pattern and subject end at their first zero byte, as the host's
// texts do.
//
// No allocation, no recursion: one forward scan that retries only the most recent star.
// The worst case is the product of the two lengths.
#pragma once

#include <string_view>

namespace vellix {

bool WildcardMatch(std::string_view pattern, std::string_view subject, bool caseSensitive);

}  // namespace vellix
