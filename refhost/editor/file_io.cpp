#include "refhost/editor/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace refhost {
namespace {

std::string Cause(int err) { return std::strerror(err); }

std::string DirName(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

mode_t CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

void SyncFolder(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // best effort: some file systems refuse it
  ::close(fd);
}

// Makes `backup` a second name of `target`'s current contents, replacing the
// old backup in one rename. Falls back to a copy where hard links fail.
bool KeepBackup(const std::string& target, const std::string& backup, std::string& error) {
  static std::atomic<unsigned> counter{0};
  const std::string dir = DirName(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string link_name = dir + "/." + BaseName(target) + "~" +
                                  std::to_string(::getpid()) + "." +
                                  std::to_string(counter++);
    if (::link(target.c_str(), link_name.c_str()) == 0) {
      if (::rename(link_name.c_str(), backup.c_str()) == 0) return true;
      const int err = errno;
      ::unlink(link_name.c_str());
      error = "cannot keep the backup " + backup + ": " + Cause(err);
      return false;
    }
    if (errno == EEXIST) continue;
    if (errno != EPERM && errno != EXDEV && errno != EMLINK && errno != ENOTSUP) {
      error = "cannot keep the backup " + backup + ": " + Cause(errno);
      return false;
    }
    // No hard links here: copy the old contents instead.
    std::string old;
    if (!ReadWholeFile(target, old, error)) return false;
    const int fd = ::open(backup.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || !WriteAll(fd, old) || ::fsync(fd) != 0) {
      error = "cannot keep the backup " + backup + ": " + Cause(errno);
      if (fd >= 0) ::close(fd);
      return false;
    }
    ::close(fd);
    return true;
  }
  error = "cannot keep the backup " + backup + ": too many temporary names in use";
  return false;
}

}  // namespace

LineEnding DetectLineEnding(std::string_view text) {
  LineEnding ending;
  const auto at = text.find_first_of("\r\n");
  if (at != std::string_view::npos) {
    if (text[at] == '\n') {
      ending.eol = "\n";
    } else if (at + 1 < text.size() && text[at + 1] == '\n') {
      ending.eol = "\r\n";
    } else {
      ending.eol = "\r";
    }
  }
  ending.final_break =
      text.empty() || text.back() == '\n' || text.back() == '\r';
  return ending;
}

bool ReadWholeFile(const std::string& path, std::string& out, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "Cannot open " + path + ": " + Cause(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    error = "Cannot open " + path + ": " + (S_ISDIR(st.st_mode) ? "it is a folder" : Cause(errno));
    ::close(fd);
    return false;
  }
  std::string data;
  if (st.st_size > 0) data.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = "Cannot read " + path + ": " + Cause(errno);
      ::close(fd);
      return false;
    }
    data.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  out = std::move(data);
  return true;
}

std::string BackupPath(const std::string& path) { return path + "~"; }

bool SaveFileSafely(const std::string& path, std::string_view bytes, std::string& error) {
  const std::string failed = "Cannot save " + path + ": ";
  if (path.empty()) {
    error = failed + "no file name";
    return false;
  }
  // Write through a symbolic link rather than replacing it.
  std::string target = path;
  struct stat lst {};
  if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) {
      error = failed + "the link's target cannot be found (" + Cause(errno) + ")";
      return false;
    }
    target = resolved;
  }
  struct stat st {};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) {
    error = failed + Cause(errno);
    return false;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    error = failed + "it is not a regular file";
    return false;
  }

  const std::string dir = DirName(target);
  std::string temp = dir + "/." + BaseName(target) + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) {
    error = failed + "cannot create a file in " + dir + " (" + Cause(errno) + ")";
    return false;
  }
  const mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());
  if (!WriteAll(fd, bytes) || ::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) {
    error = failed + Cause(errno);
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  }
  if (::close(fd) != 0) {
    error = failed + Cause(errno);
    ::unlink(temp.c_str());
    return false;
  }
  if (exists) {
    std::string why;
    if (!KeepBackup(target, BackupPath(target), why)) {
      error = failed + why;
      ::unlink(temp.c_str());
      return false;
    }
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    error = failed + Cause(errno);
    ::unlink(temp.c_str());
    return false;
  }
  SyncFolder(dir);
  return true;
}

}  // namespace refhost
