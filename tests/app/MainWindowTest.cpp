// The main window as the operator first sees it, the About window, and the sector field.
#include <QAction>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QScrollBar>
#include <QtTest>

#include "Translations.h"
#include "WindowTestSupport.h"

using namespace quorvex;
using namespace quorvex::test;

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void controls_data();
  void controls();
  void firstShow();
  void tabOrderAndMenu();
  void aboutWindowTwiceFresh();
  void edit1Filter_data();
  void edit1Filter();
  void returnMovesFocusToStart();
  void pasteGoesPastTheFilter();
  void editingAndFocusKeys_data();
  void editingAndFocusKeys();
  void tabLeavesTheFieldAndShiftTabReturns();
  void questionBoxButtonsInRussian();
  void fileDialogButtonsInRussian();
  void missingTranslations();

 private:
  // Shows the window, makes it active and puts the focus in the sector field.
  static void FocusEdit1(Window& window) {
    window.form().show();
    QApplication::setActiveWindow(&window.form());
    QVERIFY(QTest::qWaitForWindowActive(&window.form()));
    window.edit1()->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), window.edit1());
  }
  // A key as the window system delivers it, with the text it carries.
  static void Press(Qt::Key key, const QString& text, Qt::KeyboardModifiers modifiers = {}) {
    QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), key, text, modifiers);
  }
  // The first modal window once it is up; `act` then closes it.
  template <typename Dialog>
  static void WhenModal(std::function<void(Dialog*)> act) {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) {
      QTimer::singleShot(10, qApp, [act] { WhenModal<Dialog>(act); });
      return;
    }
    act(dialog);
  }
  static QString WithoutMnemonic(QString text) { return text.remove(QLatin1Char('&')); }

  // Each window starts as on a first start, with a settings file of its own.
  std::unique_ptr<Window> MakeWindow() {
    settings_.push_back(std::make_unique<SettingsFile>());
    return std::make_unique<Window>(*settings_.back());
  }
  std::vector<std::unique_ptr<SettingsFile>> settings_;
};

// As the program does at start-up.
void MainWindowTest::initTestCase() {
  QVERIFY2(InstallQtTranslations(QtTranslationFolders()),
           "qtbase_ru.qm is missing (Debian package qt6-translations-l10n)");
}

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

// Keys that move the focus, the cursor or delete keep their usual effect in the sector field,
// with the text the window system gives them (X11 gives Delete the character U+007F).
void MainWindowTest::editingAndFocusKeys_data() {
  QTest::addColumn<QString>("before");
  QTest::addColumn<int>("cursor");
  QTest::addColumn<int>("key");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("after");
  QTest::addColumn<int>("cursorAfter");
  QTest::addColumn<QString>("focus");

  QTest::newRow("Delete removes the character after the cursor")
      << "64" << 0 << int(Qt::Key_Delete) << "\x7f"
      << "4" << 0 << "Edit1";
  QTest::newRow("Delete at the end does nothing") << "64" << 2 << int(Qt::Key_Delete) << "\x7f"
                                                  << "64" << 2 << "Edit1";
  QTest::newRow("Home") << "64" << 2 << int(Qt::Key_Home) << ""
                        << "64" << 0 << "Edit1";
  QTest::newRow("End") << "64" << 0 << int(Qt::Key_End) << ""
                       << "64" << 2 << "Edit1";
  QTest::newRow("Left") << "64" << 2 << int(Qt::Key_Left) << ""
                        << "64" << 1 << "Edit1";
  QTest::newRow("Right") << "64" << 0 << int(Qt::Key_Right) << ""
                         << "64" << 1 << "Edit1";
  QTest::newRow("Escape types nothing") << "64" << 1 << int(Qt::Key_Escape) << "\x1b"
                                        << "64" << 1 << "Edit1";
  QTest::newRow("Tab moves on to ButtonStart") << "64" << 1 << int(Qt::Key_Tab) << "\t"
                                               << "64" << 1 << "ButtonStart";
  QTest::newRow("a control character still never enters") << "64" << 1 << int(Qt::Key_B) << "\x02"
                                                          << "64" << 1 << "Edit1";
}

