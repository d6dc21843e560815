#include "batch/program_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

namespace batch {
namespace {

using refhost::files::Cause;
using refhost::files::DirName;

// The temporary file of the save under way, for RemoveTemporaryFile().
char g_temp[PATH_MAX + 16];
volatile std::sig_atomic_t g_temp_set = 0;

// Makes `backup` a second name of `target`'s current contents, replacing the
// old backup in one rename. Copies where hard links are not to be had.
bool KeepBackup(const std::string& target, const std::string& backup, mode_t mode,
                std::string& error) {
  const std::string failed = "cannot keep the backup " + backup + ": ";
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

}  // namespace

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

bool SaveTarget(const std::string& path, bool must_exist, std::string& target, std::string& error) {
  if (!refhost::files::FollowLink(path, target, error)) return false;
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
  temp_.Discard();
  g_temp_set = 0;
}

bool AtomicFile::Begin(const std::string& path, std::string& error) {
  if (!SaveTarget(path, false, target_, error)) return false;
  struct stat st {};
  exists_ = ::stat(target_.c_str(), &st) == 0;
  mode_ = exists_ ? (st.st_mode & 07777) : refhost::files::NewFileMode();
  if (!temp_.Create(target_)) {
    error = "cannot create a file in " + DirName(target_) + " (" + Cause(errno) + ")";
    return false;
  }
  if (temp_.path().size() < sizeof g_temp) {
    std::memcpy(g_temp, temp_.path().c_str(), temp_.path().size() + 1);
    g_temp_set = 1;
  }
  if (exists_ && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
    // Best effort: only the owner's group, or anything for root.
    if (::fchown(temp_.fd(), st.st_uid, st.st_gid) != 0) (void)!::fchown(temp_.fd(), -1, st.st_gid);
  }
  return true;
}

bool AtomicFile::Commit(bool backup, std::string& error) {
  if (!temp_.Finish(mode_)) {
    error = Cause(errno);
    return false;
  }
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
