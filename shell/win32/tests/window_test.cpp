// The Win32 main window built in process (no guard, no host): its frame,
// layout, tab chain, key preview, Escape, first focus and edge snapping;
// and the Windows guard's names and line splitting.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "hostlink/transport.h"
#include "shell/guard/win32/jv_app_instances.h"
#include "shell/guard/win32/objects.h"
#include "shell/layout.h"
#include "shell/messages.h"
#include "shell/win32/BrevandUnit.h"
#include "shell/win32/startup.h"

namespace {

std::vector<shell::ShownMessage> g_shown;

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_shown.clear();
    previous_ = shell::SetMessagePresenter([](const shell::ShownMessage& m) { g_shown.push_back(m); });
    form_ = std::make_unique<TForm4>(FormCreateSteps{}, 96);
  }
  void TearDown() override {
    form_.reset();
    shell::SetMessagePresenter(previous_);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  // Runs the window's own loop steps on one posted message.
  void Deliver(MSG m) {
    if (form_->PreviewMessage(m)) return;
    if (IsDialogMessageW(form_->Handle(), &m)) return;
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }

  void Pump() {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      if (m.message == WM_QUIT) {
        quit_ = true;
        continue;
      }
      Deliver(m);
    }
  }

  std::wstring Text(HWND w) {
    wchar_t buffer[256];
    const int n = GetWindowTextW(w, buffer, 256);
    return std::wstring(buffer, static_cast<std::size_t>(n));
  }

  shell::MessagePresenter previous_;
  std::unique_ptr<TForm4> form_;
  bool quit_ = false;
};

TEST_F(WindowTest, FrameIsFixedTopMostWithoutMaximiseAndTheClientAreaIsAsStored) {
  const HWND w = form_->Handle();
  EXPECT_EQ(Form4, form_.get());
  EXPECT_EQ(Text(w), L"Norvane Brevand");
  const LONG style = GetWindowLongW(w, GWL_STYLE);
  const LONG ex = GetWindowLongW(w, GWL_EXSTYLE);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_TRUE(ex & WS_EX_TOPMOST);
  EXPECT_TRUE(ex & WS_EX_APPWINDOW);
  RECT client;
  GetClientRect(w, &client);
  ASSERT_TRUE(form_->Scale().identity()) << "Tahoma 11 px measures a \"0\" other than 13 px here";
  EXPECT_EQ(client.right, 431);
  EXPECT_EQ(client.bottom, 266);
  RECT frame;
  GetWindowRect(w, &frame);
  EXPECT_EQ(frame.left, 0);
  EXPECT_EQ(frame.top, 0);
  EXPECT_FALSE(IsWindowVisible(w)) << "the window shows only from the message loop";
  EXPECT_EQ(SendMessageW(form_->chk1, BM_GETCHECK, 0, 0), BST_CHECKED);
  for (HWND edit : {form_->edt1, form_->edt2, form_->edt3, form_->edt4}) EXPECT_EQ(Text(edit), L"");
}

TEST_F(WindowTest, ControlsSitWhereTheLayoutPutsThemInsideTheirGroupBoxes) {
  struct Case {
    HWND control;
    int left, top, width, height;
  } cases[] = {
      {form_->btnRun, 52, 201, 75, 25},          {form_->btnExit, 276, 201, 75, 25},
      {form_->grp1, 8, 123, 413, 69},            {form_->grp2, 8, 43, 413, 74},
      {form_->edt2, 8 + 160, 123 + 24, 57, 21}, {form_->edt4, 8 + 351, 123 + 24, 49, 21},
      {form_->edt1, 8 + 160, 43 + 24, 57, 21},  {form_->edt3, 8 + 351, 43 + 24, 49, 21},
  };
  for (const Case& c : cases) {
    RECT r;
    GetWindowRect(c.control, &r);
    MapWindowPoints(nullptr, form_->Handle(), reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, c.left) << Text(c.control).size();
    EXPECT_EQ(r.top, c.top);
    EXPECT_EQ(r.right - r.left, c.width);
    EXPECT_EQ(r.bottom - r.top, c.height);
  }
  // Labels keep their place and never get smaller than stored.
  RECT lbl3;
  GetWindowRect(form_->lbl3, &lbl3);
  MapWindowPoints(nullptr, form_->Handle(), reinterpret_cast<POINT*>(&lbl3), 2);
  EXPECT_EQ(lbl3.left, 8 + 28);
  EXPECT_EQ(lbl3.top, 123 + 19);
  EXPECT_GE(lbl3.right - lbl3.left, 124);
  EXPECT_EQ(Text(form_->lbl3), L"Change programmed Arcs\r\nwith Radius less than ");
}