void MainWindowTest::editingAndFocusKeys() {
  QFETCH(QString, before);
  QFETCH(int, cursor);
  QFETCH(int, key);
  QFETCH(QString, text);
  QFETCH(QString, after);
  QFETCH(int, cursorAfter);
  QFETCH(QString, focus);

  auto window = MakeWindow();
  FocusEdit1(*window);
  QLineEdit* edit = window->edit1();
  edit->setText(before);
  edit->setCursorPosition(cursor);
  const Qt::KeyboardModifiers modifiers =
      key == Qt::Key_B ? Qt::ControlModifier : Qt::KeyboardModifiers();
  Press(static_cast<Qt::Key>(key), text, modifiers);
  QCOMPARE(edit->text(), after);
  QCOMPARE(edit->cursorPosition(), cursorAfter);
  QCOMPARE(QApplication::focusWidget()->objectName(), focus);
}

void MainWindowTest::tabLeavesTheFieldAndShiftTabReturns() {
  auto window = MakeWindow();
  FocusEdit1(*window);
  Press(Qt::Key_Tab, QStringLiteral("\t"));
  QCOMPARE(QApplication::focusWidget(), window->button("ButtonStart"));
  Press(Qt::Key_Backtab, QStringLiteral("\t"), Qt::ShiftModifier);
  QCOMPARE(QApplication::focusWidget(), window->edit1());
  // Shift+Tab from the field leaves it too, for the last control of the tab order.
  Press(Qt::Key_Backtab, QStringLiteral("\t"), Qt::ShiftModifier);
  QCOMPARE(QApplication::focusWidget(), window->comboBox1());
  QCOMPARE(window->edit1()->text(), QStringLiteral("1"));
}

// The overwrite question, as the real message box shows it.
void MainWindowTest::questionBoxButtonsInRussian() {
  QtOperatorDialogs dialogs;
  QStringList buttons;
  WhenModal<QMessageBox>([&](QMessageBox* box) {
    for (QAbstractButton* button : box->buttons()) buttons << WithoutMnemonic(button->text());
    box->button(QMessageBox::No)->click();
  });
  const int answer = dialogs.MessageBox(QStringLiteral("Перезаписать?"), QStringLiteral("Вопрос"),
                                        kMbYesNo | 0x20);
  QCOMPARE(answer, kIdNo);
  buttons.sort();
  QCOMPARE(buttons, QStringList({"Да", "Нет"}));
}

void MainWindowTest::fileDialogButtonsInRussian() {
  QtOperatorDialogs dialogs;
  QTemporaryDir folder;
  QString accept;
  QString reject;
  QString fileNameLabel;
  WhenModal<QFileDialog>([&](QFileDialog* dialog) {
    auto* box = dialog->findChild<QDialogButtonBox*>();
    if (box != nullptr) {
      accept = WithoutMnemonic(box->button(QDialogButtonBox::Open)->text());
      reject = WithoutMnemonic(box->button(QDialogButtonBox::Cancel)->text());
    }
    fileNameLabel = WithoutMnemonic(dialog->labelText(QFileDialog::FileName));
    dialog->reject();
  });
  const QString chosen =
      dialogs.ChooseFile(nullptr, folder.path(), QStringLiteral("Прошивки секторов flash (*.fls)"));
  QVERIFY(chosen.isEmpty());
  QCOMPARE(accept, QStringLiteral("Открыть"));
  QCOMPARE(reject, QStringLiteral("Отмена"));
  QCOMPARE(fileNameLabel, QStringLiteral("Имя файла:"));
}

// Without the translations the window still starts; Qt's texts stay English.
void MainWindowTest::missingTranslations() {
  QTemporaryDir empty;
  QVERIFY(!InstallQtTranslations({empty.path(), empty.filePath(QStringLiteral("absent"))}));
  auto window = MakeWindow();
  QVERIFY(window->idle());
}

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
