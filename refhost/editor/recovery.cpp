#include "refhost/editor/recovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "refhost/files/files.h"

namespace refhost {
namespace {

constexpr std::string_view kMagic = "norvane-editor recovery\n";

using files::BaseName;
using files::Cause;
using files::DirName;
using files::WriteAll;

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", unsigned(mode & 07777));
  return text;
}

// The path on one line: backslash and line feed escaped.
std::string EscapePath(std::string_view path) {
  std::string out;
  for (const char c : path) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

bool UnescapePath(std::string_view line, std::string& path) {
  path.clear();
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\') {
      path += line[i];
      continue;
    }
    if (++i == line.size()) return false;
    if (line[i] == '\\') {
      path += '\\';
    } else if (line[i] == 'n') {
      path += '\n';
    } else {
      return false;
    }
  }
  return true;
}

// Why an existing file may not be trusted as a recovery file, or "".
std::string UnsafeFile(const std::string& file, const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return "the recovery file " + file + " is a symbolic link";
  if (!S_ISREG(st.st_mode)) return "the recovery file " + file + " is not a regular file";
  if (st.st_uid != ::geteuid()) {
    return "the recovery file " + file + " belongs to user " + std::to_string(st.st_uid) + ", not to you";
  }
  return std::string();
}

// Removes the temporary files of `name` (TemporaryFile's names) that a killed
// writer left in `folder`, older than a minute, so that no write in progress
// is touched.
void RemoveStaleTemporaries(const std::string& folder, const std::string& name) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  const std::string prefix = "." + name + ".";
  const std::time_t now = std::time(nullptr);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string entry_name = entry->d_name;
    if (entry_name.size() != prefix.size() + 6 || entry_name.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string path = folder + "/" + entry_name;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        now - st.st_mtim.tv_sec > 60) {
      ::unlink(path.c_str());
    }
  }
  ::closedir(dir);
}

bool Newer(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

}  // namespace

std::string RecoveryFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/norvane-editor";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/norvane-editor";
  return std::string();
}

std::string CanonicalDocumentPath(const std::string& path) {
  if (path.empty()) return std::string();
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  // Not there (yet): its folder resolved, and its own name.
  if (::realpath(DirName(path).c_str(), resolved) != nullptr) {
    std::string folder = resolved;
    return (folder == "/" ? "" : folder) + "/" + BaseName(path);
  }
  if (path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (::getcwd(cwd, sizeof cwd) == nullptr) return path;
  return std::string(cwd) + "/" + path;
}

std::string RecoveryFileName(const std::string& canonical_path, long pid) {
  if (canonical_path.empty()) return "untitled-" + std::to_string(pid) + ".recover";
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const unsigned char c : canonical_path) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  std::string name;
  for (const char c : BaseName(canonical_path)) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '_' || c == '-';
    name += plain ? c : '_';
    if (name.size() == 60) break;
  }
  if (!name.empty() && name[0] == '.') name[0] = '_';  // temporary files start with a dot
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return name + "-" + hex + ".recover";
}

bool CheckRecoveryFolder(const std::string& folder, std::string& error) {
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) {
    error = "the recovery folder " + folder + " cannot be used: " + Cause(errno);
    return false;
  }
  if (S_ISLNK(st.st_mode)) {
    error = "the recovery folder " + folder + " is a symbolic link";
  } else if (!S_ISDIR(st.st_mode)) {
    error = "the recovery folder " + folder + " is not a folder";
  } else if (st.st_uid != ::geteuid()) {
    error = "the recovery folder " + folder + " belongs to user " + std::to_string(st.st_uid) + ", not to you";
  } else if ((st.st_mode & 022) != 0) {
    error = "the recovery folder " + folder + " can be written by others (mode " + Octal(st.st_mode) + ")";
  } else {
    return true;
  }
  return false;
}

bool PrepareRecoveryFolder(const std::string& folder, std::string& error) {
  if (folder.empty() || folder[0] != '/') {
    error = "no folder for recovery files (neither XDG_STATE_HOME nor HOME is set)";
    return false;
  }
  // Each missing part, parents first, private to the user.
  for (std::size_t at = 1; at <= folder.size(); ++at) {
    if (at != folder.size() && folder[at] != '/') continue;
    const std::string part = folder.substr(0, at);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = "cannot make the recovery folder " + part + ": " + Cause(errno);
      return false;
    }
  }
  return CheckRecoveryFolder(folder, error);
}

