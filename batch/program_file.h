// Reading an NC program file and writing one back without ever leaving it
// torn.
#ifndef BATCH_PROGRAM_FILE_H_
#define BATCH_PROGRAM_FILE_H_

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

// The file a save of `path` replaces: `path` itself, or the file a symbolic
// link leads to. False with `error` set when that is not a regular file or
// cannot be written (`must_exist`: it must exist too).
bool SaveTarget(const std::string& path, bool must_exist, std::string& target, std::string& error);

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
  bool Begin(const std::string& path, std::string& error);
  // Where the bytes go (after Begin).
  int fd() const { return temp_.fd(); }
  // Puts the written bytes in place. False with `error` set.
  bool Commit(bool backup, std::string& error);

 private:
  std::string target_;
  refhost::files::TemporaryFile temp_;
  bool exists_ = false;
  unsigned mode_ = 0;
};

// Removes the temporary file of a save under way, if any (for a signal
// handler: async-signal-safe).
void RemoveTemporaryFile();

}  // namespace batch

#endif  // BATCH_PROGRAM_FILE_H_
