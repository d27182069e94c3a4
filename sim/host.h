// The simulated host runtime: loads the module through its exported entry points and plays
// the running application around it (applications, frames, live objects, parameters,
// triggers, result strings, per-application data, folders).
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <vellix/host_abi.h>

#include "catalogue.h"
#include "token.h"

namespace vxsim {

// Something the host cannot do as asked: a bad module, an unknown object or routine, a
// wrong argument count, or a parameter read the arguments cannot satisfy.
class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Kinds of objects in an application's live-object list. Only objects of this extension
// have a run object of the module; the other kinds are host objects the module reaches
// through the live list (scene objects, arrays, charts).
enum class ObjectKind { Vellix, Scene, Array, Chart };

struct Application;
class Host;

// What a host object other than this extension's carries: its scene state, its
// kind-specific data, and the host blocks it holds (sim/scene.cc, arrays.cc, charts.cc).
struct KindData {
  virtual ~KindData() = default;
  virtual uint32_t Identifier() const { return 0; }
  virtual void* LiveData() { return nullptr; }
  virtual VxSceneObject* Scene() { return nullptr; }
  // Releases the host blocks it holds; called when the object is destroyed.
  virtual void Release(Host&) {}
  // Rewrites the host texts it holds after the application's wideness changed.
  virtual void Rewiden(Host&, bool /*wide*/) {}
};

// Longest object name: the live list holds names in 24 characters, NUL included.
inline constexpr size_t kMaxObjectName = 23;

struct Object {
  std::string name;
  ObjectKind kind = ObjectKind::Vellix;
  Application* app = nullptr;
  uint64_t serial = 0;               // creation order across the whole run
  VxObjectHeader* header = nullptr;  // run object of this extension's objects
  std::vector<uint8_t> editData;     // kept for the object's life, as a host does
  // Routine calls and trigger raises of this object in progress. An object destroyed while
  // the module works on it is only marked, and goes when the outermost call returns.
  int busy = 0;
  bool doomed = false;
  std::unique_ptr<KindData> data;  // scene, array and chart objects
  char narrowName[24] = {};
  uint16_t wideName[24] = {};
};

struct Application {
  std::string name;
  Application* parent = nullptr;
  std::string path;
  bool hasPath = false;
  bool wide = false;
  int32_t codepage = 1252;
  bool shareValues = false;
  bool shareStrings = false;
  bool textsWide = false;  // the form the host texts of the application are kept in
  VxApplication record{};
  VxRunHeader runHeader{};
  std::vector<std::unique_ptr<Object>> objects;  // live objects, creation order
  std::vector<VxLiveObject> live;                // what the module sees
};

struct CallResult {
  enum class Type { None, Bool, Int, Float, Text };
  Type type = Type::None;
  bool truth = false;
  int32_t integer = 0;
  float real = 0;
  std::string text;
  size_t parametersRead = 0;  // how many of its arguments the routine read
};

// The entry points the host calls, resolved from a loaded module or given directly.
struct ModuleEntryPoints {
  VxGetRunObjectInfosFn getRunObjectInfos = nullptr;
  VxGetRunObjectDataSizeFn getRunObjectDataSize = nullptr;
  VxCreateRunObjectFn createRunObject = nullptr;
  VxDestroyRunObjectFn destroyRunObject = nullptr;
  VxAppFn startApp = nullptr;
  VxAppFn endApp = nullptr;
};

// Loads a module with dlopen and resolves its entry points by name; throws HostError when it
// cannot be loaded or lacks one. The module stays loaded until the process ends.
ModuleEntryPoints LoadModule(const std::string& modulePath);

class Host {
 public:
  // Called when the module raises condition `condition` on `object`, before RaiseTrigger
  // returns. It may call the module again.
  using TriggerHandler = std::function<void(Object& object, int condition)>;

  // Loads the module; throws HostError when it cannot be loaded or lacks an entry point.
  // `workFolder` is the absolute working folder (the default folders are below it).
  Host(const std::string& modulePath, std::string workFolder);
  // A module already in the process (a test's fake, or the module's static library).
  Host(const ModuleEntryPoints& entry, std::string workFolder);
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // StartApp for the top-level application `main`, which becomes the running one.
  void Start();
  // Destroys every live object in creation order, then EndApp for every application,
  // sub-applications first. Throws a failure the module caused on the way.
  void Shutdown();
  // The same after a failure: nothing is reported, nothing more runs in handlers.
  void Abandon();

  Application& Main() { return *apps_.front(); }
  Application& Running() { return *running_; }
  Application* FindApp(std::string_view name);
  // Defines an application, lets `configure` set its options, starts it (StartApp) and
  // makes it the running one.
  Application& DefineApp(const std::string& name, Application* parent,
                         const std::function<void(Application&)>& configure = {});
  void SetRunning(Application& app) { running_ = &app; }
  // To be called after changing an application's options (path, wide, code page...).
  void OptionsChanged(Application& app);
  // Destroys the objects of the application and of its sub-applications, then EndApp and
  // StartApp.
  void Restart(Application& app);

  // Creates an object of this extension in the running application from a full
  // VX_EDIT_DATA_SIZE-byte edit-data block.
  Object& CreateObject(const std::string& name, std::vector<uint8_t> editData);
  // Creates a host object of another kind (scene, array, chart) in the running application.
  Object& CreateHostObject(const std::string& name, ObjectKind kind,
                           std::unique_ptr<KindData> data);
  // The live object of that name in the running application, or nullptr.
  Object* FindObject(std::string_view name);
  // Destroys the object at once; when the module is working on it (a routine of it runs, or
  // a trigger is being raised on it), when the outermost routine call returns, as no host
  // frees an object under the code that is running for it.
  void DestroyObject(Object& object);
  // Destroys every live object of the application, in creation order.
  void EndFrame(Application& app);

