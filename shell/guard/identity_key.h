// The identity of a program file: copies are the same program exactly when
// their keys are equal (same path, letter case ignored).
#ifndef SHELL_GUARD_IDENTITY_KEY_H_
#define SHELL_GUARD_IDENTITY_KEY_H_

#include <cstdint>
#include <string>

namespace guard {

// "Jcl" + `programPath` (UTF-8), upper-cased with Unicode case mapping, every
// "/" replaced by "_". Returns UTF-8.
std::string IdentityKey(const std::string& programPath);

// The canonical path of the running program file (/proc/self/exe), or the
// path set by SetProgramPathForTesting. Throws GuardError when unreadable.
std::string ProgramPath();

// Test-only: makes ProgramPath() return `path` (empty: back to the real one).
// Must be called before the registry is first used.
void SetProgramPathForTesting(const std::string& path);

// A stable 64-bit hash of the key (FNV-1a over its UTF-8 bytes), and the same
// as 16 lower-case hex digits: used where the key itself is too long.
std::uint64_t KeyHash(const std::string& key);
std::string KeyHashText(const std::string& key);

}  // namespace guard

#endif  // SHELL_GUARD_IDENTITY_KEY_H_
