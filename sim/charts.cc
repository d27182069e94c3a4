// Chart objects: data points and display properties, reached by the module only through the
// three functions a chart publishes.
#include <algorithm>
#include <cstring>

#include "host_objects.h"
#include "printing.h"

namespace vxsim {
namespace {

struct Point {
  uint32_t flags = 0;
  float x = 0, y = 0;
  int32_t a = 0, b = 0;
  std::string label;
};

struct ChartObject : KindData {
  VxChartData record{};
  VxChartProperties properties{};
  bool set[VX_CHART_KEY_COUNT] = {};  // which properties were ever given a value
  std::vector<Point> points;

  ChartObject() {
    record.chart = this;
    record.readPoint = &ReadPoint;
    record.addPoint = &AddPoint;
    record.exchangeProperties = &Exchange;
  }
  uint32_t Identifier() const override { return VX_CHART_IDENTIFIER; }
  void* LiveData() override { return &record; }

  static int VX_CALL ReadPoint(void* chart, int32_t index, VxChartPoint* out) {
    auto& c = *static_cast<ChartObject*>(chart);
    if (index < 0 || static_cast<size_t>(index) >= c.points.size() || !out) return 0;
    const Point& p = c.points[static_cast<size_t>(index)];
    *out = VxChartPoint{p.flags, p.x, p.y, p.a, p.b, p.label.c_str()};
    return 1;
  }
  static void VX_CALL AddPoint(void* chart, float x, float y, int32_t a, int32_t b,
                               const char* label, int32_t) {
    auto& c = *static_cast<ChartObject*>(chart);
    uint32_t flags = VX_POINT_HAS_A | VX_POINT_HAS_B;
    if (label) flags |= VX_POINT_HAS_LABEL;
    c.points.push_back(Point{flags, x, y, a, b, label ? label : ""});
  }
  static void VX_CALL Exchange(void* chart, int32_t mode, VxChartProperties* block) {
    auto& c = *static_cast<ChartObject*>(chart);
    if (!block) return;
    if (mode == VX_CHART_GET_PROPERTIES) {
      std::memcpy(block, &c.properties, sizeof c.properties);
    } else if (mode == VX_CHART_SET_PROPERTIES) {
      // A property counts as set once a value different from the one it had is applied.
      const VxChartKey* keys = VxChartKeys();
      for (int k = 0; k < VX_CHART_KEY_COUNT; ++k) {
        if (FieldText(*block, keys[k]) != FieldText(c.properties, keys[k])) c.set[k] = true;
      }
      std::memcpy(&c.properties, block, sizeof c.properties);
      // Text fields always end within their field, as the chart keeps them.
      for (int k = 0; k < VX_CHART_KEY_COUNT; ++k) {
        if (keys[k].kind == VX_CHART_TEXT) {
          reinterpret_cast<char*>(&c.properties)[keys[k].offset + VX_CHART_TEXT_SIZE - 1] = '\0';
        }
      }
    }
  }

