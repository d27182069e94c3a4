#include "host.h"

#include <dlfcn.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "wide.h"

namespace vxsim {
namespace {

// The host the C services reach. One host runs at a time in a process.
Host* g_host = nullptr;

// Where a bad read gets its "zero" pointer: an empty text, and an empty parameter record.
alignas(16) const uint8_t kZeroRecord[256] = {};

// Parameter records of object selectors and custom blocks are at least this large, zero
// padded, so a routine reading a fixed-size block past the given bytes reads zeros.
constexpr size_t kMinRecordSize = 64;

template <class T>
T Resolve(void* module, const char* name, bool required) {
  void* symbol = dlsym(module, name);
  if (!symbol && required) throw HostError(std::string("the module does not export ") + name);
  return reinterpret_cast<T>(symbol);
}

// Name of a live object as the module sees it in a wide application: the script's UTF-8
// decoded to 16-bit characters, cut to 23 of them.
void WidenName(std::string_view name, uint16_t (&out)[24]) {
  std::fill(std::begin(out), std::end(out), uint16_t{0});
  const std::u16string wide = WidenUtf8(name);
  std::copy_n(wide.begin(), std::min<size_t>(wide.size(), 23), out);
}

// Runs an entry point of the module. Its entry points have C linkage: a C++ exception that
// escapes one is a fault of the module, reported as such rather than as the host's own.
template <class F>
auto Enter(const std::string& what, F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const HostError&) {
    throw;
  } catch (const std::exception& e) {
    throw HostError("an exception escaped the module from " + what + ": " + e.what());
  } catch (...) {
    throw HostError("an exception escaped the module from " + what);
  }
}

}  // namespace

struct Host::CallFrame {
  Object* object = nullptr;
  RoutineKind kind = RoutineKind::Action;
  int index = 0;
  std::string_view signature;
  const std::vector<Token>* args = nullptr;
  size_t next = 0;
  std::vector<std::unique_ptr<uint8_t[]>> records;
  std::vector<std::pair<char*, size_t>> results;  // result strings, freed with the frame

  ~CallFrame() {
    for (auto& r : results) std::free(r.first);
  }
  std::string Where() const {
    return std::string(RoutineKindName(kind)) + " " + std::to_string(index);
  }
};

// ---------------------------------------------------------------------------------------
// Loading and lifecycle

ModuleEntryPoints LoadModule(const std::string& modulePath) {
  void* module = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* why = dlerror();
    throw HostError("cannot load the module " + modulePath + ": " + (why ? why : "unknown error"));
  }
  ModuleEntryPoints entry;
  entry.getRunObjectInfos = Resolve<VxGetRunObjectInfosFn>(module, "GetRunObjectInfos", true);
  entry.getRunObjectDataSize = Resolve<VxGetRunObjectDataSizeFn>(module, "GetRunObjectDataSize", true);
  entry.createRunObject = Resolve<VxCreateRunObjectFn>(module, "CreateRunObject", true);
  entry.destroyRunObject = Resolve<VxDestroyRunObjectFn>(module, "DestroyRunObject", true);
  entry.startApp = Resolve<VxAppFn>(module, "StartApp", true);
  entry.endApp = Resolve<VxAppFn>(module, "EndApp", true);
  // The module stays loaded: a module's static destructors and the leak checker's symbols
  // both need it until the process ends.
  return entry;
}

Host::Host(const std::string& modulePath, std::string workFolder)
    : Host(LoadModule(modulePath), std::move(workFolder)) {}

Host::Host(const ModuleEntryPoints& entry, std::string workFolder) : workFolder_(std::move(workFolder)) {
  if (g_host) throw HostError("only one simulated host can run at a time");
  if (!entry.getRunObjectInfos || !entry.getRunObjectDataSize || !entry.createRunObject ||
      !entry.destroyRunObject || !entry.startApp || !entry.endApp)
    throw HostError("the module lacks an entry point");
  entry_ = entry;
  Enter("GetRunObjectInfos", [&] { return entry_.getRunObjectInfos(nullptr, &description_); });
  if ((description_.conditionCount && !description_.conditions) ||
      (description_.actionCount && !description_.actions) ||
      (description_.expressionCount && !description_.expressions))
    throw HostError("the module's description has a routine count without a table");

  folders_[VX_FOLDER_SYSTEM] = workFolder_ + "/system";
  folders_[VX_FOLDER_APPDATA] = workFolder_ + "/appdata";
  folders_[VX_FOLDER_COMMON_APPDATA] = workFolder_ + "/commonappdata";
  services_.general = &Host::SvcGeneral;
  services_.loadApplicationData = &Host::SvcLoadApplicationData;
  services_.storeApplicationData = &Host::SvcStoreApplicationData;
  services_.folder = &Host::SvcFolder;

  auto main = std::make_unique<Application>();
  main->name = "main";
  apps_.push_back(std::move(main));
  running_ = apps_.front().get();
  OptionsChanged(*running_);
  g_host = this;
}

