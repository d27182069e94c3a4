#include "runner.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "host_objects.h"
#include "printing.h"

namespace vxsim {
namespace {

namespace fs = std::filesystem;

enum class PropType { Byte, SignedByte, Int32, Text };

struct Prop {
  const char* key;
  size_t offset;
  PropType type;
  size_t size;  // field size of texts, NUL included
};

// Edit-data properties and where they are stored.
#define VX_PROP(key, field, type) \
  { key, offsetof(VxEditData, field), PropType::type, VX_EDIT_FIELD_SIZE(field) }
constexpr Prop kProps[] = {
    VX_PROP("loaddefault", loadDefaultFile, Byte),
    VX_PROP("readonly", defaultReadOnly, Byte),
    VX_PROP("file", defaultFile, Text),
    VX_PROP("basefolder", baseFolder, Int32),
    VX_PROP("initial", initialData, Text),
    VX_PROP("createfolders", createFolders, Byte),
    VX_PROP("autosave", autoSave, Byte),
    VX_PROP("standard", standardSettings, Byte),
    VX_PROP("compress", compression, Byte),
    VX_PROP("encrypt", encryption, Byte),
    VX_PROP("key", encryptionKey, Text),
    VX_PROP("customnewline", customNewLine, Byte),
    VX_PROP("newline", newLine, Text),
    VX_PROP("quote", alwaysQuote, Byte),
    VX_PROP("grouprepeat", groupRepeatMode, Int32),
    VX_PROP("itemrepeat", itemRepeatMode, SignedByte),
    VX_PROP("undo", undoDepth, SignedByte),
    VX_PROP("redo", redoDepth, SignedByte),
    VX_PROP("saveoriginal", saveRepeatedAsOriginal, Byte),
    VX_PROP("escgroups", escapeGroups, Byte),
    VX_PROP("escnames", escapeItemNames, Byte),
    VX_PROP("escvalues", escapeValues, Byte),
    VX_PROP("case", caseSensitive, Byte),
    VX_PROP("global", globalData, Byte),
    VX_PROP("onebased", oneBasedIndex, Byte),
    VX_PROP("autoload", autoLoad, Byte),
    VX_PROP("subgroups", subgroups, Byte),
    VX_PROP("emptygroups", allowEmptyGroups, Byte),
    VX_PROP("globalkey", globalDataKey, Text),
};
#undef VX_PROP

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

}  // namespace

Runner::Runner(Host& host, std::string scriptName, std::ostream& out)
    : host_(host), scriptName_(std::move(scriptName)), out_(out) {
  host_.SetTriggerHandler([this](Object& object, int condition) { OnTrigger(object, condition); });
}

std::string Runner::Prefix(int line) const {
  return scriptName_ + ":" + std::to_string(line) + ": ";
}

void Runner::Print(const std::string& line) {
  if (trace_) {
    if (running_.empty()) out_ << "end";
    for (size_t i = 0; i < running_.size(); ++i) out_ << (i ? ">" : "") << running_[i];
    out_ << ": ";
  }
  out_ << line << '\n';
}

void Runner::Run(std::istream& script) {
  int line = 0;
  try {
    try {
      host_.Start();
    } catch (const std::exception& e) {
      throw ScriptError(Prefix(1) + "starting the application: " + e.what());
    }
    std::string text;
    while (std::getline(script, text)) {
      ++line;
      if (!text.empty() && text.back() == '\r') text.pop_back();
      size_t first = text.find_first_not_of(" \t");
      if (first == std::string::npos || text[first] == '#') continue;
      std::vector<std::string> raw;
      try {
        raw = SplitLine(text);
      } catch (const SyntaxError& e) {
        throw ScriptError(Prefix(line) + e.what());
      }
      if (raw.empty()) continue;
      Execute(raw, line, nullptr);
      out_.flush();
    }
    try {
      host_.Shutdown();
    } catch (const std::exception& e) {
      throw ScriptError(Prefix(line) + "at the end of the script: " + e.what());
    }
    out_.flush();
  } catch (...) {
    out_.flush();
    host_.Abandon();
    throw;
  }
}

void Runner::Execute(const std::vector<std::string>& raw, int line, const Handler* handler) {
  running_.push_back(line);
  try {
    Dispatch(raw, line);
    running_.pop_back();
  } catch (const ScriptError&) {
    running_.pop_back();
    throw;
  } catch (const std::exception& e) {
    running_.pop_back();
    std::string where;
    if (handler) {
      where =
          " (in the handler of " + handler->object + " " + std::to_string(handler->condition) + ")";
    }
    throw ScriptError(Prefix(line) + e.what() + where);
  }
}

void Runner::Dispatch(const std::vector<std::string>& raw, int line) {
  const std::string& command = raw.front();
  if (command == "cond") return CmdCall(raw, RoutineKind::Condition);
  if (command == "act") return CmdCall(raw, RoutineKind::Action);
  if (command == "expr") return CmdCall(raw, RoutineKind::Expression);
  if (command == "echo") {
    std::string joined;
    for (size_t i = 1; i < raw.size(); ++i) {
      Token t = ParseToken(raw[i]);
      if (i > 1) joined += ' ';
      joined += t.kind == TokenKind::Object || t.kind == TokenKind::Block ? t.spelling : t.text;
    }
    return Print(joined);
  }
  if (command == "object") return CmdObject(raw);
  if (command == "on") return CmdOn(raw, line);
  if (command == "destroy") {
    ExpectCount(raw, 1, 1, "destroy NAME");
    return host_.DestroyObject(FindObjectOrThrow(NameToken(raw[1])));
  }
  if (command == "frame") {
    ExpectCount(raw, 0, 0, "frame");
    return host_.EndFrame(host_.Running());
  }
  if (command == "restart") {
    ExpectCount(raw, 0, 0, "restart");
    return host_.Restart(host_.Running());
  }
  if (command == "app") return CmdApp(raw);
  if (command == "use") {
    ExpectCount(raw, 1, 1, "use NAME");
    std::string name = NameToken(raw[1]);
    Application* app = host_.FindApp(name);
    if (!app) throw SyntaxError("unknown application " + name);
    return host_.SetRunning(*app);
  }
  if (command == "folders") return CmdFolders(raw);
  if (command == "write" || command == "read" || command == "hex" || command == "exists" ||
      command == "remove" || command == "mkdir") {
    return CmdFile(raw);
  }
  if (RunHostObjectCommand(host_, raw, [this](const std::string& text) { Print(text); })) return;
  throw SyntaxError("unknown command " + command);
}

Object& Runner::FindObjectOrThrow(const std::string& name) {
  Object* object = host_.FindObject(name);
  if (!object) {
    throw SyntaxError("unknown object " + name + " in application " + host_.Running().name);
  }
  return *object;
}

void Runner::CmdCall(const std::vector<std::string>& raw, RoutineKind kind) {
  if (raw.size() < 3) throw SyntaxError("usage: " + raw[0] + " NAME INDEX ARG...");
  Object& object = FindObjectOrThrow(NameToken(raw[1]));
  if (object.kind != ObjectKind::Vellix) {
    throw SyntaxError(object.name + " is not an object of this extension");
  }
  Token indexToken = ParseToken(raw[2]);
  int index = static_cast<int>(
      IntegerToken(indexToken, 0, std::numeric_limits<int32_t>::max(), "a routine index"));
  std::vector<Token> args;
  for (size_t i = 3; i < raw.size(); ++i) args.push_back(ParseToken(raw[i]));
  CallResult r = host_.Call(object, kind, index, args);
  switch (r.type) {
    case CallResult::Type::None:
      break;
    case CallResult::Type::Bool:
      Print(r.truth ? "true" : "false");
      break;
    case CallResult::Type::Int:
      Print("int " + std::to_string(r.integer));
      break;
    case CallResult::Type::Float:
      Print("float " + FormatFloat(r.real));
      break;
    case CallResult::Type::Text:
      Print("text " + PrintedText(r.text, host_.WorkFolder()));
      break;
  }
}

void Runner::CmdOn(const std::vector<std::string>& raw, int line) {
  if (raw.size() < 4) throw SyntaxError("usage: on NAME INDEX COMMAND...");
  Object& object = FindObjectOrThrow(NameToken(raw[1]));
  if (object.kind != ObjectKind::Vellix) {
    throw SyntaxError(object.name + " is not an object of this extension");
  }
  int count = host_.RoutineCount(RoutineKind::Condition);
  Token indexToken = ParseToken(raw[2]);
  if (indexToken.kind != TokenKind::Number || indexToken.spelling.find('.') != std::string::npos) {
    throw SyntaxError("a condition index must be a whole number, got " + indexToken.spelling);
  }
  auto index = NumberAsInt(indexToken);
  if (!index || *index < 0 || *index >= count) {
    throw SyntaxError("unknown condition index " + indexToken.spelling);
  }
  const std::string& command = raw[3];
  if (command != "cond" && command != "act" && command != "expr" && command != "show" &&
      command != "echo" && command != "destroy") {
    throw SyntaxError("a handler runs cond, act, expr, show, echo or destroy, not " + command);
  }
  // Malformed tokens are reported where they are written, not when the trigger comes.
  for (size_t i = 4; i < raw.size(); ++i) ParseToken(raw[i]);
  handlers_.push_back(Handler{object.app, object.name, *index,
                              std::vector<std::string>(raw.begin() + 3, raw.end()), line});
}

void Runner::OnTrigger(Object& object, int condition) {
  Print("trigger " + object.name + " " + std::to_string(condition));
  // Handlers cannot declare handlers, so the list does not change while this runs. The
  // object stays alive while its trigger is raised, even when a handler destroys it.
  for (size_t i = 0; i < handlers_.size(); ++i) {
    const Handler& h = handlers_[i];
    if (h.app != object.app || h.object != object.name || h.condition != condition) continue;
    // Each handler is an event whose first condition is the trigger: the host evaluates
    // that condition routine before running the event, as the real runtime does.
    const char* signature = Signature(RoutineKind::Condition, condition);
    if (signature && !*signature) {
      CallResult r;
      try {
        r = host_.Call(object, RoutineKind::Condition, condition, {});
      } catch (const std::exception& e) {
        throw ScriptError(Prefix(h.line) + e.what() + " (evaluating the trigger of the handler)");
      }
      if (!r.truth) continue;
    }
    // The handler is an event of the object's own application: names resolve there even
    // when another application is running (one sharing the object's global data).
    Application& running = host_.Running();
    host_.SetRunning(*object.app);
    try {
      Execute(h.command, h.line, &h);
    } catch (...) {
      host_.SetRunning(running);
      throw;
    }
    host_.SetRunning(running);
  }
}

void Runner::CmdApp(const std::vector<std::string>& raw) {
  if (raw.size() < 2) {
    throw SyntaxError("usage: app NAME [parent=NAME] [path=TEXT] [wide=0|1] [codepage=N] ...");
  }
  std::string name = NameToken(raw[1]);
  std::vector<Option> options;
  Application* parent = nullptr;
  bool parentGiven = false;
  for (size_t i = 2; i < raw.size(); ++i) {
    Option o = OptionToken(raw[i]);
    if (o.key == "parent") {
      if (!o.value.IsTextual()) throw SyntaxError("parent must name an application");
      parent = host_.FindApp(o.value.text);
      if (!parent) throw SyntaxError("unknown application " + o.value.text);
      parentGiven = true;
    } else if (o.key != "path" && o.key != "wide" && o.key != "codepage" &&
               o.key != "sharevalues" && o.key != "sharestrings") {
      throw SyntaxError("unknown application option " + o.key);
    }
    options.push_back(o);
  }
  auto apply = [&](Application& app) {
    for (const Option& o : options) {
      if (o.key == "path") {
        if (!o.value.IsTextual()) throw SyntaxError("path must be a text");
        app.path = o.value.text;
        app.hasPath = true;
      } else if (o.key == "wide") {
        app.wide = FlagOption(o);
      } else if (o.key == "codepage") {
        app.codepage = static_cast<int32_t>(IntegerToken(o.value, 0, 65535, "codepage"));
      } else if (o.key == "sharevalues") {
        app.shareValues = FlagOption(o);
      } else if (o.key == "sharestrings") {
        app.shareStrings = FlagOption(o);
      }
    }
  };
  Application* app = host_.FindApp(name);
  if (!app) {
    // A bad option throws before the application is registered or started.
    host_.DefineApp(name, parent, apply);
    return;
  }
  if (parentGiven && parent != app->parent) {
    throw SyntaxError("the parent of application " + name + " cannot change");
  }
  apply(*app);
  host_.OptionsChanged(*app);
  host_.SetRunning(*app);
}

void Runner::CmdFolders(const std::vector<std::string>& raw) {
  for (size_t i = 1; i < raw.size(); ++i) {
    Option o = OptionToken(raw[i]);
    if (!o.value.IsTextual()) throw SyntaxError(o.key + " must be a folder path");
    int which = o.key == "system"          ? VX_FOLDER_SYSTEM
                : o.key == "appdata"       ? VX_FOLDER_APPDATA
                : o.key == "commonappdata" ? VX_FOLDER_COMMON_APPDATA
                                           : -1;
    if (which < 0) throw SyntaxError("unknown folder " + o.key);
    host_.SetFolder(which, o.value.text);
  }
}

std::vector<uint8_t> EditDataFromProps(const std::vector<Option>& options) {
  std::vector<uint8_t> block(VX_EDIT_DATA_SIZE, 0);
  for (const Option& o : options) {
    if (o.key != "editdata") continue;
    if (!o.value.IsTextual()) throw SyntaxError("editdata must name a file");
    auto bytes = ReadWholeFile(o.value.text);
    if (!bytes) throw SyntaxError("cannot read the edit data file " + o.value.text);
    std::fill(block.begin(), block.end(), 0);
    std::copy_n(bytes->begin(), std::min(bytes->size(), block.size()), block.begin());
  }
  for (const Option& o : options) {
    if (o.key == "editdata") continue;
    const Prop* prop = nullptr;
    for (const Prop& p : kProps) {
      if (o.key == p.key) prop = &p;
    }
    if (!prop) throw SyntaxError("unknown object property " + o.key);
    uint8_t* at = block.data() + prop->offset;
    switch (prop->type) {
      case PropType::Byte:
        *at = static_cast<uint8_t>(IntegerToken(o.value, -128, 255, o.key) & 0xFF);
        break;
      case PropType::SignedByte:
        *at = static_cast<uint8_t>(IntegerToken(o.value, -128, 127, o.key) & 0xFF);
        break;
      case PropType::Int32: {
        auto v = static_cast<uint32_t>(IntegerToken(o.value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max(), o.key));
        for (int k = 0; k < 4; ++k) at[k] = static_cast<uint8_t>(v >> (8 * k));
        break;
      }
      case PropType::Text: {
        if (!o.value.IsTextual()) throw SyntaxError(o.key + " must be a text");
        std::memset(at, 0, prop->size);
        // The host's texts end at their first NUL; the field keeps room for one.
        size_t n = std::min(strnlen(o.value.text.c_str(), o.value.text.size()), prop->size - 1);
        std::copy_n(o.value.text.data(), n, at);
        break;
      }
    }
  }
  return block;
}

void Runner::CmdObject(const std::vector<std::string>& raw) {
  if (raw.size() < 2) throw SyntaxError("usage: object NAME [PROP=VALUE ...]");
  std::string name = NameToken(raw[1]);
  std::vector<Option> options;
  for (size_t i = 2; i < raw.size(); ++i) options.push_back(OptionToken(raw[i]));
  host_.CreateObject(name, EditDataFromProps(options));
}

void Runner::CmdFile(const std::vector<std::string>& raw) {
  const std::string& command = raw[0];
  if (command == "write") {
    ExpectCount(raw, 2, 2, "write PATH TEXT");
    std::string path = TextToken(raw[1]);
    std::string bytes = TextToken(raw[2]);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw SyntaxError("cannot write the file " + path);
    return;
  }
  if (command == "read") {
    ExpectCount(raw, 1, 1, "read PATH");
    auto bytes = ReadWholeFile(TextToken(raw[1]));
    return Print(bytes ? "file " + PrintedText(*bytes, host_.WorkFolder()) : "missing");
  }
  if (command == "hex") {
    ExpectCount(raw, 1, 2, "hex PATH [N]");
    std::string path = TextToken(raw[1]);
    size_t limit = std::numeric_limits<size_t>::max();
    if (raw.size() == 3) {
      limit = static_cast<size_t>(
          IntegerToken(ParseToken(raw[2]), 0, std::numeric_limits<int32_t>::max(), "N"));
    }
    auto bytes = ReadWholeFile(path);
    return Print(bytes ? "hex" + HexBytes(*bytes, limit) : "missing");
  }
  if (command == "exists") {
    ExpectCount(raw, 1, 1, "exists PATH");
    std::error_code ec;
    return Print(fs::exists(TextToken(raw[1]), ec) ? "true" : "false");
  }
  if (command == "remove") {
    ExpectCount(raw, 1, 1, "remove PATH");
    std::error_code ec;
    fs::remove(TextToken(raw[1]), ec);
    return;
  }
  ExpectCount(raw, 1, 1, "mkdir PATH");
  std::string path = TextToken(raw[1]);
  std::error_code ec;
  fs::create_directories(path, ec);
  if (ec || !fs::is_directory(path, ec)) throw SyntaxError("cannot create the folder " + path);
}

}  // namespace vxsim