TEST_F(WindowTest, TabRunsAcrossTheWindowAndFirstActivationFocusesAdjust) {
  form_->ShowFromMessageLoop();
  Pump();
  EXPECT_EQ(GetFocus(), form_->btnRun);
  const std::vector<HWND> chain = {form_->btnRun, form_->btnExit, form_->edt2, form_->edt4,
                                   form_->edt1,   form_->edt3,    form_->chk1, form_->btnRun};
  for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
    EXPECT_EQ(GetNextDlgTabItem(form_->Handle(), chain[i], FALSE), chain[i + 1]) << "after stop " << i;
  }
  // Centred in the work area.
  RECT frame, area;
  GetWindowRect(form_->Handle(), &frame);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  EXPECT_LE(std::abs((frame.left + frame.right) / 2 - (area.left + area.right) / 2), 1);
  EXPECT_LE(std::abs((frame.top + frame.bottom) / 2 - (area.top + area.bottom) / 2), 1);
}

TEST_F(WindowTest, TypedCharactersPassTheKeyRuleBeforeTheFieldSeesThem) {
  form_->ShowFromMessageLoop();
  Pump();
  SetFocus(form_->edt1);
  for (wchar_t c : std::wstring(L"sqrt(e) \u00e9z1+")) {
    Deliver(MSG{form_->edt1, WM_CHAR, c, 1, 0, {}});
  }
  EXPECT_EQ(Text(form_->edt1), L"SQRT(E) \u00e9Z1+");
  // A paste is no typed character: its lower case stays.
  SendMessageW(form_->edt3, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L"abs(x)"));
  EXPECT_EQ(Text(form_->edt3), L"abs(x)");
}

TEST_F(WindowTest, EscapeWithShiftCtrlOrAltHeldClosesNothing) {
  form_->ShowFromMessageLoop();
  Pump();
  for (int modifier : {VK_SHIFT, VK_CONTROL, VK_MENU}) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[modifier] = 0x80;
    SetKeyboardState(keys);
    Deliver(MSG{form_->btnRun, WM_KEYDOWN, VK_ESCAPE, 0x00010001, 0, {}});
    keys[modifier] = 0;
    SetKeyboardState(keys);
    Pump();
    EXPECT_FALSE(quit_) << "Escape with modifier " << modifier << " closed the window";
  }
}

TEST_F(WindowTest, EscapeWithoutModifiersPressesCloseWhicheverControlHasTheFocus) {
  form_->ShowFromMessageLoop();
  Pump();
  SetFocus(form_->edt4);
  Deliver(MSG{form_->edt4, WM_KEYDOWN, VK_ESCAPE, 0x00010001, 0, {}});
  Pump();
  EXPECT_TRUE(quit_) << "Escape did not end the message loop";
}

