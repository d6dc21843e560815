#include "batch/progress.h"

#include <unistd.h>

#include <algorithm>

namespace batch {

void ProgressBar::Show(std::int64_t done, std::int64_t total) {
  if (total <= 0) return;
  const int percent = static_cast<int>(std::clamp<std::int64_t>(done * 100 / total, 0, 100));
  if (percent == shown_) return;
  shown_ = percent;
  constexpr int kWidth = 30;
  const int filled = percent * kWidth / 100;
  std::string bar(static_cast<std::size_t>(filled), '=');
  bar.resize(kWidth, ' ');
  std::fprintf(out_, "\r%s [%s] %3d%%", name_.c_str(), bar.c_str(), percent);
  std::fflush(out_);
}

void ProgressBar::Clear() {
  if (shown_ < 0) return;
  // Back to the line's start, blank it, back again.
  std::fprintf(out_, "\r\033[K");
  std::fflush(out_);
  shown_ = -1;
}

bool ProgressBar::Wanted(std::FILE* out, std::int64_t lines) {
  return lines >= kMinLines && ::isatty(::fileno(out));
}

}  // namespace batch
