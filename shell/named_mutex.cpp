#include "shell/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace shell {

std::string RuntimeDirectory() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  struct stat st {};
  if (xdg != nullptr && xdg[0] == '/' && ::stat(xdg, &st) == 0 && S_ISDIR(st.st_mode) &&
      st.st_uid == ::getuid()) {
    return xdg;
  }
  const std::string dir = "/tmp/brevand-" + std::to_string(::getuid());
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return "";
  // Someone else's directory, a link or an open one must not be used.
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
      (st.st_mode & 077) != 0) {
    return "";
  }
  return dir;
}

bool CreateNamedMutex(const std::string& name) {
  const std::string dir = RuntimeDirectory();
  if (dir.empty()) return false;
  const std::string path = dir + "/" + name;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_uid != ::getuid() || !S_ISREG(st.st_mode)) {
    ::close(fd);  // another user's file is never used
    return false;
  }
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
    // An exclusive holder (an installer) does not stop the program.
    ::close(fd);
    return false;
  }
  return true;  // fd stays open: the lock lasts until the process ends
}

}  // namespace shell
