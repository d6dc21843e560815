#include "refhost/files/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

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

std::string HiddenName(const std::string& dir, const std::string& base, const std::string& suffix) {
  const long limit = ::pathconf(dir.c_str(), _PC_NAME_MAX);
  const std::size_t max = limit > 0 ? static_cast<std::size_t>(limit) : 255;
  std::string name = base;
  if (1 + name.size() + suffix.size() > max) {
    name.resize(max > suffix.size() + 1 ? max - suffix.size() - 1 : 0);
    // Not in the middle of a UTF-8 sequence.
    while (!name.empty() && (static_cast<unsigned char>(name.back()) & 0xC0) == 0x80) name.pop_back();
    if (!name.empty() && (static_cast<unsigned char>(name.back()) & 0xC0) == 0xC0) name.pop_back();
  }
  return "." + name + suffix;
}

bool CopyExtendedAttributes(int from, int to, std::string& error) {
  std::vector<char> names;
  for (;;) {
    const ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size < 0) {
      if (errno == ENOTSUP) return true;
      error = "cannot list the extended attributes (" + Cause(errno) + ")";
      return false;
    }
    if (size == 0) return true;
    names.resize(static_cast<std::size_t>(size));
    const ssize_t got = ::flistxattr(from, names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<std::size_t>(got));
      break;
    }
    if (errno != ERANGE) {  // ERANGE: it grew meanwhile
      error = "cannot list the extended attributes (" + Cause(errno) + ")";
      return false;
    }
  }
  std::vector<char> value;
  for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
    const char* name = names.data() + at;
    ssize_t size = ::fgetxattr(from, name, nullptr, 0);
    if (size >= 0) {
      value.resize(static_cast<std::size_t>(size));
      size = ::fgetxattr(from, name, value.data(), value.size());
    }
    if (size < 0 || ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(size), 0) != 0) {
      error = std::string("cannot carry over the extended attribute ") + name + " (" + Cause(errno) + ")";
      return false;
    }
  }
  return true;
}

Backup LinkBackup(const std::string& target, const std::string& backup, std::string& error) {
  static std::atomic<unsigned> counter{0};
  const std::string failed = "cannot keep the backup " + backup + ": ";
  const std::string dir = DirName(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string link_name =
        dir + "/" + HiddenName(dir, BaseName(target), "~" + std::to_string(::getpid()) + "." + std::to_string(counter++));
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
  const std::string dir = DirName(target);
  std::string path = dir + "/" + HiddenName(dir, BaseName(target), ".XXXXXX");
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
