#include "shell/win32/BrevandUnit.h"

#include <map>
#include <stdexcept>
#include <string_view>

#include "feed/pass.h"
#include "shell/key_rule.h"
#include "shell/layout.h"
#include "shell/messages.h"
#include "shell/snap_rule.h"
#include "shell/ticking_host.h"
#include "shell/win32/busy_pass.h"
#include "shell/win32/controls.h"
#include "shell/win32/res/resource.h"

TForm4* Form4 = nullptr;

namespace {

// Control identifiers: the layout row's index past this base (clear of
// IDOK and IDCANCEL, which dialog navigation sends on its own).
constexpr int kFirstControlId = 100;

void RegisterFormClass(HINSTANCE instance, WNDPROC proc) {
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(instance, TForm4::kClassName, &existing) != FALSE) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_MAINICON));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_MAINICON), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  wc.lpszClassName = TForm4::kClassName;
  if (RegisterClassExW(&wc) == 0) throw std::runtime_error("Failed to register the main window class");
}

}  // namespace

TForm4::TForm4(FormCreateSteps steps, int dpi) : steps_(std::move(steps)) {
  Form4 = this;
  try {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterFormClass(instance, &TForm4::WindowProc);
    constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    constexpr DWORD kExStyle = WS_EX_TOPMOST | WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
    scale_ = shell::win32::ScaleForScreen(dpi > 0 ? dpi : shell::win32::ScreenDpi());
    RECT frame{0, 0, scale_(shell::kClientWidth), scale_(shell::kClientHeight)};
    AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    handle_ = CreateWindowExW(kExStyle, kClassName, guard::win32::Widen(shell::kWindowCaption).c_str(), kStyle,
                              0, 0, frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                              instance, this);
    if (handle_ == nullptr) throw std::runtime_error("Failed to create the main window");
    BuildControls();

    shell::CompleteMainWindow(
        steps_, JvAppInstances1, [this] { JvAppInstances1Rejected(JvAppInstances1->FHandle); }, {},
        [this] { FormCreate(handle_); });
  } catch (...) {
    JvAppInstances1.reset();
    if (handle_ != nullptr) DestroyWindow(handle_);
    handle_ = nullptr;
    for (HFONT font : fonts_) DeleteObject(font);
    if (glyph_ != nullptr) ImageList_Destroy(glyph_);
    Form4 = nullptr;
    throw;
  }
}

TForm4::~TForm4() {
  JvAppInstances1.reset();
  if (handle_ != nullptr) {
    SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
    DestroyWindow(handle_);
  }
  for (HFONT font : fonts_) DeleteObject(font);
  if (glyph_ != nullptr) ImageList_Destroy(glyph_);
  if (Form4 == this) Form4 = nullptr;
}

