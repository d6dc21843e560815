// The single-instance guard of brevand.exe across real processes under Wine.
// Each test leaves no copy running and the table of brevand.exe empty.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "shell/guard/registry_table.h"
#include "shell/guard/win32/jv_app_instances.h"
#include "shell/guard/win32/objects.h"
#include "shell/win32/application.h"
#include "shell/win32/tests/com_hosts.h"
#include "shell/win32/tests/ui_driver.h"

namespace {

using uitest::Process;

constexpr wchar_t kRejected[] = L"Pellmark Already Running";
constexpr DWORD kStartMs = 60000;  // a Wine process start on a loaded machine

std::wstring BrevandPath() {
  const std::wstring relative = uitest::ProgramDirectory() + L"..\\brevand.exe";
  wchar_t full[MAX_PATH];
  const DWORD n = GetFullPathNameW(relative.c_str(), MAX_PATH, full, nullptr);
  return std::wstring(full, n);
}

// The text a message box or task dialog shows (its longest static text).
std::wstring BoxText(HWND box) {
  std::wstring best;
  for (int i = 0; HWND s = uitest::ChildOfClass(box, L"Static", i); ++i) {
    const std::wstring t = uitest::TextOf(s);
    if (t.size() > best.size()) best = t;
  }
  return best;
}

// The visible boxes captioned "Pellmark" of process `pid`.
std::vector<HWND> BoxesOf(DWORD pid) {
  std::vector<HWND> boxes;
  for (const uitest::WindowInfo& w : uitest::TopLevelWindows()) {
    if (w.visible && w.pid == pid && w.className == L"#32770" && w.title == L"Pellmark") boxes.push_back(w.handle);
  }
  return boxes;
}

// Waits for the main window of `p`, pressing OK on any box it shows before
// (the host's attach messages when no host can be had).
HWND WaitForMainWindow(const Process& p, DWORD ms = kStartMs) {
  HWND window = nullptr;
  uitest::WaitUntil(
      [&] {
        for (HWND box : BoxesOf(p.Id())) uitest::DismissBox(box);
        window = uitest::WaitForWindow(p.Id(), L"TForm4", L"Norvane Brevand", 0);
        return window != nullptr || !p.Running();
      },
      ms);
  return window;
}

// Ends a running copy as a person would: its window's close box.
void CloseCopy(Process& p, HWND window) {
  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  if (!uitest::WaitUntil([&] { return !p.Running(); }, 20000)) p.Kill();
}

// Every test leaves no host behind: the copies that were allowed attached to
// one, and a killed copy never lets its host go.
class GuardProcesses : public ::testing::Test {
 protected:
  void SetUp() override { apartment_ = SUCCEEDED(CoInitialize(nullptr)); }
  void TearDown() override {
    if (!apartment_) return;
    EXPECT_TRUE(uitest::QuitRunningHosts());
    CoUninitialize();
  }
  bool apartment_ = false;
};

class Table {
 public:
  explicit Table(const std::wstring& program)
      : key_(guard::win32::IdentityKey(program)),
        lock_(guard::win32::ObjectName(key_, L"_Otx")),
        map_(guard::win32::ObjectName(key_, L"_Map")) {}
  std::vector<std::uint32_t> Pids() {
    guard::win32::ScopedLock hold(lock_);
    return guard::RegistryTable(map_.Bytes()).Pids();
  }
  guard::win32::RegistryLock& Lock() { return lock_; }
  unsigned char* Bytes() { return map_.Bytes(); }

