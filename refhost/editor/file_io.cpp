#include "refhost/editor/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace refhost {
namespace {

using files::Cause;
using files::WriteAll;

// Makes `backup` a second name of `target`'s current contents, replacing the
// old backup in one rename. Falls back to a copy where hard links fail.
bool KeepBackup(const std::string& target, const std::string& backup, std::string& error) {
  switch (files::LinkBackup(target, backup, error)) {
    case files::Backup::kKept:
      return true;
    case files::Backup::kFailed:
      return false;
    case files::Backup::kNoLinks:
      break;
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

}  // namespace

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
  if (!files::ReadAll(fd, data, st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0)) {
    error = "Cannot read " + path + ": " + Cause(errno);
    ::close(fd);
    return false;
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
  std::string target, why;
  if (!files::FollowLink(path, target, why)) {
    error = failed + why;
    return false;
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

  const std::string dir = files::DirName(target);
  files::TemporaryFile temp;
  if (!temp.Create(target)) {
    error = failed + "cannot create a file in " + dir + " (" + Cause(errno) + ")";
    return false;
  }
  const mode_t mode = exists ? (st.st_mode & 07777) : files::NewFileMode();
  if (!WriteAll(temp.fd(), bytes) || !temp.Finish(mode)) {
    error = failed + Cause(errno);
    return false;
  }
  if (exists && !KeepBackup(target, BackupPath(target), why)) {
    error = failed + why;
    return false;
  }
  if (!temp.RenameOver(target)) {
    error = failed + Cause(errno);
    return false;
  }
  files::SyncFolder(dir);
  return true;
}

}  // namespace refhost