Host::~Host() {
  if (started_ && !finished_) Abandon();
  for (auto& [block, size] : blocks_) std::free(block);
  for (void* r : looseResults_) std::free(r);
  g_host = nullptr;
}

void Host::Start() {
  if (started_) return;
  started_ = true;
  StartApp(Main());
}

void Host::StartApp(Application& app) {
  Enter("StartApp", [&] { entry_.startApp(&services_, &app.record); });
  ThrowPending();
}

void Host::EndApp(Application& app) {
  Enter("EndApp", [&] { entry_.endApp(&services_, &app.record); });
  ThrowPending();
}

std::vector<Object*> Host::ObjectsInCreationOrder(const std::function<bool(const Application&)>& which) {
  std::vector<Object*> objects;
  for (auto& app : apps_)
    if (which(*app))
      for (auto& o : app->objects) objects.push_back(o.get());
  std::sort(objects.begin(), objects.end(), [](Object* a, Object* b) { return a->serial < b->serial; });
  return objects;
}

void Host::Teardown() {
  std::vector<Object*> all = ObjectsInCreationOrder([](const Application&) { return true; });
  for (Object* o : all) DestroyObject(*o);
  // Sub-applications are defined after their parents: reverse order ends them first.
  for (auto it = apps_.rbegin(); it != apps_.rend(); ++it) EndApp(**it);
}

void Host::Shutdown() {
  if (!started_ || finished_) return;
  try {
    Teardown();
    finished_ = true;
  } catch (...) {
    Abandon();
    throw;
  }
}

void Host::Abandon() {
  if (!started_ || finished_) return;
  finished_ = true;
  failed_ = true;
  // Every object still gets its destroy call and every application its EndApp, so the
  // module releases what it holds; what goes wrong on the way is no longer reported.
  std::vector<Object*> all = ObjectsInCreationOrder([](const Application&) { return true; });
  for (Object* o : all) {
    try { DestroyObject(*o); } catch (...) {}
  }
  for (auto it = apps_.rbegin(); it != apps_.rend(); ++it) {
    try { EndApp(**it); } catch (...) {}
  }
  pending_ = nullptr;
}

Application* Host::FindApp(std::string_view name) {
  for (auto& app : apps_)
    if (app->name == name) return app.get();
  return nullptr;
}

Application& Host::DefineApp(const std::string& name, Application* parent,
                             const std::function<void(Application&)>& configure) {
  if (FindApp(name)) throw HostError("application " + name + " is already defined");
  auto app = std::make_unique<Application>();
  app->name = name;
  app->parent = parent;
  if (configure) configure(*app);
  Application& ref = *app;
  apps_.push_back(std::move(app));
  OptionsChanged(ref);
  running_ = &ref;
  StartApp(ref);
  return ref;
}