 private:
  std::wstring key_;
  guard::win32::RegistryLock lock_;
  guard::win32::SharedTable map_;
};

TEST_F(GuardProcesses, SecondStartIsRejectedAndItsArgumentsReachTheFirstCopy) {
  // This test process is the first copy of brevand.exe: its registry, guard
  // and application window, with events that record what arrives.
  const std::wstring brevand = BrevandPath();
  guard::win32::SetProgramPathForTesting(brevand);
  shell::win32::ApplicationWindow application(L"Pellmark");
  std::vector<std::wstring> received;
  auto first = std::make_unique<guard::TJvAppInstances>();
  first->OnCmdLineReceived = [&](guard::TJvAppInstances*, const std::vector<std::wstring>& lines) {
    received = lines;
  };
  std::vector<DWORD> created, destroyed;
  first->OnInstanceCreated = [&](guard::TJvAppInstances*, DWORD pid) { created.push_back(pid); };
  first->OnInstanceDestroyed = [&](guard::TJvAppInstances*, DWORD pid) { destroyed.push_back(pid); };
  ASSERT_EQ(guard::JclAppInstances().Position(), 0);

  Process second(brevand, {L"one", L"two words", L"\u00e9t\u00e9"});
  ASSERT_TRUE(second.Started());
  HWND box = nullptr;
  ASSERT_TRUE(uitest::WaitUntil(
      [&] {
        const auto boxes = BoxesOf(second.Id());
        box = boxes.empty() ? nullptr : boxes.front();
        return box != nullptr || !second.Running();
      },
      kStartMs));
  ASSERT_NE(box, nullptr) << "the second copy showed no box; exit code " << second.ExitCode();
  EXPECT_EQ(BoxText(box), kRejected);
  // It left the table before its box, and said so.
  Table table(brevand);
  EXPECT_EQ(table.Pids(), std::vector<std::uint32_t>{GetCurrentProcessId()});
  uitest::WaitUntil([&] { return !destroyed.empty(); }, 5000);
  EXPECT_EQ(destroyed, std::vector<DWORD>{second.Id()}) << "no leaving notice before the box was dismissed";
  EXPECT_EQ(uitest::WaitForWindow(second.Id(), L"TForm4", L"", 0), nullptr)
      << "the rejected copy showed its own window";
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"NorvaneBrevandMutex");
  EXPECT_EQ(mutex, nullptr) << "the rejected copy created the mutex";
  if (mutex != nullptr) CloseHandle(mutex);
  EXPECT_TRUE(uitest::DismissBox(box));
  ASSERT_TRUE(uitest::WaitUntil([&] { return !second.Running(); }, 30000)) << "the rejected copy did not end";
  EXPECT_EQ(second.ExitCode(), 0u);
  EXPECT_EQ(received, (std::vector<std::wstring>{L"one", L"two words", L"\u00e9t\u00e9"}));
  // Its entering and leaving were announced.
  uitest::WaitUntil([&] { return !destroyed.empty(); }, 2000);
  EXPECT_EQ(created, std::vector<DWORD>{second.Id()});
  EXPECT_EQ(destroyed, std::vector<DWORD>{second.Id()});

  // A first copy that takes no messages holds a start up only for the
  // bounded waits: the start is rejected (no answer), not left hanging.
  received.clear();
  Process third(brevand, {L"three"});
  ASSERT_TRUE(third.Started());
  // This thread stays busy (no message is taken, nothing sent to its
  // windows is handled) until the third copy's box shows, for up to 60 s.
  HWND busyBox = nullptr;
  for (int i = 0; i < 240 && busyBox == nullptr; ++i) {
    Sleep(250);
    for (const uitest::WindowInfo& w : uitest::TopLevelWindows(/*withTitles=*/false)) {
      if (w.visible && w.pid == third.Id() && w.className == L"#32770") busyBox = w.handle;
    }
  }
  ASSERT_NE(busyBox, nullptr) << "a start facing a busy copy did not come to its rejection";
  EXPECT_EQ(BoxText(busyBox), kRejected);
  uitest::DismissBox(busyBox);
  ASSERT_TRUE(uitest::WaitUntil([&] { return !third.Running(); }, 30000));
  EXPECT_EQ(third.ExitCode(), 0u);

  // A registry lock that stays out of reach once the box is dismissed
  // changes nothing of the outcome: exit code 0, no error box.
  Process fourth(brevand, {L"four"});
  ASSERT_TRUE(fourth.Started());
  std::vector<HWND> boxes;
  ASSERT_TRUE(uitest::WaitUntil([&] { return !(boxes = BoxesOf(fourth.Id())).empty() || !fourth.Running(); },
                                kStartMs));
  ASSERT_FALSE(boxes.empty()) << "the fourth copy showed no box; exit code " << fourth.ExitCode();
  {
    guard::win32::ScopedLock hold(table.Lock());
    uitest::DismissBox(boxes.front());
    HWND error = nullptr;
    uitest::WaitUntil(
        [&] {
          error = uitest::WaitForWindow(fourth.Id(), L"#32770", L"Application Error", 0);
          return error != nullptr || !fourth.Running();
        },
        30000);
    EXPECT_EQ(error, nullptr) << uitest::Narrow(BoxText(error));
    if (error != nullptr) uitest::DismissBox(error);
    ASSERT_TRUE(uitest::WaitUntil([&] { return !fourth.Running(); }, 30000));
  }
  EXPECT_EQ(fourth.ExitCode(), 0u);

  // The rejected copies left the table; the first leaves it at shutdown.
  EXPECT_EQ(table.Pids(), std::vector<std::uint32_t>{GetCurrentProcessId()});
  first.reset();
  guard::ReleaseJclAppInstances();
  EXPECT_TRUE(table.Pids().empty());
}

