// Texts of wide-character applications: the script's UTF-8 as the host's 16-bit characters
// and back.
#pragma once

#include <string>
#include <string_view>

namespace vxsim {

// UTF-8 as 16-bit characters; a byte that is not part of valid UTF-8 stands for itself.
std::u16string WidenUtf8(std::string_view utf8);

// 16-bit characters as UTF-8; a lone surrogate becomes U+FFFD.
std::string NarrowToUtf8(std::u16string_view wide);

}  // namespace vxsim
