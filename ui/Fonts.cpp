#include "ui/Fonts.h"

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
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Tahoma"),
                    QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

}  // namespace zel::ui
