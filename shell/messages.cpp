#include "shell/messages.h"

#include <cstdio>
#include <utility>

#include "shell/error_text.h"

namespace shell {
namespace {

std::string& Title() {
  static std::string title;
  return title;
}

MessagePresenter& Presenter() {
  static MessagePresenter presenter = ShowPlatformMessage;
  return presenter;
}

}  // namespace

void SetApplicationTitle(const std::string& title) { Title() = title; }
const std::string& ApplicationTitle() { return Title(); }

MessagePresenter SetMessagePresenter(MessagePresenter presenter) {
  return std::exchange(Presenter(), std::move(presenter));
}

void MyMessage(std::string s) {
  Presenter()({MessageKind::kMessage, ApplicationTitle(), std::move(s)});
}

void ReportError(std::exception_ptr error) noexcept {
  try {
    const std::optional<std::string> text = ErrorReportText(error);
    if (!text) return;
    Presenter()({MessageKind::kErrorReport, ApplicationTitle(), *text});
  } catch (...) {
    // The report itself failed (no memory, a presenter that throws): say so
    // where it can still be seen rather than let it cross the event loop.
    std::fputs("brevand: an error could not be reported\n", stderr);
  }
}

void ShowApplicationError(const std::string& text) noexcept {
  try {
    Presenter()({MessageKind::kApplicationError, "Application Error", text});
  } catch (...) {
  }
  std::fprintf(stderr, "%s\n", text.c_str());
}

void RunHandler(const std::function<void()>& handler) noexcept {
  try {
    handler();
  } catch (...) {
    ReportError(std::current_exception());
  }
}

}  // namespace shell
