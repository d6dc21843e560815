// POSIX file pieces the editor and brevand-batch share: path parts, whole
// reads and writes, temporary files renamed into place, backups kept by hard
// link, and how a text ends its lines. Standard library and POSIX only.
//
// Calls that fail leave errno as the failing system call set it, unless they
// say they report `error` as a sentence instead; callers word their own
// messages around either.
#ifndef REFHOST_FILES_FILES_H_
#define REFHOST_FILES_FILES_H_

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace refhost::files {

// strerror(err) as a string.
std::string Cause(int err);

// The folder part of `path`, by its text alone: what comes before the last
// slash; "." when there is no slash, "/" when the only slash leads.
std::string DirName(const std::string& path);
// What comes after the last slash of `path` (all of it when there is none).
std::string BaseName(const std::string& path);

// Writes all of `bytes` to `fd`, again after a short write or EINTR. False
// with errno set by the write that failed (some bytes may be written).
bool WriteAll(int fd, std::string_view bytes);

// Reads `fd` to its end and appends what it read to `out`; room for
// `expected` bytes (say, the file's size) is made at once, but a file longer
// or shorter than that is read whole all the same. Again after EINTR. False
// with errno set by the read that failed; `out` then holds what came before.
bool ReadAll(int fd, std::string& out, std::size_t expected = 0);

// The permissions a new file gets: 0666 less the umask. Reads the umask by
// setting it for a moment: not while another thread creates files.
mode_t NewFileMode();

// Flushes the folder `dir` to disk, so that a rename in it lasts. Best
// effort: a folder that cannot be opened or flushed is passed over.
void SyncFolder(const std::string& dir);

// The file a write to `path` must reach: the resolved target when `path` is a
// symbolic link, else `path` itself (which need not exist). False with
// `error` = "the link's target cannot be found (<cause>)" for a link that
// leads nowhere.
bool FollowLink(const std::string& path, std::string& target, std::string& error);

// How LinkBackup() ended.
enum class Backup {
  kKept,     // `backup` is now a second name of the file
  kNoLinks,  // the file system gives no hard link here: nothing changed, copy instead
  kFailed,   // `error` says why; nothing changed
};

// Makes `backup` a second name (a hard link) of `target`'s current contents,
// replacing an older `backup` in one rename, so that some backup is there at
// every moment. The link is first made under a hidden name in `target`'s
// folder, "." + name + "~" + process id + "." + a number (the next number
// while one is taken, up to 100 tries; `name` shortened as HiddenName()
// says). kNoLinks for EPERM, EXDEV, EMLINK and
// ENOTSUP; kFailed with `error` = "cannot keep the backup <backup>: <cause>"
// otherwise.
Backup LinkBackup(const std::string& target, const std::string& backup, std::string& error);

// "." + `base` + `suffix`, with `base` cut short (at a UTF-8 character
// boundary) where the whole would be longer than the longest name the
// folder `dir` takes (pathconf NAME_MAX; 255 when it does not say).
std::string HiddenName(const std::string& dir, const std::string& base, const std::string& suffix);

// Copies every extended attribute of the open file `from` to the open file
// `to` (POSIX ACLs, SELinux labels and user attributes live there). True when
// `from` has none or the file system keeps none (ENOTSUP). False with `error`
// = "cannot carry over the extended attribute <name> (<cause>)".
bool CopyExtendedAttributes(int from, int to, std::string& error);

// A file written under a temporary name beside its target, flushed to disk
// and renamed over the target: whoever opens the target gets the old bytes
// or all the new ones, never a mix. The temporary name is "." + the target's
// name + "." + six characters, in the target's folder (the name shortened
// as HiddenName() says, so that any name the folder takes works). What was not renamed
// over its target is removed again (Discard(), at the latest on
// destruction).
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile() { Discard(); }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Creates the temporary file for `target` (mode 0600, open for writing).
  // False with errno set when it cannot be made; nothing is created then.
  bool Create(const std::string& target);
  // Where the bytes go, after Create() and before Finish(); else -1.
  int fd() const { return fd_; }
  // The temporary file's path while there is one; else "".
  const std::string& path() const { return path_; }
  // Gives the file `mode`, flushes it to disk and closes it (closed also when
  // this fails). False with errno set.
  bool Finish(mode_t mode);
  // Renames the finished file over `target`: nothing is left to discard.
  // False with errno set; the file then stays until Discard().
  bool RenameOver(const std::string& target);
  // Closes the file if open and removes it if there is one.
  void Discard();

 private:
  std::string path_;
  int fd_ = -1;
};

// How a file ends its lines, as found when it was read.
struct LineEnding {
  std::string eol = "\n";   // "\n", "\r\n" or "\r": the first break in the file
  bool final_break = true;  // the text ended with a break (or was empty)
};

// The line ending of `text`: its first line break, LF when it has none.
LineEnding DetectLineEnding(std::string_view text);

}  // namespace refhost::files

#endif  // REFHOST_FILES_FILES_H_
