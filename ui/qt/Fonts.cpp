#include "ui/qt/Fonts.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QStringList>

namespace zel::ui {
namespace {

void RegisterWineFonts() {
  static const bool done = [] {
    const QStringList have = QFontDatabase::families();
    // fonts-wine installs its fonts for Wine only, outside the font configuration.
    const struct {
      const char* family;
      const char* file;
    } wanted[] = {{"MS Sans Serif", "/usr/share/wine/fonts/ms_sans_serif.ttf"},
                  {"Tahoma", "/usr/share/wine/fonts/tahoma.ttf"},
                  {"Tahoma", "/usr/share/wine/fonts/tahomabd.ttf"}};
    for (const auto& font : wanted) {
      if (!have.contains(QString::fromLatin1(font.family), Qt::CaseInsensitive) &&
          QFileInfo::exists(QString::fromLatin1(font.file)))
        QFontDatabase::addApplicationFont(QString::fromLatin1(font.file));
    }
    return true;
  }();
  (void)done;
}

}  // namespace

QFont SansSerifFont(int pixelSize, bool bold) {
  RegisterWineFonts();
  // Wine's "MS Sans Serif" is a bitmap font with the one size Windows uses most, 8 point
  // (characters 11 pixels high on 13-pixel lines). Other sizes come from a scalable look-alike,
  // as on Windows, where those sizes are drawn with a TrueType sans serif.
  const QString msSansSerif = QStringLiteral("MS Sans Serif");
  const bool haveMsSansSerif = QFontDatabase::families().contains(msSansSerif);
  const bool useMsSansSerif =
      haveMsSansSerif && (QFontDatabase::isScalable(msSansSerif) || pixelSize == 11);
  QStringList families{QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                       QStringLiteral("DejaVu Sans")};
  if (useMsSansSerif) families.prepend(msSansSerif);
  QFont font;
  font.setFamilies(families);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  // Plain text as the lists show it: Wine's font would otherwise draw "TM" in a table name such
  // as DEBTMAST as a trademark sign.
  font.setStyleStrategy(QFont::PreferNoShaping);
  font.setKerning(false);
  return font;
}

}  // namespace zel::ui
