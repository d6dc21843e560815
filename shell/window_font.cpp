#include "shell/window_font.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QRawFont>
#include <cmath>

namespace shell {
namespace {

constexpr const char* kFamily = "Tahoma";
constexpr const char* kFontFiles[] = {
    "/usr/share/wine/fonts/tahoma.ttf",
    "/usr/share/wine/fonts/tahomabd.ttf",
};

quint16 BigEndian16(const QByteArray& table, int offset) {
  if (offset + 2 > table.size()) return 0;
  return static_cast<quint16>((static_cast<quint8>(table[offset]) << 8) |
                              static_cast<quint8>(table[offset + 1]));
}

}  // namespace

void RegisterWindowFont() {
  static bool done = false;
  if (done) return;
  done = true;
  if (QFontDatabase::families().contains(kFamily)) return;
  for (const char* path : kFontFiles) {
    if (QFileInfo::exists(path)) QFontDatabase::addApplicationFont(path);
  }
}

QString WindowFontFamily() {
  if (QFontDatabase::families().contains(kFamily)) return kFamily;
  return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

QFont WindowFont(int pixels) {
  QFont font(WindowFontFamily());
  font.setPixelSize(pixels);
  return font;
}

int ZeroTextHeight(const QFont& font) {
  const QRawFont raw = QRawFont::fromFont(font);
  if (raw.isValid()) {
    const QByteArray head = raw.fontTable("head");
    const QByteArray os2 = raw.fontTable("OS/2");
    const int unitsPerEm = BigEndian16(head, 18);
    const int winAscent = BigEndian16(os2, 74);
    const int winDescent = BigEndian16(os2, 76);
    if (unitsPerEm > 0 && winAscent + winDescent > 0) {
      const double ppem = raw.pixelSize();
      const long ascent = std::lround(winAscent * ppem / unitsPerEm);
      const long descent = std::lround(winDescent * ppem / unitsPerEm);
      return static_cast<int>(ascent + descent);
    }
  }
  const QFontMetrics metrics(font);
  return metrics.ascent() + metrics.descent();
}

}  // namespace shell
