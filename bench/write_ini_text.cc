// Writes the benchmarks' INI text of one shape to a file, so that programs timed as whole
// processes (scripts/bench.sh's process section) all read the same bytes as the others.
//
//   write_ini_text SHAPE PATH      SHAPE: common (10,000 x 100) or onegroup (1 x 1,000,000)

#include <cstdio>
#include <cstring>

#include "bench_util.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: write_ini_text common|onegroup PATH\n", stderr);
    return 2;
  }
  std::string text;
  if (std::strcmp(argv[1], "common") == 0) {
    text = benchutil::MakeIniText(10000, 100);
  } else if (std::strcmp(argv[1], "onegroup") == 0) {
    text = benchutil::MakeIniText(1, 1000000);
  } else {
    std::fprintf(stderr, "write_ini_text: unknown shape '%s'\n", argv[1]);
    return 2;
  }
  std::FILE* f = std::fopen(argv[2], "wb");
  if (f == nullptr) return 1;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && written ? 0 : 1;
}
