// The window font: Tahoma where it can be had, else the default sans.
#ifndef SHELL_WINDOW_FONT_H_
#define SHELL_WINDOW_FONT_H_

#include <QFont>
#include <QString>

namespace shell {

// Registers Tahoma (regular and bold) from Debian's fonts-wine when the
// files exist and the system lacks it. Safe to call more than once; needs a
// QGuiApplication.
void RegisterWindowFont();

// The family the window uses: "Tahoma" when available, else the default sans.
QString WindowFontFamily();

// The window font at `pixels` pixels character height (the em, without
// internal leading).
QFont WindowFont(int pixels);

// Height of the text "0" in `font` as the desktop the layout was designed on
// measures it: ascent plus descent from the font's Windows metrics, internal
// leading included (13 for Tahoma at 11 pixels). Falls back to Qt's ascent
// plus descent when the font carries no such metrics.
int ZeroTextHeight(const QFont& font);

}  // namespace shell

#endif  // SHELL_WINDOW_FONT_H_