void Host::OptionsChanged(Application& app) {
  app.record.parent = app.parent ? &app.parent->record : nullptr;
  app.record.path = app.hasPath ? app.path.c_str() : nullptr;
  app.record.flags = (app.record.flags & ~uint32_t{VX_APP_SHARES_VALUES | VX_APP_SHARES_STRINGS}) |
                     (app.shareValues ? uint32_t{VX_APP_SHARES_VALUES} : 0u) |
                     (app.shareStrings ? uint32_t{VX_APP_SHARES_STRINGS} : 0u);
  AdoptWideness(app);
  for (int i = 0; i < VX_SVC_COUNT; ++i) app.runHeader.services[i] = nullptr;
  // Every position gets a routine: one the host does not provide reports the call.
  [&]<size_t... I>(std::index_sequence<I...>) {
    ((app.runHeader.services[I] = &Host::UnprovidedService<static_cast<int>(I)>), ...);
  }(std::make_index_sequence<VX_SVC_COUNT>{});
  app.runHeader.services[VX_SVC_RAISE_TRIGGER] = &Host::SvcRaiseTrigger;
  app.runHeader.services[VX_SVC_READ_FIRST_EXPR_PARAM] = &Host::SvcReadFirstExpr;
  app.runHeader.services[VX_SVC_READ_NEXT_EXPR_PARAM] = &Host::SvcReadNextExpr;
  app.runHeader.services[VX_SVC_ALLOCATE_RESULT_STRING] = &Host::SvcAllocateResultString;
  app.runHeader.services[VX_SVC_READ_PARAMETER] = &Host::SvcReadParameter;
  app.runHeader.services[VX_SVC_SET_POSITION] = &Host::SvcSetPosition;
  app.runHeader.host = &services_;
  app.runHeader.app = &app.record;
  RebuildLive(app);
}

void Host::RebuildLive(Application& app) {
  app.live.clear();
  app.live.reserve(app.objects.size());
  for (auto& o : app.objects) {
    VxLiveObject live{};
    live.identifier = o->data ? o->data->Identifier() : description_.identifier;
    live.name = app.wide ? static_cast<const void*>(o->wideName) : static_cast<const void*>(o->narrowName);
    live.run = o->header;
    live.data = o->data ? o->data->LiveData() : nullptr;
    live.scene = o->data ? o->data->Scene() : nullptr;
    app.live.push_back(live);
  }
  app.runHeader.liveCount = static_cast<int32_t>(app.live.size());
  app.runHeader.live = app.live.empty() ? nullptr : app.live.data();
}

void Host::Restart(Application& app) {
  // Ending an application ends what runs inside it: the objects of its sub-applications go
  // with its own, before EndApp releases the data they may share.
  auto inside = [&](const Application& a) {
    for (const Application* p = &a; p; p = p->parent)
      if (p == &app) return true;
    return false;
  };
  for (Object* o : ObjectsInCreationOrder(inside)) DestroyObject(*o);
  EndApp(app);
  StartApp(app);
}

// ---------------------------------------------------------------------------------------
// Objects

std::unique_ptr<Object> Host::NewObject(const std::string& name, ObjectKind kind) {
  if (name.empty() || name.size() > kMaxObjectName)
    throw HostError("object names have 1 to " + std::to_string(kMaxObjectName) + " bytes: " + name);
  if (name.find('\0') != std::string::npos) throw HostError("object names cannot hold a NUL byte");
  if (FindObject(name)) throw HostError("object " + name + " already exists in application " + running_->name);
  Application& app = *running_;
  auto object = std::make_unique<Object>();
  object->name = name;
  object->kind = kind;
  object->app = &app;
  object->serial = nextSerial_++;
  std::memcpy(object->narrowName, name.data(), name.size());
  WidenName(name, object->wideName);
  return object;
}

Object& Host::CreateObject(const std::string& name, std::vector<uint8_t> editData) {
  editData.resize(VX_EDIT_DATA_SIZE, 0);
  std::unique_ptr<Object> object = NewObject(name, ObjectKind::Vellix);
  Object& ref = *object;
  Application& app = *ref.app;
  ref.editData = std::move(editData);

  int size = Enter("GetRunObjectDataSize", [&] { return entry_.getRunObjectDataSize(&app.runHeader, object->editData.data()); });
  ThrowPending();
  size_t bytes = std::max<size_t>(size > 0 ? static_cast<size_t>(size) : 0, sizeof(VxObjectHeader));
  auto* header = static_cast<VxObjectHeader*>(std::calloc(1, bytes));
  if (!header) throw HostError("out of memory for a run object");
  header->rh = &app.runHeader;
  header->hostData = object.get();
  object->header = header;
  byHeader_[header] = object.get();
  app.objects.push_back(std::move(object));
  RebuildLive(app);

  Enter("CreateRunObject", [&] { return entry_.createRunObject(header, ref.editData.data(), nullptr); });
  ThrowPending();
  return ref;
}

Object* Host::FindObject(std::string_view name) {
  for (auto& o : running_->objects)
    if (o->name == name) return o.get();
  return nullptr;
}

