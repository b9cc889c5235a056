// The port list and the stored settings at start-up, a port chosen in the list, the list read
// anew when it is opened (an adapter plugged back under another name), and the menu's open
// command with the folder it stores.
#include <QAbstractItemView>
#include <QFile>
#include <QLabel>
#include <QtTest>

#include "WindowTestSupport.h"
#ifdef QUORVEX_IN_PROCESS_INSTRUMENT
#include "SimulatedInstrument.h"
#endif

using namespace quorvex;
using namespace quorvex::test;

namespace {

const char* const kNoPort = "Не выбран";
// Never a device on any machine: opening it fails.
const char* const kAbsentPort = "ttyQuorvexAbsent0";

QString PortError(const std::string& name) {
  return QStringLiteral("Ошибка открытия порта ") + QString::fromStdString(name);
}

// The settings store with writes that fail once `failing` is set, as a read-only store does.
class FailingRegistry final : public RegistryAccessor {
 public:
  FailingRegistry(std::unique_ptr<RegistryAccessor> inner, const bool& failing)
      : inner_(std::move(inner)), failing_(failing) {}
  void SetRootKey(RootKey root) override { inner_->SetRootKey(root); }
  bool KeyExists(const std::string& key) override { return inner_->KeyExists(key); }
  bool OpenKey(const std::string& key, bool canCreate) override {
    return inner_->OpenKey(key, canCreate);
  }
  std::string ReadString(const std::string& name) override { return inner_->ReadString(name); }
  void WriteString(const std::string& name, const std::string& value) override {
    if (failing_) throw RegistryError(FailedToSetMessage(name));
    inner_->WriteString(name, value);
  }

 private:
  std::unique_ptr<RegistryAccessor> inner_;
  const bool& failing_;
};

#ifdef QUORVEX_IN_PROCESS_INSTRUMENT
// The ports plugged in right now, found as the real enumeration finds them: each name is
// probed through the port object the window hands over, so a port held open elsewhere is not
// found, and probing through the window's own port would close the port in use.
class Plugged {
 public:
  std::function<std::vector<std::string>(TComPort&)> Lister() {
    return [this](TComPort& port) {
      ++listings;
      std::vector<std::string> found;
      for (const std::string& name : names) {
        if (port.Probe(PortPathOf(name))) found.push_back(name);
      }
      port.Close();
      return found;
    };
  }

  std::vector<std::string> names;
  int listings = 0;
};

// A simulated instrument reached through a symbolic link, as an adapter's device name.
std::unique_ptr<sim::SimulatedInstrument> PlugIn(const std::string& link) {
  sim::Options options;
  options.linkPath = link;
  auto instrument = std::make_unique<sim::SimulatedInstrument>(options);
  std::string error;
  if (!instrument->Start(&error)) {
    qWarning("the simulated instrument did not start: %s", error.c_str());
    return nullptr;
  }
  return instrument;
}
#endif

}  // namespace

class SettingsTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void firstStartCreatesTheKey();
  void constructionTouchesNoPortOrSetting();
  void unwritableStoreAtFirstStart();
  void unwritableStoreLater_data();
  void unwritableStoreLater();
  void storedPortIsRestoredAndOpened();
  void storedNameNotListed_data();
  void storedNameNotListed();
  void storedPortDoesNotOpen();
  void choiceFromTheList_data();
  void choiceFromTheList();
  void openCommand_data();
  void openCommand();
#ifdef QUORVEX_IN_PROCESS_INSTRUMENT
  void listReadWhenOpened_data();
  void listReadWhenOpened();
  void replugged_data();
  void replugged();
#endif

 private:
  // Opens the port list as the operator does: the focus on it, then `key`.
  static void OpenList(Window& window, Qt::Key key, Qt::KeyboardModifiers modifiers) {
    window.form().show();
    QApplication::setActiveWindow(&window.form());
    QVERIFY(QTest::qWaitForWindowActive(&window.form()));
    window.comboBox1()->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), window.comboBox1());
    QTest::keyClick(window.comboBox1(), key, modifiers);
    QTRY_VERIFY(window.comboBox1()->view()->isVisible());
  }
  // Chooses `text` in the open list with the arrow keys and Enter.
  static void ChooseInList(Window& window, const QString& text) {
    QAbstractItemView* view = window.comboBox1()->view();
    const int target = window.comboBox1()->findText(text);
    QVERIFY2(target >= 0, qPrintable(text));
    QTest::keyClick(view, Qt::Key_Home);
    for (int i = 0; i < target; ++i) QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Return);
    QTRY_VERIFY(!view->isVisible());
  }

  // The port works when a listing gets its 64 lines.
  static bool PortAnswers(Window& window) {
    const qsizetype before = window.log().size();
    const std::size_t shown = window.dialogs().shown.size();
    window.form().Button2Click();
    return window.log().size() == before + 64 && window.dialogs().shown.size() == shown;
  }

  std::unique_ptr<SettingsFile> settings_;
