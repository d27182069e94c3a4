// Array exchange: the cells of an array object as items named "x,y,z", and back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellix {

class Store;

// An array's sizes and kind. Cell (x, y, z), each from 0, is entry x + sizeX * (y + sizeY * z).
struct ArrayShape {
  int32_t sizeX = 0, sizeY = 0, sizeZ = 0;
  bool numeric = false;
  bool text = false;   // text cells; takes precedence over numeric
  bool base1 = false;  // names count from 1
  // The number of cells, or nothing when a size is negative or the count does not fit in
  // 64 bits.
  std::optional<uint64_t> CellCount() const;
};

// The most cells an array may have to be loaded into a group: more are not copied.
inline constexpr size_t kMaxArrayCells = size_t{1} << 24;

// A copy of an array's cells: the numbers of a numeric array or the texts of a text array
// (nothing for a null cell).
struct ArrayCells {
  ArrayShape shape;
  std::vector<int32_t> numbers;
  std::vector<std::optional<std::string>> texts;
};

// Sets one item per cell, x outermost and z innermost; null text cells are skipped.
void LoadArray(Store& store, std::string_view group, const ArrayCells& cells);

// Writes the integer value of each item named by three digit runs into the numeric cell it
// names; items naming cells outside the array are skipped. Nothing for a text array.
void PutArray(const Store& store, std::string_view group, const ArrayShape& shape,
              int32_t* numbers);

}  // namespace vellix
