// Kept apart from the window's sources: <windows.h> renames MessageBox, which the window's
// operator interface uses as a method name.
#include "OperatorDialogs.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <QApplication>
#endif

namespace quorvex {

void SystemBeep() {
#ifdef _WIN32
  ::MessageBeep(0);
#else
  QApplication::beep();
#endif
}

}  // namespace quorvex
