// The window's controls at their design places, their tab order, the menu, and the handlers
// connected to them.
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "Baseprog.h"
#include "DesignFont.h"
#include "PortListBox.h"
#include "SectorKeyFilter.h"

namespace quorvex {
namespace {

constexpr int kClientWidth = 519;
constexpr int kClientHeight = 429;

template <typename Control>
Control* Place(Control* control, const char* name, int left, int top, int width, int height) {
  control->setObjectName(QString::fromLatin1(name));
  control->setGeometry(left, top, width, height);
  return control;
}

// Labels grow with their text from their design position, as the design's labels do.
QLabel* PlaceLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                   int width, int height) {
  auto* label = Place(new QLabel(text, parent), name, left, top, width, height);
  label->resize(std::max(width, label->sizeHint().width()),
                std::max(height, label->sizeHint().height()));
  return label;
}

}  // namespace

void TForm1::CreateControls() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Программатор прибора \"ЗЕЛТАР-R52 VX 8\""));

  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("Client"));
  client->setFont(DesignFont());
  client->setFixedSize(kClientWidth, kClientHeight);
  setCentralWidget(client);

  Edit1 = Place(new QLineEdit(QStringLiteral("1"), client), "Edit1", 288, 40, 33, 21);
  Edit1->setMaxLength(2);
  // Enter moves on to ButtonStart; only digits reach the field.
  new SectorKeyFilter(
      Edit1, [this](int key) { Edit1KeyDown(key); },
      [this](const QString& text, int key, Qt::KeyboardModifiers modifiers) {
        return Edit1KeyPress(text, key, modifiers);
      });
  ButtonStart = Place(new QPushButton(QStringLiteral("Программирование"), client), "ButtonStart",
                      16, 8, 145, 25);
  Memo1 = Place(new QPlainTextEdit(client), "Memo1", 16, 96, 489, 305);
  Memo1->setReadOnly(true);
  Memo1->setFocusPolicy(Qt::StrongFocus);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setPlainText(QStringLiteral("Memo1"));
  ProgressBar1 = Place(new QProgressBar(client), "ProgressBar1", 16, 72, 489, 16);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  ButtonStop =
      Place(new QPushButton(QStringLiteral("Отмена"), client), "ButtonStop", 16, 40, 145, 25);
  ButtonStop->setEnabled(false);
  Button1 = Place(new QPushButton(QStringLiteral("Стирание сектора"), client), "Button1", 352, 40,
                  153, 25);
  Button2 = Place(new QPushButton(QStringLiteral("Информация о секторах"), client), "Button2", 352,
                  8, 153, 25);
  // The list is read anew each time it is opened.
  ComboBox1 =
      Place(new PortListBox(client, [this] { RefreshPortList(); }), "ComboBox1", 222, 12, 100, 21);
  ComboBox1->setEditable(false);
  PlaceLabel(client, "Label1", QStringLiteral("Номер сектора (1-64):"), 168, 40, 111, 13);
  Label2 = PlaceLabel(client, "Label2", QStringLiteral("Label2"), 16, 408, 32, 13);
  Label3 = PlaceLabel(client, "Label3", QStringLiteral("COM порт"), 168, 16, 50, 13);

  setTabOrder(Edit1, ButtonStart);
  setTabOrder(ButtonStart, Memo1);
  setTabOrder(Memo1, ProgressBar1);
  setTabOrder(ProgressBar1, ButtonStop);
  setTabOrder(ButtonStop, Button1);
  setTabOrder(Button1, Button2);
  setTabOrder(Button2, ComboBox1);

  MainMenu1 = menuBar();
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  Fail1 = MainMenu1->addMenu(QStringLiteral("Файл"));
  Fail1->setObjectName(QStringLiteral("Fail1"));
  Fail1->menuAction()->setObjectName(QStringLiteral("Fail1Item"));
  Open1 = Fail1->addAction(QStringLiteral("Открыть"));
  Open1->setObjectName(QStringLiteral("Open1"));
  N3 = MainMenu1->addAction(QStringLiteral("О программе"));
  N3->setObjectName(QStringLiteral("N3"));

  // The client area is the design's size; the window is that plus the menu bar, and fixed.
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  connect(ButtonStart, &QPushButton::clicked, this, &TForm1::ButtonStartClick);
  connect(ButtonStop, &QPushButton::clicked, this, &TForm1::ButtonStopClick);
  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(ComboBox1, &QComboBox::activated, this, &TForm1::ComboBox1Change);
  connect(Open1, &QAction::triggered, this, &TForm1::Open1Click);
  connect(N3, &QAction::triggered, this, &TForm1::N3Click);

  Edit1->setFocus();
}

}  // namespace quorvex