void Host::DestroyObject(Object& object) {
  if (object.busy > 0) {
    object.doomed = true;
    return;
  }
  Application& app = *object.app;
  VxObjectHeader* header = object.header;
  // The object leaves the host's lists even when its destroy call fails.
  std::exception_ptr escaped;
  if (header) {
    try {
      Enter("DestroyRunObject", [&] { return entry_.destroyRunObject(header, 0); });
    } catch (...) {
      escaped = std::current_exception();
    }
  }
  auto it = std::find_if(app.objects.begin(), app.objects.end(),
                         [&](const std::unique_ptr<Object>& o) { return o.get() == &object; });
  if (header) {
    byHeader_.erase(header);
    std::free(header);
  }
  if (object.data) object.data->Release(*this);
  if (it != app.objects.end()) app.objects.erase(it);
  RebuildLive(app);
  if (escaped) std::rethrow_exception(escaped);
  ThrowPending();
}

void Host::DestroyDoomed() {
  for (Object* o : ObjectsInCreationOrder([](const Application&) { return true; }))
    if (o->doomed && o->busy == 0) DestroyObject(*o);
}

void Host::EndFrame(Application& app) {
  // Destroy calls may not add objects, so the list only shrinks.
  while (!app.objects.empty()) DestroyObject(*app.objects.front());
}

// ---------------------------------------------------------------------------------------
// Calls

int Host::RoutineCount(RoutineKind kind) const {
  int count = 0;
  switch (kind) {
    case RoutineKind::Condition: count = description_.conditionCount; break;
    case RoutineKind::Action: count = description_.actionCount; break;
    case RoutineKind::Expression: count = description_.expressionCount; break;
  }
  return std::min(count, CatalogueSize(kind));
}

CallResult Host::Call(Object& object, RoutineKind kind, int index, const std::vector<Token>& args) {
  // Built only for a message: benchmarks call through here millions of times.
  auto what = [&] { return std::string(RoutineKindName(kind)) + " " + std::to_string(index); };
  if (failed_) throw HostError("the run has already failed");
  if (object.kind != ObjectKind::Vellix || !object.header)
    throw HostError(object.name + " is not an object of this extension");
  if (index < 0 || index >= RoutineCount(kind))
    throw HostError("unknown " + std::string(RoutineKindName(kind)) + " index " + std::to_string(index) +
                    " (there are " + std::to_string(RoutineCount(kind)) + ")");
  const char* signature = Signature(kind, index);
  size_t expected = std::strlen(signature);
  if (args.size() != expected)
    throw HostError(what() + " takes " + std::to_string(expected) + " argument" + (expected == 1 ? "" : "s") +
                    ", got " + std::to_string(args.size()));
  const VxRoutine* table = kind == RoutineKind::Condition ? description_.conditions
                           : kind == RoutineKind::Action  ? description_.actions
                                                          : description_.expressions;
  VxRoutine routine = table[index];
  if (!routine) throw HostError("the module's table has no routine for " + what());

  auto frame = std::make_unique<CallFrame>();
  frame->object = &object;
  frame->kind = kind;
  frame->index = index;
  frame->signature = signature;
  frame->args = &args;
  frames_.push_back(std::move(frame));

  // A nested call on the same object must not disturb the result flags of the call it
  // interrupts.
  VxObjectHeader* header = object.header;
  uint32_t savedFlags = header->flags;
  header->flags = 0;
  vx_word word = 0;
  std::exception_ptr escaped;
  ++object.busy;
  try {
    word = Enter(what(), [&] { return routine(header, 0, 0); });
  } catch (...) {
    escaped = std::current_exception();
  }
  --object.busy;
  uint32_t flags = header->flags;
  header->flags = savedFlags;
  std::unique_ptr<CallFrame> done = std::move(frames_.back());
  frames_.pop_back();
  if (escaped) {
    // The module is in an unknown state: nothing more of this run is reported.
    failed_ = true;
    pending_ = nullptr;
    std::rethrow_exception(escaped);
  }

  CallResult result;
  result.parametersRead = done->next;
  if (kind == RoutineKind::Condition) {
    result.type = CallResult::Type::Bool;
    result.truth = word != 0;
  } else if (kind == RoutineKind::Expression) {
    if (flags & VX_RESULT_TEXT) {
      result.type = CallResult::Type::Text;
      const char* text = reinterpret_cast<const char*>(word);
      if (text) {
        // A result string of this call is read within its allocation even when the module
        // forgot the NUL.
        size_t limit = SIZE_MAX;
        for (auto& [block, size] : done->results)
          if (text >= block && text < block + size) limit = static_cast<size_t>(block + size - text);
        result.text.assign(text, limit == SIZE_MAX ? std::strlen(text) : strnlen(text, limit));
      }
    } else if (flags & VX_RESULT_FLOAT) {
      result.type = CallResult::Type::Float;
      result.real = std::bit_cast<float>(static_cast<uint32_t>(static_cast<uintptr_t>(word)));
    } else {
      result.type = CallResult::Type::Int;
      result.integer = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uintptr_t>(word)));
    }
  }
  done.reset();
  ThrowPending();
  if (frames_.empty()) DestroyDoomed();
  return result;
}

