#include "hostlink/testing/xdo.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace hostlink::testing {

QString XDoUnavailableReason() {
  if (qEnvironmentVariableIsEmpty("DISPLAY")) {
    return "DISPLAY is not set: the end-to-end run needs an X server (scripts/test.sh starts Xvfb)";
  }
  if (QStandardPaths::findExecutable("xdotool").isEmpty()) return "xdotool is not installed";
  return {};
}

QString XDo(const QStringList& args) {
  QProcess p;
  p.start("xdotool", args);
  if (!p.waitForFinished(5000)) {
    p.kill();
    p.waitForFinished(1000);
    return {};
  }
  if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return {};
  return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

QString WaitForWindow(qint64 pid, const QString& title, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!deadline.hasExpired()) {
    // --all: the window must match the process and the title, not either.
    const QString ids = XDo({"search", "--all", "--onlyvisible", "--pid", QString::number(pid),
                             "--name", "^" + title + "$"});
    if (!ids.isEmpty()) return ids.split('\n').first();
    QThread::msleep(100);
  }
  return {};
}

void ClickAt(const QString& window, int x, int y) {
  XDo({"mousemove", "--window", window, QString::number(x), QString::number(y)});
  XDo({"click", "1"});
}

bool RequestClose(const QString& window) {
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(c)) {
    xcb_disconnect(c);
    return false;
  }
  auto atom = [c](const char* name) {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r != nullptr ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
  };
  xcb_client_message_event_t e{};
  e.response_type = XCB_CLIENT_MESSAGE;
  e.format = 32;
  e.window = window.toUInt();
  e.type = atom("WM_PROTOCOLS");
  e.data.data32[0] = atom("WM_DELETE_WINDOW");
  e.data.data32[1] = XCB_CURRENT_TIME;
  // Checked: the server has taken the request before the connection closes.
  xcb_generic_error_t* error = xcb_request_check(
      c, xcb_send_event_checked(c, 0, e.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&e)));
  const bool sent = error == nullptr && e.type != XCB_ATOM_NONE && e.data.data32[0] != XCB_ATOM_NONE;
  std::free(error);
  xcb_disconnect(c);
  return sent;
}

}  // namespace hostlink::testing
