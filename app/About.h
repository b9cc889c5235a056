#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace quorvex {

// The About window: made fresh each time it is opened, destroyed when it closes.
class TForm3 final : public QDialog {
  Q_OBJECT

 public:
  explicit TForm3(QWidget* parent = nullptr);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  void Button1Click();

  QFrame* Panel1;
  QLabel* Label1;
  QLabel* Label2;
  QLabel* Label5;
  QLabel* Label3;
  QLabel* Label4;
  QPushButton* Button1;
};

}  // namespace quorvex
