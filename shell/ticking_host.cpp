#include "shell/ticking_host.h"

#include <algorithm>

namespace shell {

TickingHost::TickingHost(hostlink::HostOperations& host, Tick tick, std::chrono::milliseconds interval)
    : host_(host), tick_(std::move(tick)), interval_(interval), last_tick_(std::chrono::steady_clock::now()) {}

void TickingHost::step() {
  host_.step();
  Stepped();
}

void TickingHost::stepDeferred() {
  host_.stepDeferred();
  Stepped();
}

void TickingHost::Stepped() {
  ++steps_;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_tick_ < interval_) return;
  last_tick_ = now;
  const double lines = double(last_) - double(first_) + 1;
  tick_(lines > 0 ? std::min(1.0, double(steps_) / lines) : 0.0);
}

}  // namespace shell
