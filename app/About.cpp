#include "About.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "DesignFont.h"
#include "QuorvexVersion.h"

namespace quorvex {
namespace {

QLabel* CentredLabel(QWidget* parent, const char* name, QRect geometry) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  label->setGeometry(geometry);
  return label;
}

}  // namespace

TForm3::TForm3(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("Form3"));
  setWindowTitle(QStringLiteral("О программе"));
  setFont(DesignFont());
  setFixedSize(334, 169);

  // A raised outer bevel with a lowered one inside it.
  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setGeometry(8, 8, 319, 121);
  auto* inner = new QFrame(Panel1);
  inner->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  inner->setGeometry(1, 1, 317, 119);

  Label1 = CentredLabel(Panel1, "Label1", {2, 2, 315, 13});
  Label2 = CentredLabel(Panel1, "Label2", {2, 15, 315, 13});
  Label5 = CentredLabel(Panel1, "Label5", {2, 28, 315, 13});
  Label3 = CentredLabel(Panel1, "Label3", {2, 41, 315, 13});
  Label4 = CentredLabel(Panel1, "Label4", {2, 106, 315, 13});
  Label4->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);

  Button1 = new QPushButton(QStringLiteral("Закрыть"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setGeometry(129, 136, 75, 25);
  Button1->setDefault(true);
  connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);

  FormCreate();
}

void TForm3::FormCreate() {
  // The panel carries no caption of its own; the labels say everything.
  Label1->setText(QStringLiteral("Программа предназначена для записи микропрограмм"));
  Label2->setText(QStringLiteral("в прибор \"ЗЕЛТАР-R52 VX 8\""));
  Label3->setText(QStringLiteral("Версия 5.0"));
  Label4->setText(QStringLiteral("Quorvex %1").arg(QLatin1String(kVersion)));
  Label5->clear();
}

void TForm3::Button1Click() { close(); }

void TForm3::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CentreOnScreen(*this);
}

}  // namespace quorvex
