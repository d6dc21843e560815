// How the program speaks to the user: MyMessage and the error report.
#ifndef SHELL_MESSAGES_H_
#define SHELL_MESSAGES_H_

#include <exception>
#include <functional>
#include <string>

namespace shell {

// The application title, caption of every message box. Set once at start-up.
void SetApplicationTitle(const std::string& title);
const std::string& ApplicationTitle();

enum class MessageKind {
  kMessage,           // no icon, one OK
  kErrorReport,       // error icon, one OK
  kApplicationError,  // error icon, one OK, caption "Application Error"
};

struct ShownMessage {
  MessageKind kind;
  std::string caption;
  std::string text;
};

// The platform's modal box for `message`, defined once per platform
// (message_box_qt.cpp, win32/message_box.cpp).
void ShowPlatformMessage(const ShownMessage& message);

// Shows one box and returns when the user has dismissed it. The default
// presenter is ShowPlatformMessage; tests install their own. Returns the
// presenter it replaces.
using MessagePresenter = std::function<void(const ShownMessage&)>;
MessagePresenter SetMessagePresenter(MessagePresenter presenter);

// Shows `s` captioned with the application title: no icon, one OK button.
void MyMessage(std::string s);

// Shows `error` in the error report, unless it is a silent abort.
void ReportError(std::exception_ptr error) noexcept;

// The "Application Error" box for an error that stopped the window from
// being built.
void ShowApplicationError(const std::string& text) noexcept;

// Runs `handler`; whatever escapes it is shown in the error report and goes
// no further. Every event handler of the program runs through this.
void RunHandler(const std::function<void()>& handler) noexcept;

}  // namespace shell

#endif  // SHELL_MESSAGES_H_
