// Merging another document's items into a store, and adding items under free numbered names.
// These take Stores, never a run object.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace vellix {

class Store;

// Every group of `source`, in its creation order, merged into the group of the same name.
// False when there is no source. The source must not change while it is merged: callers
// whose source other code could reach hand a private copy (CopyForMerge).
bool MergeStore(Store& target, const Store* source, bool allowOverwrite);

// A private copy of a document to merge from: the trigger handlers that run while items
// are set may change or even free the original, but never the copy. It has the source's
// settings (so names keep their case rule), no file and no auto save.
std::unique_ptr<Store> CopyForMerge(const Store& source);

// The items of group `from` of `source`, in creation order, set into group `to` of
// `target`; without `allowOverwrite` an item `to` already has is left alone. Names are
// matched by the target's case rule. False when there is no source.
bool MergeGroup(Store& target, const Store* source, std::string_view from, std::string_view to,
                bool allowOverwrite);

// "Add repeated": sets the item when the group does not have it yet; otherwise, in mode 0,
// the first free item name+"."+n (n from 1) of the group, and in any other mode the item in
// the first group group+"."+n that does not have it.
void AddRepeatedItem(Store& target, std::string_view group, std::string_view item,
                     std::string_view value, int32_t mode);

}  // namespace vellix