  // Calls a routine of an object of this extension with the given arguments.
  CallResult Call(Object& object, RoutineKind kind, int index, const std::vector<Token>& args);

  void SetTriggerHandler(TriggerHandler handler) { trigger_ = std::move(handler); }
  // Folder reported for VX_FOLDER_SYSTEM, VX_FOLDER_APPDATA or VX_FOLDER_COMMON_APPDATA.
  void SetFolder(int which, std::string path);
  const std::string& WorkFolder() const { return workFolder_; }
  const VxDescription& Description() const { return description_; }

  // Blocks of the general allocation services (sim/blocks.cc): zero-filled, owned by the
  // host until released, here or by the module through VX_GEN_FREE.
  void* AllocateBlock(size_t bytes);
  // Null when `block` is not the host's (the failure is recorded) or memory runs out.
  void* ResizeBlock(void* block, size_t bytes);
  void ReleaseBlock(void* block);
  // The size of a host block, or 0 when the pointer is not one.
  size_t BlockSize(const void* block) const;
  // A host text (a NUL-terminated block, 16-bit characters when `wide`) made from a
  // script's UTF-8 text, and read back as UTF-8 within its block.
  void* NewText(std::string_view utf8, bool wide);
  std::string TextOf(const void* text, bool wide);
  // The application whose global values (or strings) the running one uses.
  Application& ValuesOwner(Application& app);
  Application& StringsOwner(Application& app);
  // The number of routines of a kind that can be called: the module's table size, bounded
  // by the catalogue.
  int RoutineCount(RoutineKind kind) const;

 private:
  struct CallFrame;
  enum class ReadKind { Structured, Integer, Text, Float };

  // Host services, reached from the module through the run header and the services record.
  template <int N>
  static vx_word VX_CALL UnprovidedService(VxObjectHeader*, vx_word, vx_word);
  static vx_word VX_CALL SvcRaiseTrigger(VxObjectHeader* object, vx_word condition, vx_word);
  static vx_word VX_CALL SvcReadFirstExpr(VxObjectHeader* object, vx_word kind, vx_word);
  static vx_word VX_CALL SvcReadNextExpr(VxObjectHeader* object, vx_word kind, vx_word);
  static vx_word ReadExpressionParameter(vx_word kind, bool first);
  static vx_word VX_CALL SvcAllocateResultString(VxObjectHeader* object, vx_word size, vx_word);
  static vx_word VX_CALL SvcReadParameter(VxObjectHeader* object, vx_word kind, vx_word);
  static vx_word VX_CALL SvcSetPosition(VxObjectHeader* object, vx_word live, vx_word packed);
  static vx_word VX_CALL SvcGeneral(int code, vx_word a, vx_word b, vx_word c);
  static void* VX_CALL SvcLoadApplicationData(VxApplication* app, const void* module);
  static void VX_CALL SvcStoreApplicationData(VxApplication* app, const void* module, void* data);
  static const char* VX_CALL SvcFolder(int which);

  // Fill the services record, and an application's run header, with the C services above.
  void WireHostServices();
  void WireRunHeader(Application& app);

  vx_word RaiseTrigger(VxObjectHeader* object, vx_word condition);
  vx_word ReadArgument(ReadKind want, bool expressionService, bool first);
  vx_word General(int code, vx_word a, vx_word b, vx_word c);
  Application* AppOf(const VxApplication* record);

  // Records the first failure of the run: it is thrown when the module returns, and from
  // then on triggers are not run and parameter reads give zero values.
  void Fail(const std::string& message);
  void ThrowPending();
  void RebuildLive(Application& app);
  // The part of object creation every kind shares: checks the name, makes the record.
  std::unique_ptr<Object> NewObject(const std::string& name, ObjectKind kind);
  // Rewrites the application's host texts into its current wideness.
  void AdoptWideness(Application& app);
  // Live objects of the applications `which` accepts, in creation order.
  std::vector<Object*> ObjectsInCreationOrder(const std::function<bool(const Application&)>& which);
  void StartApp(Application& app);
  void EndApp(Application& app);
  void Teardown();
  // Destroys the objects whose destruction waited for the module to return.
  void DestroyDoomed();

  ModuleEntryPoints entry_;
  VxDescription description_{};

  std::string workFolder_;
  std::string folders_[5];
  VxHostServices services_{};
  std::vector<std::unique_ptr<Application>> apps_;  // definition order, main first
  Application* running_ = nullptr;
  std::unordered_map<const VxObjectHeader*, Object*> byHeader_;
  std::map<std::pair<const VxApplication*, const void*>, void*> appData_;
  std::unordered_map<void*, size_t> blocks_;        // blocks of the general allocation services
  std::vector<std::unique_ptr<CallFrame>> frames_;  // calls in progress, innermost last
  std::vector<void*> looseResults_;                 // result strings allocated outside any call
  TriggerHandler trigger_;
  static constexpr int kMaxTriggerDepth = 64;
  int triggerDepth_ = 0;
  uint64_t nextSerial_ = 1;
  bool started_ = false;
  bool finished_ = false;
  bool failed_ = false;
  std::exception_ptr pending_;
};

}  // namespace vxsim
