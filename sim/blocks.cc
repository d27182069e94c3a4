// The host's blocks: what the general allocation services hand out, and the host texts kept
// in them.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "host.h"
#include "wide.h"

namespace vxsim {

void* Host::AllocateBlock(size_t bytes) {
  void* block = std::calloc(1, std::max<size_t>(bytes, 1));
  if (block) blocks_[block] = bytes;
  return block;
}

void* Host::ResizeBlock(void* old, size_t bytes) {
  if (old && !blocks_.count(old)) {
    Fail("the module resized a block the host did not allocate");
    return nullptr;
  }
  size_t oldSize = old ? blocks_[old] : 0;
  // Forgotten before realloc, which may free it; listed again when realloc fails.
  if (old) blocks_.erase(old);
  void* block = std::realloc(old, std::max<size_t>(bytes, 1));
  if (!block) {
    if (old) blocks_[old] = oldSize;
    return nullptr;
  }
  if (bytes > oldSize) std::memset(static_cast<char*>(block) + oldSize, 0, bytes - oldSize);
  blocks_[block] = bytes;
  return block;
}

void Host::ReleaseBlock(void* block) {
  if (!block) return;
  auto it = blocks_.find(block);
  if (it == blocks_.end()) {
    Fail("the module released a block the host did not allocate");
    return;
  }
  blocks_.erase(it);
  std::free(block);
}

size_t Host::BlockSize(const void* block) const {
  auto it = blocks_.find(const_cast<void*>(block));
  return it == blocks_.end() ? 0 : it->second;
}

void* Host::NewText(std::string_view utf8, bool wide) {
  if (!wide) {
    auto* block = static_cast<char*>(AllocateBlock(utf8.size() + 1));
    if (block) std::memcpy(block, utf8.data(), utf8.size());
    return block;
  }
  const std::u16string text = WidenUtf8(utf8);
  auto* block = static_cast<char*>(AllocateBlock((text.size() + 1) * sizeof(char16_t)));
  // The string's own terminator is copied with it.
  if (block) std::memcpy(block, text.c_str(), (text.size() + 1) * sizeof(char16_t));
  return block;
}

std::string Host::TextOf(const void* text, bool wide) {
  if (!text) return {};
  // Read within the block: a text the module wrote without its NUL ends there.
  auto it = blocks_.find(const_cast<void*>(text));
  if (it == blocks_.end()) throw HostError("a text slot holds memory the host did not allocate");
  const size_t size = it->second;
  if (!wide) {
    return std::string(static_cast<const char*>(text),
                       strnlen(static_cast<const char*>(text), size));
  }
  std::u16string units(size / sizeof(char16_t), u'\0');
  std::memcpy(units.data(), text, units.size() * sizeof(char16_t));
  units.resize(std::find(units.begin(), units.end(), u'\0') - units.begin());
  return NarrowToUtf8(units);
}

Application& Host::ValuesOwner(Application& app) {
  Application* a = &app;
  while (a->parent && a->shareValues) a = a->parent;
  return *a;
}

Application& Host::StringsOwner(Application& app) {
  Application* a = &app;
  while (a->parent && a->shareStrings) a = a->parent;
  return *a;
}

}  // namespace vxsim
