// The main window as the operator first sees it, the About window, and the sector field.
#include <QAction>
#include <QClipboard>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScrollBar>
#include <QtTest>

#include "WindowTestSupport.h"

using namespace quorvex;
using namespace quorvex::test;

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void controls_data();
  void controls();
  void firstShow();
  void tabOrderAndMenu();
  void aboutWindowTwiceFresh();
  void edit1Filter_data();
  void edit1Filter();
  void returnMovesFocusToStart();
  void pasteGoesPastTheFilter();

 private:
  // Each window starts as on a first start, with a settings file of its own.
  std::unique_ptr<Window> MakeWindow() {
    settings_.push_back(std::make_unique<SettingsFile>());
    return std::make_unique<Window>(*settings_.back());
  }
  std::vector<std::unique_ptr<SettingsFile>> settings_;
};

void MainWindowTest::controls_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QRect>("geometry");
  QTest::addColumn<bool>("enabled");
  // Labels grow with their text from their design size; other controls keep it exactly.
  QTest::addColumn<bool>("label");

  QTest::newRow("Edit1") << "Edit1"
                         << "1" << QRect(288, 40, 33, 21) << true << false;
  QTest::newRow("ButtonStart") << "ButtonStart"
                               << "Программирование" << QRect(16, 8, 145, 25) << true << false;
  QTest::newRow("Memo1") << "Memo1"
                         << "" << QRect(16, 96, 489, 305) << true << false;
  QTest::newRow("ProgressBar1") << "ProgressBar1"
                                << "" << QRect(16, 72, 489, 16) << true << false;
  QTest::newRow("ButtonStop") << "ButtonStop"
                              << "Отмена" << QRect(16, 40, 145, 25) << false << false;
  QTest::newRow("Button1") << "Button1"
                           << "Стирание сектора" << QRect(352, 40, 153, 25) << true << false;
  QTest::newRow("Button2") << "Button2"
                           << "Информация о секторах" << QRect(352, 8, 153, 25) << true << false;
  QTest::newRow("ComboBox1") << "ComboBox1"
                             << "Не выбран" << QRect(222, 12, 100, 21) << true << false;
  QTest::newRow("Label1") << "Label1"
                          << "Номер сектора (1-64):" << QRect(168, 40, 111, 13) << true << true;
  QTest::newRow("Label2") << "Label2"
                          << "" << QRect(16, 408, 0, 13) << true << true;
  QTest::newRow("Label3") << "Label3"
                          << "COM порт" << QRect(168, 16, 50, 13) << true << true;
}

void MainWindowTest::controls() {
  QFETCH(QString, name);
  QFETCH(QString, text);
  QFETCH(QRect, geometry);
  QFETCH(bool, enabled);
  QFETCH(bool, label);

  auto window = MakeWindow();
  QWidget* control = window->find(name.toLatin1().constData());
  QVERIFY2(control != nullptr, qPrintable(name));
  QCOMPARE(control->parentWidget(), window->form().centralWidget());
  QCOMPARE(control->isEnabled(), enabled);

  QString shown;
  if (auto* button = qobject_cast<QPushButton*>(control)) shown = button->text();
  if (auto* edit = qobject_cast<QLineEdit*>(control)) shown = edit->text();
  if (auto* memo = qobject_cast<QPlainTextEdit*>(control)) shown = memo->toPlainText();
  if (auto* combo = qobject_cast<QComboBox*>(control)) shown = combo->currentText();
  if (auto* caption = qobject_cast<QLabel*>(control)) shown = caption->text();
  QCOMPARE(shown, text);

  if (label) {
    QCOMPARE(control->pos(), geometry.topLeft());
    QVERIFY(control->width() >= geometry.width());
  } else {
    QCOMPARE(control->geometry(), geometry);
  }
}

