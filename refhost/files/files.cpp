#include "refhost/files/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace refhost::files {

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
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool ReadAll(int fd, std::string& out, std::size_t expected) {
  std::size_t have = out.size();
  out.resize(have + expected);
  for (;;) {
    ssize_t n;
    if (have < out.size()) {
      n = ::read(fd, out.data() + have, out.size() - have);
      if (n > 0) have += static_cast<std::size_t>(n);
    } else {
      // Full: mostly the end comes next, so the string grows only for bytes
      // that are really there.
      char more[1 << 16];
      n = ::read(fd, more, sizeof more);
      if (n > 0) {
        out.append(more, static_cast<std::size_t>(n));
        have = out.size();
      }
    }
    if (n > 0) continue;
    if (n == 0) break;
    if (errno == EINTR) continue;
    const int err = errno;
    out.resize(have);
    errno = err;
    return false;
  }
  out.resize(have);
  return true;
}

mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

void SyncFolder(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // best effort: some file systems refuse it
  ::close(fd);
}

bool FollowLink(const std::string& path, std::string& target, std::string& error) {
  target = path;
  struct stat lst {};
  if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) {
      error = "the link's target cannot be found (" + Cause(errno) + ")";
      return false;
    }
    target = resolved;
  }
  return true;
}

Backup LinkBackup(const std::string& target, const std::string& backup, std::string& error) {
  static std::atomic<unsigned> counter{0};
  const std::string failed = "cannot keep the backup " + backup + ": ";
  const std::string dir = DirName(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string link_name = dir + "/." + BaseName(target) + "~" + std::to_string(::getpid()) + "." +
                                  std::to_string(counter++);
    if (::link(target.c_str(), link_name.c_str()) == 0) {
      if (::rename(link_name.c_str(), backup.c_str()) == 0) return Backup::kKept;
      const int err = errno;
      ::unlink(link_name.c_str());
      error = failed + Cause(err);
      return Backup::kFailed;
    }
    if (errno == EEXIST) continue;
    if (errno == EPERM || errno == EXDEV || errno == EMLINK || errno == ENOTSUP) return Backup::kNoLinks;
    error = failed + Cause(errno);
    return Backup::kFailed;
  }
  error = failed + "too many temporary names in use";
  return Backup::kFailed;
}

bool TemporaryFile::Create(const std::string& target) {
  Discard();
  std::string path = DirName(target) + "/." + BaseName(target) + ".XXXXXX";
  fd_ = ::mkstemp(path.data());
  if (fd_ < 0) return false;
  path_ = std::move(path);
  return true;
}

bool TemporaryFile::Finish(mode_t mode) {
  const int fd = fd_;
  fd_ = -1;
  if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return false;
  }
  return ::close(fd) == 0;
}

bool TemporaryFile::RenameOver(const std::string& target) {
  if (::rename(path_.c_str(), target.c_str()) != 0) return false;
  path_.clear();
  return true;
}

void TemporaryFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!path_.empty()) ::unlink(path_.c_str());
  path_.clear();
}

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
  ending.final_break = text.empty() || text.back() == '\n' || text.back() == '\r';
  return ending;
}

}  // namespace refhost::files
