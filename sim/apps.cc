// Applications and their live objects: starting and ending applications, creating and
// destroying objects, and the live-object list the module sees.
#include <algorithm>
#include <cstring>

#include "host_parts.h"
#include "wide.h"

namespace vxsim {
namespace {

// Name of a live object as the module sees it in a wide application: the script's UTF-8
// decoded to 16-bit characters, cut to 23 of them.
void WidenName(std::string_view name, uint16_t (&out)[24]) {
  std::fill(std::begin(out), std::end(out), uint16_t{0});
  const std::u16string wide = WidenUtf8(name);
  std::copy_n(wide.begin(), std::min<size_t>(wide.size(), 23), out);
}

}  // namespace

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

std::vector<Object*> Host::ObjectsInCreationOrder(
    const std::function<bool(const Application&)>& which) {
  std::vector<Object*> objects;
  for (auto& app : apps_) {
    if (which(*app)) {
      for (auto& o : app->objects) objects.push_back(o.get());
    }
  }
  std::sort(objects.begin(), objects.end(),
            [](Object* a, Object* b) { return a->serial < b->serial; });
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
    try {
      DestroyObject(*o);
    } catch (...) {
    }
  }
  for (auto it = apps_.rbegin(); it != apps_.rend(); ++it) {
    try {
      EndApp(**it);
    } catch (...) {
    }
  }
  pending_ = nullptr;
}

Application* Host::FindApp(std::string_view name) {
  for (auto& app : apps_) {
    if (app->name == name) return app.get();
  }
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
  WireRunHeader(app);
  RebuildLive(app);
}

void Host::RebuildLive(Application& app) {
  app.live.clear();
  app.live.reserve(app.objects.size());
  for (auto& o : app.objects) {
    VxLiveObject live{};
    live.identifier = o->data ? o->data->Identifier() : description_.identifier;
    live.name =
        app.wide ? static_cast<const void*>(o->wideName) : static_cast<const void*>(o->narrowName);
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
    for (const Application* p = &a; p; p = p->parent) {
      if (p == &app) return true;
    }
    return false;
  };
  for (Object* o : ObjectsInCreationOrder(inside)) DestroyObject(*o);
  EndApp(app);
  StartApp(app);
}

// ---------------------------------------------------------------------------------------
// Objects

std::unique_ptr<Object> Host::NewObject(const std::string& name, ObjectKind kind) {
  if (name.empty() || name.size() > kMaxObjectName) {
    throw HostError("object names have 1 to " + std::to_string(kMaxObjectName) + " bytes: " + name);
  }
  if (name.find('\0') != std::string::npos) throw HostError("object names cannot hold a NUL byte");
  if (FindObject(name)) {
    throw HostError("object " + name + " already exists in application " + running_->name);
  }
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

  int size = Enter("GetRunObjectDataSize", [&] {
    return entry_.getRunObjectDataSize(&app.runHeader, object->editData.data());
  });
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

  Enter("CreateRunObject",
        [&] { return entry_.createRunObject(header, ref.editData.data(), nullptr); });
  ThrowPending();
  return ref;
}

Object* Host::FindObject(std::string_view name) {
  for (auto& o : running_->objects) {
    if (o->name == name) return o.get();
  }
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
  for (Object* o : ObjectsInCreationOrder([](const Application&) { return true; })) {
    if (o->doomed && o->busy == 0) DestroyObject(*o);
  }
}

void Host::EndFrame(Application& app) {
  // Destroy calls may not add objects, so the list only shrinks.
  while (!app.objects.empty()) DestroyObject(*app.objects.front());
}

}  // namespace vxsim
