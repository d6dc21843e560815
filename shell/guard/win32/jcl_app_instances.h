// The instance registry on Windows: one per process, the algorithms of
// InstanceRegistry over the kernel objects and windows of win32::Platform.
// Entries of copies that died without leaving are dropped, under the lock,
// whenever the table is read for a decision.
#ifndef SHELL_GUARD_WIN32_JCL_APP_INSTANCES_H_
#define SHELL_GUARD_WIN32_JCL_APP_INSTANCES_H_

#include "shell/guard/instance_registry.h"
#include "shell/guard/win32/platform.h"

namespace guard {

class TJclAppInstances final : private win32::Platform, public InstanceRegistry {
 public:
  // Opens the lock, the table and the message number. Throws GuardError.
  TJclAppInstances() : win32::Platform(), InstanceRegistry(static_cast<GuardPlatform&>(*this)) {}

  using win32::Platform::GetApplicationWnd;
  using win32::Platform::Key;
  using win32::Platform::MessageID;
  using win32::Platform::ThreadWindows;
};

// The process's registry, created on first use (may throw GuardError).
inline TJclAppInstances& JclAppInstances() { return static_cast<TJclAppInstances&>(ProcessRegistry()); }

}  // namespace guard

#endif  // SHELL_GUARD_WIN32_JCL_APP_INSTANCES_H_
