#include "shell/win32/tests/ui_driver.h"

#include <commctrl.h>

#include <utility>

namespace uitest {

namespace {

std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
    } else if (c == L'"') {
      out.append(slashes * 2 + 1, L'\\');
      slashes = 0;
    } else {
      out.append(slashes, L'\\');
      slashes = 0;
    }
    if (c != L'\\') out.push_back(c);
  }
  out.append(slashes * 2, L'\\');
  return out + L"\"";
}

struct TopLevelSearch {
  bool withTitles;
  std::vector<WindowInfo> found;
};

BOOL CALLBACK CollectTopLevel(HWND w, LPARAM p) {
  auto* search = reinterpret_cast<TopLevelSearch*>(p);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  std::wstring title;
  if (search->withTitles) {
    // Another process's caption is read without a message, so a copy that
    // takes no messages never holds the search up.
    wchar_t text[256];
    const int n = GetWindowTextW(w, text, 256);
    if (n > 0) title.assign(text, static_cast<std::size_t>(n));
  }
  search->found.push_back({w, pid, ClassOf(w), title, IsWindowVisible(w) != FALSE});
  return TRUE;
}

struct ChildSearch {
  std::wstring className;
  int index;
  HWND found;
};

BOOL CALLBACK MatchChild(HWND w, LPARAM p) {
  auto* s = reinterpret_cast<ChildSearch*>(p);
  if (ClassOf(w) == s->className && s->index-- == 0) {
    s->found = w;
    return FALSE;
  }
  return TRUE;
}

void Send(std::vector<INPUT>& inputs) {
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
  inputs.clear();
  Sleep(20);
}

INPUT Key(WORD vk, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return in;
}

}  // namespace

Process::Process(const std::wstring& exe, const std::vector<std::wstring>& args) {
  std::wstring line = Quote(exe);
  for (const std::wstring& a : args) line += L" " + Quote(a);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &info_)) {
    info_ = {};
  }
}

Process::~Process() {
  if (Started() && Running()) Kill();
  if (info_.hProcess != nullptr) CloseHandle(info_.hProcess);
  if (info_.hThread != nullptr) CloseHandle(info_.hThread);
}

Process::Process(Process&& other) noexcept : info_(std::exchange(other.info_, {})) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    this->~Process();
    info_ = std::exchange(other.info_, {});
  }
  return *this;
}

bool Process::Running() const { return Started() && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }

bool Process::Wait(DWORD ms) const {
  return Started() && WaitForSingleObject(info_.hProcess, ms) == WAIT_OBJECT_0;
}

DWORD Process::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (Started()) GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

void Process::Kill() {
  if (!Started()) return;
  TerminateProcess(info_.hProcess, 255);
  WaitForSingleObject(info_.hProcess, 5000);
}

std::vector<WindowInfo> TopLevelWindows(bool withTitles) {
  TopLevelSearch search{withTitles, {}};
  EnumWindows(&CollectTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForWindow(DWORD pid, const std::wstring& className, const std::wstring& title, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        for (const WindowInfo& w : TopLevelWindows()) {
          if (!w.visible || (pid != 0 && w.pid != pid)) continue;
          if (!className.empty() && w.className != className) continue;
          if (!title.empty() && w.title != title) continue;
          found = w.handle;
          return true;
        }
        return false;
      },
      timeoutMs);
  return found;
}

std::vector<HWND> VisibleWindowsTitled(const std::wstring& title) {
  std::vector<HWND> found;
  for (const WindowInfo& w : TopLevelWindows()) {
    if (w.visible && w.title == title) found.push_back(w.handle);
  }
  return found;
}

bool BringToFront(HWND window) {
  return WaitUntil(
      [&] {
        if (GetForegroundWindow() == window) return true;
        SetForegroundWindow(window);
        return GetForegroundWindow() == window;
      },
      2000);
}

