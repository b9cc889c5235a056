#pragma once

#include <QString>

class QWidget;

namespace quorvex {

// Everything the window shows modally or sounds: the message boxes, the plain message, the
// file-open dialog and the beep. The program uses the real ones; the window's tests put a
// recorder with scripted answers in their place, so no test ever waits on a modal box.
class OperatorDialogs {
 public:
  virtual ~OperatorDialogs() = default;
  // The platform's message box: text, caption and flags (buttons in the low nibble, icon in
  // the next); returns the answer as the platform's IDOK/IDYES/IDNO values.
  virtual int MessageBox(const QString& text, const QString& caption, unsigned flags) = 0;
  // Caption "Quorvex", no icon, one OK button, centred on the screen.
  virtual void PlainMessage(const QString& text) = 0;
  // The file-open dialog; an empty result means the operator cancelled.
  virtual QString ChooseFile(QWidget* parent, const QString& folder, const QString& filter) = 0;
  virtual void Beep() = 0;
};

// QMessageBox, QFileDialog and the platform's beep.
class QtOperatorDialogs final : public OperatorDialogs {
 public:
  int MessageBox(const QString& text, const QString& caption, unsigned flags) override;
  void PlainMessage(const QString& text) override;
  QString ChooseFile(QWidget* parent, const QString& folder, const QString& filter) override;
  void Beep() override;
};

// The beep that ends a successful run: MessageBeep(0) on Windows, the toolkit's beep elsewhere.
void SystemBeep();

}  // namespace quorvex
