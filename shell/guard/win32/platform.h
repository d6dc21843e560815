// The guard's platform on Windows: the table "<key>_Map" in named shared
// memory, the lock "<key>_Otx", the registered message "<key>_Msg" that
// carries the notices, and the copies' windows: a copy is found through its
// application window, the first top-level window of its process whose class
// name, cut to 13 characters, is "TApplication".
//
// Everything runs on the thread that first uses the registry.
#ifndef SHELL_GUARD_WIN32_PLATFORM_H_
#define SHELL_GUARD_WIN32_PLATFORM_H_

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "shell/guard/guard_platform.h"
#include "shell/guard/win32/objects.h"

namespace guard {

inline constexpr wchar_t kGuardWindowClass[] = L"JvAppInstances_WindowClass";
inline constexpr wchar_t kApplicationWindowClass[] = L"TApplication";

namespace win32 {

class Platform : public GuardPlatform {
 public:
  // Builds the key from ProgramPath(), the message number and the lock.
  // Throws GuardError.
  Platform();
  ~Platform() override;

  const std::wstring& Key() const { return key_; }
  UINT MessageID() const { return messageId_; }

  // The application window of `pid`, or null.
  static HWND GetApplicationWnd(DWORD pid);
  // The top-level windows of `thread`, in the system's order.
  static std::vector<HWND> ThreadWindows(DWORD thread);

  std::uint32_t OwnPid() const override { return pid_; }
  void LockTable() override { lock_->Take(); }
  void UnlockTable() override { lock_->Release(); }
  void OpenTable() override;
  unsigned char* TableBytes() override { return table_->Bytes(); }
  void OpenEndpoint() override {}  // each guard window is its own
  std::vector<std::uint32_t> GoneAmong(const std::vector<std::uint32_t>& pids) override;
  void NotifyCopy(std::uint32_t pid, std::uint32_t code, std::uint32_t value) override;
  void AskCopy(std::uint32_t pid, Guard& asker, Clock::time_point roundEnd) override;
  bool BringCopyToFront(std::uint32_t pid) override;
  bool SendDataTo(std::uint32_t pid, const std::string& windowClass, std::uint32_t kind,
                  const std::vector<unsigned char>& data, Guard* originator,
                  Clock::time_point roundEnd) override;
  std::vector<std::u16string> OwnArguments() const override;

 private:
  std::wstring key_;
  UINT messageId_;
  DWORD pid_;
  std::unique_ptr<RegistryLock> lock_;
  std::unique_ptr<SharedTable> table_;
};

}  // namespace win32
}  // namespace guard

#endif  // SHELL_GUARD_WIN32_PLATFORM_H_
