// Reading an NC program file and writing one back without ever leaving it
// torn.
#ifndef BATCH_PROGRAM_FILE_H_
#define BATCH_PROGRAM_FILE_H_

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "refhost/files/files.h"

namespace batch {

// How a file ends its lines, as the editor keeps it.
using refhost::files::DetectLineEnding;
using refhost::files::LineEnding;

// Reads the regular file `path` (a symbolic link is followed). False with
// `error` set to the reason ("Permission denied", "is a directory", ...).
bool ReadProgram(const std::string& path, std::string& text, std::string& error);

// Why `text` is not an NC program but some other kind of file ("is not a
// text file (...)"), or "" when it reads as text. Cues, from its start: a NUL
// byte in the first 64 KiB, the signature of a known binary format (ELF,
// zip, gzip, ...), or mostly control bytes in the first 4 KiB. Bytes from
// 0x80 up count as text (comments in any encoding).
std::string NotText(std::string_view text);

// The file a save of `path` replaces: `path` itself, or the file a symbolic
// link leads to, followed link by link. False with `error` set when that is
// not a regular file or cannot be written (`must_exist`: it must exist too),
// when a link on the way sits in a sticky world-writable folder and belongs
// to neither the user nor the folder's owner (the kernel's protected-symlinks
// rule, whatever the machine's setting), or when the way leads into /proc
// (/dev/stdin, /dev/fd/N: an open file of some process, never replaced).
// Without `need_write` a file the user may not write passes (a save replaces
// it by a rename in its folder, which the kernel allows or not).
bool SaveTarget(const std::string& path, bool must_exist, std::string& target, std::string& error,
                bool need_write = true);

// A program file to be adjusted in place, opened, locked and read. Open()
// refuses (false, `error` set) what SaveTarget() refuses, a file it cannot
// read, one whose owner has no write permission (unless `force`; root
// included), and a file another run holds: it waits up to kLockWaitMs for
// that run's lock (flock), and fails when the run does not end by then or
// has saved the file meanwhile. The lock lasts until this object goes.
class InPlaceFile {
 public:
  static constexpr int kLockWaitMs = 10000;

  InPlaceFile() = default;
  ~InPlaceFile();
  InPlaceFile(const InPlaceFile&) = delete;
  InPlaceFile& operator=(const InPlaceFile&) = delete;

  bool Open(const std::string& path, bool force, std::string& text, std::string& error);
  const std::string& target() const { return target_; }
  int fd() const { return fd_; }
  // True when the target still is the file that was read, unchanged (device,
  // inode, size, modification time); else false with `error` set.
  bool Unchanged(std::string& error) const;

 private:
  std::string target_;
  int fd_ = -1;
  struct stat read_ {};
};

// A file written in full or not at all:
// - the bytes go to a temporary file beside the target (Begin), which Commit
//   flushes to disk and renames over the target, then flushes the folder:
//   a crash at any point leaves the old file or the new one, never a mix;
// - a symbolic link is followed: its target is replaced, the link stays;
// - an existing file's permissions (and, where allowed, owner and group)
//   carry over; a new file gets 0666 less the umask;
// - with a backup, an existing file is kept first as target + "~",
//   replacing the previous backup.
// Without Commit, or when it fails, the target is untouched and the
// temporary file gone.
class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Opens the temporary file for `path`. False with `error` set.
  bool Begin(const std::string& path, std::string& error, const InPlaceFile* source = nullptr);
  // Where the bytes go (after Begin).
  int fd() const { return temp_.fd(); }
  // Puts the written bytes in place. False with `error` set.
  bool Commit(bool backup, std::string& error);

 private:
  std::string target_;
  refhost::files::TemporaryFile temp_;
  const InPlaceFile* source_ = nullptr;
  bool exists_ = false;
  unsigned mode_ = 0;
};

// strerror(err), but "file size limit exceeded" for EFBIG.
std::string Cause(int err);

// Removes the temporary file of a save under way, if any (for a signal
// handler: async-signal-safe).
void RemoveTemporaryFile();

}  // namespace batch

#endif  // BATCH_PROGRAM_FILE_H_
