// Where the registry's files live, and how they are opened safely: only in a
// directory of this user's own, never through a symbolic link, never when
// another user owns them.
#ifndef SHELL_GUARD_POSIX_RUNTIME_DIR_H_
#define SHELL_GUARD_POSIX_RUNTIME_DIR_H_

#include <string>

namespace guard::posix {

// $XDG_RUNTIME_DIR when it is an absolute path; else /tmp/brevand-<uid>, created
// with mode 0700 when missing. The directory must be a real directory owned
// by the effective user and not writable by group or others. Throws
// GuardError otherwise.
std::string RuntimeDirectory();

// `key` + `suffix` as a file name in `dir`. When that is longer than the
// file system allows, the key is cut and the key's hash put in its place,
// so the name stays unique per key.
std::string ObjectName(const std::string& dir, const std::string& key, const std::string& suffix);

// Opens (creating with mode 0600 when missing) the regular file `path` for
// reading and writing, close-on-exec, refusing symbolic links. Throws
// GuardError(`failText`) when the file cannot be opened or created, and a
// GuardError naming the file when it is not a regular file or belongs to
// another user. Returns the descriptor.
int OpenOwnedFile(const std::string& path, const std::string& failText);

// Throws GuardError when `path` exists and is not owned by the effective
// user. `what` names the object in the text.
void RefuseForeign(const std::string& path, const std::string& what);

}  // namespace guard::posix

#endif  // SHELL_GUARD_POSIX_RUNTIME_DIR_H_
