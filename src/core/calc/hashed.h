// Hashed values: items whose value is the MD5 digest of a text, as 32 lowercase hex digits.
// Texts come from the host and end at their first NUL.
#pragma once

#include <string_view>

namespace vellix {

class Store;

// Sets the item to the digest of `text`; false when it cannot be kept (SetItem).
bool SetItemHashed(Store& store, std::string_view group, std::string_view item,
                   std::string_view text);

// Whether the item's value (the digest of `def` when the item is missing) is the digest of
// `text`.
bool ItemEqualsHashed(const Store& store, std::string_view group, std::string_view item,
                      std::string_view def, std::string_view text);

}  // namespace vellix
