#include "SectorKeyFilter.h"

#include <QEvent>
#include <QKeyEvent>
#include <utility>

namespace quorvex {

SectorKeyFilter::SectorKeyFilter(QObject* field, KeyDown keyDown, KeyPress keyPress)
    : QObject(field), keyDown_(std::move(keyDown)), keyPress_(std::move(keyPress)) {
  field->installEventFilter(this);
}

bool SectorKeyFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<const QKeyEvent*>(event);
    keyDown_(key->key());
    return keyPress_(key->text(), key->key(), key->modifiers());
  }
  return QObject::eventFilter(watched, event);
}

// Digits and backspace pass; every other character is dropped. Keys that move the focus or
// the cursor or delete (Tab, Shift+Tab, Delete, the arrows, Home, End, Escape) keep their
// usual effect, although some of them carry a control character as their text. Keys that
// type nothing (Shift+Insert) pass, except Control with a letter, which types a control
// character: Ctrl+V does not paste here, Shift+Insert and the context menu do.
bool SectorKeyFilter::Drops(const QString& text, int key, Qt::KeyboardModifiers modifiers) {
  switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Escape:
      return false;
    default:
      break;
  }
  if (text.isEmpty()) {
    return modifiers.testFlag(Qt::ControlModifier) && key >= Qt::Key_A && key <= Qt::Key_Z;
  }
  for (const QChar c : text) {
    if (!(c >= QLatin1Char('0') && c <= QLatin1Char('9')) && c != QLatin1Char('\b')) return true;
  }
  return false;
}

}  // namespace quorvex
