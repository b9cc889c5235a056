#pragma once

#include <QFont>

class QWidget;

namespace quorvex {

// The windows' font: "MS Sans Serif" at 8 points where the system has it, otherwise the
// system's own sans serif at 8 points, semi-condensed.
QFont DesignFont();

// Places a fixed-size window in the middle of the screen it is on.
void CentreOnScreen(QWidget& window);

}  // namespace quorvex
