// A full pass through the real brevand.exe under Wine: the COM test host
// serves a real NC program, the four fields are typed and Adjust clicked as
// a person would, and the program the host then holds must equal the one
// the same pass writes in process over the reference editor's core, with
// the F words the Linux build's pass is held to (feed/tests/data).
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "feed/pass.h"
#include "feed/tests/feed_words.h"
#include "refhost/core/automation.h"
#include "refhost/core/document.h"
#include "refhost/editor/tests/automation_host.h"
#include "shell/win32/tests/com_hosts.h"
#include "shell/win32/tests/ui_driver.h"

namespace {

using uitest::Process;

// A Linux path under Wine's Z: drive, with Windows separators.
std::wstring UnderZ(const std::string& linuxPath) {
  std::wstring p = L"Z:" + uitest::Widen(linuxPath);
  for (wchar_t& c : p) {
    if (c == L'/') c = L'\\';
  }
  return p;
}

std::string Slurp(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The calls in the COM host's record `record` that start with `prefix`.
int RecordedCalls(const std::wstring& record, const std::string& prefix) {
  int n = 0;
  for (const std::string& line : Lines(Slurp(record))) n += line.rfind(prefix, 0) == 0;
  return n;
}
constexpr const char* kStepCall = "invoke step method";
constexpr const char* kOpeningCall = "invoke markline method I4&:0 I4:0";

// What the pass writes in process over the reference editor's core.
std::string PassInProcess(const std::string& program, int systemType, const feed::PassInput& input) {
  refhost::Document document;
  document.Load(program);
  refhost::Automation automation(document);
  automation.SetSystemType(systemType);
  automation.SetSelection(1, document.LineCount());
  refhost::testing::AutomationHost host(automation);
  feed::RunPass(host, input, [](const std::string& s) { ADD_FAILURE() << "message: " << s; });
  automation.EndPass();
  return document.Text("\n");
}

class PassThroughTheWindow : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(PassThroughTheWindow, TypedFieldsAndAdjustWriteWhatTheInProcessPassWrites) {
  const std::string programPath = std::string(BREVAND_NGC_DIR) + "/lathe_pawn.ngc";
  const std::string program = Slurp(UnderZ(programPath));
  ASSERT_FALSE(program.empty()) << "cannot read " << programPath;
  const std::string lineCount = std::to_string(Lines(program).size());

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring saved = std::wstring(temp) + L"brevand_e2e_" + std::to_wstring(GetCurrentProcessId()) + L".ngc";
  DeleteFileW(saved.c_str());
  const std::wstring record = saved + L".calls";
  DeleteFileW(record.c_str());

  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"norvane.norvanex", &clsid))) {
    GTEST_SKIP() << "the COM test host is not registered in this prefix";
  }
  // A host left over from an earlier test would take the attach.
  ASSERT_TRUE(uitest::QuitRunningHosts()) << "a host left running does not quit";
  Process host(UnderZ(BREVAND_COMHOST_PATH),
               {L"--program", uitest::Widen(programPath), L"--save", saved, L"--record", record, L"-e", L"system 304", L"-e",
                uitest::Widen("selection 1 " + lineCount)});
  ASSERT_TRUE(host.Started());
  ASSERT_TRUE(uitest::WaitUntil([] { return uitest::HostRuns(); }, 60000)) << "the host never entered the running object table";

  Process brevand(UnderZ(BREVAND_EXE_PATH), {});
  ASSERT_TRUE(brevand.Started());
  const HWND window = uitest::WaitForWindow(brevand.Id(), L"TForm4", L"Norvane Brevand", 60000);
  ASSERT_NE(window, nullptr) << "brevand showed no window";
  ASSERT_TRUE(uitest::BringToFront(window));
  HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"NorvaneBrevandMutex");
  EXPECT_NE(mutex, nullptr) << "no NorvaneBrevandMutex while brevand runs";
  if (mutex != nullptr) CloseHandle(mutex);

  // A person clicks into each field and types, in lower case; the check box
  // is clicked off. Places: the layout's, at 96 dpi.
  struct Field {
    int x, y;
    const wchar_t* typed;
    const wchar_t* shown;
  } fields[] = {
      {8 + 160 + 28, 43 + 24 + 10, L"sqrt(4)", L"SQRT(4)"},  // edt1: line length limit
      {8 + 351 + 24, 43 + 24 + 10, L"150", L"150"},          // edt3: line feedrate
      {8 + 160 + 28, 123 + 24 + 10, L"abs(-8)", L"ABS(-8)"}, // edt2: arc radius limit
      {8 + 351 + 24, 123 + 24 + 10, L"60", L"60"},           // edt4: arc feedrate
  };
  for (const Field& f : fields) {
    POINT p{f.x, f.y};
    const HWND edit = ChildWindowFromPoint(window, p);
    // Click until the field has the focus, then type.
    ASSERT_TRUE(uitest::ClickToFocus(window, f.x, f.y, edit)) << "field at " << f.x << "," << f.y << " took no focus";
    uitest::TypeText(f.typed);
    EXPECT_TRUE(uitest::WaitUntil([&] { return uitest::TextOf(edit) == f.shown; }, 5000))
        << "field at " << f.x << "," << f.y << " shows " << uitest::Narrow(uitest::TextOf(edit));
  }
  // chk1's box, clicked off (again only when a click was lost).
  const HWND chk1 = ChildWindowFromPoint(window, POINT{8 + 244 + 6, 43 + 49 + 8});
  bool off = false;
  for (int i = 0; i < 3 && !off; ++i) {
    uitest::ClickAt(window, 8 + 244 + 6, 43 + 49 + 8);
    off = uitest::WaitUntil([&] { return SendMessageW(chk1, BM_GETCHECK, 0, 0) == BST_UNCHECKED; }, 3000);
  }
  ASSERT_TRUE(off) << "the check box stayed ticked";

  // Adjust; the pass is over once every line is stepped and the host has
  // saved its last change (200 ms after it) and the text stays for 3 s.
  const HWND adjust = ChildWindowFromPoint(window, POINT{52 + 37, 201 + 12});
  ASSERT_TRUE(uitest::ClickToFocus(window, 52 + 37, 201 + 12, adjust)) << "Adjust was not clicked";
  const int lines = int(Lines(program).size());
  ASSERT_TRUE(uitest::WaitUntil([&] { return RecordedCalls(record, kStepCall) >= lines; }, 180000))
      << "the pass did not step every line";
  std::string written;
  ULONGLONG sameSince = GetTickCount64();
  uitest::WaitUntil(
      [&] {
        const std::string now = Slurp(saved);
        if (now != written) {
          written = now;
          sameSince = GetTickCount64();
        }
        return !written.empty() && GetTickCount64() - sameSince >= 3000;
      },
      180000);
  ASSERT_FALSE(written.empty()) << "the host never saved a changed program";

  // Escape closes the window and the program ends normally.
  ASSERT_TRUE(uitest::BringToFront(window));
  uitest::PressKey(VK_ESCAPE);
  ASSERT_TRUE(uitest::WaitUntil([&] { return !brevand.Running(); }, 30000)) << "brevand did not end after Escape";
  EXPECT_EQ(brevand.ExitCode(), 0u);
  for (const uitest::WindowInfo& w : uitest::TopLevelWindows()) {
    EXPECT_FALSE(w.visible && w.pid == brevand.Id()) << "left a window: " << uitest::Narrow(w.title);
  }
  Sleep(500);
  written = Slurp(saved);
  host.Kill();
  DeleteFileW(saved.c_str());
  DeleteFileW(record.c_str());

  feed::PassInput input;
  input.edt1 = "SQRT(4)";
  input.edt3 = "150";
  input.edt2 = "ABS(-8)";
  input.edt4 = "60";
  input.chk1 = false;
  const std::string expected = PassInProcess(program, refhost::kSystemTypeLathe, input);
  ASSERT_NE(expected, program) << "the pass changes nothing on this program: a weak test";
  const std::vector<std::string> got = Lines(written);
  const std::vector<std::string> want = Lines(expected);
  ASSERT_EQ(got.size(), want.size()) << "the host holds " << got.size() << " lines";
  int differing = 0;
  for (std::size_t i = 0; i < want.size() && differing < 10; ++i) {
    if (got[i] != want[i]) {
      ++differing;
      ADD_FAILURE() << "line " << i + 1 << ": host has \"" << got[i] << "\", in process \"" << want[i] << "\"";
    }
  }
  // The same F words on the same lines as the pass on Linux writes (the
  // list feed/tests holds the Linux build to).
  EXPECT_EQ(feed::testing::FeedWords(program, written),
            feed::testing::SplitProgramLines(Slurp(UnderZ(std::string(FEED_TEST_DATA) + "/lathe_pawn.feeds"))));
  int changed = 0;
  const std::vector<std::string> original = Lines(program);
  for (std::size_t i = 0; i < want.size(); ++i) changed += want[i] != original[i];
  std::printf("the pass wrote %d of %zu lines\n", changed, want.size());
}

