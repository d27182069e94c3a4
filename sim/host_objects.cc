#include "host_objects.h"

#include <cstring>

#include "printing.h"

namespace vxsim {

Object& Host::CreateHostObject(const std::string& name, ObjectKind kind,
                               std::unique_ptr<KindData> data) {
  std::unique_ptr<Object> object = NewObject(name, kind);
  object->data = std::move(data);
  Object& ref = *object;
  Application& app = *ref.app;
  app.objects.push_back(std::move(object));
  RebuildLive(app);
  return ref;
}

void Host::AdoptWideness(Application& app) {
  if (app.textsWide == app.wide) return;
  for (auto& object : app.objects) {
    if (object->data) object->data->Rewiden(*this, app.wide);
  }
  RewidenGlobals(*this, app, app.wide);
  app.textsWide = app.wide;
}

Object& ObjectOfKind(Host& host, const std::string& name, ObjectKind kind) {
  Object* object = host.FindObject(name);
  if (!object) {
    throw SyntaxError("unknown object " + name + " in application " + host.Running().name);
  }
  if (object->kind != kind) {
    const char* what = kind == ObjectKind::Scene   ? "a scene object"
                       : kind == ObjectKind::Array ? "an array object"
                                                   : "a chart object";
    throw SyntaxError(name + " is not " + what);
  }
  return *object;
}

std::optional<int> IndexedKey(std::string_view key, std::string_view prefix, int count) {
  if (key.size() <= prefix.size() || key.substr(0, prefix.size()) != prefix) return std::nullopt;
  std::string_view digits = key.substr(prefix.size());
  if (digits.size() > 1 && digits[0] == '0') return std::nullopt;
  long index = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    index = index * 10 + (c - '0');
    if (index >= count) return std::nullopt;
  }
  return static_cast<int>(index);
}

VxValue ValueFromToken(const Token& token, const std::string& what) {
  if (token.kind != TokenKind::Number) {
    throw SyntaxError(what + " must be a number, got " + DescribeToken(token));
  }
  VxValue value{};
  if (token.spelling.find('.') != std::string::npos) {
    value.type = VX_VALUE_DOUBLE;
    value.u.real = NumberAsFloat(token);
  } else {
    value.type = VX_VALUE_INTEGER;
    value.u.integer = static_cast<int32_t>(IntegerToken(token, INT32_MIN, INT32_MAX, what));
  }
  return value;
}

std::string PrintedValue(const VxValue& value) {
  switch (value.type) {
    case VX_VALUE_INTEGER:
      return std::to_string(value.u.integer);
    case VX_VALUE_DOUBLE:
      return "float " + FormatFloat(static_cast<float>(value.u.real));
    default:
      return "type " + std::to_string(value.type);
  }
}

bool RunHostObjectCommand(Host& host, const std::vector<std::string>& raw, const Printer& print) {
  const std::string& command = raw.front();
  if (command == "scene") {
    SceneCommand(host, raw);
  } else if (command == "globals") {
    GlobalsCommand(host, raw);
  } else if (command == "array") {
    ArrayCommand(host, raw);
  } else if (command == "cell") {
    CellCommand(host, raw);
  } else if (command == "chart") {
    ChartCommand(host, raw);
  } else if (command == "point") {
    PointCommand(host, raw);
  } else if (command == "chartprop") {
    ChartPropCommand(host, raw);
  } else if (command == "show") {
    ExpectCount(raw, 1, 1, "show NAME | show globals");
    const std::string name = NameToken(raw[1]);
    if (name == "globals") {
      ShowGlobals(host, print);
      return true;
    }
    Object* object = host.FindObject(name);
    if (!object) {
      throw SyntaxError("unknown object " + name + " in application " + host.Running().name);
    }
    switch (object->kind) {
      case ObjectKind::Scene:
        ShowScene(host, *object, print);
        break;
      case ObjectKind::Array:
        ShowArray(*object, print);
        break;
      case ObjectKind::Chart:
        ShowChart(*object, print);
        break;
      case ObjectKind::Vellix:
        throw SyntaxError(
            name + " is an object of this extension: show prints scene, array and chart objects");
    }
  } else {
    return false;
  }
  return true;
}

}  // namespace vxsim