vx_word Host::ReadArgument(ReadKind want, bool expressionService, bool first) {
  const vx_word zeroPointer = reinterpret_cast<vx_word>(kZeroRecord);
  const vx_word zero = (want == ReadKind::Structured || want == ReadKind::Text) ? zeroPointer : 0;
  if (failed_) return zero;
  if (frames_.empty()) {
    Fail("the module read a parameter outside of any routine call");
    return zero;
  }
  CallFrame& f = *frames_.back();
  bool isExpression = f.kind == RoutineKind::Expression;
  if (isExpression != expressionService) {
    Fail(f.Where() + (isExpression ? " reads a parameter with the condition/action service"
                                   : " reads a parameter with the expression services"));
    return zero;
  }
  if (first) f.next = 0;
  size_t n = f.next++;
  std::string arg = "argument " + std::to_string(n + 1);
  if (n >= f.signature.size()) {
    Fail(f.Where() + " reads " + arg + " but takes only " + std::to_string(f.signature.size()));
    return zero;
  }
  ParamKind expected = static_cast<ParamKind>(f.signature[n]);
  const Token& token = (*f.args)[n];
  bool kindOk = false;
  const char* wantName = "";
  switch (want) {
    case ReadKind::Structured:
      kindOk = expected == ParamKind::Text || expected == ParamKind::Object || expected == ParamKind::Custom;
      wantName = "a text or parameter record";
      break;
    case ReadKind::Text:
      kindOk = expected == ParamKind::Text;
      wantName = "a text";
      break;
    case ReadKind::Integer:
      kindOk = expected == ParamKind::Integer || expected == ParamKind::Number || expected == ParamKind::Position;
      wantName = "an integer";
      break;
    case ReadKind::Float:
      kindOk = expected == ParamKind::Float || expected == ParamKind::Number;
      wantName = "a float";
      break;
  }
  if (!kindOk) {
    Fail(f.Where() + " reads " + arg + " (" + std::string(ParamKindName(expected)) + ") as " + wantName);
    return zero;
  }
  auto mismatch = [&](const char* needs) {
    Fail(f.Where() + " reads " + arg + " as " + needs + ", but it is " + DescribeToken(token));
    return zero;
  };
  switch (want) {
    case ReadKind::Structured:
    case ReadKind::Text: {
      if (expected == ParamKind::Object || expected == ParamKind::Custom) {
        bool isObject = expected == ParamKind::Object;
        if (token.kind != (isObject ? TokenKind::Object : TokenKind::Block))
          return mismatch(isObject ? "an object (@NAME)" : "a custom block ([B6,B7,...])");
        size_t payload = isObject ? token.text.size() + 1 : token.block.size();
        size_t size = std::max(kMinRecordSize, VX_PARAM_DATA_OFFSET + payload);
        auto record = std::make_unique<uint8_t[]>(size);
        std::memset(record.get(), 0, size);
        if (isObject) std::memcpy(record.get() + VX_PARAM_DATA_OFFSET, token.text.data(), token.text.size());
        else if (!token.block.empty()) std::memcpy(record.get() + VX_PARAM_DATA_OFFSET, token.block.data(), token.block.size());
        vx_word word = reinterpret_cast<vx_word>(record.get());
        f.records.push_back(std::move(record));
        return word;
      }
      if (!token.IsTextual()) return mismatch("a text");
      return reinterpret_cast<vx_word>(token.text.c_str());
    }
    case ReadKind::Integer: {
      if (token.kind == TokenKind::Position) return static_cast<vx_word>(token.PackedPosition());
      if (token.kind != TokenKind::Number) return mismatch("an integer");
      auto value = NumberAsInt(token);
      if (!value) return mismatch("a 32-bit integer");
      return static_cast<vx_word>(*value);
    }
    case ReadKind::Float: {
      if (token.kind != TokenKind::Number) return mismatch("a float");
      return static_cast<vx_word>(std::bit_cast<uint32_t>(NumberAsFloat(token)));
    }
  }
  return zero;
}