TEST_F(GuardProcesses, FullTableRejectsTheStartCleanly) {
  // 257 live entries: this process, which keeps a guard window, 257 times.
  const std::wstring brevand = BrevandPath();
  Table table(brevand);
  WNDCLASSW wc{};
  if (!GetClassInfoW(GetModuleHandleW(nullptr), guard::kGuardWindowClass, &wc)) {
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = guard::kGuardWindowClass;
    ASSERT_NE(RegisterClassW(&wc), 0);
  }
  const HWND guardWindow = CreateWindowExW(WS_EX_TOOLWINDOW, guard::kGuardWindowClass, L"", WS_POPUP, 0, 0, 0, 0,
                                           nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(guardWindow, nullptr);
  {
    guard::win32::ScopedLock hold(table.Lock());
    guard::RegistryTable t(table.Bytes());
    t.SetMaxCount(65535);
    while (t.Append(GetCurrentProcessId())) {
    }
  }
  Process copy(brevand, {});
  HWND box = nullptr;
  uitest::WaitUntil(
      [&] {
        const auto boxes = BoxesOf(copy.Id());
        box = boxes.empty() ? nullptr : boxes.front();
        return box != nullptr || !copy.Running();
      },
      kStartMs);
  ASSERT_NE(box, nullptr) << "no box; exit code " << copy.ExitCode();
  EXPECT_EQ(BoxText(box), kRejected);
  uitest::DismissBox(box);
  EXPECT_TRUE(uitest::WaitUntil([&] { return !copy.Running(); }, 30000));
  EXPECT_EQ(copy.ExitCode(), 0u);
  const std::vector<std::uint32_t> pids = table.Pids();
  EXPECT_EQ(pids.size(), guard::kTableEntries);
  EXPECT_EQ(std::count(pids.begin(), pids.end(), GetCurrentProcessId()),
            static_cast<std::ptrdiff_t>(guard::kTableEntries));
  {
    guard::win32::ScopedLock hold(table.Lock());
    guard::RegistryTable(table.Bytes()).Purge([](std::uint32_t) { return true; });
  }
  DestroyWindow(guardWindow);
}

TEST_F(GuardProcesses, SharedObjectsThatCannotBeCreatedEndTheStartWithApplicationError) {
  // Another object holding the table's or the lock's name: the system
  // refuses to create the registry's own.
  const std::wstring brevand = BrevandPath();
  const std::wstring key = guard::win32::IdentityKey(brevand);
  struct Case {
    const wchar_t* suffix;
    bool squatWithMapping;
    const char* message;
  } cases[] = {
      {L"_Map", false, "Failed to create FileMapping."},
      {L"_Otx", true, "Failed to create event."},
  };
  for (const Case& c : cases) {
    const std::wstring name = guard::win32::ObjectName(key, c.suffix);
    HANDLE squatter = c.squatWithMapping
                          ? CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name.c_str())
                          : CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    ASSERT_NE(squatter, nullptr);
    Process copy(brevand, {});
    HWND box = nullptr;
    uitest::WaitUntil(
        [&] {
          box = uitest::WaitForWindow(copy.Id(), L"#32770", L"Application Error", 0);
          return box != nullptr || !copy.Running();
        },
        kStartMs);
    ASSERT_NE(box, nullptr) << "no Application Error box; exit code " << copy.ExitCode();
    const std::string text = uitest::Narrow(BoxText(box));
    EXPECT_EQ(text.rfind("Exception ", 0), 0u) << text;
    EXPECT_NE(text.find(" in module brevand.exe at "), std::string::npos) << text;
    EXPECT_NE(text.find(c.message), std::string::npos) << text;
    EXPECT_EQ(uitest::WaitForWindow(copy.Id(), L"TForm4", L"", 0), nullptr);
    uitest::DismissBox(box);
    EXPECT_TRUE(uitest::WaitUntil([&] { return !copy.Running(); }, 20000));
    EXPECT_EQ(copy.ExitCode(), 1u);
    CloseHandle(squatter);
  }
}