void MainWindowTest::firstShow() {
  auto window = MakeWindow();
  TForm1& form = window->form();
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));

  QCOMPARE(form.windowTitle(), QStringLiteral("Программатор прибора \"ЗЕЛТАР-R52 VX 8\""));
  QCOMPARE(form.centralWidget()->size(), QSize(519, 429));
  QCOMPARE(form.centralWidget()->y(), form.menuBar()->height());
  QCOMPARE(form.minimumSize(), form.maximumSize());
  QVERIFY(!form.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  QVERIFY(form.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  const QPoint screenCentre = form.screen()->availableGeometry().center();
  QVERIFY((form.frameGeometry().center() - screenCentre).manhattanLength() <= 2);

  QVERIFY(window->log().isEmpty());
  QVERIFY(window->idle());
  QCOMPARE(form.focusWidget(), window->edit1());
  QCOMPARE(window->edit1()->maxLength(), 2);

  auto* memo = window->find<QPlainTextEdit>("Memo1");
  QVERIFY(memo->isReadOnly());
  QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  QCOMPARE(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  auto* progress = window->find<QProgressBar>("ProgressBar1");
  QCOMPARE(progress->minimum(), 0);
  QCOMPARE(progress->maximum(), 100);
  QCOMPARE(progress->value(), 0);
  QVERIFY(!progress->isTextVisible());
  QVERIFY(!window->comboBox1()->isEditable());
  QVERIFY(window->dialogs().shown.empty());
}

void MainWindowTest::tabOrderAndMenu() {
  auto window = MakeWindow();
  const QStringList expected{"Edit1",      "ButtonStart", "Memo1",   "ProgressBar1",
                             "ButtonStop", "Button1",     "Button2", "ComboBox1"};
  QStringList order;
  QWidget* widget = window->edit1();
  do {
    if (expected.contains(widget->objectName()) && !order.contains(widget->objectName())) {
      order << widget->objectName();
    }
    widget = widget->nextInFocusChain();
  } while (widget != window->edit1());
  QCOMPARE(order, expected);

  QMenuBar* menu = window->form().menuBar();
  QCOMPARE(menu->objectName(), QStringLiteral("MainMenu1"));
  const QList<QAction*> items = menu->actions();
  QCOMPARE(items.size(), 2);
  QCOMPARE(items[0]->text(), QStringLiteral("Файл"));
  QCOMPARE(items[0]->menu()->objectName(), QStringLiteral("Fail1"));
  QCOMPARE(items[0]->menu()->actions().size(), 1);
  QCOMPARE(items[0]->menu()->actions()[0]->objectName(), QStringLiteral("Open1"));
  QCOMPARE(items[0]->menu()->actions()[0]->text(), QStringLiteral("Открыть"));
  QCOMPARE(items[1]->objectName(), QStringLiteral("N3"));
  QCOMPARE(items[1]->text(), QStringLiteral("О программе"));
}

void MainWindowTest::aboutWindowTwiceFresh() {
  auto window = MakeWindow();
  struct Seen {
    QString title;
    QSize size;
    QStringList labels;
    QString button;
    bool closed = false;
  };
  std::vector<Seen> seen;
  // Reads the About window once it runs modally, spoils its texts (a reused window would
  // show them the next time) and closes it with its button.
  std::function<void()> inspect = [&] {
    auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (about == nullptr) {
      QTimer::singleShot(10, qApp, inspect);
      return;
    }
    Seen s;
    s.title = about->windowTitle();
    s.size = about->size();
    for (const char* name : {"Label1", "Label2", "Label5", "Label3", "Label4"}) {
      auto* label = about->findChild<QLabel*>(QString::fromLatin1(name));
      s.labels << (label != nullptr ? label->text() : QStringLiteral("<missing>"));
      if (label != nullptr) label->setText(QStringLiteral("spoilt"));
    }
    auto* close = about->findChild<QPushButton*>(QStringLiteral("Button1"));
    if (close != nullptr) {
      s.button = close->text();
      close->click();
      s.closed = !about->isVisible();
    }
    about->close();
    seen.push_back(s);
  };

  for (int i = 0; i < 2; ++i) {
    QTimer::singleShot(0, qApp, inspect);
    window->action("N3")->trigger();
  }

  QCOMPARE(seen.size(), std::size_t{2});
  for (const Seen& s : seen) {
    QCOMPARE(s.title, QStringLiteral("О программе"));
    QCOMPARE(s.size, QSize(334, 169));
    QCOMPARE(s.labels,
             QStringList({"Программа предназначена для записи микропрограмм",
                          "в прибор \"ЗЕЛТАР-R52 VX 8\"", "", "Версия 5.0", "Quorvex 1.0.0.9"}));
    QCOMPARE(s.button, QStringLiteral("Закрыть"));
    QVERIFY(s.closed);
  }
}

void MainWindowTest::edit1Filter_data() {
  QTest::addColumn<QString>("before");
  QTest::addColumn<QString>("typed");  // "\b" is the backspace key
  QTest::addColumn<QString>("after");

  QTest::newRow("Latin letters") << "1"
                                 << "ab"
                                 << "1";
  QTest::newRow("minus sign") << "1"
                              << "-"
                              << "1";
  QTest::newRow("space") << "1"
                         << " "
                         << "1";
  QTest::newRow("Cyrillic letters") << "1"
                                    << "жЯ"
                                    << "1";
  QTest::newRow("punctuation") << ""
                               << "+.,"
                               << "";
  QTest::newRow("two digits") << ""
                              << "07"
                              << "07";
  QTest::newRow("third digit refused") << ""
                                       << "123"
                                       << "12";
  QTest::newRow("backspace deletes") << "12"
                                     << "\b"
                                     << "1";
  QTest::newRow("backspace then digit") << "64"
                                        << "\b\b5"
                                        << "5";
}

void MainWindowTest::edit1Filter() {
  QFETCH(QString, before);
  QFETCH(QString, typed);
  QFETCH(QString, after);

  auto window = MakeWindow();
  QLineEdit* edit = window->edit1();
  edit->setText(before);
  for (const QChar c : typed) {
    if (c == QLatin1Char('\b')) {
      QTest::keyClick(edit, Qt::Key_Backspace);
    } else {
      // The key of a character is its capital's code, Cyrillic included.
      QTest::sendKeyEvent(QTest::Click, edit, static_cast<Qt::Key>(c.toUpper().unicode()),
                          QString(c), Qt::NoModifier);
    }
  }
  QCOMPARE(edit->text(), after);
}

void MainWindowTest::returnMovesFocusToStart() {
  auto window = MakeWindow();
  window->form().show();
  QApplication::setActiveWindow(&window->form());
  QVERIFY(QTest::qWaitForWindowActive(&window->form()));
  QLineEdit* edit = window->edit1();
  edit->setFocus();
  QTRY_COMPARE(QApplication::focusWidget(), edit);

  QTest::keyClick(edit, Qt::Key_Return);
  QCOMPARE(edit->text(), QStringLiteral("1"));
  QCOMPARE(QApplication::focusWidget(), window->button("ButtonStart"));

  edit->setFocus();
  QTest::keyClick(edit, Qt::Key_Enter, Qt::KeypadModifier);
  QCOMPARE(QApplication::focusWidget(), window->button("ButtonStart"));
}

void MainWindowTest::pasteGoesPastTheFilter() {
  auto window = MakeWindow();
  QLineEdit* edit = window->edit1();
  QApplication::clipboard()->setText(QStringLiteral("-5x"));
  if (QApplication::clipboard()->text() != QStringLiteral("-5x")) QSKIP("no clipboard here");

  edit->clear();
  QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);  // a control character: dropped
  QCOMPARE(edit->text(), QString());
  QTest::keyClick(edit, Qt::Key_Insert, Qt::ShiftModifier);
  QCOMPARE(edit->text(), QStringLiteral("-5"));  // cut to the field's two characters
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
