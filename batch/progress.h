// A progress bar on a terminal for one long file.
#ifndef BATCH_PROGRESS_H_
#define BATCH_PROGRESS_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

namespace batch {

// Draws "name [=====     ] 42%" on one line of `out`, redrawn only when the
// percentage changes; Clear() wipes it before other text is written there.
class ProgressBar {
 public:
  ProgressBar(std::FILE* out, std::string name) : out_(out), name_(std::move(name)) {}
  ~ProgressBar() { Clear(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Show(std::int64_t done, std::int64_t total);
  void Clear();

  // Whether a file of `lines` lines gets a bar on `out`: a terminal only,
  // and only for files large enough to take a noticeable time.
  static bool Wanted(std::FILE* out, std::int64_t lines);
  static constexpr std::int64_t kMinLines = 200000;

 private:
  std::FILE* out_;
  std::string name_;
  int shown_ = -1;  // percentage on screen, -1: nothing
};

}  // namespace batch

#endif  // BATCH_PROGRESS_H_