// Takes the test host out of the registry for one test, and puts it back.
class HostUnregistered {
 public:
  HostUnregistered() { registered_ = Run(L"/UnregServer"); }
  ~HostUnregistered() {
    if (!registered_) Run(L"/RegServer");
  }
  bool Done() const { return !registered_; }

 private:
  // True when the host could not be run to the end with a zero exit code.
  static bool Run(const wchar_t* option) {
    Process p(UnderZ(BREVAND_COMHOST_PATH), {option});
    return !(p.Started() && p.Wait(60000) && p.ExitCode() == 0);
  }
  bool registered_ = true;
};

// The text of a box (its longest static text).
std::wstring BoxText(HWND box) {
  std::wstring best;
  for (int i = 0; HWND s = uitest::ChildOfClass(box, L"Static", i); ++i) {
    const std::wstring t = uitest::TextOf(s);
    if (t.size() > best.size()) best = t;
  }
  return best;
}

HWND NextBox(const Process& p) {
  HWND box = nullptr;
  uitest::WaitUntil(
      [&] {
        box = uitest::WaitForWindow(p.Id(), L"#32770", L"", 0);
        return box != nullptr || !p.Running();
      },
      60000);
  return box;
}

TEST_F(PassThroughTheWindow, WithoutAHostTheAttachMessagesComeThenTheWindowAndAdjustReportsTheEmptyLink) {
  ASSERT_TRUE(uitest::QuitRunningHosts());
  HostUnregistered unregistered;
  ASSERT_TRUE(unregistered.Done()) << "the test host could not be unregistered";

  Process brevand(UnderZ(BREVAND_EXE_PATH), {});
  ASSERT_TRUE(brevand.Started());
  for (const wchar_t* text : {L"This Program Requires Norvane Editor to be Installed", L"Unable to Link to Norvane"}) {
    const HWND box = NextBox(brevand);
    ASSERT_NE(box, nullptr) << "no box saying " << uitest::Narrow(text);
    EXPECT_EQ(uitest::TextOf(box), L"Pellmark");
    EXPECT_EQ(BoxText(box), text);
    EXPECT_EQ(uitest::WaitForWindow(brevand.Id(), L"TForm4", L"", 0), nullptr) << "the window showed before the messages";
    uitest::DismissBox(box);
    uitest::WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000);
  }
  const HWND window = uitest::WaitForWindow(brevand.Id(), L"TForm4", L"Norvane Brevand", 30000);
  ASSERT_NE(window, nullptr) << "no window after the attach messages";
  ASSERT_TRUE(uitest::BringToFront(window));

  // Enter on the focused Adjust runs the pass, which fails on the empty link:
  // the error report, and the program goes on.
  uitest::PressKey(VK_RETURN);
  const HWND report = NextBox(brevand);
  ASSERT_NE(report, nullptr) << "no error report";
  EXPECT_EQ(uitest::TextOf(report), L"Pellmark");
  EXPECT_EQ(BoxText(report), L"Invalid variant operation.");
  uitest::DismissBox(report);
  EXPECT_TRUE(brevand.Running());

  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_TRUE(uitest::WaitUntil([&] { return !brevand.Running(); }, 30000));
  EXPECT_EQ(brevand.ExitCode(), 0u);
}

