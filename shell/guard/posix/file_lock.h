// The registry lock: flock on a file of the user's own. The kernel drops it
// when the holder dies, so a killed copy never blocks the others. Recursive
// within the process (the count is kept here; flock itself is not counted).
#ifndef SHELL_GUARD_POSIX_FILE_LOCK_H_
#define SHELL_GUARD_POSIX_FILE_LOCK_H_

#include <string>

namespace guard::posix {

// Longest time Acquire waits for another copy to release the lock.
inline constexpr int kLockWaitMs = 10000;

class RecursiveFileLock {
 public:
  // Opens or creates the lock file. Throws GuardError("Failed to create
  // event") when it cannot, or a GuardError naming a foreign file.
  explicit RecursiveFileLock(const std::string& path);
  ~RecursiveFileLock();
  RecursiveFileLock(const RecursiveFileLock&) = delete;
  RecursiveFileLock& operator=(const RecursiveFileLock&) = delete;

  // Takes the lock (only the outermost call touches the file). Throws
  // GuardError when flock fails or another copy holds the lock longer than
  // kLockWaitMs.
  void Acquire();
  // Requires a matching Acquire.
  void Release();
  int Depth() const { return depth_; }

 private:
  int fd_;
  int depth_ = 0;
};

}  // namespace guard::posix

#endif  // SHELL_GUARD_POSIX_FILE_LOCK_H_
