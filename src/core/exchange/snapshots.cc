#include "exchange/snapshots.h"

#include <algorithm>

#include "store/name_key.h"
#include "store/number_text.h"
#include "store/scoped_value.h"
#include "store/store.h"

namespace vellix {

namespace {

// Object values and strings use two digits: val00 to val25, str00 to str09.
std::string TwoDigitName(std::string_view prefix, int i) {
  std::string name(prefix);
  if (i < 10) name += '0';
  name += IntegerText(i);
  return name;
}

// The index of an item named PREFIX + decimal index (as IntegerText writes it) under the
// store's case rule, when it is below `limit`.
std::optional<int32_t> GlobalIndex(std::string_view name, std::string_view prefix, int64_t limit,
                                   bool caseSensitive) {
  if (name.size() <= prefix.size() ||
      !SameKey(name.substr(0, prefix.size()), prefix, caseSensitive)) {
    return std::nullopt;
  }
  const std::string_view digits = name.substr(prefix.size());
  if (digits.size() > 1 && digits[0] == '0') return std::nullopt;
  const std::optional<int64_t> index = ReadDigits(digits);
  if (!index || *index >= limit) return std::nullopt;
  return static_cast<int32_t>(*index);
}

template <class T>
void SortByIndex(std::vector<std::pair<int32_t, T>>& entries) {
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
}

}  // namespace

void SaveObject(Store& store, std::string_view group, const SceneState& object, bool withPosition,
                bool withAlterable) {
  {
    const ScopedValue<bool> quiet(store.quiet, true);
    if (withPosition) {
      store.SetItem(group, "posx", IntegerText(object.x));
      store.SetItem(group, "posy", IntegerText(object.y));
      if (object.hasMovement) {
        store.SetItem(group, "dir", IntegerText(object.direction));
        store.SetItem(group, "spd", IntegerText(object.speed));
        store.SetItem(group, "ani", IntegerText(object.animation));
        store.SetItem(group, "frame", IntegerText(object.animationFrame));
      }
    }
    if (withAlterable && object.hasAlterable) {
      store.SetItem(group, "flags", IntegerText(object.flags));
      for (int i = 0; i < kAlterableValues; ++i) {
        const TaggedValue& v = object.values[static_cast<size_t>(i)];
        // Other types leave no item, and an older item of that name as it was.
        if (v.type == TaggedValue::Type::Integer) {
          store.SetItem(group, TwoDigitName("val", i), IntegerText(v.i));
        } else if (v.type == TaggedValue::Type::Float) {
          store.SetItem(group, TwoDigitName("val", i), FloatText(static_cast<float>(v.d)));
        }
      }
      for (int i = 0; i < kAlterableStrings; ++i) {
        const auto& s = object.strings[static_cast<size_t>(i)];
        store.SetItem(group, TwoDigitName("str", i), s ? *s : std::string());
      }
    }
  }
  store.AfterChange();
}

SceneUpdate LoadObject(const Store& store, std::string_view group, const SceneState& object) {
  SceneUpdate u;
  auto integer = [&](std::string_view name) -> std::optional<int32_t> {
    const auto text = store.FindValue(group, name);
    return text ? std::optional<int32_t>(ReadInteger(*text)) : std::nullopt;
  };
  u.x = integer("posx").value_or(object.x);
  u.y = integer("posy").value_or(object.y);
  if (object.hasMovement) {
    u.direction = integer("dir");
    u.speed = integer("spd");
    u.animation = integer("ani");
    u.animationFrame = integer("frame");
    u.displayChanged = true;
  }
  if (object.hasAlterable) {
    u.flags = integer("flags");
    for (int i = 0; i < kAlterableValues; ++i) {
      if (const auto text = store.FindValue(group, TwoDigitName("val", i))) {
        u.values[static_cast<size_t>(i)] = ReadNumber(*text);
      }
    }
    for (int i = 0; i < kAlterableStrings; ++i) {
      if (const auto text = store.FindValue(group, TwoDigitName("str", i))) {
        u.strings[static_cast<size_t>(i)] = std::string(*text);
      }
    }
  }
  return u;
}

void SaveGlobals(Store& store, std::string_view group, const std::vector<TaggedValue>& values,
                 const std::vector<std::string>& strings) {
  {
    const ScopedValue<bool> quiet(store.quiet, true);
    store.SetItem(group, "vals", IntegerText(static_cast<int64_t>(values.size())));
    for (size_t i = 0; i < values.size(); ++i) {
      const TaggedValue& v = values[i];
      store.SetItem(group, "val" + IntegerText(static_cast<int64_t>(i)),
                    v.type == TaggedValue::Type::Integer ? IntegerText(v.i)
                                                         : FloatText(static_cast<float>(v.d)));
    }
    store.SetItem(group, "strs", IntegerText(static_cast<int64_t>(strings.size())));
    for (size_t i = 0; i < strings.size(); ++i) {
      store.SetItem(group, "str" + IntegerText(static_cast<int64_t>(i)), strings[i]);
    }
  }
  store.AfterChange();
}

GlobalsUpdate LoadGlobals(const Store& store, std::string_view group) {
  GlobalsUpdate u;
  const Group* g = store.FindGroup(group);
  if (g == nullptr) return u;
  // A count of n asks for the items val0 to val(n-1) that exist: visiting the items the
  // group holds finds the same ones, however large n is.
  const auto limit = [&](std::string_view name) {
    const auto text = store.FindValue(group, name);
    return std::min<int64_t>(text ? ReadInteger(*text) : -1, kMaxGlobalIndex);
  };
  const int64_t valueLimit = limit("vals");
  const int64_t stringLimit = limit("strs");
  const bool cs = store.caseSensitive();
  g->ForEachItem([&](const Item& item) {
    if (auto i = GlobalIndex(item.name(), "val", valueLimit, cs)) {
      u.values.emplace_back(*i, ReadNumber(item.value()));
    } else if (auto k = GlobalIndex(item.name(), "str", stringLimit, cs)) {
      u.strings.emplace_back(*k, std::string(item.value()));
    }
  });
  SortByIndex(u.values);
  SortByIndex(u.strings);
  return u;
}

std::string PositionText(int32_t first, int32_t second) {
  return IntegerText(first) + "," + IntegerText(second);
}

std::pair<int32_t, int32_t> ReadPosition(std::string_view text) {
  const size_t comma = text.find(',');
  if (comma == std::string_view::npos) {
    const int32_t both = ReadInteger(text);
    return {both, both};
  }
  return {ReadInteger(text.substr(0, comma)), ReadInteger(text.substr(comma + 1))};
}

}  // namespace vellix