TEST_F(GuardProcesses, SamePathInOtherLetterCaseIsRejectedAndACopyElsewhereRunsBeside) {
  const std::wstring brevand = BrevandPath();
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring elsewhere = std::wstring(temp) + L"brevand-elsewhere-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
  ASSERT_TRUE(CopyFileW(brevand.c_str(), elsewhere.c_str(), FALSE));
  std::wstring upper = brevand;
  CharUpperBuffW(upper.data(), static_cast<DWORD>(upper.size()));

  Process first(brevand, {});
  const HWND window = WaitForMainWindow(first);
  ASSERT_NE(window, nullptr);
  {
    // Another program file: its own table, its own window, no message.
    Process beside(elsewhere, {});
    const HWND other = WaitForMainWindow(beside);
    EXPECT_NE(other, nullptr) << "a copy at another path did not run beside the first";
    if (other != nullptr) CloseCopy(beside, other);
    EXPECT_EQ(beside.ExitCode(), 0u);
  }
  {
    Process shouting(upper, {});
    std::vector<HWND> boxes;
    ASSERT_TRUE(uitest::WaitUntil([&] { return !(boxes = BoxesOf(shouting.Id())).empty() || !shouting.Running(); },
                                  kStartMs));
    ASSERT_FALSE(boxes.empty()) << "the same path in capitals was not rejected";
    EXPECT_EQ(BoxText(boxes.front()), kRejected);
    uitest::DismissBox(boxes.front());
    EXPECT_TRUE(uitest::WaitUntil([&] { return !shouting.Running(); }, 30000));
    EXPECT_EQ(shouting.ExitCode(), 0u);
  }
  CloseCopy(first, window);
  DeleteFileW(elsewhere.c_str());
}

TEST_F(GuardProcesses, KilledCopyBlocksNoLaterStart) {
  const std::wstring brevand = BrevandPath();
  Process killed(brevand, {});
  ASSERT_NE(WaitForMainWindow(killed), nullptr);
  killed.Kill();
  Process next(brevand, {});
  const HWND window = WaitForMainWindow(next);
  ASSERT_NE(window, nullptr) << "the start after a killed copy showed no window; exit code " << next.ExitCode();
  CloseCopy(next, window);
  EXPECT_EQ(next.ExitCode(), 0u);
  EXPECT_TRUE(Table(brevand).Pids().empty());
}

TEST_F(GuardProcesses, RejectedStartRestoresTheMinimisedFirstCopy) {
  const std::wstring brevand = BrevandPath();
  Process first(brevand, {});
  const HWND window = WaitForMainWindow(first);
  ASSERT_NE(window, nullptr);
  ShowWindow(window, SW_MINIMIZE);
  ASSERT_TRUE(uitest::WaitUntil([&] { return IsIconic(window) != FALSE; }, 5000));
  Process second(brevand, {L"x"});
  std::vector<HWND> boxes;
  ASSERT_TRUE(uitest::WaitUntil([&] { return !(boxes = BoxesOf(second.Id())).empty(); }, kStartMs));
  EXPECT_EQ(BoxText(boxes.front()), kRejected);
  uitest::DismissBox(boxes.front());
  ASSERT_TRUE(uitest::WaitUntil([&] { return !second.Running(); }, 30000));
  EXPECT_EQ(second.ExitCode(), 0u);
  EXPECT_TRUE(uitest::WaitUntil([&] { return !IsIconic(window) && IsWindowVisible(window); }, 5000))
      << "the first copy stayed minimised";
  EXPECT_TRUE(uitest::WaitUntil([&] { return GetForegroundWindow() == window; }, 5000))
      << "the first copy did not come to the front";
  EXPECT_TRUE(first.Running());
  CloseCopy(first, window);
  EXPECT_EQ(first.ExitCode(), 0u);
}

TEST_F(GuardProcesses, TwentySimultaneousStartsLeaveOneRunning) {
  const std::wstring brevand = BrevandPath();
  std::vector<Process> copies;
  for (int i = 0; i < 20; ++i) copies.emplace_back(brevand, std::vector<std::wstring>{std::to_wstring(i)});
  for (const Process& p : copies) ASSERT_TRUE(p.Started());

  // Press OK on every box as it comes, until one copy shows its window and
  // every other has ended.
  std::size_t ended = 0;
  const Process* survivor = nullptr;
  HWND window = nullptr;
  const bool settled = uitest::WaitUntil(
      [&] {
        ended = 0;
        survivor = nullptr;
        for (const Process& p : copies) {
          if (!p.Running()) {
            ++ended;
            continue;
          }
          for (HWND box : BoxesOf(p.Id())) PostMessageW(box, TDM_CLICK_BUTTON, IDOK, 0);
          if (HWND w = uitest::WaitForWindow(p.Id(), L"TForm4", L"Norvane Brevand", 0)) {
            survivor = &p;
            window = w;
          }
        }
        return ended == copies.size() - 1 && survivor != nullptr;
      },
      240000);
  ASSERT_TRUE(settled) << ended << " of 20 ended, " << (survivor ? "one" : "no") << " window shown";
  for (const Process& p : copies) {
    if (&p != survivor) {
      EXPECT_EQ(p.ExitCode(), 0u) << "copy " << p.Id();
    }
  }
  EXPECT_EQ(Table(brevand).Pids(), std::vector<std::uint32_t>{survivor->Id()});
  CloseCopy(const_cast<Process&>(*survivor), window);
  EXPECT_EQ(survivor->ExitCode(), 0u);
}

}  // namespace