#ifdef QUORVEX_IN_PROCESS_INSTRUMENT
  std::unique_ptr<sim::SimulatedInstrument> instrument_;
#endif
  std::string simPort_;
};

// A working port: a simulated instrument inside the test on a pseudo-terminal, or, where
// there is none (Windows), the port named by QUORVEX_TEST_PORT, on which the test's runner
// keeps a fresh simulated instrument for each test function.
void SettingsTest::init() {
  settings_ = std::make_unique<SettingsFile>();
#ifdef QUORVEX_IN_PROCESS_INSTRUMENT
  instrument_ = std::make_unique<sim::SimulatedInstrument>();
  std::string error;
  QVERIFY2(instrument_->Start(&error), error.c_str());
  simPort_ = PortNameOf(instrument_->PortPath());
#else
  simPort_ = qEnvironmentVariable("QUORVEX_TEST_PORT").toStdString();
  if (simPort_.empty()) QSKIP("no instrument: QUORVEX_TEST_PORT names none");
#endif
}

void SettingsTest::cleanup() {
#ifdef QUORVEX_IN_PROCESS_INSTRUMENT
  instrument_.reset();
#endif
  settings_.reset();
}

void SettingsTest::firstStartCreatesTheKey() {
  QVERIFY(!settings_->KeyExists());
  Window window(*settings_, {"ttyS0", simPort_});

  QVERIFY(settings_->KeyExists());
  QCOMPARE(settings_->Read(kValueComName), std::string());
  QCOMPARE(settings_->Read(kValuePathFileProg), std::string());
  QCOMPARE(window.entries(),
           QStringList({kNoPort, QStringLiteral("ttyS0"), QString::fromStdString(simPort_)}));
  QCOMPARE(window.comboBox1()->currentIndex(), 0);
  QVERIFY(window.dialogs().shown.empty());
  QVERIFY(window.log().isEmpty());
  QVERIFY(!window.form().Instrument().Port.IsOpen());
}

// The widgets are built first; the settings and the ports are reached only by the start-up
// step, which the program takes right after construction.
void SettingsTest::constructionTouchesNoPortOrSetting() {
  int listings = 0;
  settings_->Store(kValueComName, simPort_);
  TForm1::Setup setup;
  setup.dialogs = std::make_unique<RecordingDialogs>();
  setup.registry = settings_->Accessor();
  setup.listPorts = [&](TComPort&) {
    ++listings;
    return std::vector<std::string>{simPort_};
  };
  TForm1 form(std::move(setup));
  auto* list = form.findChild<QComboBox*>(QStringLiteral("ComboBox1"));
  QCOMPARE(listings, 0);
  QCOMPARE(list->count(), 0);

  form.FormCreate();
  QCOMPARE(listings, 1);
  QCOMPARE(list->currentText(), QString::fromStdString(simPort_));
  QVERIFY(form.Instrument().Port.IsOpen());
}

// A settings file that cannot be written at the first start (its folder lies under a regular
// file, which stops root too): reported once, then the window works with the values of this
// session.
void SettingsTest::unwritableStoreAtFirstStart() {
  QTemporaryDir dir;
  const QString blocker = dir.filePath(QStringLiteral("not-a-folder"));
  QFile file(blocker);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.close();
  const std::string path = (blocker + QStringLiteral("/quorvex/settings.ini")).toStdString();

  Window window(*settings_, {simPort_}, {}, MakeFileRegistryAccessor(path));
  QCOMPARE(window.dialogs().shown,
           std::vector<Shown>{Box("Failed to set data for 'COMName'", "Quorvex")});
  QCOMPARE(window.comboBox1()->currentIndex(), 0);

  // A port chosen and a file opened: no further message, and the port works.
  QComboBox* list = window.comboBox1();
  const int index = list->findText(QString::fromStdString(simPort_));
  list->setCurrentIndex(index);
  emit list->activated(index);
  QTemporaryDir folder;
  const QString firmware = WriteFirmware(folder, "fw.fls", PatternImage(4));
  window.open(firmware);
  QCOMPARE(window.log(), QStringList{"Открыт файл: " + QDir::toNativeSeparators(firmware)});
  QCOMPARE(window.form().InitialFolder(), QDir::toNativeSeparators(folder.path() + '/'));
  QVERIFY(PortAnswers(window));
  QCOMPARE(window.dialogs().shown.size(), std::size_t{1});
  QVERIFY(window.idle());
  QVERIFY(!QFile::exists(QString::fromStdString(path)));
}

