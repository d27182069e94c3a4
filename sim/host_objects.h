// The host's own objects beside this extension's: scene objects, the applications' global
// values and strings, array objects and chart objects, with the runner commands that make,
// change and show them.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host.h"

namespace vxsim {

using Printer = std::function<void(const std::string&)>;

// Runs `scene`, `globals`, `array`, `cell`, `chart`, `point`, `chartprop` or `show` (`raw`
// holds the command word first); false when `raw` is none of them. Throws SyntaxError or
// HostError for a command used wrongly.
bool RunHostObjectCommand(Host& host, const std::vector<std::string>& raw, const Printer& print);

// The object of that name in the running application, which must be of `kind`.
Object& ObjectOfKind(Host& host, const std::string& name, ObjectKind kind);

// The index I of an option key PREFIX + I (decimal, no sign or leading zero) below `count`.
std::optional<int> IndexedKey(std::string_view key, std::string_view prefix, int count);

// A tagged value from a number token (a float when it holds ".") and its printed form
// (`5`, `float 2.5`).
VxValue ValueFromToken(const Token& token, const std::string& what);
std::string PrintedValue(const VxValue& value);

// Scene objects (scene.cc).
void SceneCommand(Host& host, const std::vector<std::string>& raw);
void ShowScene(Host& host, Object& object, const Printer& print);

// Global values and strings (globals.cc).
void GlobalsCommand(Host& host, const std::vector<std::string>& raw);
void ShowGlobals(Host& host, const Printer& print);
// Rewrites the application's own global strings into the given wideness.
void RewidenGlobals(Host& host, Application& app, bool wide);

// Array objects (arrays.cc).
void ArrayCommand(Host& host, const std::vector<std::string>& raw);
void CellCommand(Host& host, const std::vector<std::string>& raw);
void ShowArray(Object& object, const Printer& print);

// Chart objects (charts.cc).
void ChartCommand(Host& host, const std::vector<std::string>& raw);
void PointCommand(Host& host, const std::vector<std::string>& raw);
void ChartPropCommand(Host& host, const std::vector<std::string>& raw);
void ShowChart(Object& object, const Printer& print);

}  // namespace vxsim
