#include "shell/guard/win32/platform.h"

#include <shellapi.h>

#include <chrono>

#include "shell/guard/win32/jv_app_instances.h"

namespace guard::win32 {

namespace {

std::wstring ClassNameOf(HWND window) {
  wchar_t name[256];
  const int n = GetClassNameW(window, name, 256);
  return n > 0 ? std::wstring(name, static_cast<std::size_t>(n)) : std::wstring();
}

DWORD ProcessOf(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

struct WindowSearch {
  DWORD pid;
  const std::wstring* name;
  std::size_t compare;
  bool firstOnly;
  std::vector<HWND> found;
};

BOOL CALLBACK MatchWindow(HWND w, LPARAM p) {
  auto* s = reinterpret_cast<WindowSearch*>(p);
  if (ProcessOf(w) != s->pid) return TRUE;
  std::wstring name = ClassNameOf(w);
  if (s->compare != 0 && name.size() > s->compare) name.resize(s->compare);
  if (name != *s->name) return TRUE;
  s->found.push_back(w);
  return s->firstOnly ? FALSE : TRUE;
}

// The top-level windows of `pid` whose class is `className` (cut to
// `compare` characters when not 0).
std::vector<HWND> WindowsOf(DWORD pid, const std::wstring& className, std::size_t compare, bool firstOnly) {
  WindowSearch search{pid, &className, compare, firstOnly, {}};
  EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

BOOL CALLBACK CollectWindow(HWND w, LPARAM p) {
  reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
  return TRUE;
}

// A copy lives while its process runs and it keeps a guard window: a dead
// copy's pid that came back to another program has none.
bool CopyLives(DWORD pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process != nullptr) {
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    if (ended) return false;
  } else if (GetLastError() == ERROR_INVALID_PARAMETER) {
    return false;  // no such process
  }
  return !WindowsOf(pid, kGuardWindowClass, 0, true).empty();
}

// Milliseconds left until `end`, at most kAnswerWaitMs; 0 when past it.
UINT WaitLeft(Clock::time_point end) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
  if (left <= 0) return 0;
  return left < kAnswerWaitMs ? static_cast<UINT>(left) : static_cast<UINT>(kAnswerWaitMs);
}

// The guard window of a guard of this process (the asker or originator).
HWND WindowOf(Guard* guard) {
  return guard != nullptr ? static_cast<TJvAppInstances*>(guard)->FHandle : nullptr;
}

}  // namespace

Platform::Platform()
    : key_(IdentityKey(ProgramPath())),
      messageId_(RegisterWindowMessageW(ObjectName(key_, L"_Msg", 255).c_str())),
      pid_(GetCurrentProcessId()),
      lock_(std::make_unique<RegistryLock>(ObjectName(key_, L"_Otx"))) {}

Platform::~Platform() = default;

void Platform::OpenTable() { table_ = std::make_unique<SharedTable>(ObjectName(key_, L"_Map")); }

HWND Platform::GetApplicationWnd(DWORD pid) {
  const std::vector<HWND> found = WindowsOf(pid, kApplicationWindowClass, 12, true);
  return found.empty() ? nullptr : found.front();
}

std::vector<HWND> Platform::ThreadWindows(DWORD thread) {
  std::vector<HWND> windows;
  EnumThreadWindows(thread, &CollectWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::vector<std::uint32_t> Platform::GoneAmong(const std::vector<std::uint32_t>& pids) {
  std::vector<std::uint32_t> gone;
  for (std::uint32_t pid : pids) {
    if (!CopyLives(pid)) gone.push_back(pid);
  }
  return gone;
}

void Platform::NotifyCopy(std::uint32_t pid, std::uint32_t code, std::uint32_t value) {
  const HWND app = GetApplicationWnd(pid);
  if (app == nullptr) return;  // cannot be reached
  const DWORD thread = GetWindowThreadProcessId(app, nullptr);
  const auto lParam = static_cast<LPARAM>(value);
  // A full queue frees up while its thread runs; a thread that stopped
  // taking messages gets a bounded number of tries.
  for (int tries = 0; tries < 100; ++tries) {
    if (PostThreadMessageW(thread, messageId_, code, lParam)) break;
    if (GetLastError() == ERROR_INVALID_THREAD_ID) break;
    Sleep(1);
  }
  for (HWND w : ThreadWindows(thread)) SendNotifyMessageW(w, messageId_, code, lParam);
}

void Platform::AskCopy(std::uint32_t pid, Guard& asker, Clock::time_point roundEnd) {
  const HWND app = GetApplicationWnd(pid);
  if (app == nullptr) return;  // cannot be asked
  const auto own = reinterpret_cast<LPARAM>(WindowOf(&asker));
  for (HWND w : ThreadWindows(GetWindowThreadProcessId(app, nullptr))) {
    const UINT wait = WaitLeft(roundEnd);
    if (wait == 0) {
      // The round's time is spent: the query is delivered, not waited for.
      SendNotifyMessageW(w, messageId_, kActivityQuery, own);
      continue;
    }
    // The answer (code 5) reaches the asker's window while this send waits.
    DWORD_PTR ignored;
    SendMessageTimeoutW(w, messageId_, kActivityQuery, own, SMTO_NORMAL | SMTO_ABORTIFHUNG, wait, &ignored);
    if (!asker.Active) break;
  }
}

bool Platform::BringCopyToFront(std::uint32_t pid) {
  const HWND window = GetApplicationWnd(pid);
  if (window == nullptr) return false;
  if (IsIconic(window)) {
    DWORD_PTR ignored;
    SendMessageTimeoutW(window, WM_SYSCOMMAND, SC_RESTORE, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, kAnswerWaitMs,
                        &ignored);
  }
  const HWND foreground = GetForegroundWindow();
  if (foreground == window) return true;
  const DWORD foregroundThread = foreground != nullptr ? GetWindowThreadProcessId(foreground, nullptr) : 0;
  const DWORD windowThread = GetWindowThreadProcessId(window, nullptr);
  if (foregroundThread != 0 && foregroundThread != windowThread) {
    AttachThreadInput(foregroundThread, windowThread, TRUE);
    const bool done = SetForegroundWindow(window) != FALSE;
    AttachThreadInput(foregroundThread, windowThread, FALSE);
    return done && SetForegroundWindow(window) != FALSE;
  }
  return SetForegroundWindow(window) != FALSE;
}

bool Platform::SendDataTo(std::uint32_t pid, const std::string& windowClass, std::uint32_t kind,
                          const std::vector<unsigned char>& data, Guard* originator,
                          Clock::time_point roundEnd) {
  COPYDATASTRUCT record{};
  record.dwData = kind;
  record.cbData = static_cast<DWORD>(data.size());
  record.lpData = const_cast<unsigned char*>(data.data());
  bool any = false;
  for (HWND w : WindowsOf(pid, Widen(windowClass), 0, false)) {
    const UINT wait = pid == pid_ ? static_cast<UINT>(kAnswerWaitMs) : WaitLeft(roundEnd);
    if (wait == 0) break;  // the round's time is spent
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(w, WM_COPYDATA, reinterpret_cast<WPARAM>(WindowOf(originator)),
                            reinterpret_cast<LPARAM>(&record), SMTO_NORMAL | SMTO_ABORTIFHUNG, wait,
                            &answer) != 0 &&
        answer != 0) {
      any = true;
    }
  }
  return any;
}

std::vector<std::u16string> Platform::OwnArguments() const {
  std::vector<std::u16string> args;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return args;
  for (int i = 1; i < argc; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
  LocalFree(argv);
  return args;
}

}  // namespace guard::win32