void SettingsTest::unwritableStoreLater_data() {
  QTest::addColumn<bool>("readOnlyFolder");  // the real file store, or a store that throws
  QTest::addColumn<bool>("portFirst");       // the port is chosen before the file is opened

  QTest::newRow("read-only settings folder, file first") << true << false;
  QTest::newRow("read-only settings folder, port first") << true << true;
  QTest::newRow("store refusing writes, file first") << false << false;
  QTest::newRow("store refusing writes, port first") << false << true;
}

// The settings exist but can no longer be written: the first write is reported once, and the
// file still opens, the port is still chosen, and the run goes through; later writes say
// nothing. The store keeps what it held.
void SettingsTest::unwritableStoreLater() {
  QFETCH(bool, readOnlyFolder);
  QFETCH(bool, portFirst);

  settings_->Store(kValueComName, simPort_);
  settings_->Store(kValuePathFileProg, "/srv/firmware/");
  std::unique_ptr<ReadOnlyFolder> readOnly;
  std::unique_ptr<RegistryAccessor> store;
  const bool failing = true;
  if (readOnlyFolder) {
    readOnly = std::make_unique<ReadOnlyFolder>(settings_->Folder());
    if (!readOnly->Blocks()) QSKIP("this user writes into a read-only folder (root)");
    store = settings_->Accessor();
  } else {
    store = std::make_unique<FailingRegistry>(settings_->Accessor(), failing);
  }
  Window window(*settings_, {simPort_}, {}, std::move(store));
  QVERIFY(window.dialogs().shown.empty());
  QCOMPARE(window.comboBox1()->currentText(), QString::fromStdString(simPort_));

  QTemporaryDir folder;
  const QString firmware = WriteFirmware(folder, "fw.fls", PatternImage(5));
  const auto openFile = [&] { window.open(firmware); };
  const auto choosePort = [&] {
    QComboBox* list = window.comboBox1();
    const int index = list->findText(QString::fromStdString(simPort_));
    list->setCurrentIndex(index);
    emit list->activated(index);
  };
  const char* const failed =
      portFirst ? "Failed to set data for 'COMName'" : "Failed to set data for 'PathFileProg'";
  portFirst ? choosePort() : openFile();
  QCOMPARE(window.dialogs().shown, std::vector<Shown>{Box(failed, "Quorvex")});
  portFirst ? openFile() : choosePort();
  QCOMPARE(window.dialogs().shown.size(), std::size_t{1});
  QCOMPARE(window.log(), QStringList{"Открыт файл: " + QDir::toNativeSeparators(firmware)});
  QCOMPARE(window.find<QLabel>("Label2")->text(),
           QStringLiteral("Загружена микропрограмма: fw.fls"));
  QCOMPARE(window.form().InitialFolder(), QDir::toNativeSeparators(folder.path() + '/'));
  QCOMPARE(window.comboBox1()->currentText(), QString::fromStdString(simPort_));

  window.button("ButtonStart")->click();
  QCOMPARE(window.log().mid(1), kProgrammingLog);
  QCOMPARE(window.dialogs().beeps, 1);

  // Both writes again: no second message, and the file and the port still work.
  openFile();
  choosePort();
  QCOMPARE(window.dialogs().shown.size(), std::size_t{1});
  QCOMPARE(window.log().last(), "Открыт файл: " + QDir::toNativeSeparators(firmware));
  QCOMPARE(window.dialogs().dialogFolders.last(), QDir::toNativeSeparators(folder.path() + '/'));
  QVERIFY(PortAnswers(window));
  QVERIFY(window.idle());

  readOnly.reset();
  QCOMPARE(settings_->Read(kValueComName), simPort_);
  QCOMPARE(settings_->Read(kValuePathFileProg), std::string("/srv/firmware/"));
}

