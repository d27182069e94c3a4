#include "files/file_lookup.h"

#include <cstring>
#include <string>

#include "io/file_io.h"

namespace vellix {

ItemLookup LookupFileItem(const std::string& path, const DocumentSettings& settings,
                          bool caseSensitive, std::string_view group, std::string_view item,
                          LookupValues values) {
  // Without blocking: a FIFO is not waited on, and is then refused as no regular file.
  const int fd = Retrying(&FileSystemCalls::open, path.c_str(), kOpenRead | kOpenNoWait, 0u);
  if (fd < 0) return ItemLookup{};
  struct Closer {
    int fd;
    ~Closer() { FileSystem().close(fd); }
  } closer{fd};
  FileStatus st;
  if (Retrying(&FileSystemCalls::fstat, fd, &st) != 0 || st.kind != FileKind::kRegular ||
      Retrying(&FileSystemCalls::fcntl, fd, FileControl::kWait) != 0) {
    return ItemLookup{};
  }

  ItemScan scan(settings, caseSensitive, group, item, values);
  // A piece of a mebibyte: the start of a line left over from the last piece is moved to the
  // front, and a line longer than the buffer grows it.
  std::string buffer(size_t{1} << 20, '\0');
  size_t held = 0;
  for (;;) {
    if (held == buffer.size()) buffer.resize(buffer.size() * 2);
    const ptrdiff_t got =
        Retrying(&FileSystemCalls::read, fd, buffer.data() + held, buffer.size() - held);
    if (got < 0) return ItemLookup{};
    if (got == 0) return scan.Finish(std::string_view(buffer.data(), held));
    held += static_cast<size_t>(got);
    const size_t used = scan.Take(std::string_view(buffer.data(), held));
    std::memmove(buffer.data(), buffer.data() + used, held - used);
    held -= used;
  }
}

}  // namespace vellix
