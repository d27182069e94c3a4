#include "exchange/charts.h"

#include <cstring>

#include "store/number_text.h"
#include "store/store.h"

namespace vellix {

namespace {

// The chart types each property key applies to, one code per key in key order:
//   A all, N all but 5 and 6, 4 type 4, L types 3 and 4, B type 0, R type 5, P type 6,
//   O types 5 and 6.
// Keys 1 to 11 (chartType ... markerOverAxis), the nine series styles of seven keys each
// (markerType[0] ... lineColour[8]), then keys 75 to 131 (labelValueInterval ...
// labelSeriesPrecisionUser).
constexpr std::string_view kAppliesTo =
    "ANAANNN444L"
    "LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLL"
    "NN4NANANNNBBAAAAAAAANNNNNAAAAANRRNNAANANAPONNNNAANNNNNNA4";
static_assert(kAppliesTo.size() == kChartKeyCount);

bool Applies(size_t key, int32_t chartType) {
  switch (kAppliesTo[key]) {
    case 'A':
      return true;
    case 'N':
      return chartType != 5 && chartType != 6;
    case '4':
      return chartType == 4;
    case 'L':
      return chartType == 3 || chartType == 4;
    case 'B':
      return chartType == 0;
    case 'R':
      return chartType == 5;
    case 'P':
      return chartType == 6;
    case 'O':
      return chartType == 5 || chartType == 6;
  }
  return false;
}

int32_t ChartType(std::span<const ChartField> fields) {
  int32_t type = 0;
  if (!fields.empty() && fields[0].at != nullptr) std::memcpy(&type, fields[0].at, sizeof type);
  return type;
}

std::string FieldText(const ChartField& f) {
  const char* at = static_cast<const char*>(f.at);
  switch (f.kind) {
    case ChartKind::Integer: {
      int32_t v;
      std::memcpy(&v, at, sizeof v);
      return IntegerText(v);
    }
    case ChartKind::Flag:
      return *at != 0 ? "1" : "0";
    case ChartKind::Number: {
      float v;
      std::memcpy(&v, at, sizeof v);
      return FloatText(v);
    }
    case ChartKind::Text:
      return std::string(at, strnlen(at, f.size));
  }
  return {};
}

void StoreField(const ChartField& f, std::string_view text) {
  char* at = static_cast<char*>(f.at);
  switch (f.kind) {
    case ChartKind::Integer: {
      const int32_t v = ReadInteger(text);
      std::memcpy(at, &v, sizeof v);
      break;
    }
    case ChartKind::Flag:
      *at = ReadInteger(text) != 0 ? 1 : 0;
      break;
    case ChartKind::Number: {
      const float v = ReadFloat(text);
      std::memcpy(at, &v, sizeof v);
      break;
    }
    case ChartKind::Text: {
      if (f.size == 0) break;
      // Cut to the field, its NUL kept.
      const size_t n = std::min(text.size(), f.size - 1);
      std::memset(at, 0, f.size);
      std::memcpy(at, text.data(), n);
      break;
    }
  }
}

}  // namespace

std::vector<ChartPoint> ChartPointsFromGroup(const Store& store, std::string_view group) {
  std::vector<ChartPoint> points;
  const Group* g = store.FindGroup(group);
  if (g == nullptr) return points;
  points.reserve(g->size());
  g->ForEachItem([&](const Item& item) {
    ChartPoint p;
    p.hasLabel = p.hasA = p.hasB = true;
    p.x = ReadFloat(item.name());
    const std::vector<std::string> parts = SplitList(item.value());
    p.y = ReadFloat(parts[0]);
    p.a = parts.size() >= 2 ? ReadInteger(parts[1]) : 255;
    p.b = parts.size() >= 3 ? ReadInteger(parts[2]) : p.a;
    p.label = item.name();
    points.push_back(std::move(p));
  });
  return points;
}

void SetChartPoints(Store& store, std::string_view group, const std::vector<ChartPoint>& points) {
  const StoreChange change(store);
  for (const ChartPoint& p : points) {
    std::string value = FloatText(p.y);
    for (const auto& [has, part] : {std::pair{p.hasA, p.a}, std::pair{p.hasB, p.b}}) {
      if (!has) continue;
      value += ',';
      value += IntegerText(part);
    }
    store.SetItem(group, p.hasLabel ? p.label : FloatText(p.x), value);
  }
}

void GetChartProperties(Store& store, std::string_view group, std::span<const ChartField> fields) {
  const int32_t type = ChartType(fields);
  const StoreChange change(store);
  for (size_t k = 0; k < fields.size() && k < kChartKeyCount; ++k) {
    if (Applies(k, type)) store.SetItem(group, fields[k].name, FieldText(fields[k]));
  }
}

void PutChartProperties(const Store& store, std::string_view group,
                        std::span<const ChartField> fields) {
  for (size_t k = 0; k < fields.size() && k < kChartKeyCount; ++k) {
    const auto text = store.FindValue(group, fields[k].name);
    // The chart type is read again for every key: it is the first key put.
    if (text && Applies(k, ChartType(fields))) StoreField(fields[k], *text);
  }
}

}  // namespace vellix
