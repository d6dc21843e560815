#include "batch/program_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace batch {
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

bool WriteAll(int fd, const char* p, std::size_t left) {
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

// The temporary file of the save under way, for RemoveTemporaryFile().
char g_temp[PATH_MAX + 16];
volatile std::sig_atomic_t g_temp_set = 0;

// A temporary file beside `target` (for a backup copy) that is removed
// again unless Keep().
class TempFile {
 public:
  explicit TempFile(const std::string& target)
      : path_(DirName(target) + "/." + BaseName(target) + ".XXXXXX") {
    fd_ = ::mkstemp(path_.data());
    created_ = fd_ >= 0;
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (created_ && !kept_) ::unlink(path_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_; }
  bool Created() const { return created_; }
  const std::string& path() const { return path_; }
  // Closes the file; false with errno set when the close reports an error.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }
  // The file has been renamed away: nothing to remove.
  void Keep() { kept_ = true; }

 private:
  std::string path_;
  int fd_ = -1;
  bool created_ = false;
  bool kept_ = false;
};

// Makes `backup` a second name of `target`'s current contents, replacing the
// old backup in one rename. Copies where hard links are not to be had.
bool KeepBackup(const std::string& target, const std::string& backup, mode_t mode,
                std::string& error) {
  const std::string dir = DirName(target);
  const std::string failed = "cannot keep the backup " + backup + ": ";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string link_name = dir + "/." + BaseName(target) + "~" +
                                  std::to_string(::getpid()) + "." + std::to_string(attempt);
    if (::link(target.c_str(), link_name.c_str()) == 0) {
      if (::rename(link_name.c_str(), backup.c_str()) == 0) return true;
      const int err = errno;
      ::unlink(link_name.c_str());
      error = failed + Cause(err);
      return false;
    }
    if (errno == EEXIST) continue;
    if (errno != EPERM && errno != EXDEV && errno != EMLINK && errno != ENOTSUP) {
      error = failed + Cause(errno);
      return false;
    }
    // No hard links here: a copy, put in place by a rename as well.
    std::string old;
    if (!ReadProgram(target, old, error)) {
      error = failed + error;
      return false;
    }
    TempFile copy(backup);
    if (!copy.Created() || !WriteAll(copy.fd(), old.data(), old.size()) ||
        ::fchmod(copy.fd(), mode) != 0 || ::fsync(copy.fd()) != 0 || !copy.Close() ||
        ::rename(copy.path().c_str(), backup.c_str()) != 0) {
      error = failed + Cause(errno);
      return false;
    }
    copy.Keep();
    return true;
  }
  error = failed + "too many temporary names in use";
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
  ending.final_break = text.empty() || text.back() == '\n' || text.back() == '\r';
  return ending;
}

bool ReadProgram(const std::string& path, std::string& text, std::string& error) {
  // O_NONBLOCK: a FIFO must not hang the open; it is refused below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = "cannot be read (" + Cause(errno) + ")";
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? "is a directory" : "is not a regular file";
    ::close(fd);
    return false;
  }
  std::string data(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t have = 0;
  for (;;) {
    if (have == data.size()) data.resize(data.size() + (1 << 16));  // the file grew
    const ssize_t n = ::read(fd, data.data() + have, data.size() - have);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = "cannot be read (" + Cause(errno) + ")";
      ::close(fd);
      return false;
    }
    have += static_cast<std::size_t>(n);
  }
  ::close(fd);
  data.resize(have);
  text = std::move(data);
  return true;
}

bool SaveTarget(const std::string& path, bool must_exist, std::string& target, std::string& error) {
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
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      error = "is a directory";
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      error = "is not a regular file";
      return false;
    }
    if (::access(target.c_str(), W_OK) != 0) {
      error = "cannot be written (" + Cause(errno) + ")";
      return false;
    }
  } else if (errno != ENOENT || must_exist) {
    error = "cannot be read (" + Cause(errno) + ")";
    return false;
  }
  const std::string dir = DirName(target);
  if (::access(dir.c_str(), W_OK | X_OK) != 0) {
    error = "cannot create a file in " + dir + " (" + Cause(errno) + ")";
    return false;
  }
  return true;
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_.empty()) ::unlink(temp_.c_str());
  g_temp_set = 0;
}

bool AtomicFile::Begin(const std::string& path, std::string& error) {
  if (!SaveTarget(path, false, target_, error)) return false;
  struct stat st {};
  exists_ = ::stat(target_.c_str(), &st) == 0;
  mode_ = exists_ ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());
  std::string temp = DirName(target_) + "/." + BaseName(target_) + ".XXXXXX";
  fd_ = ::mkstemp(temp.data());
  if (fd_ < 0) {
    error = "cannot create a file in " + DirName(target_) + " (" + Cause(errno) + ")";
    return false;
  }
  temp_ = std::move(temp);
  if (temp_.size() < sizeof g_temp) {
    std::memcpy(g_temp, temp_.c_str(), temp_.size() + 1);
    g_temp_set = 1;
  }
  if (exists_ && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
    // Best effort: only the owner's group, or anything for root.
    if (::fchown(fd_, st.st_uid, st.st_gid) != 0) (void)!::fchown(fd_, -1, st.st_gid);
  }
  return true;
}

bool AtomicFile::Commit(bool backup, std::string& error) {
  const int fd = fd_;
  fd_ = -1;
  if (::fchmod(fd, mode_) != 0 || ::fsync(fd) != 0) {
    error = Cause(errno);
    ::close(fd);
    return false;
  }
  if (::close(fd) != 0) {
    error = Cause(errno);
    return false;
  }
  if (exists_ && backup && !KeepBackup(target_, target_ + "~", mode_, error)) return false;
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    error = Cause(errno);
    return false;
  }
  temp_.clear();
  g_temp_set = 0;
  SyncFolder(DirName(target_));
  return true;
}

void RemoveTemporaryFile() {
  if (g_temp_set) ::unlink(g_temp);
}

}  // namespace batch
