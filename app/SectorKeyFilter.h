#pragma once

#include <QObject>
#include <QString>
#include <functional>

namespace quorvex {

// Watches the key presses of the sector-number field and hands each to the window's two
// handlers: KeyDown sees the key first (Enter moves on), KeyPress then decides whether the
// field gets it. The rule for the characters the field takes is Drops().
class SectorKeyFilter final : public QObject {
 public:
  using KeyDown = std::function<void(int key)>;
  // True drops the key press.
  using KeyPress = std::function<bool(const QString& text, int key, Qt::KeyboardModifiers)>;

  SectorKeyFilter(QObject* field, KeyDown keyDown, KeyPress keyPress);

  // Whether a key press that is not Enter is kept from the field.
  static bool Drops(const QString& text, int key, Qt::KeyboardModifiers modifiers);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  KeyDown keyDown_;
  KeyPress keyPress_;
};

}  // namespace quorvex