bool WriteRecoveryFile(const std::string& file, const std::string& canonical_path, std::string_view bytes,
                       std::string& error) {
  const std::string failed = "cannot write the recovery file " + file + ": ";
  const std::string folder = DirName(file);
  if (!CheckRecoveryFolder(folder, error)) return false;
  files::TemporaryFile temp;
  if (!temp.Create(file)) {  // mode 0600
    error = failed + Cause(errno);
    return false;
  }
  const std::string header = std::string(kMagic) + EscapePath(canonical_path) + "\n";
  if (!WriteAll(temp.fd(), header) || !WriteAll(temp.fd(), bytes) || !temp.Finish(0600) ||
      !temp.RenameOver(file)) {
    error = failed + Cause(errno);
    return false;
  }
  files::SyncFolder(folder);  // the rename reaches the disk
  RemoveStaleTemporaries(folder, BaseName(file));
  return true;
}

bool ReadRecoveryFile(const std::string& file, const std::string& canonical_path, std::string& bytes,
                      std::string& error) {
  if (!CheckRecoveryFolder(DirName(file), error)) return false;
  // O_NOFOLLOW: a link put in place after any check is still refused.
  const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno == ELOOP ? "the recovery file " + file + " is a symbolic link"
                           : "cannot read the recovery file " + file + ": " + Cause(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = "cannot read the recovery file " + file + ": " + Cause(errno);
    ::close(fd);
    return false;
  }
  if (std::string why = UnsafeFile(file, st); !why.empty()) {
    error = why;
    ::close(fd);
    return false;
  }
  std::string data;
  if (!files::ReadAll(fd, data, static_cast<std::size_t>(st.st_size))) {
    error = "cannot read the recovery file " + file + ": " + Cause(errno);
    ::close(fd);
    return false;
  }
  ::close(fd);

  const auto eol = data.find('\n', kMagic.size());
  std::string owner;
  if (data.compare(0, kMagic.size(), kMagic) != 0 || eol == std::string::npos ||
      !UnescapePath(std::string_view(data).substr(kMagic.size(), eol - kMagic.size()), owner)) {
    error = "the recovery file " + file + " is not one the editor wrote";
    return false;
  }
  if (owner != canonical_path) {
    error = "the recovery file " + file + " belongs to " + owner + ", not to " + canonical_path;
    return false;
  }
  bytes = data.substr(eol + 1);
  return true;
}

RecoveryProbe ProbeRecovery(const std::string& folder, const std::string& path) {
  RecoveryProbe probe;
  if (folder.empty() || path.empty()) return probe;
  const std::string canonical = CanonicalDocumentPath(path);
  probe.file = folder + "/" + RecoveryFileName(canonical, 0);
  struct stat st {};
  if (::lstat(probe.file.c_str(), &st) != 0) return probe;  // none (or no folder)
  probe.written = st.st_mtim.tv_sec;
  std::string why;
  if (!CheckRecoveryFolder(folder, why) || !(why = UnsafeFile(probe.file, st)).empty()) {
    probe.state = RecoveryProbe::State::kRefused;
    probe.reason = why;
    return probe;
  }
  struct stat doc {};
  if (::stat(path.c_str(), &doc) == 0 && !Newer(st.st_mtim, doc.st_mtim)) {
    probe.state = RecoveryProbe::State::kOlder;
    return probe;
  }
  if (!ReadRecoveryFile(probe.file, canonical, probe.bytes, probe.reason)) {
    probe.state = RecoveryProbe::State::kRefused;
    return probe;
  }
  probe.state = RecoveryProbe::State::kNewer;
  return probe;
}

bool RemoveRecoveryFile(const std::string& file, std::string& error) {
  if (::unlink(file.c_str()) == 0 || errno == ENOENT) return true;
  error = "cannot remove the recovery file " + file + ": " + Cause(errno);
  return false;
}

bool SetRecoveryFileAside(const std::string& file, bool& moved, std::string& error) {
  moved = false;
  struct stat st {};
  if (::lstat(file.c_str(), &st) != 0) return true;
  if (::rename(file.c_str(), (file + "~").c_str()) != 0) {
    error = "cannot set the recovery file " + file + " aside: " + Cause(errno);
    return false;
  }
  moved = true;
  return true;
}

}  // namespace refhost
