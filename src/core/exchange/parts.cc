#include "exchange/parts.h"

#include "store/store.h"

namespace vellix {

namespace {

// Where part `index` of the value starts and ends, walking its commas; the part count
// instead when the value has no such part.
struct PartSpan {
  bool found = false;
  size_t begin = 0, end = 0;
  int64_t parts = 0;
};

PartSpan FindPart(std::string_view value, int64_t index) {
  PartSpan span;
  size_t begin = 0;
  for (int64_t n = 0;; ++n) {
    const size_t comma = value.find(',', begin);
    const size_t end = comma == std::string_view::npos ? value.size() : comma;
    if (n == index) return PartSpan{true, begin, end, n + 1};
    if (comma == std::string_view::npos) {
      span.parts = n + 1;
      return span;
    }
    begin = comma + 1;
  }
}

}  // namespace

std::string GetItemPart(const Store& store, std::string_view group, std::string_view item,
                        int64_t index, std::string_view def) {
  if (index < 0) return std::string(def);
  const auto value = store.FindValue(group, item);
  if (!value) return std::string(def);
  const PartSpan span = FindPart(*value, index);
  if (!span.found) return std::string(def);
  return std::string(value->substr(span.begin, span.end - span.begin));
}

void SetItemPart(Store& store, std::string_view group, std::string_view item, int64_t index,
                 std::string_view text) {
  if (index < 0 || index >= kMaxItemParts) return;
  std::string value(store.FindValue(group, item).value_or(std::string_view()));
  const PartSpan span = FindPart(value, index);
  if (span.found) {
    value.replace(span.begin, span.end - span.begin, text);
  } else {
    // Empty parts up to the one asked for: one comma before each part added.
    value.append(static_cast<size_t>(index - span.parts + 1), ',');
    value += text;
  }
  store.SetItem(group, item, value);
}

}  // namespace vellix