void SettingsTest::storedPortIsRestoredAndOpened() {
  settings_->Store(kValueComName, simPort_);
  settings_->Store(kValuePathFileProg, "/srv/firmware/");
  Window window(*settings_, {"ttyS0", simPort_});

  QVERIFY(window.dialogs().shown.empty());
  QCOMPARE(window.comboBox1()->currentText(), QString::fromStdString(simPort_));
  QVERIFY(PortAnswers(window));

  // The file dialog starts in the stored folder; cancelling it stores nothing.
  window.form().Open1Click();
  QCOMPARE(window.dialogs().dialogFolders, QStringList{QStringLiteral("/srv/firmware/")});
  QCOMPARE(window.dialogs().dialogFilter, QStringLiteral("Прошивки секторов flash (*.fls)"));
  QCOMPARE(settings_->Read(kValuePathFileProg), std::string("/srv/firmware/"));
  QVERIFY(window.log().size() == 64);
}

void SettingsTest::storedNameNotListed_data() {
  QTest::addColumn<QString>("stored");
  QTest::newRow("nothing chosen before: empty name") << "";
  QTest::newRow("port gone") << "ttyUSB7";
  QTest::newRow("name differs in case") << "TTYUSB0";
}

void SettingsTest::storedNameNotListed() {
  QFETCH(QString, stored);
  settings_->Store(kValueComName, stored.toStdString());
  settings_->Store(kValuePathFileProg, "/srv/firmware/");
  Window window(*settings_, {"ttyUSB0", simPort_});

  QCOMPARE(window.dialogs().shown, std::vector<Shown>{Plain(PortError(stored.toStdString()))});
  QCOMPARE(window.comboBox1()->currentIndex(), 0);
  QVERIFY(!window.form().Instrument().Port.IsOpen());
  QCOMPARE(window.form().InitialFolder(), QStringLiteral("/srv/firmware/"));
  QCOMPARE(settings_->Read(kValueComName), stored.toStdString());
  QVERIFY(window.log().isEmpty());  // faults at start-up are messages, never log lines
}

void SettingsTest::storedPortDoesNotOpen() {
  settings_->Store(kValueComName, kAbsentPort);
  Window window(*settings_, {kAbsentPort});

  QCOMPARE(window.dialogs().shown, std::vector<Shown>{Plain(PortError(kAbsentPort))});
  QCOMPARE(window.comboBox1()->currentIndex(), 0);
  QVERIFY(!window.form().Instrument().Port.IsOpen());
  QCOMPARE(settings_->Read(kValueComName), std::string(kAbsentPort));
}

void SettingsTest::choiceFromTheList_data() {
  QTest::addColumn<QStringList>("chosen");  // "sim" is the simulated instrument's entry
  QTest::addColumn<QString>("selected");
  QTest::addColumn<QString>("stored");
  QTest::addColumn<bool>("portError");
  QTest::addColumn<bool>("answers");

  QTest::newRow("a port that opens is stored") << QStringList{"sim"} << "sim"
                                               << "sim" << false << true;
  QTest::newRow("a port that fails goes back to no port")
      << QStringList{kAbsentPort} << kNoPort << "" << true << false;
  QTest::newRow("a failed choice closes the port opened before")
      << QStringList{"sim", kAbsentPort} << kNoPort << "sim" << true << false;
  QTest::newRow("no port keeps the open port and the stored name")
      << QStringList{"sim", kNoPort} << kNoPort << "sim" << false << true;
}

void SettingsTest::choiceFromTheList() {
  QFETCH(QStringList, chosen);
  QFETCH(QString, selected);
  QFETCH(QString, stored);
  QFETCH(bool, portError);
  QFETCH(bool, answers);
  const QString sim = QString::fromStdString(simPort_);
  const auto resolve = [&](const QString& name) { return name == "sim" ? sim : name; };

  Window window(*settings_, {simPort_, kAbsentPort});
  QComboBox* list = window.comboBox1();
  for (const QString& name : chosen) {
    const int index = list->findText(resolve(name));
    QVERIFY(index >= 0);
    list->setCurrentIndex(index);
    emit list->activated(index);
  }

  QCOMPARE(list->currentText(), resolve(selected));
  QCOMPARE(QString::fromStdString(settings_->Read(kValueComName)), resolve(stored));
  const std::vector<Shown> expected =
      portError ? std::vector<Shown>{Plain(PortError(kAbsentPort))} : std::vector<Shown>{};
  QCOMPARE(window.dialogs().shown, expected);
  QCOMPARE(PortAnswers(window), answers);
}

