// Recovery files: the unsaved text of a document, kept in the user's state
// folder so that a crash, a kill or a logout loses at most the last moments
// of work. No Qt.
//
// Contracts:
// - The folder is $XDG_STATE_HOME/norvane-editor (when that is an absolute
//   path) or ~/.local/state/norvane-editor, created with mode 0700.
// - A folder or file is used only when it is safe: the folder a real folder
//   (not a link) owned by the user and not writable by group or others; the
//   file a regular file (not a link) owned by the user. Anything else is
//   refused with a sentence saying why, and left alone.
// - A file is written to a temporary name in the folder, flushed to disk and
//   renamed into place (mode 0600), so it is whole or absent, never partial.
//   Temporary files a killed writer left behind go at the next write.
// - A file starts with a header naming the document it belongs to; reading
//   one whose header names another document is refused.
#ifndef REFHOST_EDITOR_RECOVERY_H_
#define REFHOST_EDITOR_RECOVERY_H_

#include <ctime>
#include <string>
#include <string_view>

namespace refhost {

// The folder for recovery files, from the environment (not created).
// Empty when neither XDG_STATE_HOME nor HOME gives an absolute path.
std::string RecoveryFolder();

// The document's path as the recovery file is keyed: symbolic links and
// "." / ".." resolved. A file that does not exist yet is keyed by its
// resolved folder and its name. Empty `path` gives "".
std::string CanonicalDocumentPath(const std::string& path);

// The file name (no folder) of the recovery file for a canonical document
// path: the document's name made safe, a dash and 16 hex digits of a hash of
// the whole path, ".recover". An empty path (an untitled program) gives a
// name carrying `pid` instead.
std::string RecoveryFileName(const std::string& canonical_path, long pid);

// Creates `folder` (and missing parents, mode 0700) when absent, then checks
// it is safe. False with `error` set when it cannot be made or is not safe.
bool PrepareRecoveryFolder(const std::string& folder, std::string& error);
// Only checks that `folder` exists and is safe.
bool CheckRecoveryFolder(const std::string& folder, std::string& error);

// Writes `bytes` as the recovery of `canonical_path` to `file`, atomically.
bool WriteRecoveryFile(const std::string& file, const std::string& canonical_path, std::string_view bytes,
                       std::string& error);

// What is found for a document when it is opened.
struct RecoveryProbe {
  enum class State {
    kNone,     // no recovery file
    kNewer,    // a safe one, newer than the document (or the document is gone)
    kOlder,    // a safe one, not newer than the document: left alone
    kRefused,  // one exists but is not safe or not this document's: `reason`
  };
  State state = State::kNone;
  std::string file;    // the recovery file's path
  std::string bytes;   // kNewer: the text to recover
  std::string reason;  // kRefused: why, as a sentence
  std::time_t written = 0;  // the recovery file's modification time
};

// Looks in `folder` for the recovery of the document at `path` and reads it
// when it is newer than the document.
RecoveryProbe ProbeRecovery(const std::string& folder, const std::string& path);

// Reads a recovery file after the safety checks, returning the text after
// the header. False with `error` set when unsafe, unreadable, malformed or
// belonging to another document than `canonical_path`.
bool ReadRecoveryFile(const std::string& file, const std::string& canonical_path, std::string& bytes,
                      std::string& error);

// Removes `file`; a file already gone is fine. False with `error` otherwise.
bool RemoveRecoveryFile(const std::string& file, std::string& error);

// Renames an existing `file` to `file` + "~" (replacing an older one there),
// so that a recovery the user kept is not overwritten. True when there was
// nothing to move or it moved; `moved` tells which.
bool SetRecoveryFileAside(const std::string& file, bool& moved, std::string& error);

}  // namespace refhost

#endif  // REFHOST_EDITOR_RECOVERY_H_
