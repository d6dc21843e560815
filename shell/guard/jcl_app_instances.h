// The instance registry on Linux: one per process, the algorithms of
// InstanceRegistry over the files and sockets of posix::Platform.
//
// Everything runs on the thread that first uses the registry, which must own
// the QCoreApplication. Copies that died without leaving are dropped from the
// table, under the lock, before the table is read.
#ifndef SHELL_GUARD_JCL_APP_INSTANCES_H_
#define SHELL_GUARD_JCL_APP_INSTANCES_H_

#include "shell/guard/instance_registry.h"
#include "shell/guard/posix/platform.h"

namespace guard {

class TJclAppInstances final : private posix::Platform, public InstanceRegistry {
 public:
  // Opens the lock, the table and this copy's socket (in that order,
  // dropping dead copies under the lock). Throws GuardError.
  TJclAppInstances() : posix::Platform(), InstanceRegistry(static_cast<GuardPlatform&>(*this)) {}

  using posix::Platform::AddGuardWindow;
  using posix::Platform::AttachToEventLoop;
  using posix::Platform::Directory;
  using posix::Platform::GetApplicationWnd;
  using posix::Platform::HasGuardWindows;
  using posix::Platform::Key;
  using posix::Platform::MessageID;
  using posix::Platform::RemoveGuardWindow;
  using posix::Platform::SetActivationHandler;
};

// The process's registry, created on first use (may throw GuardError).
inline TJclAppInstances& JclAppInstances() { return static_cast<TJclAppInstances&>(ProcessRegistry()); }

}  // namespace guard

#endif  // SHELL_GUARD_JCL_APP_INSTANCES_H_