TEST_F(WindowTest, CloseBoxEndsTheMessageLoopAndLeavesTheWindowForShutdown) {
  form_->ShowFromMessageLoop();
  Pump();
  SendMessageW(form_->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
  Pump();
  EXPECT_TRUE(quit_);
  EXPECT_TRUE(IsWindow(form_->Handle()));
}

TEST_F(WindowTest, MovesSnapToWorkAreaEdgesCloserThanTenPixels) {
  form_->ShowFromMessageLoop();
  Pump();
  const HWND w = form_->Handle();
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(w, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT area = monitor.rcWork;
  RECT frame;
  GetWindowRect(w, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  struct Case {
    int x, y, landedX, landedY;
  } cases[] = {
      {area.left + 9, area.top + 100, area.left, area.top + 100},       // 9 px: onto the edge
      {area.left + 10, area.top + 100, area.left + 10, area.top + 100}, // 10 px: stays
      {area.left + 100, area.top + 5, area.left + 100, area.top},
      {area.right - width - 9, area.top + 100, area.right - width, area.top + 100},
      {area.left + 100, area.bottom - height + 8, area.left + 100, area.bottom - height},
  };
  for (const Case& c : cases) {
    SetWindowPos(w, nullptr, c.x, c.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(w, &frame);
    EXPECT_EQ(frame.left, c.landedX) << "dropped at " << c.x << "," << c.y;
    EXPECT_EQ(frame.top, c.landedY) << "dropped at " << c.x << "," << c.y;
  }
}

TEST_F(WindowTest, AdjustWithoutAHostReportsTheEmptyLinkAndTheLoopGoesOn) {
  form_->ShowFromMessageLoop();
  Pump();
  SendMessageW(form_->btnRun, BM_CLICK, 0, 0);
  Pump();
  ASSERT_EQ(g_shown.size(), 1u);
  EXPECT_EQ(g_shown[0].kind, shell::MessageKind::kErrorReport);
  EXPECT_EQ(g_shown[0].text, "Invalid variant operation.");
  EXPECT_FALSE(quit_);
}

TEST_F(WindowTest, EnterOnTheFocusedAdjustRunsThePass) {
  form_->ShowFromMessageLoop();
  Pump();
  ASSERT_EQ(GetFocus(), form_->btnRun);
  Deliver(MSG{form_->btnRun, WM_KEYDOWN, VK_RETURN, 0x001C0001, 0, {}});
  Pump();
  ASSERT_EQ(g_shown.size(), 1u) << "Enter did not run the pass";
  EXPECT_EQ(g_shown[0].text, "Invalid variant operation.");
}

TEST_F(WindowTest, ActivatedWhileMinimisedNoKeyReachesAControlUntilRestored) {
  form_->ShowFromMessageLoop();
  Pump();
  const HWND w = form_->Handle();
  ASSERT_EQ(GetFocus(), form_->btnRun);
  ShowWindow(w, SW_SHOWMINIMIZED);
  // Activated while minimised, as a switch from another copy may do.
  SendMessageW(w, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, TRUE), 0);
  Pump();
  ASSERT_TRUE(IsIconic(w));
  const HWND focus = GetFocus();
  EXPECT_FALSE(focus != nullptr && IsChild(w, focus)) << "a control has the focus while minimised";
  // Space, then Enter, as the keyboard delivers them: to the focus, else to
  // the active window as system keys. Enter restores a minimised window, as
  // everywhere on the desktop; neither runs Adjust.
  for (WPARAM key : {WPARAM(VK_SPACE), WPARAM(VK_RETURN)}) {
    const HWND target = GetFocus() != nullptr ? GetFocus() : w;
    const bool system = GetFocus() == nullptr;
    Deliver(MSG{target, UINT(system ? WM_SYSKEYDOWN : WM_KEYDOWN), key, 0x00000001, 0, {}});
    Deliver(MSG{target, UINT(system ? WM_SYSKEYUP : WM_KEYUP), key, LPARAM(0xC0000001), 0, {}});
    Pump();
    EXPECT_TRUE(g_shown.empty()) << "key " << key << " ran Adjust while the window was minimised";
  }
  if (IsIconic(w)) ShowWindow(w, SW_RESTORE);
  Pump();
  EXPECT_FALSE(IsIconic(w));
  EXPECT_EQ(GetFocus(), form_->btnRun) << "restored, the focus is not back on Adjust";
}

// The task-bar button as the pass sees it: every progress call recorded.
class RecordingTaskbar : public ITaskbarList3, public IClassFactory {
 public:
  struct Call {
    HWND window;
    int state;  // -1 for a progress value
    ULONGLONG done, total;
  };
  std::vector<Call> calls;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_ITaskbarList || iid == IID_ITaskbarList2 || iid == IID_ITaskbarList3) {
      *out = static_cast<ITaskbarList3*>(this);
    } else if (iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** out) override {
    return QueryInterface(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE HrInit() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetProgressValue(HWND w, ULONGLONG done, ULONGLONG total) override {
    calls.push_back({w, -1, done, total});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetProgressState(HWND w, TBPFLAG state) override {
    calls.push_back({w, int(state), 0, 0});
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return S_OK; }
};

// A host of `lines` short diagonal moves, 2 ms a step, that notes whether
// the busy cursor is up at each step.
class SlowHost : public hostlink::Transport {
 public:
  explicit SlowHost(int lines, int* busySteps) : lines_(lines), busySteps_(busySteps) {}
  hostlink::HostValue Query(const std::string& member) override {
    return hostlink::HostValue::Signed(hostlink::ValueKind::Integer,
                                       member == "EndSelection" ? lines_ : member == "StartSelection" ? 1 : 0);
  }
  void Call(const std::string& member, const std::vector<hostlink::Argument>&) override {
    if (member != "step") return;
    ++line_;
    Sleep(2);
    *busySteps_ += GetCursor() == LoadCursorW(nullptr, IDC_WAIT);
  }
  hostlink::HostValue GetIndexed(const std::string&, std::int32_t index) override {
    const double at = line_ * 0.1;
    switch (index) {
      case 1: return hostlink::HostValue::Real(1);
      case 4: case 5: return hostlink::HostValue::Real(at);
      case 7: case 8: return hostlink::HostValue::Real(at + 0.1);
      case 19: return hostlink::HostValue::Real(500);
      default: return hostlink::HostValue::Real(0);
    }
  }
  hostlink::NumberFormat Format() const override { return {}; }

 private:
  int lines_, line_ = 0;
  int* busySteps_;
};

TEST_F(WindowTest, ALongPassShowsTheBusyCursorAndItsProgressOnTheTaskBarButton) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  RecordingTaskbar taskbar;
  DWORD cookie = 0;
  ASSERT_TRUE(SUCCEEDED(CoRegisterClassObject(CLSID_TaskbarList, static_cast<IClassFactory*>(&taskbar),
                                              CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie)));
  int busySteps = 0;
  HostEditor.Link(std::make_unique<SlowHost>(300, &busySteps));
  form_->ShowFromMessageLoop();
  Pump();
  SetWindowTextW(form_->edt1, L"1");
  SetWindowTextW(form_->edt3, L"200");
  SendMessageW(form_->btnRun, BM_CLICK, 0, 0);
  Pump();
  HostEditor.Release();
  CoRevokeClassObject(cookie);
  CoUninitialize();

  EXPECT_TRUE(g_shown.empty()) << g_shown[0].text;
  EXPECT_EQ(busySteps, 300) << "the busy cursor was not up at every step";
  ASSERT_GE(taskbar.calls.size(), 4u) << "no progress on the task-bar button";
  EXPECT_EQ(taskbar.calls.front().state, int(TBPF_NORMAL));
  EXPECT_EQ(taskbar.calls.back().state, int(TBPF_NOPROGRESS));
  ULONGLONG last = 0;
  int values = 0;
  for (const RecordingTaskbar::Call& c : taskbar.calls) {
    EXPECT_EQ(c.window, form_->Handle());
    if (c.state != -1) continue;
    ++values;
    EXPECT_EQ(c.total, 1000u);
    EXPECT_GE(c.done, last) << "the progress went back";
    EXPECT_LE(c.done, 1000u);
    last = c.done;
  }
  EXPECT_GE(values, 3) << "the progress was not updated during the pass";
  EXPECT_GT(last, 500u);
}

TEST(WindowScaling, AHigherResolutionScalesTheWholeLayoutByTheHeightOfZero) {
  const shell::MessagePresenter previous = shell::SetMessagePresenter([](const shell::ShownMessage&) {});
  {
    TForm4 form(FormCreateSteps{}, 144);
    RECT client;
    GetClientRect(form.Handle(), &client);
    // 11 px at 96 dpi is 17 px at 144; its "0" is about 1.5 times 13 px.
    EXPECT_FALSE(form.Scale().identity());
    EXPECT_GT(client.right, 431 * 14 / 10);
    EXPECT_LT(client.right, 431 * 17 / 10);
    EXPECT_EQ(client.right, form.Scale()(431));
    EXPECT_EQ(client.bottom, form.Scale()(266));
    RECT run;
    GetWindowRect(form.btnRun, &run);
    EXPECT_EQ(run.right - run.left, form.Scale()(75));
  }
  shell::SetMessagePresenter(previous);
}

// brevand.exe's resources, read from the built file.
class ProgramResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(BREVAND_EXE_WPATH, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << "cannot open brevand.exe";
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  std::string Bytes(LPCWSTR type, LPCWSTR name) {
    HRSRC found = FindResourceW(module_, name, type);
    if (found == nullptr) return {};
    const auto* data = static_cast<const char*>(LockResource(LoadResource(module_, found)));
    return std::string(data, SizeofResource(module_, found));
  }
  HMODULE module_ = nullptr;
};

TEST_F(ProgramResources, ManifestAsksForCommonControls6AsInvokerWithoutUiAccess) {
  const std::string manifest = Bytes(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
  ASSERT_FALSE(manifest.empty());
  for (const char* part : {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"", "level=\"asInvoker\"",
                           "uiAccess=\"false\""}) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
}

TEST_F(ProgramResources, MainIconHoldsTheTenImages) {
  const std::string group = Bytes(MAKEINTRESOURCEW(14), MAKEINTRESOURCEW(1));  // RT_GROUP_ICON
  ASSERT_GE(group.size(), 6u);
  const auto count = static_cast<unsigned char>(group[4]);
  ASSERT_EQ(count, 10u);
  ASSERT_EQ(group.size(), 6u + 14u * count);
  std::vector<std::pair<int, int>> images;  // side, bits per pixel
  for (unsigned i = 0; i < count; ++i) {
    const char* entry = group.data() + 6 + 14 * i;
    const int side = static_cast<unsigned char>(entry[0]) == 0 ? 256 : static_cast<unsigned char>(entry[0]);
    images.emplace_back(side, static_cast<unsigned char>(entry[6]) | (static_cast<unsigned char>(entry[7]) << 8));
  }
  const std::vector<std::pair<int, int>> expected = {{32, 4},  {16, 4},  {48, 8},  {32, 8},  {16, 8},
                                                     {256, 32}, {48, 32}, {32, 32}, {24, 32}, {16, 32}};
  EXPECT_EQ(images, expected);
}

TEST_F(ProgramResources, CancelGlyphIsTwo18PixelImagesIn16Colours) {
  const std::string bitmap = Bytes(MAKEINTRESOURCEW(2), MAKEINTRESOURCEW(101));  // RT_BITMAP
  ASSERT_GE(bitmap.size(), sizeof(BITMAPINFOHEADER));
  BITMAPINFOHEADER header;
  std::memcpy(&header, bitmap.data(), sizeof header);
  EXPECT_EQ(header.biWidth, 36);
  EXPECT_EQ(header.biHeight, 18);
  EXPECT_EQ(header.biBitCount, 4);
}

TEST_F(ProgramResources, VersionNamesTheProduct) {
  const std::string version = Bytes(MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1));  // RT_VERSION
  ASSERT_FALSE(version.empty());
  const std::wstring text(reinterpret_cast<const wchar_t*>(version.data()), version.size() / 2);
  EXPECT_NE(text.find(L"Norvane Brevand"), std::wstring::npos);
  EXPECT_NE(text.find(L"brevand.exe"), std::wstring::npos);
}

TEST(GuardNames, IdentityKeyUpperCasesAndReplacesBackslashes) {
  EXPECT_EQ(guard::win32::IdentityKey(L"C:\\Program Files\\Norvane\\brevand.exe"),
            L"JCLC:_PROGRAM FILES_NORVANE_BREVAND.EXE");
  EXPECT_EQ(guard::win32::IdentityKey(L"z:\\x\\\u00e9t\u00e9.exe"), L"JCLZ:_X_\u00c9T\u00c9.EXE");
}

TEST(GuardNames, LongKeysAreShortenedByTheirHashAndStayDistinct) {
  const std::wstring a = L"Jcl" + std::wstring(400, L'A');
  const std::wstring b = L"Jcl" + std::wstring(399, L'A') + L"B";
  EXPECT_EQ(guard::win32::ObjectName(L"JclC:_X.EXE", L"_Map"), L"JclC:_X.EXE_Map");
  for (std::size_t max : {std::size_t{255}, std::size_t{MAX_PATH - 1}}) {
    const std::wstring na = guard::win32::ObjectName(a, L"_Msg", max);
    const std::wstring nb = guard::win32::ObjectName(b, L"_Msg", max);
    EXPECT_EQ(na.size(), max);
    EXPECT_NE(na, nb);
    EXPECT_EQ(na.substr(na.size() - 4), L"_Msg");
  }
}

TEST(GuardNames, CommandLineTextSplitsIntoItsLines) {
  using V = std::vector<std::wstring>;
  EXPECT_EQ(guard::TJvAppInstances::SplitLines(L"one\r\ntwo words\r\n"), (V{L"one", L"two words"}));
  EXPECT_EQ(guard::TJvAppInstances::SplitLines(L"a\rb\nc"), (V{L"a", L"b", L"c"}));
  EXPECT_EQ(guard::TJvAppInstances::SplitLines(L"\r\n\r\n"), (V{L"", L""}));
  EXPECT_EQ(guard::TJvAppInstances::SplitLines(L""), V{});
}

}  // namespace
