#include "calc/hashed.h"

#include <string>

#include "calc/md5.h"
#include "store/store.h"

namespace vellix {

namespace {

std::string Digest(std::string_view text) {
  CMD5 digest;
  digest.Compute(text);
  return digest.Hex();
}

}  // namespace

bool SetItemHashed(Store& store, std::string_view group, std::string_view item,
                   std::string_view text) {
  return store.SetItem(group, item, Digest(text));
}

bool ItemEqualsHashed(const Store& store, std::string_view group, std::string_view item,
                      std::string_view def, std::string_view text) {
  const std::string hashed = Digest(text);
  if (const Item* stored = store.FindItem(group, item)) return stored->value() == hashed;
  return Digest(def) == hashed;
}

}  // namespace vellix
