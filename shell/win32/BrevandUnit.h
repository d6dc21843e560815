// The main window TForm4 (Win32) and its one global reference Form4
// (HostEditor and FormCreateSteps: shell/program_order.h).
#ifndef SHELL_WIN32_BREVANDUNIT_H_
#define SHELL_WIN32_BREVANDUNIT_H_

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/guard/win32/jv_app_instances.h"
#include "shell/program_order.h"
#include "shell/scaling.h"

class TForm4;

// The one main window. Set at the start of TForm4's construction, so that
// code run while the window is built reaches it; cleared when it is destroyed.
extern TForm4* Form4;

class TForm4 {
 public:
  static constexpr wchar_t kClassName[] = L"TForm4";

  // Builds the window and its controls from the stored layout, scaled for
  // the screen's resolution (`dpi` 0: the screen's), then the guard and its
  // check, then FormCreate. Throws when the window cannot be built; errors
  // inside FormCreate go to the error report. Not shown yet.
  explicit TForm4(FormCreateSteps steps = {}, int dpi = 0);
  ~TForm4();
  TForm4(const TForm4&) = delete;
  TForm4& operator=(const TForm4&) = delete;

  HWND Handle() const { return handle_; }

  // Controls, in declaration order.
  HWND btnRun = nullptr;
  HWND btnExit = nullptr;
  HWND lbl2 = nullptr;
  HWND lbl4 = nullptr;
  HWND lbl7 = nullptr;
  std::unique_ptr<guard::TJvAppInstances> JvAppInstances1;  // null without a guard
  HWND grp1 = nullptr;
  HWND grp2 = nullptr;
  HWND lbl1 = nullptr;
  HWND edt1 = nullptr;
  HWND lbl9 = nullptr;
  HWND edt3 = nullptr;
  HWND chk1 = nullptr;
  HWND lbl3 = nullptr;
  HWND edt2 = nullptr;
  HWND edt4 = nullptr;
  HWND lbl10 = nullptr;
  HWND lbl5 = nullptr;

  // Handlers, in declaration order. `Sender` is the control that raised the
  // event (the window itself for FormCreate and FormKeyPress).
  void FormCreate(HWND Sender);
  void btnRunClick(HWND Sender);
  void FormKeyPress(HWND Sender, wchar_t& Key);
  void btnExitClick(HWND Sender);
  void JvAppInstances1Rejected(HWND Sender);
  void MyMessage(std::string s);

  // Key preview: called by the message loop for every message before it is
  // dispatched. Passes typed characters meant for this window or a control
  // in it through FormKeyPress, and presses the cancel button on Escape
  // without Shift, Ctrl or Alt (then returns true: the message is done).
  bool PreviewMessage(MSG& message);

  // The message loop's show: centred in the work area the first time, then
  // shown in its normal state and made the foreground window.
  void ShowFromMessageLoop();

  shell::LayoutScale Scale() const { return scale_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void BuildControls();
  void SnapMove(WINDOWPOS& pos);
  void CentreInWorkArea();
  // The focus to the control that had it last, else to btnRun.
  void RestoreFocus();

  FormCreateSteps steps_;
  HWND handle_ = nullptr;
  shell::LayoutScale scale_;
  std::vector<HFONT> fonts_;
  HIMAGELIST glyph_ = nullptr;
  HWND lastFocus_ = nullptr;
  bool centred_ = false;
};

#endif  // SHELL_WIN32_BREVANDUNIT_H_
