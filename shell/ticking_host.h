// A host decorator that reports the pass's progress now and then, so that
// the window can paint during a long pass.
#ifndef SHELL_TICKING_HOST_H_
#define SHELL_TICKING_HOST_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "hostlink/operations.h"

namespace shell {

// Forwards every member and batch form to `host` unchanged. After a line's
// step, when `interval` has passed since the last tick, calls `tick` with
// the share of the selection stepped so far (0..1, from the StartSelection
// and EndSelection answers it forwarded).
class TickingHost : public hostlink::HostOperations {
 public:
  using Tick = std::function<void(double done)>;
  TickingHost(hostlink::HostOperations& host, Tick tick,
              std::chrono::milliseconds interval = std::chrono::milliseconds(100));

  std::int32_t SystemType() override { return host_.SystemType(); }
  std::int32_t StartSelection() override { return first_ = host_.StartSelection(); }
  std::int32_t EndSelection() override { return last_ = host_.EndSelection(); }
  void selectline(std::int32_t line, hostlink::ArgForm form) override { host_.selectline(line, form); }
  void markline(std::int32_t line, std::int32_t mark, hostlink::ArgForm form) override {
    host_.markline(line, mark, form);
  }
  void step() override;
  double CurrentBlock(std::int32_t index) override { return host_.CurrentBlock(index); }
  void add(const std::string& letter, double value) override { host_.add(letter, value); }
  void stepDeferred() override;
  void selectlineDeferred(std::int32_t line, hostlink::ArgForm form) override {
    host_.selectlineDeferred(line, form);
  }
  void marklineDeferred(std::int32_t line, std::int32_t mark, hostlink::ArgForm form) override {
    host_.marklineDeferred(line, mark, form);
  }
  void AnnounceReads(const std::int32_t* indices, std::size_t count) override {
    host_.AnnounceReads(indices, count);
  }
  void Settle() override { host_.Settle(); }

 private:
  void Stepped();

  hostlink::HostOperations& host_;
  Tick tick_;
  std::chrono::milliseconds interval_;
  std::chrono::steady_clock::time_point last_tick_;
  std::int32_t first_ = 0, last_ = 0;
  std::int64_t steps_ = 0;
};

}  // namespace shell

#endif  // SHELL_TICKING_HOST_H_
