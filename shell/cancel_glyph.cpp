#include "shell/cancel_glyph.h"

#include <QPainter>
#include <QPixmap>

namespace shell {
namespace {

// The 16 colours of the classic palette; index 0 is left transparent.
const QList<QRgb> kPalette = {
    qRgba(0, 0, 0, 0),   qRgb(128, 0, 0),     qRgb(0, 128, 0),     qRgb(128, 128, 0),
    qRgb(0, 0, 128),     qRgb(128, 0, 128),   qRgb(0, 128, 128),   qRgb(128, 128, 128),
    qRgb(192, 192, 192), qRgb(255, 0, 0),     qRgb(0, 255, 0),     qRgb(255, 255, 0),
    qRgb(0, 0, 255),     qRgb(255, 0, 255),   qRgb(0, 255, 255),   qRgb(255, 255, 255),
};
constexpr int kDarkRed = 1, kGrey = 7, kRed = 9, kWhite = 15;

// One stroke of the cross: a 3-pixel wide diagonal from (3,3) to (14,14),
// or its mirror.
void Stroke(QImage& image, int x0, bool mirrored, int dx, int dy, int colour) {
  for (int i = 3; i <= 14; ++i) {
    for (int w = -1; w <= 1; ++w) {
      const int x = x0 + (mirrored ? kGlyphSide - 1 - i : i) + w + dx;
      const int y = i + dy;
      if (x >= x0 && x < x0 + kGlyphSide && y >= 0 && y < kGlyphSide) {
        image.setPixel(x, y, colour);
      }
    }
  }
}

}  // namespace

QImage CancelGlyphPicture() {
  QImage image(2 * kGlyphSide, kGlyphSide, QImage::Format_Indexed8);
  image.setColorTable(kPalette);
  image.fill(0);
  // Normal: a red cross with a dark red shadow below and to the right.
  for (bool mirrored : {false, true}) Stroke(image, 0, mirrored, 1, 1, kDarkRed);
  for (bool mirrored : {false, true}) Stroke(image, 0, mirrored, 0, 0, kRed);
  // Disabled: the cross etched, grey over a white highlight.
  for (bool mirrored : {false, true}) Stroke(image, kGlyphSide, mirrored, 1, 1, kWhite);
  for (bool mirrored : {false, true}) Stroke(image, kGlyphSide, mirrored, 0, 0, kGrey);
  return image;
}

QIcon CancelGlyphIcon() {
  const QImage picture = CancelGlyphPicture();
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(picture.copy(0, 0, kGlyphSide, kGlyphSide)), QIcon::Normal);
  icon.addPixmap(QPixmap::fromImage(picture.copy(kGlyphSide, 0, kGlyphSide, kGlyphSide)),
                 QIcon::Disabled);
  return icon;
}

}  // namespace shell