void SettingsTest::openCommand_data() {
  QTest::addColumn<QString>("second");  // what the second open command chooses
  QTest::addColumn<QString>("message");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<bool>("folderStored");
  QTest::addColumn<QString>("fileName");  // which file the run would read: first, second, none
  QTest::addColumn<bool>("failWrites");

  QTest::newRow("a good file") << "good"
                               << ""
                               << "" << true << "second" << false;
  QTest::newRow("one byte short") << "short"
                                  << "Неправильная длина файла"
                                  << "Ошибка" << true << "none" << false;
  QTest::newRow("one byte long") << "long"
                                 << "Неправильная длина файла"
                                 << "Ошибка" << true << "none" << false;
  QTest::newRow("missing") << "missing"
                           << "Не могу открыть файл"
                           << "Ошибка" << true << "none" << false;
  QTest::newRow("dialog cancelled") << "cancel"
                                    << ""
                                    << "" << false << "first" << false;
  QTest::newRow("folder cannot be stored: the file opens all the same")
      << "good"
      << "Failed to set data for 'PathFileProg'"
      << "Quorvex" << false << "second" << true;
}

void SettingsTest::openCommand() {
  QFETCH(QString, second);
  QFETCH(QString, message);
  QFETCH(QString, caption);
  QFETCH(bool, folderStored);
  QFETCH(QString, fileName);
  QFETCH(bool, failWrites);

  bool failing = false;
  Window window(*settings_, {}, {},
                std::make_unique<FailingRegistry>(settings_->Accessor(), failing));
  QTemporaryDir firstDir;
  QTemporaryDir secondDir;
  // The window keeps paths as the system writes them (\ on Windows).
  const QString firstFolder = QDir::toNativeSeparators(firstDir.path() + '/');
  const QString secondFolder = QDir::toNativeSeparators(secondDir.path() + '/');
  const FileBytes image = PatternImage(3);
  const QString first = WriteFirmware(firstDir, "first.fls", image);
  window.open(first);
  QCOMPARE(window.log(), QStringList{"Открыт файл: " + QDir::toNativeSeparators(first)});
  QCOMPARE(window.find<QLabel>("Label2")->text(),
           QStringLiteral("Загружена микропрограмма: first.fls"));

  QString path;
  if (second == "good") {
    path = WriteFirmware(secondDir, "second.fls", image);
  } else if (second == "short" || second == "long") {
    path = secondDir.filePath(QStringLiteral("second.fls"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(second == "short" ? 65'599 : 65'601, '\x5A'));
  } else if (second == "missing") {
    path = secondDir.filePath(QStringLiteral("second.fls"));
  }
  failing = failWrites;
  window.open(path);  // an empty path: the dialog is cancelled

  // The dialog started in the folder of the file chosen before.
  QCOMPARE(window.dialogs().dialogFolders, QStringList({"", firstFolder}));
  const std::vector<Shown> expected = message.isEmpty()
                                          ? std::vector<Shown>{}
                                          : std::vector<Shown>{{message, caption, 0x10, false}};
  QCOMPARE(window.dialogs().shown, expected);
  QCOMPARE(QString::fromStdString(settings_->Read(kValuePathFileProg)),
           folderStored ? secondFolder : firstFolder);

  const bool opened = second == "good";
  QStringList log{"Открыт файл: " + QDir::toNativeSeparators(first)};
  if (opened) log << "Открыт файл: " + QDir::toNativeSeparators(path);
  QCOMPARE(window.log(), log);
  // The label names the last file that opened, even after a refused one.
  QCOMPARE(window.find<QLabel>("Label2")->text(),
           QStringLiteral("Загружена микропрограмма: ") + (opened ? "second.fls" : "first.fls"));
  const QString held = QString::fromStdString(window.form().Instrument().FileName);
  QCOMPARE(held, QDir::toNativeSeparators(fileName == "first"    ? first
                                          : fileName == "second" ? path
                                                                 : QString()));
}

#ifdef QUORVEX_IN_PROCESS_INSTRUMENT
void SettingsTest::listReadWhenOpened_data() {
  QTest::addColumn<int>("key");
  QTest::addColumn<bool>("alt");
  QTest::newRow("Alt+Down") << int(Qt::Key_Down) << true;
  QTest::newRow("F4") << int(Qt::Key_F4) << false;
}

// An adapter plugged in while the window runs is listed when the list is next opened; the
// port in use stays listed, chosen and open although no probe can open it, and leaving the
// list with Escape chooses nothing.
void SettingsTest::listReadWhenOpened() {
  QFETCH(int, key);
  QFETCH(bool, alt);
  const auto open = [&](Window& window) {
    OpenList(window, static_cast<Qt::Key>(key), alt ? Qt::AltModifier : Qt::NoModifier);
  };
  const QString sim = QString::fromStdString(simPort_);
  Plugged plugged;
  plugged.names = {simPort_};
  settings_->Store(kValueComName, simPort_);
  Window window(plugged.Lister(), *settings_);
  QCOMPARE(window.comboBox1()->currentText(), sim);

  sim::SimulatedInstrument added;
  std::string error;
  QVERIFY2(added.Start(&error), error.c_str());
  const QString addedPort = QString::fromStdString(PortNameOf(added.PortPath()));
  plugged.names = {simPort_, PortNameOf(added.PortPath()), kAbsentPort};

  open(window);
  QCOMPARE(plugged.listings, 2);
  QStringList ports = window.entries();
  QCOMPARE(ports.takeFirst(), QString::fromUtf8(kNoPort));
  ports.sort();
  QStringList expected{sim, addedPort};
  expected.sort();
  QCOMPARE(ports, expected);
  QCOMPARE(window.comboBox1()->currentText(), sim);
  QTest::keyClick(window.comboBox1()->view(), Qt::Key_Escape);
  QTRY_VERIFY(!window.comboBox1()->view()->isVisible());
  QVERIFY(window.form().Instrument().Port.IsOpen());
  QVERIFY(PortAnswers(window));
  QCOMPARE(settings_->Read(kValueComName), simPort_);

  open(window);
  ChooseInList(window, addedPort);
  QCOMPARE(window.comboBox1()->currentText(), addedPort);
  QCOMPARE(settings_->Read(kValueComName), PortNameOf(added.PortPath()));
  added.ClearLog();
  QVERIFY(PortAnswers(window));
  QVERIFY(!added.Requests().empty());  // the listing went to the new port
  QVERIFY(window.dialogs().shown.empty());
}

void SettingsTest::replugged_data() {
  QTest::addColumn<QString>("after");  // the adapter's name once it is plugged back
  QTest::newRow("under another name") << "ttyUSB1";
  QTest::newRow("under the same name") << "ttyUSB0";
}

// The adapter in use is pulled out (its line hangs up, its name goes away) and plugged back:
// it is chosen from the list with the keyboard, and a listing goes through, without a restart.
void SettingsTest::replugged() {
  QFETCH(QString, after);
  QTemporaryDir dev;
  const std::string before = dev.filePath(QStringLiteral("ttyUSB0")).toStdString();
  const std::string back = dev.filePath(after).toStdString();
  std::unique_ptr<sim::SimulatedInstrument> adapter = PlugIn(before);
  QVERIFY(adapter);
  Plugged plugged;
  plugged.names = {before};
  settings_->Store(kValueComName, before);
  Window window(plugged.Lister(), *settings_);
  QCOMPARE(window.comboBox1()->currentText(), QString::fromStdString(before));
  QVERIFY(PortAnswers(window));

  adapter.reset();
  plugged.names.clear();
  window.form().Button2Click();  // the operator tries while it is out: the line is gone
  QCOMPARE(window.dialogs().shown.size(), std::size_t{1});

  adapter = PlugIn(back);
  QVERIFY(adapter);
  plugged.names = {back};
  OpenList(window, Qt::Key_Down, Qt::AltModifier);
  QVERIFY2(window.entries().contains(QString::fromStdString(back)),
           qPrintable(window.entries().join(QLatin1Char(' '))));
  ChooseInList(window, QString::fromStdString(back));

  QCOMPARE(window.comboBox1()->currentText(), QString::fromStdString(back));
  QCOMPARE(settings_->Read(kValueComName), back);
  QVERIFY(window.form().Instrument().Port.IsOpen());
  QVERIFY(PortAnswers(window));
  QCOMPARE(window.dialogs().shown.size(), std::size_t{1});
  QVERIFY(!adapter->Requests().empty());
}
#endif

QTEST_MAIN(SettingsTest)
#include "SettingsTest.moc"
