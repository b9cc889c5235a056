#include "OperatorDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "Operator.h"

namespace quorvex {
namespace {

constexpr unsigned kButtonMask = 0x0F;
constexpr unsigned kIconMask = 0xF0;
constexpr unsigned kMbOkCancel = 0x01;
constexpr unsigned kMbYesNoCancel = 0x03;
constexpr unsigned kMbIconQuestion = 0x20;
constexpr unsigned kMbIconWarning = 0x30;
constexpr unsigned kMbIconInformation = 0x40;
constexpr int kIdCancel = 2;

QMessageBox::Icon IconOf(unsigned flags) {
  switch (flags & kIconMask) {
    case kMbIconError:
      return QMessageBox::Critical;
    case kMbIconQuestion:
      return QMessageBox::Question;
    case kMbIconWarning:
      return QMessageBox::Warning;
    case kMbIconInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

QMessageBox::StandardButtons ButtonsOf(unsigned flags) {
  switch (flags & kButtonMask) {
    case kMbOkCancel:
      return QMessageBox::Ok | QMessageBox::Cancel;
    case kMbYesNoCancel:
      return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case kMbYesNo:
      return QMessageBox::Yes | QMessageBox::No;
    default:
      return QMessageBox::Ok;
  }
}

int AnswerOf(int button) {
  switch (button) {
    case QMessageBox::Yes:
      return kIdYes;
    case QMessageBox::No:
      return kIdNo;
    case QMessageBox::Cancel:
      return kIdCancel;
    default:
      return kIdOk;
  }
}

// Owned by the application, not by a window: centred on the screen, modal for every window.
int Show(QMessageBox::Icon icon, const QString& caption, const QString& text,
         QMessageBox::StandardButtons buttons) {
  QMessageBox box(icon, caption, text, buttons);
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  return AnswerOf(box.exec());
}

}  // namespace

int QtOperatorDialogs::MessageBox(const QString& text, const QString& caption, unsigned flags) {
  return Show(IconOf(flags), caption, text, ButtonsOf(flags));
}

void QtOperatorDialogs::PlainMessage(const QString& text) {
  Show(QMessageBox::NoIcon, QString::fromUtf8(kApplicationTitle), text, QMessageBox::Ok);
}

QString QtOperatorDialogs::ChooseFile(QWidget* parent, const QString& folder,
                                      const QString& filter) {
  return QFileDialog::getOpenFileName(parent, QString(), folder, filter);
}

void QtOperatorDialogs::Beep() { SystemBeep(); }

}  // namespace quorvex
