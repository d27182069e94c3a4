// The services the host offers the module (triggers, the general services, per-application
// data, folders), and the C trampolines in the run header and the services record that lead
// to them.
#include <algorithm>
#include <cstring>
#include <utility>

#include "host_parts.h"

namespace vxsim {

Host* g_host = nullptr;

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
    Fail("triggers nested " + std::to_string(kMaxTriggerDepth) +
         " deep: the handlers raise one another without end");
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

void Host::Fail(const std::string& message) {
  if (!failed_ && !pending_) pending_ = std::make_exception_ptr(HostError(message));
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
  for (auto& app : apps_) {
    if (&app->record == record) return app.get();
  }
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
      size_t bytes =
          code == VX_GEN_ALLOCATE ? static_cast<size_t>(a) : static_cast<size_t>(a) * sizeof(void*);
      return reinterpret_cast<vx_word>(AllocateBlock(bytes));
    }
    case VX_GEN_RESIZE: {
      if (b < 0 || b > (vx_word{1} << 30)) {
        Fail("the module asked the host to resize a block to " + std::to_string(b) + " bytes");
        return 0;
      }
      return reinterpret_cast<vx_word>(
          ResizeBlock(reinterpret_cast<void*>(a), static_cast<size_t>(b)));
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
      Fail("the module called general host service " + std::to_string(code) +
           ", which this host does not provide");
      return 0;
  }
}

// ---------------------------------------------------------------------------------------
// The C services

void Host::WireHostServices() {
  services_.general = &Host::SvcGeneral;
  services_.loadApplicationData = &Host::SvcLoadApplicationData;
  services_.storeApplicationData = &Host::SvcStoreApplicationData;
  services_.folder = &Host::SvcFolder;
}

void Host::WireRunHeader(Application& app) {
  for (int i = 0; i < VX_SVC_COUNT; ++i) app.runHeader.services[i] = nullptr;
  // Every position gets a routine: one the host does not provide reports the call.
  [&]<size_t... I>(std::index_sequence<I...>) {
    ((app.runHeader.services[I] = &Host::UnprovidedService<static_cast<int>(I)>), ...);
  }
  (std::make_index_sequence<VX_SVC_COUNT>{});
  app.runHeader.services[VX_SVC_RAISE_TRIGGER] = &Host::SvcRaiseTrigger;
  app.runHeader.services[VX_SVC_READ_FIRST_EXPR_PARAM] = &Host::SvcReadFirstExpr;
  app.runHeader.services[VX_SVC_READ_NEXT_EXPR_PARAM] = &Host::SvcReadNextExpr;
  app.runHeader.services[VX_SVC_ALLOCATE_RESULT_STRING] = &Host::SvcAllocateResultString;
  app.runHeader.services[VX_SVC_READ_PARAMETER] = &Host::SvcReadParameter;
  app.runHeader.services[VX_SVC_SET_POSITION] = &Host::SvcSetPosition;
  app.runHeader.host = &services_;
  app.runHeader.app = &app.record;
}

template <int N>
vx_word VX_CALL Host::UnprovidedService(VxObjectHeader*, vx_word, vx_word) {
  if (g_host) {
    g_host->Fail("the module called host service " + std::to_string(N) +
                 ", which this host does not provide");
  }
  return 0;
}

vx_word VX_CALL Host::SvcRaiseTrigger(VxObjectHeader* object, vx_word condition, vx_word) {
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

vx_word VX_CALL Host::SvcReadFirstExpr(VxObjectHeader*, vx_word kind, vx_word) {
  return ReadExpressionParameter(kind, true);
}

vx_word VX_CALL Host::SvcReadNextExpr(VxObjectHeader*, vx_word kind, vx_word) {
  return ReadExpressionParameter(kind, false);
}

vx_word VX_CALL Host::SvcReadParameter(VxObjectHeader*, vx_word kind, vx_word) {
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

vx_word VX_CALL Host::SvcAllocateResultString(VxObjectHeader*, vx_word size, vx_word) {
  if (!g_host) return 0;
  if (size < 0 || size > (vx_word{1} << 30)) {
    g_host->Fail("the module asked for a result string of " + std::to_string(size) + " bytes");
    return 0;
  }
  size_t bytes = std::max<size_t>(static_cast<size_t>(size), 1);
  char* block = static_cast<char*>(std::calloc(1, bytes));
  if (!block) return 0;
  if (g_host->frames_.empty()) {
    g_host->looseResults_.push_back(block);
  } else {
    g_host->frames_.back()->results.emplace_back(block, bytes);
  }
  return reinterpret_cast<vx_word>(block);
}

vx_word VX_CALL Host::SvcSetPosition(VxObjectHeader*, vx_word live, vx_word position) {
  if (!g_host) return 0;
  const auto* target = reinterpret_cast<const VxLiveObject*>(live);
  const auto* to = reinterpret_cast<const VxPoint*>(position);
  for (auto& app : g_host->apps_) {
    if (!app->live.empty() && target >= app->live.data() &&
        target < app->live.data() + app->live.size()) {
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

vx_word VX_CALL Host::SvcGeneral(int code, vx_word a, vx_word b, vx_word c) {
  return g_host ? g_host->General(code, a, b, c) : 0;
}

void* VX_CALL Host::SvcLoadApplicationData(VxApplication* app, const void* module) {
  if (!g_host) return nullptr;
  auto it = g_host->appData_.find({app, module});
  return it == g_host->appData_.end() ? nullptr : it->second;
}

void VX_CALL Host::SvcStoreApplicationData(VxApplication* app, const void* module, void* data) {
  if (!g_host) return;
  if (data) {
    g_host->appData_[{app, module}] = data;
  } else {
    g_host->appData_.erase({app, module});
  }
}

const char* VX_CALL Host::SvcFolder(int which) {
  if (!g_host || which < 0 || which >= 5) return "";
  return g_host->folders_[which].c_str();
}

}  // namespace vxsim
