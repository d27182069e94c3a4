// Snapshots: the state of a scene object, the application's global values and strings, and
// single positions, kept as items of one group.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/number_text.h"

namespace vellix {

class Store;

// An alterable or global value as the host tags it: other types than these two exist.
struct TaggedValue {
  enum class Type { Integer, Float, Other };
  Type type = Type::Integer;
  int32_t i = 0;
  double d = 0.0;
};

inline constexpr int kAlterableValues = 26;
inline constexpr int kAlterableStrings = 10;

// What a snapshot reads of a scene object.
struct SceneState {
  int32_t x = 0, y = 0;
  int32_t direction = 0, speed = 0, animation = 0, animationFrame = 0;
  bool hasMovement = false;
  bool hasAlterable = false;
  int32_t flags = 0;
  std::array<TaggedValue, kAlterableValues> values{};
  std::array<std::optional<std::string>, kAlterableStrings> strings{};  // nothing: a null slot
};

// What loading a snapshot writes back: the position always, the rest where items exist.
struct SceneUpdate {
  int32_t x = 0, y = 0;
  std::optional<int32_t> direction, speed, animation, animationFrame;
  bool displayChanged = false;
  std::optional<int32_t> flags;
  std::array<std::optional<Number>, kAlterableValues> values{};
  std::array<std::optional<std::string>, kAlterableStrings> strings{};
};

// posx, posy (and dir, spd, ani, frame with movement data) when `withPosition`; flags,
// val00..val25 and str00..str09 when `withAlterable` and the object has alterable values.
// One AfterChange at the end.
void SaveObject(Store& store, std::string_view group, const SceneState& object, bool withPosition,
                bool withAlterable);
// Reads the snapshot back; the store is not changed.
SceneUpdate LoadObject(const Store& store, std::string_view group, const SceneState& object);

// Global values and strings: vals and val0.., strs and str0.. One AfterChange at the end.
void SaveGlobals(Store& store, std::string_view group, const std::vector<TaggedValue>& values,
                 const std::vector<std::string>& strings);

// Indexes of global values and strings a load may set: below this many. A load never grows
// the host's arrays past it.
inline constexpr int32_t kMaxGlobalIndex = 1 << 20;

struct GlobalsUpdate {
  std::vector<std::pair<int32_t, Number>> values;        // ascending indexes
  std::vector<std::pair<int32_t, std::string>> strings;  // ascending indexes
};
// The values and strings a load sets: for each index below the count item (vals, strs)
// whose item exists. Only the group's own items are visited, whatever the count says.
GlobalsUpdate LoadGlobals(const Store& store, std::string_view group);

// A position text: the first coordinate, ",", the second.
std::string PositionText(int32_t first, int32_t second);
// The two coordinates of a position text; without a comma both are the whole text's value.
std::pair<int32_t, int32_t> ReadPosition(std::string_view text);

}  // namespace vellix
