// The applications' global values and strings, kept in the application record as the module
// reads and grows them.
#include "host_objects.h"
#include "printing.h"

namespace vxsim {
namespace {

// The sim's own limit on the indexes a script sets.
constexpr int kMaxGlobalIndex = 65536;

void GrowValues(Host& host, VxApplication& r, int32_t count) {
  if (count <= r.globalValueCount) return;
  void* block = host.ResizeBlock(r.globalValues, static_cast<size_t>(count) * sizeof(VxValue));
  if (!block) throw HostError("out of memory for global values");
  r.globalValues = static_cast<VxValue*>(block);
  r.globalValueCount = count;
}

void GrowStrings(Host& host, VxApplication& r, int32_t count) {
  if (count <= r.globalStringCount) return;
  void* block = host.ResizeBlock(r.globalStrings, static_cast<size_t>(count) * sizeof(void*));
  if (!block) throw HostError("out of memory for global strings");
  r.globalStrings = static_cast<void**>(block);
  r.globalStringCount = count;
}

}  // namespace

void GlobalsCommand(Host& host, const std::vector<std::string>& raw) {
  std::vector<Option> options;
  for (size_t i = 1; i < raw.size(); ++i) {
    Option o = OptionToken(raw[i]);
    if (IndexedKey(o.key, "val", kMaxGlobalIndex)) {
      ValueFromToken(o.value, o.key);
    } else if (IndexedKey(o.key, "str", kMaxGlobalIndex)) {
      if (!o.value.IsTextual()) throw SyntaxError(o.key + " must be a text");
    } else {
      throw SyntaxError("unknown global " + o.key +
                        " (usage: globals [valI=NUMBER ...] [strI=TEXT ...], I below " +
                        std::to_string(kMaxGlobalIndex) + ")");
    }
    options.push_back(std::move(o));
  }
  Application& values = host.ValuesOwner(host.Running());
  Application& strings = host.StringsOwner(host.Running());
  for (const Option& o : options) {
    if (auto v = IndexedKey(o.key, "val", kMaxGlobalIndex)) {
      GrowValues(host, values.record, *v + 1);
      values.record.globalValues[*v] = ValueFromToken(o.value, o.key);
    } else if (auto s = IndexedKey(o.key, "str", kMaxGlobalIndex)) {
      GrowStrings(host, strings.record, *s + 1);
      void*& slot = strings.record.globalStrings[*s];
      host.ReleaseBlock(slot);
      slot = host.NewText(o.value.text, strings.wide);
    }
  }
}

// The module grows the arrays: a count beyond its block is its fault.
static void CheckCount(Host& host, const void* block, int32_t count, size_t entry,
                       const char* what) {
  if (count < 0 || (count > 0 && host.BlockSize(block) < static_cast<size_t>(count) * entry)) {
    throw HostError(std::string("the count of global ") + what + " is " + std::to_string(count) +
                    ", more than its block holds");
  }
}

void ShowGlobals(Host& host, const Printer& print) {
  const VxApplication& values = host.ValuesOwner(host.Running()).record;
  CheckCount(host, values.globalValues, values.globalValueCount, sizeof(VxValue), "values");
  for (int32_t i = 0; i < values.globalValueCount; ++i) {
    print("val" + std::to_string(i) + "=" + PrintedValue(values.globalValues[i]));
  }
  Application& strings = host.StringsOwner(host.Running());
  const VxApplication& r = strings.record;
  CheckCount(host, r.globalStrings, r.globalStringCount, sizeof(void*), "strings");
  for (int32_t i = 0; i < r.globalStringCount; ++i) {
    if (!r.globalStrings[i]) continue;
    print("str" + std::to_string(i) + "=" +
          PrintedText(host.TextOf(r.globalStrings[i], strings.wide), host.WorkFolder()));
  }
}

void RewidenGlobals(Host& host, Application& app, bool wide) {
  VxApplication& r = app.record;
  for (int32_t i = 0; i < r.globalStringCount; ++i) {
    void*& slot = r.globalStrings[i];
    if (!slot) continue;
    const std::string utf8 = host.TextOf(slot, !wide);
    host.ReleaseBlock(slot);
    slot = host.NewText(utf8, wide);
  }
}

}  // namespace vxsim
