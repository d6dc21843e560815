// Driving a real X desktop from end-to-end tests, through xdotool.
#ifndef HOSTLINK_TESTING_XDO_H_
#define HOSTLINK_TESTING_XDO_H_

#include <QString>
#include <QStringList>

namespace hostlink::testing {

// Why an X run cannot happen here ($DISPLAY unset, xdotool missing), or "".
QString XDoUnavailableReason();

// Runs xdotool with `args`; its output, or "" when it fails or takes longer
// than 5 s.
QString XDo(const QStringList& args);

// The first visible window of process `pid` whose title is exactly `title`,
// or "" when none appears within `timeoutMs`.
QString WaitForWindow(qint64 pid, const QString& title, int timeoutMs);

// Clicks the point (x, y) of `window`'s client area.
void ClickAt(const QString& window, int x, int y);

// Sends `window` the close request a window manager sends for its title
// bar's close box or Alt+F4 (WM_PROTOCOLS / WM_DELETE_WINDOW); false when
// the X server cannot be reached.
bool RequestClose(const QString& window);

}  // namespace hostlink::testing

#endif  // HOSTLINK_TESTING_XDO_H_
