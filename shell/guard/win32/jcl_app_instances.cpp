#include "shell/guard/win32/jcl_app_instances.h"

#include <shellapi.h>

#include <chrono>

#include "shell/guard/registry_table.h"

namespace guard {

namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<TJclAppInstances>& Instance() {
  static std::unique_ptr<TJclAppInstances> instance;
  return instance;
}

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

struct ClassSearch {
  const wchar_t* name;
  const std::vector<DWORD>* pids;
  std::vector<HWND> found;
};

BOOL CALLBACK MatchClassOfListedProcess(HWND w, LPARAM p) {
  auto* s = reinterpret_cast<ClassSearch*>(p);
  if (ClassNameOf(w) != s->name) return TRUE;
  const DWORD pid = ProcessOf(w);
  for (DWORD listed : *s->pids) {
    if (listed == pid) {
      s->found.push_back(w);
      break;
    }
  }
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
  return left < kAnswerWaitMs ? static_cast<UINT>(left) : kAnswerWaitMs;
}

}  // namespace

std::vector<std::wstring> OwnArguments() {
  std::vector<std::wstring> args;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  LocalFree(argv);
  return args;
}

TJclAppInstances::TJclAppInstances()
    : key_(win32::IdentityKey(win32::ProgramPath())),
      messageId_(RegisterWindowMessageW(win32::ObjectName(key_, L"_Msg", 255).c_str())),
      pid_(GetCurrentProcessId()) {
  lock_ = std::make_unique<win32::RegistryLock>(win32::ObjectName(key_, L"_Otx"));
  win32::ScopedLock hold(*lock_);
  table_ = std::make_unique<win32::SharedTable>(win32::ObjectName(key_, L"_Map"));
  // An entry with this pid now is a dead copy's whose pid came back to us.
  Purge(/*ownIsStale=*/true);
}

TJclAppInstances::~TJclAppInstances() {
  try {
    win32::ScopedLock hold(*lock_);
    RegistryTable(table_->Bytes()).Remove(pid_);
    Announce(kInstanceDestroyed, static_cast<LPARAM>(pid_));
  } catch (...) {
    // The lock stayed out of reach: the others drop this entry once we are gone.
  }
}

void TJclAppInstances::Purge(bool ownIsStale) {
  RegistryTable(table_->Bytes()).Purge([&](std::uint32_t pid) {
    if (pid == pid_) return ownIsStale;
    return !CopyLives(pid);
  });
}

bool TJclAppInstances::CheckInstance(std::uint16_t maxInstances) {
  std::size_t n;
  std::uint16_t max;
  {
    win32::ScopedLock hold(*lock_);
    Purge(false);
    RegistryTable table(table_->Bytes());
    if (table.MaxCount() == 0) table.SetMaxCount(maxInstances);
    max = table.MaxCount();
    if (const int at = table.IndexOf(pid_); at >= 0) return at < max;
    n = table.Count();
    tableFull_ = !table.Append(pid_);
    if (tableFull_) return false;
  }
  if (n < max) Announce(kInstanceCreated, static_cast<LPARAM>(pid_));
  return n < max;
}

int TJclAppInstances::InstanceCount() {
  win32::ScopedLock hold(*lock_);
  Purge(false);
  return static_cast<int>(RegistryTable(table_->Bytes()).Count());
}

int TJclAppInstances::InstanceIndex(DWORD pid) {
  win32::ScopedLock hold(*lock_);
  Purge(false);
  return RegistryTable(table_->Bytes()).IndexOf(pid);
}

std::vector<DWORD> TJclAppInstances::ProcessIDs() {
  win32::ScopedLock hold(*lock_);
  Purge(false);
  const std::vector<std::uint32_t> pids = RegistryTable(table_->Bytes()).Pids();
  return {pids.begin(), pids.end()};
}

HWND TJclAppInstances::GetApplicationWnd(DWORD pid) {
  const std::vector<HWND> found = WindowsOf(pid, kApplicationWindowClass, 12, true);
  return found.empty() ? nullptr : found.front();
}