vx_word Host::RaiseTrigger(VxObjectHeader* header, vx_word condition) {
  if (failed_) return 0;
  auto it = byHeader_.find(header);
  if (it == byHeader_.end()) {
    Fail("the module raised a trigger on a run object that is not alive");
    return 0;
  }
  if (!trigger_) return 0;
  // Handlers that change shared data can raise one another without end, as in the real
  // runtime; the host stops such a loop instead of overflowing the stack.
  if (triggerDepth_ >= kMaxTriggerDepth) {
    Fail("triggers nested " + std::to_string(kMaxTriggerDepth) + " deep: the handlers raise one another without end");
    return 0;
  }
  Object& object = *it->second;
  ++triggerDepth_;
  ++object.busy;
  try {
    trigger_(object, static_cast<int>(condition));
    --object.busy;
    --triggerDepth_;
  } catch (...) {
    --object.busy;
    --triggerDepth_;
    // The failure travels back to whoever called the module; it must not cross the
    // module's own frames as an exception.
    if (!pending_) pending_ = std::current_exception();
    failed_ = true;
  }
  return 0;
}

void Host::Fail(std::string message) {
  if (!failed_ && !pending_) pending_ = std::make_exception_ptr(HostError(std::move(message)));
  failed_ = true;
}

void Host::ThrowPending() {
  if (!pending_) return;
  std::exception_ptr p = std::move(pending_);
  pending_ = nullptr;
  std::rethrow_exception(p);
}

void Host::SetFolder(int which, std::string path) {
  if (which < 0 || which >= 5) throw HostError("no such folder");
  folders_[which] = std::move(path);
}

Application* Host::AppOf(const VxApplication* record) {
  for (auto& app : apps_)
    if (&app->record == record) return app.get();
  return nullptr;
}

vx_word Host::General(int code, vx_word a, vx_word b, vx_word c) {
  (void)c;
  switch (code) {
    case VX_GEN_ALLOCATE:
    case VX_GEN_NEW_ARRAY: {
      if (a < 0 || a > (vx_word{1} << 30)) {
        Fail("the module asked the host for a block of " + std::to_string(a) + " bytes");
        return 0;
      }
      // A pointer array is sized for `a` pointers: enough whether `a` counts entries or bytes.
      size_t bytes = code == VX_GEN_ALLOCATE ? static_cast<size_t>(a) : static_cast<size_t>(a) * sizeof(void*);
      return reinterpret_cast<vx_word>(AllocateBlock(bytes));
    }
    case VX_GEN_RESIZE: {
      if (b < 0 || b > (vx_word{1} << 30)) {
        Fail("the module asked the host to resize a block to " + std::to_string(b) + " bytes");
        return 0;
      }
      return reinterpret_cast<vx_word>(ResizeBlock(reinterpret_cast<void*>(a), static_cast<size_t>(b)));
    }
    case VX_GEN_FREE:
      ReleaseBlock(reinterpret_cast<void*>(a));
      return 0;
    case VX_GEN_IS_WIDE:
    case VX_GEN_CODE_PAGE: {
      Application* app = a ? AppOf(reinterpret_cast<const VxApplication*>(a)) : running_;
      if (!app) {
        Fail("the module asked about an application the host does not know");
        return 0;
      }
      return code == VX_GEN_IS_WIDE ? (app->wide ? 1 : 0) : app->codepage;
    }
    default:
      Fail("the module called general host service " + std::to_string(code) + ", which this host does not provide");
      return 0;
  }
}

// ---------------------------------------------------------------------------------------
// The C services

template <int N>
vx_word Host::UnprovidedService(VxObjectHeader*, vx_word, vx_word) {
  if (g_host) g_host->Fail("the module called host service " + std::to_string(N) + ", which this host does not provide");
  return 0;
}

