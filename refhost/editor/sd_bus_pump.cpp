#include "refhost/editor/sd_bus_pump.h"

#include <time.h>

#include <poll.h>

namespace refhost {
namespace {

// Messages handled before the event loop gets its turn back.
constexpr int kBatch = 512;

std::uint64_t MonotonicUsec() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::uint64_t(now.tv_sec) * 1000000 + std::uint64_t(now.tv_nsec) / 1000;
}

}  // namespace

SdBusPump::SdBusPump(sd_bus* bus, QObject* parent) : QObject(parent), bus_(sd_bus_ref(bus)) {
  const int fd = sd_bus_get_fd(bus_);
  read_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  write_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
  write_->setEnabled(false);
  connect(read_.get(), &QSocketNotifier::activated, this, &SdBusPump::Pump);
  connect(write_.get(), &QSocketNotifier::activated, this, &SdBusPump::Pump);
  deadline_.setSingleShot(true);
  connect(&deadline_, &QTimer::timeout, this, &SdBusPump::Pump);
  // Messages may be waiting already (read while the connection was set up).
  deadline_.start(0);
}

SdBusPump::~SdBusPump() {
  read_.reset();
  write_.reset();
  sd_bus_flush_close_unref(bus_);
}

void SdBusPump::Pump() {
  if (!open_) return;
  for (int i = 0; i < kBatch; ++i) {
    const int r = sd_bus_process(bus_, nullptr);
    if (r < 0) {
      open_ = false;
      read_->setEnabled(false);
      write_->setEnabled(false);
      deadline_.stop();
      emit lost();
      return;
    }
    if (r == 0) {
      Rearm();
      return;
    }
  }
  // More is waiting: come back after the event loop has had its turn.
  write_->setEnabled(false);
  deadline_.start(0);
}

void SdBusPump::Rearm() {
  const int events = sd_bus_get_events(bus_);
  write_->setEnabled(events > 0 && (events & POLLOUT));
  std::uint64_t until = 0;
  if (sd_bus_get_timeout(bus_, &until) > 0 && until != UINT64_MAX) {
    const std::uint64_t now = MonotonicUsec();
    const std::uint64_t ms = until > now ? (until - now + 999) / 1000 : 0;
    deadline_.start(static_cast<int>(ms > 3600000 ? 3600000 : ms));
  } else {
    deadline_.stop();
  }
}

}  // namespace refhost
