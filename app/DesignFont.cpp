#include "DesignFont.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace quorvex {

QFont DesignFont() {
  static const QString kDesignFamily = QStringLiteral("MS Sans Serif");
  if (QFontDatabase::families().contains(kDesignFamily)) {
    QFont font(kDesignFamily);
    font.setPointSize(8);
    return font;
  }
  // The usual sans serifs run wider than the design font at the same size; semi-condensed,
  // the captions fit the places the design gives them.
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPointSize(8);
  font.setStretch(QFont::SemiCondensed);
  return font;
}

void CentreOnScreen(QWidget& window) {
  const QScreen* screen =
      window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = window.frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window.move(frame.topLeft());
}

}  // namespace quorvex
