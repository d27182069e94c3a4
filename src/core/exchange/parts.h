// Item parts: an item's value read and written as a list of parts separated by ",".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vellix {

class Store;

// Parts a value may be given by setting one: setting part 1,048,576 or above does nothing,
// so that one call cannot make a value of billions of commas.
inline constexpr int64_t kMaxItemParts = int64_t{1} << 20;

// Part `index` (from 0) of the item's value; `def` when the index is negative, the item does
// not exist or has fewer parts.
std::string GetItemPart(const Store& store, std::string_view group, std::string_view item,
                        int64_t index, std::string_view def);

// Replaces part `index` of the item's value (empty parts added up to it) and sets the item,
// creating it when missing. Nothing for a negative index or one of kMaxItemParts or more.
void SetItemPart(Store& store, std::string_view group, std::string_view item, int64_t index,
                 std::string_view text);

}  // namespace vellix