  // A property's value as `show` prints it.
  static std::string FieldText(const VxChartProperties& p, const VxChartKey& key) {
    const char* at = reinterpret_cast<const char*>(&p) + key.offset;
    switch (key.kind) {
      case VX_CHART_INTEGER: {
        int32_t v;
        std::memcpy(&v, at, sizeof v);
        return std::to_string(v);
      }
      case VX_CHART_FLAG:
        return std::to_string(static_cast<unsigned char>(*at));
      case VX_CHART_NUMBER: {
        float v;
        std::memcpy(&v, at, sizeof v);
        return FormatFloat(v);
      }
      default:
        return PrintedText(std::string(at, strnlen(at, VX_CHART_TEXT_SIZE)), "");
    }
  }
};

ChartObject& ChartOf(Host& host, const std::string& name) {
  return static_cast<ChartObject&>(*ObjectOfKind(host, name, ObjectKind::Chart).data);
}

// Sets a property from a script value, by the property's kind.
void SetProperty(ChartObject& c, int k, const Token& value) {
  const VxChartKey& key = VxChartKeys()[k];
  char* at = reinterpret_cast<char*>(&c.properties) + key.offset;
  const std::string what = key.name;
  switch (key.kind) {
    case VX_CHART_INTEGER: {
      const auto v = static_cast<int32_t>(IntegerToken(value, INT32_MIN, INT32_MAX, what));
      std::memcpy(at, &v, sizeof v);
      break;
    }
    case VX_CHART_FLAG:
      *at = static_cast<char>(IntegerToken(value, 0, 255, what));
      break;
    case VX_CHART_NUMBER: {
      if (value.kind != TokenKind::Number) {
        throw SyntaxError(what + " must be a number, got " + DescribeToken(value));
      }
      const float v = NumberAsFloat(value);
      std::memcpy(at, &v, sizeof v);
      break;
    }
    default:
      if (!value.IsTextual()) throw SyntaxError(what + " must be a text");
      if (value.text.size() >= VX_CHART_TEXT_SIZE) {
        throw SyntaxError(what + " holds at most " + std::to_string(VX_CHART_TEXT_SIZE - 1) +
                          " bytes");
      }
      std::memset(at, 0, VX_CHART_TEXT_SIZE);
      std::copy(value.text.begin(), value.text.end(), at);
      break;
  }
  c.set[k] = true;
}

int KeyIndex(const std::string& name) {
  const VxChartKey* keys = VxChartKeys();
  for (int k = 0; k < VX_CHART_KEY_COUNT; ++k) {
    if (name == keys[k].name) return k;
  }
  throw SyntaxError("unknown chart property " + name);
}

}  // namespace

void ChartCommand(Host& host, const std::vector<std::string>& raw) {
  ExpectCount(raw, 1, 2, "chart NAME [type=N]");
  const std::string name = NameToken(raw[1]);
  auto chart = std::make_unique<ChartObject>();
  if (raw.size() == 3) {
    Option o = OptionToken(raw[2]);
    if (o.key != "type") {
      throw SyntaxError("unknown chart option " + o.key + " (usage: chart NAME [type=N])");
    }
    SetProperty(*chart, 0, o.value);
  }
  host.CreateHostObject(name, ObjectKind::Chart, std::move(chart));
}

void PointCommand(Host& host, const std::vector<std::string>& raw) {
  ExpectCount(raw, 3, 6, "point NAME X Y [a=N] [b=N] [label=TEXT]");
  ChartObject& c = ChartOf(host, NameToken(raw[1]));
  Point p;
  const Token x = ParseToken(raw[2]), y = ParseToken(raw[3]);
  if (x.kind != TokenKind::Number || y.kind != TokenKind::Number) {
    throw SyntaxError("a point's X and Y are numbers");
  }
  p.x = NumberAsFloat(x);
  p.y = NumberAsFloat(y);
  for (size_t i = 4; i < raw.size(); ++i) {
    Option o = OptionToken(raw[i]);
    if (o.key == "a" || o.key == "b") {
      const auto v = static_cast<int32_t>(IntegerToken(o.value, INT32_MIN, INT32_MAX, o.key));
      (o.key == "a" ? p.a : p.b) = v;
      p.flags |= o.key == "a" ? VX_POINT_HAS_A : VX_POINT_HAS_B;
    } else if (o.key == "label") {
      if (!o.value.IsTextual()) throw SyntaxError("label must be a text");
      p.label = o.value.text;
      p.flags |= VX_POINT_HAS_LABEL;
    } else {
      throw SyntaxError("unknown point option " + o.key);
    }
  }
  c.points.push_back(std::move(p));
}

void ChartPropCommand(Host& host, const std::vector<std::string>& raw) {
  if (raw.size() < 3) throw SyntaxError("usage: chartprop NAME KEY=VALUE ...");
  ChartObject& c = ChartOf(host, NameToken(raw[1]));
  // Keys such as markerType[0] are not option words: split at the first "=".
  std::vector<std::pair<int, Token>> values;
  for (size_t i = 2; i < raw.size(); ++i) {
    const size_t eq = raw[i].find('=');
    if (eq == std::string::npos || eq == 0) throw SyntaxError("expected KEY=VALUE, got " + raw[i]);
    values.emplace_back(KeyIndex(raw[i].substr(0, eq)), ParseToken(raw[i].substr(eq + 1)));
  }
  ChartObject checked = c;  // every value is checked before the chart changes
  for (auto& [k, value] : values) SetProperty(checked, k, value);
  for (auto& [k, value] : values) SetProperty(c, k, value);
}

void ShowChart(Object& object, const Printer& print) {
  auto& c = static_cast<ChartObject&>(*object.data);
  for (const Point& p : c.points) {
    std::string line = "point " + FormatFloat(p.x) + " " + FormatFloat(p.y);
    if (p.flags & VX_POINT_HAS_A) line += " a=" + std::to_string(p.a);
    if (p.flags & VX_POINT_HAS_B) line += " b=" + std::to_string(p.b);
    if (p.flags & VX_POINT_HAS_LABEL) line += " label=" + PrintedText(p.label, "");
    print(line);
  }
  const VxChartKey* keys = VxChartKeys();
  for (int k = 0; k < VX_CHART_KEY_COUNT; ++k) {
    if (c.set[k]) {
      print(std::string(keys[k].name) + "=" + ChartObject::FieldText(c.properties, keys[k]));
    }
  }
}

}  // namespace vxsim
