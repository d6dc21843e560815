// The layout's resolution rule: the stored layout is for 96 dpi, where the
// text "0" in the window font is 13 pixels high.
#ifndef SHELL_SCALING_H_
#define SHELL_SCALING_H_

namespace shell {

inline constexpr int kDesignDpi = 96;
inline constexpr int kDesignZeroHeight = 13;

// value * num / den rounded to nearest, halves away from zero; den must not be 0.
int MulDiv(int value, int num, int den);

// A factor num/den applied to every position, size and font height.
struct LayoutScale {
  int num = 1;
  int den = 1;
  int operator()(int value) const { return MulDiv(value, num, den); }
  bool identity() const { return num == den; }
};

// The window font's pixel height on a screen of `dpi`, from its design height.
int FontPixelsAtDpi(int designPixels, int dpi);

// The scale for a window font whose "0" measures `zeroHeight` pixels:
// identity at 13, otherwise zeroHeight/13. A height of 0 or less (nothing
// measured) keeps the identity.
LayoutScale ScaleForZeroHeight(int zeroHeight);

}  // namespace shell

#endif  // SHELL_SCALING_H_