vx_word Host::SvcRaiseTrigger(VxObjectHeader* object, vx_word condition, vx_word) {
  return g_host ? g_host->RaiseTrigger(object, condition) : 0;
}

// Expression parameters, first or next: the kind the module asks for decides the reading.
vx_word Host::ReadExpressionParameter(vx_word kind, bool first) {
  if (!g_host) return 0;
  const ReadKind want = kind == VX_KIND_INTEGER ? ReadKind::Integer
                        : kind == VX_KIND_TEXT  ? ReadKind::Text
                        : kind == VX_KIND_FLOAT ? ReadKind::Float
                                                : ReadKind::Structured;
  if (want == ReadKind::Structured) {
    g_host->Fail("the module read an expression parameter of unknown kind " + std::to_string(kind));
    return reinterpret_cast<vx_word>(kZeroRecord);
  }
  return g_host->ReadArgument(want, true, first);
}

vx_word Host::SvcReadFirstExpr(VxObjectHeader*, vx_word kind, vx_word) {
  return ReadExpressionParameter(kind, true);
}

vx_word Host::SvcReadNextExpr(VxObjectHeader*, vx_word kind, vx_word) {
  return ReadExpressionParameter(kind, false);
}

vx_word Host::SvcReadParameter(VxObjectHeader*, vx_word kind, vx_word) {
  if (!g_host) return 0;
  if (kind != VX_KIND_STRUCTURED && kind != VX_KIND_INTEGER && kind != VX_KIND_FLOAT) {
    g_host->Fail("the module read a parameter of unknown kind " + std::to_string(kind));
    return reinterpret_cast<vx_word>(kZeroRecord);
  }
  ReadKind want = kind == VX_KIND_INTEGER ? ReadKind::Integer
                  : kind == VX_KIND_FLOAT ? ReadKind::Float
                                          : ReadKind::Structured;
  return g_host->ReadArgument(want, false, false);
}

vx_word Host::SvcAllocateResultString(VxObjectHeader*, vx_word size, vx_word) {
  if (!g_host) return 0;
  if (size < 0 || size > (vx_word{1} << 30)) {
    g_host->Fail("the module asked for a result string of " + std::to_string(size) + " bytes");
    return 0;
  }
  size_t bytes = std::max<size_t>(static_cast<size_t>(size), 1);
  char* block = static_cast<char*>(std::calloc(1, bytes));
  if (!block) return 0;
  if (g_host->frames_.empty()) g_host->looseResults_.push_back(block);
  else g_host->frames_.back()->results.emplace_back(block, bytes);
  return reinterpret_cast<vx_word>(block);
}

vx_word Host::SvcSetPosition(VxObjectHeader*, vx_word live, vx_word position) {
  if (!g_host) return 0;
  const auto* target = reinterpret_cast<const VxLiveObject*>(live);
  const auto* to = reinterpret_cast<const VxPoint*>(position);
  for (auto& app : g_host->apps_) {
    if (!app->live.empty() && target >= app->live.data() && target < app->live.data() + app->live.size()) {
      if (!to) {
        g_host->Fail("the module set a position without giving one");
        return 0;
      }
      // Only objects in the scene have a position; moving any other object changes nothing.
      Object& object = *app->objects[static_cast<size_t>(target - app->live.data())];
      if (VxSceneObject* scene = object.data ? object.data->Scene() : nullptr) {
        scene->x = to->x;
        scene->y = to->y;
      }
      return 0;
    }
  }
  g_host->Fail("the module set the position of something that is not a live object");
  return 0;
}

vx_word Host::SvcGeneral(int code, vx_word a, vx_word b, vx_word c) {
  return g_host ? g_host->General(code, a, b, c) : 0;
}

void* Host::SvcLoadApplicationData(VxApplication* app, const void* module) {
  if (!g_host) return nullptr;
  auto it = g_host->appData_.find({app, module});
  return it == g_host->appData_.end() ? nullptr : it->second;
}

void Host::SvcStoreApplicationData(VxApplication* app, const void* module, void* data) {
  if (!g_host) return;
  if (data) g_host->appData_[{app, module}] = data;
  else g_host->appData_.erase({app, module});
}

const char* Host::SvcFolder(int which) {
  if (!g_host || which < 0 || which >= 5) return "";
  return g_host->folders_[which].c_str();
}

}  // namespace vxsim
