// Chart exchange: a chart's data points and display properties as items of a group.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vellix {

class Store;

struct ChartPoint {
  bool hasLabel = false, hasA = false, hasB = false;
  float x = 0.0f, y = 0.0f;
  int32_t a = 0, b = 0;
  std::string label;
};

// The most points read from a chart into a group: a chart that never says "no more" stops
// there.
inline constexpr int32_t kMaxChartPoints = 1 << 16;

// One point per item, counted once at the start: X from the item's name, Y, A and B from the
// parts of its value (A 255 and B A when missing), labelled with the item's name.
std::vector<ChartPoint> ChartPointsFromGroup(const Store& store, std::string_view group);
// One item per point: named by its label, or by X; valued Y[,A][,B].
void SetChartPoints(Store& store, std::string_view group, const std::vector<ChartPoint>& points);

// A field of a chart's property block, in key order (the first one is the chart type).
enum class ChartKind { Integer, Flag, Number, Text };
struct ChartField {
  std::string_view name;
  ChartKind kind = ChartKind::Integer;
  void* at = nullptr;  // the field in the caller's block
  size_t size = 0;     // the bytes of a text field, its NUL included
};
inline constexpr size_t kChartKeyCount = 131;

// Sets an item for each property that applies to the block's chart type.
void GetChartProperties(Store& store, std::string_view group, std::span<const ChartField> fields);
// Stores into the block each property whose item exists and which applies to the chart type
// the block holds by then (the chart type itself comes first).
void PutChartProperties(const Store& store, std::string_view group,
                        std::span<const ChartField> fields);

}  // namespace vellix