std::vector<HWND> TJclAppInstances::ThreadWindows(DWORD thread) {
  std::vector<HWND> windows;
  EnumThreadWindows(thread, &CollectWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

void TJclAppInstances::Announce(WPARAM code, LPARAM value) {
  win32::ScopedLock hold(*lock_);
  for (std::uint32_t pid : RegistryTable(table_->Bytes()).Pids()) {
    const HWND app = GetApplicationWnd(pid);
    if (app == nullptr) continue;  // cannot be reached
    const DWORD thread = GetWindowThreadProcessId(app, nullptr);
    // A full queue frees up while its thread runs; a thread that stopped
    // taking messages gets a bounded number of tries.
    for (int tries = 0; tries < 100; ++tries) {
      if (PostThreadMessageW(thread, messageId_, code, value)) break;
      if (GetLastError() == ERROR_INVALID_THREAD_ID) break;
      Sleep(1);
    }
    for (HWND w : ThreadWindows(thread)) SendNotifyMessageW(w, messageId_, code, value);
  }
}

bool TJclAppInstances::SwitchTo(int index) {
  DWORD pid;
  {
    win32::ScopedLock hold(*lock_);
    RegistryTable table(table_->Bytes());
    if (index < 0 || static_cast<std::size_t>(index) >= table.Count()) return false;
    pid = table.Pid(static_cast<std::size_t>(index));
  }
  if (pid == pid_) return false;  // a copy never brings itself forward
  const HWND window = GetApplicationWnd(pid);
  if (window == nullptr) return false;
  if (IsIconic(window)) {
    DWORD_PTR ignored;
    SendMessageTimeoutW(window, WM_SYSCOMMAND, SC_RESTORE, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                        kAnswerWaitMs, &ignored);
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

bool TJclAppInstances::SendCmdLineParams(const wchar_t* windowClassName, HWND originator) {
  return SendStrings(windowClassName, kCmdLineDataKind, OwnArguments(), originator);
}

bool TJclAppInstances::SendStrings(const wchar_t* windowClassName, DWORD kind,
                                   const std::vector<std::wstring>& strings, HWND originator) {
  std::wstring text;
  for (const std::wstring& s : strings) text += s + L"\r\n";
  return SendString(windowClassName, kind, text, originator);
}

bool TJclAppInstances::SendString(const wchar_t* windowClassName, DWORD kind, const std::wstring& text,
                                  HWND originator) {
  return SendData(windowClassName, kind, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)),
                  originator);
}

bool TJclAppInstances::SendData(const wchar_t* windowClassName, DWORD kind, const void* data, DWORD size,
                                HWND originator) {
  std::vector<DWORD> pids;
  {
    win32::ScopedLock hold(*lock_);
    const std::vector<std::uint32_t> table = RegistryTable(table_->Bytes()).Pids();
    pids.assign(table.begin(), table.end());
  }
  ClassSearch search{windowClassName, &pids, {}};
  EnumWindows(&MatchClassOfListedProcess, reinterpret_cast<LPARAM>(&search));

  COPYDATASTRUCT record{};
  record.dwData = kind;
  record.cbData = size;
  record.lpData = const_cast<void*>(data);
  bool any = false;
  const auto roundEnd = Clock::now() + std::chrono::milliseconds(kRoundWaitMs);
  for (HWND w : search.found) {
    DWORD_PTR answer = 0;
    const UINT wait = ProcessOf(w) == pid_ ? kAnswerWaitMs : WaitLeft(roundEnd);
    if (wait == 0) break;  // the round's time is spent
    if (SendMessageTimeoutW(w, WM_COPYDATA, reinterpret_cast<WPARAM>(originator),
                            reinterpret_cast<LPARAM>(&record), SMTO_NORMAL | SMTO_ABORTIFHUNG, wait,
                            &answer) != 0 &&
        answer != 0) {
      any = true;
    }
  }
  return any;
}

void TJclAppInstances::ReportError(std::exception_ptr error) {
  if (report_) {
    try {
      report_(error);
      return;
    } catch (...) {
    }
  }
  OutputDebugStringW(L"brevand: an error escaped a guard event handler\n");
}

TJclAppInstances& JclAppInstances() {
  if (!Instance()) Instance() = std::make_unique<TJclAppInstances>();
  return *Instance();
}

bool JclAppInstancesExists() { return Instance() != nullptr; }

void ReleaseJclAppInstances() { Instance().reset(); }

}  // namespace guard
