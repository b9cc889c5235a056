#include "DesignFont.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace quorvex {

QFont DesignFont() {
  static const QString kDesignFamily = QStringLiteral("MS Sans Serif");
  QFont font = QFontDatabase::families().contains(kDesignFamily)
                   ? QFont(kDesignFamily)
                   : QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPointSize(8);
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
