// The progress line of long commands.
#include <cstdio>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "tool.h"

namespace vellix::cli {
namespace {

bool ErrorIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return ::isatty(STDERR_FILENO) != 0;
#endif
}

std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

// The command's work began when its first progress did: a write that follows a long read
// shows at once.
std::chrono::steady_clock::time_point WorkStart() {
  static const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  return start;
}

}  // namespace

Progress::Progress(std::string what, uint64_t total)
    : what_(std::move(what)),
      total_(total),
      shown_(ErrorIsTerminal()),
      next_(WorkStart() + std::chrono::seconds(1)) {}

Progress::~Progress() {
  // The line goes again, so that what the command prints next starts on a clean line.
  if (drawn_) std::fputs("\r\033[K", stderr);
}

void Progress::Show(uint64_t done, uint64_t total) {
  done_ = done;
  total_ = total;
  if (!shown_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_) return;
  next_ = now + std::chrono::milliseconds(200);
  std::string line = "\rvellix: " + what_ + ": " + Megabytes(done_);
  if (total_ != 0) {
    const uint64_t percent = done_ >= total_ ? 99 : done_ * 100 / total_;
    line += " of " + Megabytes(total_) + " (" + std::to_string(percent) + "%)";
  }
  line += "\033[K";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace vellix::cli