// The COM test host on `lines` short diagonal moves, every call recorded,
// and brevand with the line fields filled so that Adjust writes every line.
class LongPass {
 public:
  explicit LongPass(int lines) : lines_(lines) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring base = std::wstring(temp) + L"brevand_long_" + std::to_wstring(GetCurrentProcessId());
    program_ = base + L".ngc";
    record_ = base + L".calls";
  }
  ~LongPass() {
    brevand.Kill();
    uitest::QuitRunningHosts();
    host.Kill();
    DeleteFileW(program_.c_str());
    DeleteFileW(record_.c_str());
  }

  // Empty when the window is up with its fields filled, else what failed.
  std::string Start() {
    std::ofstream out(program_.c_str(), std::ios::binary);
    for (int i = 1; i <= lines_; ++i) out << "G1 X" << i * 0.1 << " Y" << i * 0.1 << " F500\n";
    out.close();
    if (!uitest::QuitRunningHosts()) return "a host left running does not quit";
    host = Process(UnderZ(BREVAND_COMHOST_PATH), {L"--program", program_, L"--record", record_});
    if (!host.Started() || !uitest::WaitUntil([] { return uitest::HostRuns(); }, 60000)) return "no host";
    brevand = Process(UnderZ(BREVAND_EXE_PATH), {});
    window = brevand.Started() ? uitest::WaitForWindow(brevand.Id(), L"TForm4", L"Norvane Brevand", 60000) : nullptr;
    if (window == nullptr || !uitest::BringToFront(window)) return "brevand showed no window";
    for (auto [x, y, text] : {std::tuple{8 + 160 + 28, 43 + 24 + 10, L"1"}, std::tuple{8 + 351 + 24, 43 + 24 + 10, L"200"}}) {
      if (!uitest::ClickToFocus(window, x, y, ChildWindowFromPoint(window, POINT{x, y}))) return "a field took no focus";
      uitest::TypeText(text);
    }
    return {};
  }

  // Clicks Adjust; false when the pass does not start.
  bool StartPass() {
    const HWND adjust = ChildWindowFromPoint(window, POINT{52 + 37, 201 + 12});
    if (!uitest::ClickToFocus(window, 52 + 37, 201 + 12, adjust)) return false;
    return uitest::WaitUntil([&] { return Count(kOpening) > 0; }, 30000);
  }

  // Adjust clicked twice, Space and Enter on it.
  void InputDuringThePass() {
    uitest::ClickAt(window, 52 + 37, 201 + 12);
    uitest::ClickAt(window, 52 + 37, 201 + 12);
    uitest::PressKey(VK_SPACE);
    uitest::PressKey(VK_RETURN);
  }

  int Count(const std::string& prefix) const { return RecordedCalls(record_, prefix); }
  bool PassEnded(DWORD timeoutMs) const { return uitest::WaitUntil([&] { return Count(kStep) >= lines_; }, timeoutMs); }
  int LineCount() const { return lines_; }

  static constexpr const char* kOpening = kOpeningCall;
  static constexpr const char* kStep = kStepCall;

  Process host, brevand;
  HWND window = nullptr;

 private:
  int lines_;
  std::wstring program_, record_;
};

