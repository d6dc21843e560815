#include "shell/scaling.h"

#include <cstdint>

namespace shell {

int MulDiv(int value, int num, int den) {
  const std::int64_t p = static_cast<std::int64_t>(value) * num;
  const std::int64_t half = (den < 0 ? -den : den) / 2;
  std::int64_t q;
  if ((p < 0) != (den < 0)) {
    q = (p - (den < 0 ? -half : half)) / den;
  } else {
    q = (p + (den < 0 ? -half : half)) / den;
  }
  return static_cast<int>(q);
}

int FontPixelsAtDpi(int designPixels, int dpi) {
  return MulDiv(designPixels, dpi, kDesignDpi);
}

LayoutScale ScaleForZeroHeight(int zeroHeight) {
  if (zeroHeight <= 0 || zeroHeight == kDesignZeroHeight) return {};
  return {zeroHeight, kDesignZeroHeight};
}

}  // namespace shell