void TForm4::BuildControls() {
  std::map<std::string_view, HWND> built;
  std::map<std::string_view, POINT> origins;
  std::map<int, HFONT> fontBySize;
  auto fontOf = [&](int designPixels) {
    auto [it, fresh] = fontBySize.try_emplace(designPixels, nullptr);
    if (fresh) {
      it->second = shell::win32::MakeFont(scale_(designPixels));
      fonts_.push_back(it->second);
    }
    return it->second;
  };
  SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(fontOf(shell::kWindowFontPixels)), FALSE);

  int id = kFirstControlId;
  for (const shell::ControlLayout& row : shell::MainWindowLayout()) {
    const POINT origin = row.parent == nullptr ? POINT{0, 0} : origins.at(row.parent);
    HWND control = shell::win32::CreateControl(row, handle_, origin, scale_, id++, fontOf(row.fontPixels));
    if (control == nullptr) throw std::runtime_error(std::string("Failed to create the control ") + row.name);
    built[row.name] = control;
    origins[row.name] = POINT{origin.x + row.left, origin.y + row.top};
  }
  auto find = [&built](const char* name) { return built.at(name); };
  btnRun = find("btnRun");
  btnExit = find("btnExit");
  lbl2 = find("lbl2");
  lbl4 = find("lbl4");
  lbl7 = find("lbl7");
  grp1 = find("grp1");
  grp2 = find("grp2");
  lbl1 = find("lbl1");
  edt1 = find("edt1");
  lbl9 = find("lbl9");
  edt3 = find("edt3");
  chk1 = find("chk1");
  lbl3 = find("lbl3");
  edt2 = find("edt2");
  edt4 = find("edt4");
  lbl10 = find("lbl10");
  lbl5 = find("lbl5");

  // The controls sit flat in the window, a group box's contents beside it:
  // the focus order is the stacking order, the tab chain first, and the
  // group boxes go to the bottom so that they never paint over their contents.
  HWND previous = HWND_TOP;
  for (const std::string& name : shell::MainWindowTabChain()) {
    HWND control = built.at(name);
    SetWindowPos(control, previous, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    previous = control;
  }
  for (HWND box : {grp1, grp2}) {
    SetWindowLongPtrW(box, GWL_STYLE, GetWindowLongPtrW(box, GWL_STYLE) | WS_CLIPSIBLINGS);
    SetWindowPos(box, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }

  SendMessageW(chk1, BM_SETCHECK, BST_CHECKED, 0);
  glyph_ = shell::win32::LoadButtonGlyph(GetModuleHandleW(nullptr), IDB_CANCELGLYPH);
  if (glyph_ != nullptr) {
    BUTTON_IMAGELIST images{};
    images.himl = glyph_;
    images.margin = RECT{scale_(4), 0, 0, 0};
    images.uAlign = BUTTON_IMAGELIST_ALIGN_LEFT;
    SendMessageW(btnExit, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&images));
  }
}

void TForm4::FormCreate(HWND /*Sender*/) {
  shell::RunFormCreate(steps_, [this](const std::string& s) { MyMessage(s); },
                       [this] { ShowWindow(handle_, SW_SHOWNORMAL); });
}

void TForm4::btnRunClick(HWND /*Sender*/) {
  feed::PassInput input;
  input.edt1 = shell::win32::WindowText(edt1);
  input.edt3 = shell::win32::WindowText(edt3);
  input.edt2 = shell::win32::WindowText(edt2);
  input.edt4 = shell::win32::WindowText(edt4);
  input.chk1 = SendMessageW(chk1, BM_GETCHECK, 0, 0) == BST_CHECKED;
  // A long pass keeps the window painted, busy, deaf to input and showing
  // its progress; a close request during it closes the window at its end.
  if (shell::win32::BusyPass::Active() != nullptr) return;
  shell::win32::BusyPass busy(handle_, [this] { SendMessageW(handle_, WM_CLOSE, 0, 0); });
  shell::TickingHost host(HostEditor, [&busy](double done) { busy.Paint(done); });
  feed::RunPass(host, input, [this, &busy](const std::string& s) { busy.Suspend([&] { MyMessage(s); }); });
}

void TForm4::FormKeyPress(HWND /*Sender*/, wchar_t& Key) {
  Key = static_cast<wchar_t>(shell::TypedKeyRule(static_cast<char16_t>(Key)));
}

void TForm4::btnExitClick(HWND /*Sender*/) { SendMessageW(handle_, WM_CLOSE, 0, 0); }

void TForm4::JvAppInstances1Rejected(HWND /*Sender*/) { MyMessage(shell::kAlreadyRunningText); }

void TForm4::MyMessage(std::string s) { shell::MyMessage(std::move(s)); }

bool TForm4::PreviewMessage(MSG& message) {
  if (handle_ == nullptr || (message.hwnd != handle_ && !IsChild(handle_, message.hwnd))) return false;
  if (message.message == WM_CHAR) {
    wchar_t key = static_cast<wchar_t>(message.wParam);
    shell::RunHandler([&] { FormKeyPress(handle_, key); });
    message.wParam = key;
    return false;
  }
  if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE && GetKeyState(VK_SHIFT) >= 0 &&
      GetKeyState(VK_CONTROL) >= 0 && GetKeyState(VK_MENU) >= 0) {
    if (IsWindowEnabled(btnExit)) shell::RunHandler([this] { btnExitClick(btnExit); });
    return true;
  }
  return false;
}

