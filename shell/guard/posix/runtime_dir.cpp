#include "shell/guard/posix/runtime_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "shell/guard/guard_error.h"
#include "shell/guard/identity_key.h"

namespace guard::posix {

namespace {

std::string ForeignText(const std::string& what, const std::string& path) {
  return "The " + what + " " + path +
         " belongs to another user; this program will not use it";
}

void CheckDirectory(const std::string& dir) {
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0) {
    throw GuardError("Cannot use the runtime directory " + dir + ": " + std::strerror(errno));
  }
  if (!S_ISDIR(st.st_mode)) {
    throw GuardError("The runtime directory " + dir + " is not a directory");
  }
  if (st.st_uid != geteuid()) throw GuardError(ForeignText("runtime directory", dir));
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    throw GuardError("The runtime directory " + dir + " is writable by other users");
  }
}

}  // namespace

std::string RuntimeDirectory() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  std::string dir;
  if (xdg != nullptr && *xdg == '/') {
    dir = xdg;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  } else {
    dir = "/tmp/brevand-" + std::to_string(geteuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      throw GuardError("Cannot create the runtime directory " + dir + ": " + std::strerror(errno));
    }
  }
  CheckDirectory(dir);
  return dir;
}

std::string ObjectName(const std::string& dir, const std::string& key, const std::string& suffix) {
  long limit = pathconf(dir.c_str(), _PC_NAME_MAX);
  if (limit <= 0) limit = 255;
  const std::size_t max = static_cast<std::size_t>(limit);
  std::string name = key + suffix;
  if (name.size() <= max) return name;
  const std::string tail = "_" + KeyHashText(key) + suffix;
  std::size_t keep = max > tail.size() ? max - tail.size() : 0;
  // Never cut inside a UTF-8 sequence.
  while (keep > 0 && (static_cast<unsigned char>(key[keep]) & 0xC0) == 0x80) --keep;
  return key.substr(0, keep) + tail;
}

int OpenOwnedFile(const std::string& path, const std::string& failText) {
  RefuseForeign(path, "file");
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == ELOOP) throw GuardError("The file " + path + " is a symbolic link; this program will not use it");
    throw GuardError(failText);
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    close(fd);
    throw GuardError(failText);
  }
  if (st.st_uid != geteuid()) {
    close(fd);
    throw GuardError(ForeignText("file", path));
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    throw GuardError("The file " + path + " is not a regular file; this program will not use it");
  }
  return fd;
}

void RefuseForeign(const std::string& path, const std::string& what) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && st.st_uid != geteuid()) {
    throw GuardError(ForeignText(what, path));
  }
}

}  // namespace guard::posix
