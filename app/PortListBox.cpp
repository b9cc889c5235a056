#include "PortListBox.h"

#include <utility>

namespace quorvex {

PortListBox::PortListBox(QWidget* parent, BeforeOpen beforeOpen)
    : QComboBox(parent), beforeOpen_(std::move(beforeOpen)) {}

void PortListBox::showPopup() {
  if (beforeOpen_) beforeOpen_();
  QComboBox::showPopup();
}

}  // namespace quorvex