// Adjust clicked, Space and Enter pressed during a long pass start no
// second pass, during it or after it, when the pointer moves again.
TEST_F(PassThroughTheWindow, InputDuringALongPassIsDropped) {
  LongPass pass(200);
  const std::string failed = pass.Start();
  ASSERT_TRUE(failed.empty()) << failed;
  ASSERT_TRUE(pass.StartPass()) << "the pass did not start";
  pass.InputDuringThePass();
  EXPECT_LT(pass.Count(LongPass::kStep), pass.LineCount()) << "the pass ended before the input; make it longer";
  ASSERT_TRUE(pass.PassEnded(180000)) << "the pass did not end";
  Sleep(500);
  uitest::MoveTo(pass.window, 5, 5);
  uitest::MoveTo(pass.window, 2, 2);
  Sleep(3000);
  EXPECT_EQ(pass.Count(LongPass::kStep), pass.LineCount());
  EXPECT_EQ(pass.Count(LongPass::kOpening), 1) << "input during the pass started another one";
  EXPECT_TRUE(pass.brevand.Running());
}

// Alt+F4 during a pass ends the program once the pass has ended, and
// input before it starts no second pass.
TEST_F(PassThroughTheWindow, AltF4DuringAPassEndsTheProgramAfterIt) {
  LongPass pass(200);
  const std::string failed = pass.Start();
  ASSERT_TRUE(failed.empty()) << failed;
  ASSERT_TRUE(pass.StartPass()) << "the pass did not start";
  pass.InputDuringThePass();
  uitest::PressKey(VK_F4, false, false, true);
  Sleep(500);
  EXPECT_TRUE(pass.brevand.Running()) << "Alt+F4 cut the pass short";
  EXPECT_LT(pass.Count(LongPass::kStep), pass.LineCount()) << "the pass ended before Alt+F4; make it longer";
  ASSERT_TRUE(uitest::WaitUntil([&] { return !pass.brevand.Running(); }, 180000)) << "brevand did not end after the pass";
  EXPECT_EQ(pass.brevand.ExitCode(), 0u);
  EXPECT_EQ(pass.Count(LongPass::kStep), pass.LineCount()) << "the pass did not run to its end";
  EXPECT_EQ(pass.Count(LongPass::kOpening), 1);
}

}  // namespace
