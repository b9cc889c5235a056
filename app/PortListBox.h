#pragma once

#include <QComboBox>
#include <functional>

namespace quorvex {

// The port list (ComboBox1): a combo box that lets the window fill it anew each time it is
// opened, by the mouse or by Alt+Down and F4, so that an adapter plugged in while the window
// runs can be chosen at once.
class PortListBox final : public QComboBox {
 public:
  using BeforeOpen = std::function<void()>;

  PortListBox(QWidget* parent, BeforeOpen beforeOpen);

  void showPopup() override;

 private:
  BeforeOpen beforeOpen_;
};

}  // namespace quorvex
