#include "host/host_records.h"

#include <bit>
#include <cerrno>
#include <cstring>

#include "host/objects.h"
#include "io/system.h"

namespace vellix {

namespace {

// 16-bit characters to the code page; a character it lacks becomes "?", as the host's own
// conversion does. Without the code page, the characters up to U+00FF stand for themselves.
std::string NarrowText(std::u16string_view wide, int32_t codePage) {
  std::string out;
  if (Utf16ToCodePage(codePage, wide, out)) return out;
  out.clear();
  for (char16_t c : wide) out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
  return out;
}

// The code page's text as 16-bit characters; a byte it does not define stands for itself.
std::u16string WideText(std::string_view narrow, int32_t codePage) {
  std::u16string wide;
  if (CodePageToUtf16(codePage, narrow, wide)) return wide;
  wide.clear();
  for (char c : narrow) wide.push_back(static_cast<unsigned char>(c));
  return wide;
}

vx_word General(const VxHostServices* host, int code, vx_word a, vx_word b = 0) {
  if (host == nullptr || host->general == nullptr) return 0;
  return host->general(code, a, b, 0);
}

// Grows a host block of `count` entries of `entry` bytes to `wanted` entries, zeroing the
// new ones; the block's new address, or null when the host gives no memory.
void* GrowBlock(const VxHostServices& host, void* block, int32_t count, int32_t wanted,
                size_t entry) {
  const auto bytes = static_cast<vx_word>(static_cast<size_t>(wanted) * entry);
  void* grown = reinterpret_cast<void*>(
      block ? General(&host, VX_GEN_RESIZE, reinterpret_cast<vx_word>(block), bytes)
            : General(&host, VX_GEN_ALLOCATE, bytes));
  if (grown == nullptr) return nullptr;
  const size_t kept = static_cast<size_t>(count < 0 ? 0 : count) * entry;
  std::memset(static_cast<char*>(grown) + kept, 0, static_cast<size_t>(bytes) - kept);
  return grown;
}

}  // namespace

HostTexts::HostTexts(const VxHostServices* host, VxApplication* app) : host_(host) {
  const auto a = reinterpret_cast<vx_word>(app);
  wide_ = General(host, VX_GEN_IS_WIDE, a) != 0;
  if (wide_) codePage_ = static_cast<int32_t>(General(host, VX_GEN_CODE_PAGE, a));
}

std::optional<std::string> HostTexts::Read(const void* text) const {
  if (text == nullptr) return std::nullopt;
  if (!wide_) return std::string(static_cast<const char*>(text));
  const auto* units = static_cast<const char16_t*>(text);
  size_t n = 0;
  while (units[n] != 0) ++n;
  return NarrowText(std::u16string_view(units, n), codePage_);
}

bool HostTexts::Replace(void*& slot, std::string_view narrow) const {
  void* made = nullptr;
  if (wide_) {
    const std::u16string wide = WideText(narrow, codePage_);
    const size_t bytes = (wide.size() + 1) * sizeof(char16_t);
    made = reinterpret_cast<void*>(General(host_, VX_GEN_ALLOCATE, static_cast<vx_word>(bytes)));
    if (made == nullptr) return false;
    std::memcpy(made, wide.data(), wide.size() * sizeof(char16_t));
    std::memset(static_cast<char*>(made) + bytes - sizeof(char16_t), 0, sizeof(char16_t));
  } else {
    made = reinterpret_cast<void*>(
        General(host_, VX_GEN_ALLOCATE, static_cast<vx_word>(narrow.size() + 1)));
    if (made == nullptr) return false;
    std::memcpy(made, narrow.data(), narrow.size());
    static_cast<char*>(made)[narrow.size()] = '\0';
  }
  if (slot != nullptr) General(host_, VX_GEN_FREE, reinterpret_cast<vx_word>(slot));
  slot = made;
  return true;
}

VxLiveObject* FindSceneObject(RunObject& self, std::string_view name) {
  return FindLiveObject(self, name, [](const VxLiveObject& o) { return o.scene != nullptr; });
}

VxArrayData* FindArray(RunObject& self, std::string_view name) {
  VxLiveObject* o = FindLiveObject(self, name, [](const VxLiveObject& obj) {
    return obj.identifier == VX_ARRAY_IDENTIFIER && obj.data != nullptr;
  });
  return o ? static_cast<VxArrayData*>(o->data) : nullptr;
}

const VxChartData* FindChart(RunObject& self, std::string_view name) {
  VxLiveObject* o = FindLiveObject(self, name, [](const VxLiveObject& obj) {
    return obj.identifier == VX_CHART_IDENTIFIER && obj.data != nullptr;
  });
  return o ? static_cast<const VxChartData*>(o->data) : nullptr;
}

void MoveObject(RunObject& self, VxLiveObject& object, int32_t x, int32_t y) {
  VxRunHeader* rh = self.runHeader();
  if (rh == nullptr || rh->services[VX_SVC_SET_POSITION] == nullptr) return;
  const VxPoint to{x, y};
  rh->services[VX_SVC_SET_POSITION](self.header, reinterpret_cast<vx_word>(&object),
                                    reinterpret_cast<vx_word>(&to));
}

VxApplication* GlobalValuesOwner(VxApplication* app) {
  while (app != nullptr && app->parent != nullptr && (app->flags & VX_APP_SHARES_VALUES) != 0) {
    app = app->parent;
  }
  return app;
}

VxApplication* GlobalStringsOwner(VxApplication* app) {
  while (app != nullptr && app->parent != nullptr && (app->flags & VX_APP_SHARES_STRINGS) != 0) {
    app = app->parent;
  }
  return app;
}

bool GrowGlobalValues(const VxHostServices& host, VxApplication& app, int32_t count) {
  if (count <= app.globalValueCount) return true;
  void* grown = GrowBlock(host, app.globalValues, app.globalValueCount, count, sizeof(VxValue));
  if (grown == nullptr) return false;
  app.globalValues = static_cast<VxValue*>(grown);
  app.globalValueCount = count;
  return true;
}

bool GrowGlobalStrings(const VxHostServices& host, VxApplication& app, int32_t count) {
  if (count <= app.globalStringCount) return true;
  void* grown = GrowBlock(host, app.globalStrings, app.globalStringCount, count, sizeof(void*));
  if (grown == nullptr) return false;
  app.globalStrings = static_cast<void**>(grown);
  app.globalStringCount = count;
  return true;
}

}  // namespace vellix
