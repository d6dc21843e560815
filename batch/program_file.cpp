#include "batch/program_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <thread>

namespace batch {
namespace {

using refhost::files::BaseName;
using refhost::files::DirName;

// The temporary file of the save under way, for RemoveTemporaryFile().
char g_temp[PATH_MAX + 16];
volatile std::sig_atomic_t g_temp_set = 0;

// Makes `backup` a second name of `target`'s current contents, replacing the
// old backup in one rename. Copies where hard links are not to be had.
bool KeepBackup(const std::string& target, const std::string& backup, mode_t mode,
                std::string& error) {
  const std::string failed = "cannot keep the backup " + backup + ": ";
  const long name_max = ::pathconf(DirName(target).c_str(), _PC_NAME_MAX);
  if (name_max > 0 && BaseName(backup).size() > static_cast<std::size_t>(name_max)) {
    error = failed + "the name is too long for this folder (--no-backup saves without it)";
    return false;
  }
  switch (refhost::files::LinkBackup(target, backup, error)) {
    case refhost::files::Backup::kKept:
      return true;
    case refhost::files::Backup::kFailed:
      return false;
    case refhost::files::Backup::kNoLinks:
      break;
  }
  // No hard links here: a copy, put in place by a rename as well.
  std::string old;
  if (!ReadProgram(target, old, error)) {
    error = failed + error;
    return false;
  }
  refhost::files::TemporaryFile copy;
  if (!copy.Create(backup) || !refhost::files::WriteAll(copy.fd(), old) || !copy.Finish(mode) ||
      !copy.RenameOver(backup)) {
    error = failed + Cause(errno);
    return false;
  }
  return true;
}

bool InProc(const std::string& real) { return real == "/proc" || real.rfind("/proc/", 0) == 0; }

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

std::string Cause(int err) {
  return err == EFBIG ? "file size limit exceeded" : refhost::files::Cause(err);
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
  std::string data;
  if (!refhost::files::ReadAll(fd, data, static_cast<std::size_t>(st.st_size))) {
    error = "cannot be read (" + Cause(errno) + ")";
    ::close(fd);
    return false;
  }
  ::close(fd);
  text = std::move(data);
  return true;
}

std::string NotText(std::string_view text) {
  static constexpr struct {
    std::string_view magic;
    const char* kind;
  } kSignatures[] = {
      {"\x7f" "ELF", "an ELF program or library"}, {"PK\x03\x04", "a zip archive"},
      {"\x1f\x8b", "gzip data"},                    {"BZh", "bzip2 data"},
      {"\xfd" "7zXZ", "xz data"},                   {"7z\xbc\xaf\x27\x1c", "a 7-zip archive"},
      {"\x89PNG\r\n\x1a\n", "a PNG image"},         {"\xff\xd8\xff", "a JPEG image"},
      {"%PDF-", "a PDF document"},                  {"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1", "an Office document"},
  };
  for (const auto& s : kSignatures) {
    if (text.substr(0, s.magic.size()) == s.magic) {
      return std::string("is not a text file (") + s.kind + ")";
    }
  }
  if (text.substr(0, 64 * 1024).find('\0') != std::string_view::npos) {
    return "is not a text file (it holds NUL bytes)";
  }
  const std::string_view head = text.substr(0, 4096);
  std::size_t control = 0;
  for (const char c : head) {
    const auto b = static_cast<unsigned char>(c);
    if ((b < 0x20 && b != '\t' && b != '\n' && b != '\r' && b != '\f' && b != '\v') || b == 0x7f) {
      ++control;
    }
  }
  if (control * 10 > head.size()) return "is not a text file (mostly bytes that are not text)";
  return "";
}

bool SaveTarget(const std::string& path, bool must_exist, std::string& target, std::string& error,
                bool need_write) {
  // Link by link, as the kernel follows them, with its protected-symlinks rule.
  std::string at = path;
  for (int hops = 0;; ++hops) {
    if (hops > 40) {
      error = "cannot be read (" + Cause(ELOOP) + ")";
      return false;
    }
    char resolved[PATH_MAX];
    const std::string dir = DirName(at);
    if (::realpath(dir.c_str(), resolved) == nullptr) {
      error = hops == 0 ? "cannot be read (" + Cause(errno) + ")"
                        : "the link's target cannot be found (" + Cause(errno) + ")";
      return false;
    }
    const std::string real_dir = resolved;
    if (InProc(real_dir)) {
      error = "is an open file of a process (/proc), never adjusted in place (standard output is -o -)";
      return false;
    }
    struct stat lst {};
    if (::lstat(at.c_str(), &lst) != 0) {
      if (errno == ENOENT && hops > 0) {
        error = "the link's target cannot be found (" + Cause(errno) + ")";
        return false;
      }
      if (errno != ENOENT || must_exist) {
        error = "cannot be read (" + Cause(errno) + ")";
        return false;
      }
      break;  // a new file
    }
    if (!S_ISLNK(lst.st_mode)) break;
    struct stat dst {};
    if (::stat(real_dir.c_str(), &dst) == 0 && (dst.st_mode & S_ISVTX) && (dst.st_mode & S_IWOTH) &&
        lst.st_uid != ::geteuid() && lst.st_uid != dst.st_uid) {
      error = "is a symbolic link in a shared folder (sticky, world-writable) that belongs to neither "
              "you nor the folder's owner; it is not followed";
      return false;
    }
    char link[PATH_MAX];
    const ssize_t n = ::readlink(at.c_str(), link, sizeof link - 1);
    if (n < 0) {
      error = "cannot be read (" + Cause(errno) + ")";
      return false;
    }
    link[n] = '\0';
    at = link[0] == '/' ? std::string(link) : real_dir + "/" + link;
  }
  if (at != path) {
    // The target named from its real folder, so that the backup sits beside it.
    char resolved[PATH_MAX];
    if (::realpath(DirName(at).c_str(), resolved) == nullptr) {
      error = "the link's target cannot be found (" + Cause(errno) + ")";
      return false;
    }
    const std::string folder = resolved;
    at = (folder == "/" ? "" : folder) + "/" + BaseName(at);
    if (InProc(at)) {
      error = "is an open file of a process (/proc), never adjusted in place (standard output is -o -)";
      return false;
    }
  }
  target = at;
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
    if (need_write && ::access(target.c_str(), W_OK) != 0) {
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

InPlaceFile::~InPlaceFile() {
  if (fd_ >= 0) ::close(fd_);  // and the lock with it
}

bool InPlaceFile::Open(const std::string& path, bool force, std::string& text, std::string& error) {
  // Read before anything else, so that an unreadable file says so.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) {
    error = "cannot be read (" + Cause(errno) + ")";
    return false;
  }
  if (::fstat(fd_, &read_) != 0 || !S_ISREG(read_.st_mode)) {
    error = S_ISDIR(read_.st_mode) ? "is a directory" : "is not a regular file";
    return false;
  }
  if (!SaveTarget(path, true, target_, error, /*need_write=*/!force)) return false;
  ::close(fd_);
  fd_ = ::open(target_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0 || ::fstat(fd_, &read_) != 0) {
    error = "cannot be read (" + Cause(errno) + ")";
    return false;
  }
  if (!(read_.st_mode & S_IWUSR) && !force) {
    error = "is read-only (its owner may not write it; --force adjusts it all the same)";
    return false;
  }
  // Another run on the same file: wait a while for it to end.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockWaitMs);
  while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      if (errno == ENOLCK || errno == EOPNOTSUPP) break;  // no locks on this file system
      error = "cannot be locked (" + Cause(errno) + ")";
      return false;
    }
    if (std::chrono::steady_clock::now() >= until) {
      error = "is being adjusted by another run (it holds the file's lock); try again when it has ended";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  struct stat now {};
  if (::stat(target_.c_str(), &now) != 0 || !SameFile(now, read_)) {
    error = "was saved by another run while this one waited for it (left as that run saved it)";
    return false;
  }
  ::fstat(fd_, &read_);  // as it is now, under the lock
  std::string data;
  if (!refhost::files::ReadAll(fd_, data, static_cast<std::size_t>(read_.st_size))) {
    error = "cannot be read (" + Cause(errno) + ")";
    return false;
  }
  const std::string not_text = NotText(data);
  if (!not_text.empty()) {
    error = not_text;
    return false;
  }
  text = std::move(data);
  return true;
}

bool InPlaceFile::Unchanged(std::string& error) const {
  struct stat now {};
  if (::stat(target_.c_str(), &now) != 0 || !SameFile(now, read_) || now.st_size != read_.st_size ||
      now.st_mtim.tv_sec != read_.st_mtim.tv_sec || now.st_mtim.tv_nsec != read_.st_mtim.tv_nsec) {
    error = "was changed or replaced by someone else while it was being adjusted";
    return false;
  }
  return true;
}

AtomicFile::~AtomicFile() {
  temp_.Discard();
  g_temp_set = 0;
}

bool AtomicFile::Begin(const std::string& path, std::string& error, const InPlaceFile* source) {
  source_ = source;
  if (source != nullptr) {
    target_ = source->target();
  } else if (!SaveTarget(path, false, target_, error)) {
    return false;
  }
  struct stat st {};
  exists_ = ::stat(target_.c_str(), &st) == 0;
  mode_ = exists_ ? (st.st_mode & 07777) : refhost::files::NewFileMode();
  // No signal between the file's creation and its note for the handler.
  sigset_t all, before;
  sigfillset(&all);
  ::sigprocmask(SIG_BLOCK, &all, &before);
  const bool created = temp_.Create(target_);
  const int err = errno;
  if (created && temp_.path().size() < sizeof g_temp) {
    std::memcpy(g_temp, temp_.path().c_str(), temp_.path().size() + 1);
    g_temp_set = 1;
  }
  ::sigprocmask(SIG_SETMASK, &before, nullptr);
  if (!created) {
    error = "cannot create a file in " + DirName(target_) + " (" + Cause(err) + ")";
    return false;
  }
  if (exists_ && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
    // Best effort: only the owner's group, or anything for root.
    if (::fchown(temp_.fd(), st.st_uid, st.st_gid) != 0) (void)!::fchown(temp_.fd(), -1, st.st_gid);
  }
  if (exists_) {
    // After the owner: a change of owner may drop attributes.
    const int from = source != nullptr ? source->fd()
                                       : ::open(target_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    // A target that may be written but not read has no attributes to copy.
    const bool copied = from < 0 || refhost::files::CopyExtendedAttributes(from, temp_.fd(), error);
    if (from >= 0 && source == nullptr) ::close(from);
    if (!copied) return false;
  }
  return true;
}

bool AtomicFile::Commit(bool backup, std::string& error) {
  if (!temp_.Finish(mode_)) {
    error = Cause(errno);
    return false;
  }
  // The file read must still be there as it was: else nothing is written.
  if (source_ != nullptr && !source_->Unchanged(error)) return false;
  if (exists_ && backup && !KeepBackup(target_, target_ + "~", mode_, error)) return false;
  if (!temp_.RenameOver(target_)) {
    error = Cause(errno);
    return false;
  }
  g_temp_set = 0;
  refhost::files::SyncFolder(DirName(target_));
  return true;
}

void RemoveTemporaryFile() {
  if (g_temp_set) ::unlink(g_temp);
}

}  // namespace batch