namespace {

// Mouse events at `x`,`y` of `window`'s client area, one for each of `flags`.
void MouseAt(HWND window, int x, int y, const std::vector<DWORD>& flags) {
  POINT p{x, y};
  ClientToScreen(window, &p);
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  std::vector<INPUT> inputs(flags.size());
  for (std::size_t i = 0; i < flags.size(); ++i) {
    inputs[i].type = INPUT_MOUSE;
    inputs[i].mi.dx = MulDiv(p.x, 65535, width - 1);
    inputs[i].mi.dy = MulDiv(p.y, 65535, height - 1);
    inputs[i].mi.dwFlags = flags[i] | MOUSEEVENTF_ABSOLUTE;
  }
  Send(inputs);
  Sleep(100);
}

}  // namespace

void ClickAt(HWND window, int x, int y) {
  MouseAt(window, x, y, {MOUSEEVENTF_MOVE, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP});
}

void MoveTo(HWND window, int x, int y) { MouseAt(window, x, y, {MOUSEEVENTF_MOVE}); }

HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

bool ClickToFocus(HWND window, int x, int y, HWND target) {
  for (int i = 0; i < 3; ++i) {
    BringToFront(window);
    ClickAt(window, x, y);
    if (WaitUntil([&] { return FocusOf(window) == target; }, 3000)) return true;
  }
  return false;
}

void ClickOn(HWND control) {
  RECT r;
  GetClientRect(control, &r);
  ClickAt(control, (r.right - r.left) / 2, (r.bottom - r.top) / 2);
}

void PressKey(WORD vk, bool shift, bool control, bool alt) {
  // One event per call: a modifier must be down before the key's own event
  // is taken from the queue.
  std::vector<INPUT> inputs;
  auto send = [&](WORD key, bool up) {
    inputs.push_back(Key(key, up));
    Send(inputs);
  };
  if (shift) send(VK_SHIFT, false);
  if (control) send(VK_CONTROL, false);
  if (alt) send(VK_MENU, false);
  send(vk, false);
  send(vk, true);
  if (alt) send(VK_MENU, true);
  if (control) send(VK_CONTROL, true);
  if (shift) send(VK_SHIFT, true);
}

void TypeText(const std::wstring& text) {
  for (wchar_t c : text) {
    const SHORT scan = VkKeyScanW(c);
    const bool letter = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
    if (scan != -1 && (letter || (scan & 0x700) == 0)) {
      PressKey(static_cast<WORD>(scan & 0xFF), (scan & 0x100) != 0);
    } else {
      // Under Wine a shifted digit key loses its Shift; such characters
      // arrive as typed Unicode characters instead (still a WM_CHAR).
      std::vector<INPUT> inputs(2);
      for (INPUT& in : inputs) {
        in.type = INPUT_KEYBOARD;
        in.ki.wScan = c;
        in.ki.dwFlags = KEYEVENTF_UNICODE;
      }
      inputs[1].ki.dwFlags |= KEYEVENTF_KEYUP;
      Send(inputs);
    }
    Sleep(15);
  }
}

HWND ChildOfClass(HWND window, const std::wstring& className, int index) {
  ChildSearch search{className, index, nullptr};
  EnumChildWindows(window, &MatchChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring TextOf(HWND window) {
  wchar_t text[512];
  DWORD_PTR n = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000,
                           &n)) {
    return {};
  }
  return std::wstring(text, n < 512 ? n : 511);
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256];
  const int n = GetClassNameW(window, name, 256);
  return n > 0 ? std::wstring(name, static_cast<std::size_t>(n)) : std::wstring();
}

bool DismissBox(HWND box, DWORD timeoutMs) {
  PostMessageW(box, TDM_CLICK_BUTTON, IDOK, 0);
  if (WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 1000)) return true;
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  return WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, timeoutMs);
}

std::wstring ProgramDirectory() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, n);
  dir.erase(dir.find_last_of(L"\\/") + 1);
  return dir;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

}  // namespace uitest
