#include "shell/guard/posix/file_lock.h"

#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "shell/guard/guard_error.h"
#include "shell/guard/posix/runtime_dir.h"

namespace guard::posix {

RecursiveFileLock::RecursiveFileLock(const std::string& path)
    : fd_(OpenOwnedFile(path, "Failed to create event")) {}

RecursiveFileLock::~RecursiveFileLock() {
  if (depth_ > 0) flock(fd_, LOCK_UN);
  close(fd_);
}

void RecursiveFileLock::Acquire() {
  if (depth_ > 0) {
    ++depth_;
    return;
  }
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kLockWaitMs);
  for (;;) {
    if (flock(fd_, LOCK_EX | LOCK_NB) == 0) break;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      throw GuardError(std::string("Failed to take the instance registry lock: ") + std::strerror(errno));
    }
    if (Clock::now() >= deadline) {
      throw GuardError("The instance registry lock is held by another copy that does not release it");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  depth_ = 1;
}

void RecursiveFileLock::Release() {
  if (depth_ <= 0) return;
  if (--depth_ == 0) flock(fd_, LOCK_UN);
}

}  // namespace guard::posix
