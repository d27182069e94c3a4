#include "exchange/arrays.h"

#include <charconv>

#include "store/number_text.h"
#include "store/store.h"

namespace vellix {

namespace {

// "x,y,z", each coordinate plus one for a base-1 array, into `name`.
void CellName(std::string& name, int64_t x, int64_t y, int64_t z, bool base1) {
  const int64_t add = base1 ? 1 : 0;
  name.clear();
  for (const int64_t c : {x, y, z}) {
    if (!name.empty()) name += ',';
    char digits[24];
    name.append(digits, std::to_chars(digits, digits + sizeof digits, c + add).ptr);
  }
}

// The cell an item name names: exactly three digit runs joined by ",", inside the array.
std::optional<size_t> CellOf(std::string_view name, const ArrayShape& shape) {
  int64_t coordinate[3];
  const int64_t size[3] = {shape.sizeX, shape.sizeY, shape.sizeZ};
  for (int d = 0; d < 3; ++d) {
    const size_t comma = name.find(',');
    if ((comma == std::string_view::npos) != (d == 2)) return std::nullopt;
    const auto value = ReadDigits(name.substr(0, comma));
    if (!value) return std::nullopt;
    coordinate[d] = *value - (shape.base1 ? 1 : 0);
    // Outside the array: never written, whatever the item says.
    if (coordinate[d] < 0 || coordinate[d] >= size[d]) return std::nullopt;
    name = comma == std::string_view::npos ? std::string_view() : name.substr(comma + 1);
  }
  return static_cast<size_t>(coordinate[0] + size[0] * (coordinate[1] + size[1] * coordinate[2]));
}

}  // namespace

std::optional<uint64_t> ArrayShape::CellCount() const {
  if (sizeX < 0 || sizeY < 0 || sizeZ < 0) return std::nullopt;
  // Two sizes below 2^31 multiply without overflow; the third may not fit.
  const uint64_t area = static_cast<uint64_t>(sizeX) * static_cast<uint64_t>(sizeY);
  const auto depth = static_cast<uint64_t>(sizeZ);
  if (area != 0 && depth > UINT64_MAX / area) return std::nullopt;
  return area * depth;
}

void LoadArray(Store& store, std::string_view group, const ArrayCells& cells) {
  const ArrayShape& s = cells.shape;
  const auto count = s.CellCount();
  if (!count || *count > kMaxArrayCells) return;
  if (s.text ? cells.texts.size() < *count : s.numeric && cells.numbers.size() < *count) return;
  const StoreChange change(store);
  std::string name;
  std::string number;
  // The group is looked up once, and again only when groups may have gone (a trigger
  // handler can remove it between two items).
  Group* target = nullptr;
  uint64_t generation = 0;
  auto set = [&](std::string_view value) {
    if (target == nullptr || store.generation() != generation) {
      target = store.PrepareGroup(group);
      generation = store.generation();
    }
    store.SetItemIn(target, name, value);
  };
  for (int64_t x = 0; x < s.sizeX; ++x) {
    for (int64_t y = 0; y < s.sizeY; ++y) {
      for (int64_t z = 0; z < s.sizeZ; ++z) {
        const auto at = static_cast<size_t>(x + s.sizeX * (y + s.sizeY * z));
        CellName(name, x, y, z, s.base1);
        if (s.text) {
          if (!cells.texts[at]) continue;
          set(*cells.texts[at]);
        } else {
          number = s.numeric ? IntegerText(cells.numbers[at]) : "0";
          set(number);
        }
      }
    }
  }
}

void PutArray(const Store& store, std::string_view group, const ArrayShape& shape,
              int32_t* numbers) {
  // Every cell a name can reach must have an index: coordinates are below the sizes.
  if (shape.text || !shape.numeric || numbers == nullptr || !shape.CellCount()) return;
  const Group* g = store.FindGroup(group);
  if (g == nullptr) return;
  g->ForEachItem([&](const Item& item) {
    if (const auto at = CellOf(item.name(), shape)) numbers[*at] = ReadInteger(item.value());
  });
}

}  // namespace vellix
