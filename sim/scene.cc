// Scene objects: positions, movement, animation, alterable values, flags and strings.
#include "host_objects.h"
#include "printing.h"

namespace vxsim {
namespace {

struct SceneData : KindData {
  VxSceneObject record{};

  VxSceneObject* Scene() override { return &record; }
  void Release(Host& host) override {
    for (void*& text : record.strings) {
      host.ReleaseBlock(text);
      text = nullptr;
    }
  }
  void Rewiden(Host& host, bool wide) override {
    for (void*& text : record.strings) {
      if (!text) continue;
      const std::string utf8 = host.TextOf(text, !wide);
      host.ReleaseBlock(text);
      text = host.NewText(utf8, wide);
    }
  }
};

const char kSceneUsage[] =
    "scene NAME [x=N] [y=N] [dir=N] [speed=N] [anim=N] [animframe=N] [movement=0|1] "
    "[alterable=0|1] "
    "[flags=N] [valI=NUMBER ...] [strI=TEXT ...]";

int32_t Int32Option(const Option& o) {
  return static_cast<int32_t>(IntegerToken(o.value, INT32_MIN, INT32_MAX, o.key));
}

}  // namespace

void SceneCommand(Host& host, const std::vector<std::string>& raw) {
  if (raw.size() < 2) throw SyntaxError(std::string("usage: ") + kSceneUsage);
  const std::string name = NameToken(raw[1]);
  std::vector<Option> options;
  for (size_t i = 2; i < raw.size(); ++i) options.push_back(OptionToken(raw[i]));

  // Every option is checked before the object is made or changed.
  VxSceneObject next{};
  SceneData* existing = nullptr;
  if (host.FindObject(name)) {
    existing = static_cast<SceneData*>(ObjectOfKind(host, name, ObjectKind::Scene).data.get());
    next = existing->record;
  } else {
    next.hasMovement = 1;
    next.hasAlterable = 1;
  }
  std::vector<std::pair<int, std::string>> strings;
  for (const Option& o : options) {
    if (o.key == "x") {
      next.x = Int32Option(o);
    } else if (o.key == "y") {
      next.y = Int32Option(o);
    } else if (o.key == "dir") {
      next.direction = Int32Option(o);
    } else if (o.key == "speed") {
      next.speed = Int32Option(o);
    } else if (o.key == "anim") {
      next.animation = Int32Option(o);
    } else if (o.key == "animframe") {
      next.animationFrame = Int32Option(o);
    } else if (o.key == "flags") {
      next.alterableFlags = Int32Option(o);
    } else if (o.key == "movement") {
      next.hasMovement = FlagOption(o);
    } else if (o.key == "alterable") {
      next.hasAlterable = FlagOption(o);
    } else if (auto v = IndexedKey(o.key, "val", VX_ALTERABLE_VALUES)) {
      next.values[*v] = ValueFromToken(o.value, o.key);
    } else if (auto s = IndexedKey(o.key, "str", VX_ALTERABLE_STRINGS)) {
      if (!o.value.IsTextual()) throw SyntaxError(o.key + " must be a text");
      strings.emplace_back(*s, o.value.text);
    } else {
      throw SyntaxError("unknown scene option " + o.key + " (usage: " + kSceneUsage + ")");
    }
  }

  SceneData* data = existing;
  if (!data) {
    auto made = std::make_unique<SceneData>();
    data = made.get();
    host.CreateHostObject(name, ObjectKind::Scene, std::move(made));
  }
  for (int i = 0; i < VX_ALTERABLE_STRINGS; ++i) next.strings[i] = data->record.strings[i];
  data->record = next;
  const bool wide = host.Running().wide;
  for (auto& [index, text] : strings) {
    void*& slot = data->record.strings[index];
    host.ReleaseBlock(slot);
    slot = host.NewText(text, wide);
  }
}

void ShowScene(Host& host, Object& object, const Printer& print) {
  const VxSceneObject& s = *object.data->Scene();
  print("scene " + object.name + " x=" + std::to_string(s.x) + " y=" + std::to_string(s.y) +
        " dir=" + std::to_string(s.direction) + " speed=" + std::to_string(s.speed) +
        " anim=" + std::to_string(s.animation) + " animframe=" + std::to_string(s.animationFrame) +
        " flags=" + std::to_string(s.alterableFlags));
  for (int i = 0; i < VX_ALTERABLE_VALUES; ++i) {
    print("val" + std::to_string(i) + "=" + PrintedValue(s.values[i]));
  }
  for (int i = 0; i < VX_ALTERABLE_STRINGS; ++i) {
    if (!s.strings[i]) continue;
    print("str" + std::to_string(i) + "=" +
          PrintedText(host.TextOf(s.strings[i], object.app->wide), host.WorkFolder()));
  }
}

}  // namespace vxsim
