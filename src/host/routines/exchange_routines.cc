// Routines of the exchange room: they read their parameters, reach the host's objects and
// global values, and hand plain data to the exchange operations.
#include <cstring>
#include <vector>

#include "exchange/arrays.h"
#include "exchange/charts.h"
#include "exchange/csv.h"
#include "exchange/parts.h"
#include "exchange/snapshots.h"
#include "files/files.h"
#include "host/host_records.h"
#include "host/routines.h"
#include "store/store.h"

namespace vellix {

namespace {

TaggedValue FromHost(const VxValue& v) {
  TaggedValue t;
  if (v.type == VX_VALUE_INTEGER) {
    t.type = TaggedValue::Type::Integer;
    t.i = v.u.integer;
  } else {
    t.type = v.type == VX_VALUE_DOUBLE ? TaggedValue::Type::Float : TaggedValue::Type::Other;
    t.d = v.u.real;
  }
  return t;
}

VxValue ToHost(const Number& n) {
  VxValue v{};
  if (n.isFloat) {
    v.type = VX_VALUE_DOUBLE;
    v.u.real = static_cast<double>(n.f);
  } else {
    v.type = VX_VALUE_INTEGER;
    v.u.integer = n.i;
  }
  return v;
}

// A host count, bounded: never negative, never more than the exchange keeps.
int32_t Bounded(int32_t count) { return count < 0 ? 0 : std::min(count, kMaxGlobalIndex); }

SceneState ReadScene(const VxSceneObject& s, const HostTexts& texts) {
  SceneState state;
  state.x = s.x;
  state.y = s.y;
  state.direction = s.direction;
  state.speed = s.speed;
  state.animation = s.animation;
  state.animationFrame = s.animationFrame;
  state.hasMovement = s.hasMovement != 0;
  state.hasAlterable = s.hasAlterable != 0;
  state.flags = s.alterableFlags;
  for (int i = 0; i < kAlterableValues; ++i) state.values[i] = FromHost(s.values[i]);
  for (int i = 0; i < kAlterableStrings; ++i) state.strings[i] = texts.Read(s.strings[i]);
  return state;
}

void SaveSceneObject(RunObject& ro, const std::string& name, const std::string& group,
                     bool withPosition, bool withAlterable) {
  VxLiveObject* object = FindSceneObject(ro, name);
  if (object == nullptr) return;
  // Read whole before the first item is set: trigger handlers may change the object.
  const SceneState state = ReadScene(*object->scene, HostTexts(ro.host(), ro.runHeader()->app));
  SaveObject(*ro.store, group, state, withPosition, withAlterable);
}

void LoadSceneObject(RunObject& ro, const std::string& name, const std::string& group) {
  VxLiveObject* object = FindSceneObject(ro, name);
  if (object == nullptr) return;
  VxSceneObject& s = *object->scene;
  const HostTexts texts(ro.host(), ro.runHeader()->app);
  SceneState current;
  current.x = s.x;
  current.y = s.y;
  current.hasMovement = s.hasMovement != 0;
  current.hasAlterable = s.hasAlterable != 0;
  const SceneUpdate u = LoadObject(*ro.store, group, current);
  MoveObject(ro, *object, u.x, u.y);
  if (u.direction) s.direction = *u.direction;
  if (u.speed) s.speed = *u.speed;
  if (u.animation) s.animation = *u.animation;
  if (u.animationFrame) s.animationFrame = *u.animationFrame;
  if (u.displayChanged) s.displayChanged = 1;
  if (u.flags) s.alterableFlags = *u.flags;
  for (int i = 0; i < kAlterableValues; ++i) {
    if (u.values[i]) s.values[i] = ToHost(*u.values[i]);
  }
  for (int i = 0; i < kAlterableStrings; ++i) {
    if (u.strings[i]) texts.Replace(s.strings[i], *u.strings[i]);
  }
}

void SaveGlobalsTo(RunObject& ro, const std::string& group) {
  VxApplication* running = ro.runHeader() ? ro.runHeader()->app : nullptr;
  VxApplication* valuesApp = GlobalValuesOwner(running);
  VxApplication* stringsApp = GlobalStringsOwner(running);
  if (valuesApp == nullptr || stringsApp == nullptr) return;
  std::vector<TaggedValue> values;
  const int32_t valueCount = valuesApp->globalValues ? Bounded(valuesApp->globalValueCount) : 0;
  values.reserve(static_cast<size_t>(valueCount));
  for (int32_t i = 0; i < valueCount; ++i) values.push_back(FromHost(valuesApp->globalValues[i]));
  std::vector<std::string> strings;
  const HostTexts texts(ro.host(), stringsApp);
  const int32_t stringCount =
      stringsApp->globalStrings ? Bounded(stringsApp->globalStringCount) : 0;
  strings.reserve(static_cast<size_t>(stringCount));
  for (int32_t i = 0; i < stringCount; ++i) {
    strings.push_back(texts.Read(stringsApp->globalStrings[i]).value_or(std::string()));
  }
  SaveGlobals(*ro.store, group, values, strings);
}

void LoadGlobalsFrom(RunObject& ro, const std::string& group) {
  const VxHostServices* host = ro.host();
  VxApplication* running = ro.runHeader() ? ro.runHeader()->app : nullptr;
  VxApplication* valuesApp = GlobalValuesOwner(running);
  VxApplication* stringsApp = GlobalStringsOwner(running);
  if (host == nullptr || valuesApp == nullptr || stringsApp == nullptr) return;
  const GlobalsUpdate u = LoadGlobals(*ro.store, group);
  // The arrays grow once, to the highest index set, rather than once per value.
  if (!u.values.empty() && GrowGlobalValues(*host, *valuesApp, u.values.back().first + 1)) {
    for (const auto& [i, n] : u.values) valuesApp->globalValues[i] = ToHost(n);
  }
  if (!u.strings.empty() && GrowGlobalStrings(*host, *stringsApp, u.strings.back().first + 1)) {
    const HostTexts texts(host, stringsApp);
    for (const auto& [i, text] : u.strings) texts.Replace(stringsApp->globalStrings[i], text);
  }
}

Value PositionPart(RunObject& ro, const std::string& group, const std::string& item, bool y) {
  const auto [first, second] = ReadPosition(ro.store->GetItem(group, item, "0,0"));
  return Value::Int(y ? second : first);
}

// The fields of a property block, in key order.
std::vector<ChartField> FieldsOf(VxChartProperties& block) {
  std::vector<ChartField> fields;
  fields.reserve(VX_CHART_KEY_COUNT);
  const VxChartKey* keys = VxChartKeys();
  for (size_t k = 0; k < VX_CHART_KEY_COUNT; ++k) {
    ChartField f;
    f.name = keys[k].name;
    f.kind = keys[k].kind == VX_CHART_FLAG     ? ChartKind::Flag
             : keys[k].kind == VX_CHART_NUMBER ? ChartKind::Number
             : keys[k].kind == VX_CHART_TEXT   ? ChartKind::Text
                                               : ChartKind::Integer;
    f.at = reinterpret_cast<char*>(&block) + keys[k].offset;
    f.size = f.kind == ChartKind::Text ? VX_CHART_TEXT_SIZE : 0;
    fields.push_back(f);
  }
  return fields;
}
static_assert(VX_CHART_KEY_COUNT == kChartKeyCount);

// Reads the chart and group parameters and hands `use` the chart, its properties as it
// gives them (in a block of the module's own), their fields and the group. Nothing happens
// when no chart has that name.
template <class Use>
void WithChartProperties(RunObject& ro, Params& p, Use use) {
  const std::string name = p.ObjectName();
  const std::string group = p.Text();
  const VxChartData* chart = FindChart(ro, name);
  if (chart == nullptr || chart->exchangeProperties == nullptr) return;
  VxChartProperties block;
  std::memset(&block, 0, sizeof block);
  chart->exchangeProperties(chart->chart, VX_CHART_GET_PROPERTIES, &block);
  const std::vector<ChartField> fields = FieldsOf(block);
  use(*chart, block, fields, group);
}

}  // namespace

// ------------------------------------------------------------------ snapshots

void SaveObject(RunObject& ro, Params& p) {
  const std::string name = p.ObjectName();
  const bool withPosition = p.Int() != 0;
  const bool withAlterable = p.Int() != 0;
  SaveSceneObject(ro, name, ro.currentGroup, withPosition, withAlterable);
}

void LoadObject(RunObject& ro, Params& p) {
  const std::string name = p.ObjectName();
  LoadSceneObject(ro, name, ro.currentGroup);
}

void SaveObjectToGroup(RunObject& ro, Params& p) {
  const std::string name = p.ObjectName();
  const std::string group = p.Text();
  const bool withPosition = p.Int() != 0;
  const bool withAlterable = p.Int() != 0;
  SaveSceneObject(ro, name, group, withPosition, withAlterable);
}

void LoadObjectFromGroup(RunObject& ro, Params& p) {
  const std::string name = p.ObjectName();
  const std::string group = p.Text();
  LoadSceneObject(ro, name, group);
}

void SavePositionCurrent(RunObject& ro, Params& p) {
  const std::string item = p.Text();
  int16_t first, second;
  p.Position(first, second);
  ro.store->SetItem(std::string(ro.currentGroup), item, PositionText(first, second));
}

void SavePositionToGroup(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const std::string item = p.Text();
  int16_t first, second;
  p.Position(first, second);
  ro.store->SetItem(group, item, PositionText(first, second));
}

void SaveGlobalValues(RunObject& ro, Params&) { SaveGlobalsTo(ro, ro.currentGroup); }
void LoadGlobalValues(RunObject& ro, Params&) { LoadGlobalsFrom(ro, ro.currentGroup); }
void SaveGlobalValuesToGroup(RunObject& ro, Params& p) { SaveGlobalsTo(ro, p.Text()); }
void LoadGlobalValuesFromGroup(RunObject& ro, Params& p) { LoadGlobalsFrom(ro, p.Text()); }

Value PosXCurrent(RunObject& ro, Params& p) {
  return PositionPart(ro, ro.currentGroup, p.Text(), false);
}
Value PosYCurrent(RunObject& ro, Params& p) {
  return PositionPart(ro, ro.currentGroup, p.Text(), true);
}

Value PosX(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  return PositionPart(ro, group, p.Text(), false);
}

Value PosY(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  return PositionPart(ro, group, p.Text(), true);
}

// ------------------------------------------------------------------ CSV

void CsvImportExport(RunObject& ro, Params& p) {
  const int32_t mode = p.Int();
  const std::string path = p.Text();
  const std::string group = p.Text();
  const std::string separator = p.Text();
  if (mode == VX_CSV_EXPORT) {
    ExportCsv(ResolvePath(ro.baseFolder, path, ro.createFolders), *ro.store, group, separator);
  } else if (mode == VX_CSV_IMPORT && BeginModifying(ro)) {
    ImportCsv(ResolvePath(ro.baseFolder, path, Folders::kLeave), *ro.store, group, separator);
  }
}

void CsvArrayImportExport(RunObject& ro, Params& p) {
  const int32_t mode = p.Int();
  const std::string path = p.Text();
  const std::string separator = p.Text();
  if (mode == VX_CSV_EXPORT) {
    ExportCsvTable(ResolvePath(ro.baseFolder, path, ro.createFolders), *ro.store, separator);
  } else if (mode == VX_CSV_IMPORT && BeginModifying(ro)) {
    ImportCsvTable(ResolvePath(ro.baseFolder, path, Folders::kLeave), *ro.store, separator);
  }
}

Value GetCsv(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const std::string separator = p.Text();
  return Value::Str(CsvText(*ro.store, group, separator));
}

// ------------------------------------------------------------------ item parts

void SetItemPart(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const std::string item = p.Text();
  const int32_t index = p.Int();
  const std::string text = p.Text();
  SetItemPart(*ro.store, group, item, ro.oneBasedIndex ? int64_t{index} - 1 : index, text);
}

Value GetItemPart(RunObject& ro, Params& p) {
  const std::string group = p.Text();
  const std::string item = p.Text();
  const int32_t index = p.Int();
  const std::string def = p.Text();
  return Value::Str(
      GetItemPart(*ro.store, group, item, ro.oneBasedIndex ? int64_t{index} - 1 : index, def));
}

// ------------------------------------------------------------------ arrays

void LoadArrayIntoGroup(RunObject& ro, Params& p) {
  const std::string name = p.ObjectName();
  const std::string group = p.Text();
  const VxArrayData* array = FindArray(ro, name);
  if (array == nullptr) return;
  ArrayCells cells;
  cells.shape = ArrayShape{array->sizeX,
                           array->sizeY,
                           array->sizeZ,
                           (array->flags & VX_ARRAY_NUMERIC) != 0,
                           (array->flags & VX_ARRAY_TEXT) != 0,
                           (array->flags & VX_ARRAY_BASE1) != 0};
  const auto count = cells.shape.CellCount();
  if (!count || *count > kMaxArrayCells || array->cells == nullptr) return;
  // Copied whole before the first item is set: trigger handlers may change the array.
  const size_t n = static_cast<size_t>(*count);
  if (cells.shape.text) {
    const auto* texts = static_cast<const char* const*>(array->cells);
    cells.texts.reserve(n);
    for (size_t i = 0; i < n; ++i) {
      cells.texts.push_back(texts[i] ? std::optional<std::string>(texts[i]) : std::nullopt);
    }
  } else if (cells.shape.numeric) {
    const auto* numbers = static_cast<const int32_t*>(array->cells);
    cells.numbers.assign(numbers, numbers + n);
  }
  LoadArray(*ro.store, group, cells);
}

void PutGroupIntoArray(RunObject& ro, Params& p) {
  const std::string name = p.ObjectName();
  const std::string group = p.Text();
  VxArrayData* array = FindArray(ro, name);
  if (array == nullptr) return;
  const ArrayShape shape{array->sizeX,
                         array->sizeY,
                         array->sizeZ,
                         (array->flags & VX_ARRAY_NUMERIC) != 0,
                         (array->flags & VX_ARRAY_TEXT) != 0,
                         (array->flags & VX_ARRAY_BASE1) != 0};
  PutArray(*ro.store, group, shape, static_cast<int32_t*>(array->cells));
}

// ------------------------------------------------------------------ charts

void PutChartData(RunObject& ro, Params& p) {
  const std::string name = p.ObjectName();
  const std::string group = p.Text();
  p.Text();  // two parameters the action reads and does not use
  p.Text();
  const VxChartData* chart = FindChart(ro, name);
  if (chart == nullptr || chart->addPoint == nullptr) return;
  for (const ChartPoint& point : ChartPointsFromGroup(*ro.store, group)) {
    chart->addPoint(chart->chart, point.x, point.y, point.a, point.b, point.label.c_str(), 1);
  }
}

void GetChartData(RunObject& ro, Params& p) {
  const std::string name = p.ObjectName();
  const std::string group = p.Text();
  const VxChartData* chart = FindChart(ro, name);
  if (chart == nullptr || chart->readPoint == nullptr) return;
  // Read whole first (a chart that never says "no more" stops at the bound), then set.
  std::vector<ChartPoint> points;
  for (int32_t i = 0; i < kMaxChartPoints; ++i) {
    VxChartPoint raw{};
    if (!chart->readPoint(chart->chart, i, &raw)) break;
    ChartPoint point;
    point.hasLabel = (raw.flags & VX_POINT_HAS_LABEL) != 0;
    point.hasA = (raw.flags & VX_POINT_HAS_A) != 0;
    point.hasB = (raw.flags & VX_POINT_HAS_B) != 0;
    point.x = raw.x;
    point.y = raw.y;
    point.a = raw.a;
    point.b = raw.b;
    if (point.hasLabel && raw.label != nullptr) point.label = raw.label;
    points.push_back(std::move(point));
  }
  SetChartPoints(*ro.store, group, points);
}

void GetChartProperties(RunObject& ro, Params& p) {
  WithChartProperties(
      ro, p,
      [&](const VxChartData&, VxChartProperties&, const std::vector<ChartField>& fields,
          const std::string& group) { GetChartProperties(*ro.store, group, fields); });
}

void PutChartProperties(RunObject& ro, Params& p) {
  WithChartProperties(ro, p,
                      [&](const VxChartData& chart, VxChartProperties& block,
                          const std::vector<ChartField>& fields, const std::string& group) {
                        PutChartProperties(*ro.store, group, fields);
                        chart.exchangeProperties(chart.chart, VX_CHART_SET_PROPERTIES, &block);
                      });
}

}  // namespace vellix
