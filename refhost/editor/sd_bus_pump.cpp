#include "refhost/editor/sd_bus_pump.h"

#include <time.h>

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace refhost {
namespace {

// Messages handled before the event loop gets its turn back.
constexpr int kBatch = 512;

std::uint64_t MonotonicUsec() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::uint64_t(now.tv_sec) * 1000000 + std::uint64_t(now.tv_nsec) / 1000;
}

std::vector<SdBusPump*>& Pumps() {
  static std::vector<SdBusPump*> pumps;
  return pumps;
}

// sd_bus_flush() waits for the peer without a bound: past the deadline,
// shared by every flush of the process, the socket is shut down under it.
void FlushBounded(sd_bus* bus) {
  std::uint64_t queued = 0;
  if (sd_bus_get_n_queued_write(bus, &queued) < 0 || queued == 0) return;
  using Clock = std::chrono::steady_clock;
  static const Clock::time_point end = Clock::now() + std::chrono::milliseconds(kExitFlushMs);
  const int fd = sd_bus_get_fd(bus);
  if (fd < 0 || Clock::now() >= end) return;
  std::mutex mutex;
  std::condition_variable flushed;
  bool done = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (!flushed.wait_until(lock, end, [&] { return done; })) ::shutdown(fd, SHUT_RDWR);
  });
  sd_bus_flush(bus);
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  flushed.notify_one();
  watchdog.join();
}

}  // namespace

SdBusPump::SdBusPump(sd_bus* bus, QObject* parent, std::size_t maxQueuedBytes)
    : QObject(parent), bus_(sd_bus_ref(bus)), maxQueued_(maxQueuedBytes) {
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
  Pumps().push_back(this);
}

SdBusPump::~SdBusPump() {
  auto& pumps = Pumps();
  pumps.erase(std::remove(pumps.begin(), pumps.end(), this), pumps.end());
  read_.reset();
  write_.reset();
  if (open_) FlushBounded(bus_);
  sd_bus_close_unref(bus_);
}

void SdBusPump::Queued(sd_bus* bus, std::size_t bytes) {
  for (SdBusPump* p : Pumps()) {
    if (p->bus_ == bus) {
      if (p->maxQueued_ > 0) p->Account(bytes);
      return;
    }
  }
}

void SdBusPump::Account(std::size_t lastBytes) {
  std::uint64_t n = 0;
  if (sd_bus_get_n_queued_write(bus_, &n) < 0) return;
  // The queue only grows at its back and is sent from its front.
  while (queued_.size() > n) {
    queuedBytes_ -= queued_.front();
    queued_.pop_front();
  }
  while (queued_.size() < n) {
    const std::size_t bytes = queued_.size() + 1 == n && lastBytes > 0 ? lastBytes : kQueuedMessageBytes;
    queued_.push_back(bytes);
    queuedBytes_ += bytes;
  }
}

void SdBusPump::Lose() {
  open_ = false;
  read_->setEnabled(false);
  write_->setEnabled(false);
  deadline_.stop();
  emit lost();
}

void SdBusPump::Pump() {
  if (!open_) return;
  for (int i = 0; i < kBatch; ++i) {
    const int r = sd_bus_process(bus_, nullptr);
    if (maxQueued_ > 0) {
      Account(0);
      // A peer that sends and does not read is dropped, not buffered for.
      if (queuedBytes_ > maxQueued_) return Lose();
    }
    if (r < 0) return Lose();
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
