// The named marker that tells scripts and installers the program runs.
#ifndef SHELL_NAMED_MUTEX_H_
#define SHELL_NAMED_MUTEX_H_

#include <string>

namespace shell {

inline constexpr const char* kMutexName = "NorvaneBrevandMutex";

// The user's runtime directory: $XDG_RUNTIME_DIR when it is an absolute path
// to a directory this user owns, else /tmp/brevand-<uid>, created 0700 if missing. Returns
// "" when the /tmp fallback exists but is not a private directory of this
// user (it is then not used).
std::string RuntimeDirectory();

// Creates (or opens) the file `name` in the runtime directory, refusing one
// that is a link or belongs to another user, and holds a
// shared flock on it until the process ends; the descriptor is kept open on
// purpose and never closed. Failure is not reported: returns false only so
// that tests can tell.
bool CreateNamedMutex(const std::string& name = kMutexName);

}  // namespace shell

#endif  // SHELL_NAMED_MUTEX_H_
