// The instance registry on Windows: one per process; the table of the
// running copies of one program file in named shared memory "<key>_Map",
// guarded by the lock "<key>_Otx", and the registered message "<key>_Msg"
// that carries the notices between the copies' windows.
//
// A copy is found through its application window: the first top-level
// window of its process whose class name, cut to 13 characters, is
// "TApplication". Entries of copies that died without leaving are dropped,
// under the lock, whenever the table is read for a decision.
//
// Everything runs on the thread that first uses the registry.
#ifndef SHELL_GUARD_WIN32_JCL_APP_INSTANCES_H_
#define SHELL_GUARD_WIN32_JCL_APP_INSTANCES_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/guard/win32/objects.h"

namespace guard {

// Notice codes (first parameter of the registered message); every other
// code is ignored.
inline constexpr WPARAM kInstanceCreated = 1;
inline constexpr WPARAM kInstanceDestroyed = 2;
inline constexpr WPARAM kUserNotify = 3;
inline constexpr WPARAM kActivityQuery = 4;
inline constexpr WPARAM kActivityAnswer = 5;

// Copy-data kind of a command line: UTF-16 text, CR LF after each argument.
inline constexpr DWORD kCmdLineDataKind = 1;

inline constexpr wchar_t kGuardWindowClass[] = L"JvAppInstances_WindowClass";
inline constexpr wchar_t kApplicationWindowClass[] = L"TApplication";

// Time limits of the waiting sends (the receiving copy may be busy or hung).
inline constexpr UINT kAnswerWaitMs = 3000;  // one send
inline constexpr UINT kRoundWaitMs = 5000;   // all sends of one round together

class TJclAppInstances {
 public:
  // Builds the key from ProgramPath(), opens the lock, the table and the
  // message number. Throws GuardError.
  TJclAppInstances();
  // Leaves the table and announces code 2 to the copies left in it.
  ~TJclAppInstances();
  TJclAppInstances(const TJclAppInstances&) = delete;
  TJclAppInstances& operator=(const TJclAppInstances&) = delete;

  const std::wstring& Key() const { return key_; }
  UINT MessageID() const { return messageId_; }
  DWORD ProcessID() const { return pid_; }

  // Enters the table: under the lock sets the maximum count when 0 and
  // appends this process; then announces code 1 when its index is below the
  // maximum. Returns that comparison. A full table leaves this copy out and
  // sets TableWasFull().
  bool CheckInstance(std::uint16_t maxInstances);
  bool TableWasFull() const { return tableFull_; }

  int InstanceCount();
  int InstanceIndex(DWORD pid);
  int Position() { return InstanceIndex(pid_); }
  // The process ids in table order, dead copies dropped first.
  std::vector<DWORD> ProcessIDs();

  // Posts (code, value) to every copy's thread and sends it, without
  // waiting, to every top-level window of that thread; under the lock.
  void Announce(WPARAM code, LPARAM value);

  // The application window of `pid`, or null.
  static HWND GetApplicationWnd(DWORD pid);
  // The top-level windows of `thread`, in the system's order.
  static std::vector<HWND> ThreadWindows(DWORD thread);

  // Brings the copy at `index` to the front; never this process's own.
  // Returns whether a window was made the foreground window.
  bool SwitchTo(int index);

  // Sends this process's arguments 1..n as kind 1 to every guard window of
  // class `windowClassName` of a copy in the table, `originator` as sender.
  // Returns whether any took it.
  bool SendCmdLineParams(const wchar_t* windowClassName, HWND originator);
  bool SendStrings(const wchar_t* windowClassName, DWORD kind, const std::vector<std::wstring>& strings,
                   HWND originator);
  bool SendString(const wchar_t* windowClassName, DWORD kind, const std::wstring& text, HWND originator);
  // WM_COPYDATA to those windows; each send waits at most kAnswerWaitMs and
  // all of them together kRoundWaitMs (later ones are skipped).
  bool SendData(const wchar_t* windowClassName, DWORD kind, const void* data, DWORD size,
                HWND originator);

  // Shows errors that escape a guard event handler (default: the debugger
  // output).
  void SetErrorReporter(std::function<void(std::exception_ptr)> reporter) { report_ = std::move(reporter); }
  void ReportError(std::exception_ptr error);

 private:
  void Purge(bool ownIsStale);

  std::wstring key_;
  UINT messageId_;
  DWORD pid_;
  bool tableFull_ = false;
  std::unique_ptr<win32::RegistryLock> lock_;
  std::unique_ptr<win32::SharedTable> table_;
  std::function<void(std::exception_ptr)> report_;
};

// This process's arguments 1..n (CommandLineToArgvW of GetCommandLineW).
std::vector<std::wstring> OwnArguments();

// The process's registry, created on first use (may throw GuardError).
TJclAppInstances& JclAppInstances();
bool JclAppInstancesExists();
// Frees the registry (leaving the table). Call at shutdown, after the main
// window is gone.
void ReleaseJclAppInstances();

}  // namespace guard

#endif  // SHELL_GUARD_WIN32_JCL_APP_INSTANCES_H_
