// The cancel glyph of the Close button, drawn here.
#ifndef SHELL_CANCEL_GLYPH_H_
#define SHELL_CANCEL_GLYPH_H_

#include <QIcon>
#include <QImage>

namespace shell {

inline constexpr int kGlyphSide = 18;

// A 36 by 18, 16-colour picture: the normal image on the left, the one for
// a disabled button on the right.
QImage CancelGlyphPicture();

// The two halves of the picture as the icon's Normal and Disabled modes.
QIcon CancelGlyphIcon();

}  // namespace shell

#endif  // SHELL_CANCEL_GLYPH_H_