void TForm4::ShowFromMessageLoop() {
  if (!centred_) {
    centred_ = true;
    CentreInWorkArea();
  }
  ShowWindow(handle_, SW_SHOWNORMAL);
  SetForegroundWindow(handle_);
}

void TForm4::RestoreFocus() {
  SetFocus(lastFocus_ != nullptr && IsWindow(lastFocus_) ? lastFocus_ : btnRun);
}

void TForm4::CentreInWorkArea() {
  RECT frame;
  GetWindowRect(handle_, &frame);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoW(MonitorFromWindow(handle_, MONITOR_DEFAULTTOPRIMARY), &monitor)) return;
  const RECT& area = monitor.rcWork;
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  SetWindowPos(handle_, nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm4::SnapMove(WINDOWPOS& pos) {
  if ((pos.flags & SWP_NOMOVE) != 0 || !IsWindowVisible(handle_)) return;
  RECT current;
  GetWindowRect(handle_, &current);
  const int width = current.right - current.left;
  const int height = current.bottom - current.top;
  if ((pos.flags & SWP_NOSIZE) == 0 && (pos.cx != width || pos.cy != height)) return;
  RECT target{pos.x, pos.y, pos.x + width, pos.y + height};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoW(MonitorFromRect(&target, MONITOR_DEFAULTTONEAREST), &monitor)) return;
  const RECT& area = monitor.rcWork;
  const shell::ScreenPoint p = shell::SnapRect(
      {pos.x, pos.y, width, height},
      {area.left, area.top, area.right - area.left, area.bottom - area.top});
  pos.x = p.x;
  pos.y = p.y;
}

LRESULT CALLBACK TForm4::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TForm4*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr || self->handle_ != window) return DefWindowProcW(window, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

LRESULT TForm4::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  if (shell::win32::BusyPass* busy = shell::win32::BusyPass::Active()) {
    LRESULT result = 0;
    if (busy->Handle(message, wParam, lParam, &result)) return result;
  }
  switch (message) {
    case WM_COMMAND: {
      const auto control = reinterpret_cast<HWND>(lParam);
      const WORD code = HIWORD(wParam);
      if (control != nullptr && code == BN_CLICKED) {
        if (control == btnRun) shell::RunHandler([this] { btnRunClick(btnRun); });
        if (control == btnExit) shell::RunHandler([this] { btnExitClick(btnExit); });
        return 0;
      }
      // Enter from dialog navigation: a focused button takes it as a click.
      if (control == nullptr && LOWORD(wParam) == IDOK) {
        const HWND focus = GetFocus();
        if (focus == btnRun) shell::RunHandler([this] { btnRunClick(btnRun); });
        if (focus == btnExit) shell::RunHandler([this] { btnExitClick(btnExit); });
        return 0;
      }
      break;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      const auto dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, reinterpret_cast<HWND>(lParam) == lbl2 ? RGB(0, 0, 0) : GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus != nullptr && IsChild(handle_, focus)) lastFocus_ = focus;
      } else if (HIWORD(wParam) == 0) {
        // Activated and not minimised: the control that had the focus, at
        // first the first control of the tab order.
        RestoreFocus();
        return 0;
      } else {
        // Activated while minimised: no control keeps the focus, so that no
        // key reaches one unseen; restoring the window gives it back.
        const HWND focus = GetFocus();
        if (focus != nullptr && IsChild(handle_, focus)) {
          lastFocus_ = focus;
          SetFocus(nullptr);
        }
      }
      break;
    case WM_SETFOCUS:
      // Restored from minimised, the window itself gets the focus.
      if (IsIconic(handle_) == FALSE) RestoreFocus();
      return 0;
    case WM_SIZE:
      if (wParam == SIZE_RESTORED && GetActiveWindow() == handle_ &&
          (GetFocus() == nullptr || GetFocus() == handle_)) {
        RestoreFocus();
      }
      break;
    case WM_WINDOWPOSCHANGING:
      SnapMove(*reinterpret_cast<WINDOWPOS*>(lParam));
      break;
    case WM_CLOSE:
      // Closing the main window ends the application; the window itself is
      // destroyed at shutdown.
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(handle_, message, wParam, lParam);
}
