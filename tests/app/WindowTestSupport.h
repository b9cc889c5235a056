#pragma once

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Baseprog.h"
#include "FirmwareFile.h"
#include "FirmwareImage.h"
#include "OperatorDialogs.h"
#include "RegistryAccessor.h"
#include "SampleFirmware.h"

namespace quorvex::test {

// One message the window showed: a message box, or a plain message (caption "Quorvex").
struct Shown {
  QString text;
  QString caption;
  unsigned flags = 0;
  bool plain = false;
  bool operator==(const Shown&) const = default;
};

// How QCOMPARE prints what was shown when it differs.
inline char* toString(const std::vector<Shown>& shown) {
  QStringList lines;
  for (const Shown& s : shown) {
    lines << QStringLiteral("[%1 | %2 | 0x%3%4]")
                 .arg(s.text, s.caption)
                 .arg(s.flags, 2, 16, QLatin1Char('0'))
                 .arg(s.plain ? QStringLiteral(" plain") : QString());
  }
  return qstrdup(lines.join(QLatin1Char(' ')).toUtf8().constData());  // readable Cyrillic
}
inline Shown Box(const char* text, const char* caption, unsigned flags = 0x10) {
  return {QString::fromUtf8(text), QString::fromUtf8(caption), flags, false};
}
inline Shown Plain(const QString& text) { return {text, QStringLiteral("Quorvex"), 0, true}; }

// Stands in for every modal dialog of the window: records what it is shown and answers from
// a script. Questions without a scripted answer get No; a file dialog without one is cancelled.
class RecordingDialogs final : public OperatorDialogs {
 public:
  int MessageBox(const QString& text, const QString& caption, unsigned flags) override {
    shown.push_back({text, caption, flags, false});
    if (onMessage) onMessage();
    if ((flags & 0x0F) != 0x04) return 1;  // IDOK
    if (answers.empty()) return 7;         // IDNO
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void PlainMessage(const QString& text) override {
    shown.push_back(Plain(text));
    if (onMessage) onMessage();
  }
  QString ChooseFile(QWidget*, const QString& folder, const QString& filter) override {
    dialogFolders.push_back(folder);
    dialogFilter = filter;
    if (files.empty()) return {};
    const QString file = files.front();
    files.pop_front();
    return file;
  }
  void Beep() override { ++beeps; }

  std::vector<Shown> shown;
  std::deque<int> answers;  // IDYES = 6, IDNO = 7
  std::deque<QString> files;
  QStringList dialogFolders;
  QString dialogFilter;
  int beeps = 0;
  std::function<void()> onMessage;
};

// A settings file of the test's own, seen through fresh accessors as the next start sees it.
class SettingsFile {
 public:
  SettingsFile() : path_(dir_.filePath(QStringLiteral("settings.ini")).toStdString()) {}
  [[nodiscard]] std::unique_ptr<RegistryAccessor> Accessor() const {
    return MakeFileRegistryAccessor(path_);
  }
  void Store(const char* name, const std::string& value) const {
    auto registry = Accessor();
    registry->SetRootKey(RootKey::LocalMachine);
    registry->OpenKey(kSettingsKey, true);
    registry->WriteString(name, value);
  }
  [[nodiscard]] bool KeyExists() const {
    auto registry = Accessor();
    registry->SetRootKey(RootKey::LocalMachine);
    return registry->KeyExists(kSettingsKey);
  }
  [[nodiscard]] std::string Read(const char* name) const {
    auto registry = Accessor();
    registry->SetRootKey(RootKey::LocalMachine);
    registry->OpenKey(kSettingsKey, false);
    return registry->ReadString(name);
  }
  [[nodiscard]] QString Folder() const { return dir_.path(); }

 private:
  QTemporaryDir dir_;
  std::string path_;
};

// Takes the write permission of a folder away while it lives, as a folder left behind by a run
// as another user does.
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(QString path)
      : path_(std::move(path)), before_(QFile::permissions(path_)) {
    QFile::setPermissions(path_, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadUser |
                                     QFile::ExeUser | QFile::ReadGroup | QFile::ExeGroup |
                                     QFile::ReadOther | QFile::ExeOther);
  }
  ~ReadOnlyFolder() { QFile::setPermissions(path_, before_); }
  ReadOnlyFolder(const ReadOnlyFolder&) = delete;
  ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

  // False where the process writes anyway (root).
  [[nodiscard]] bool Blocks() const {
    QFile probe(path_ + QStringLiteral("/write-probe"));
    if (!probe.open(QIODevice::WriteOnly)) return true;
    probe.close();
    probe.remove();
    return false;
  }

 private:
  QString path_;
  QFile::Permissions before_;
};

// The window as the tests drive it: controls found by their names, dialogs recorded.
class Window {
 public:
  // `ports`: what the port enumeration finds; `simulatorPort`: listed and opened as with
  // --simulate; `registry`: the settings store, the settings file's when empty.
  explicit Window(const SettingsFile& settings, std::vector<std::string> ports = {},
                  std::string simulatorPort = {},
                  std::unique_ptr<RegistryAccessor> registry = nullptr)
      : Window([ports = std::move(ports)](TComPort&) { return ports; }, settings,
               std::move(simulatorPort), std::move(registry)) {}
  // `listPorts`: the port enumeration itself, called at start-up and each time the list opens.
  Window(std::function<std::vector<std::string>(TComPort&)> listPorts, const SettingsFile& settings,
         std::string simulatorPort = {}, std::unique_ptr<RegistryAccessor> registry = nullptr) {
    auto dialogs = std::make_unique<RecordingDialogs>();
    dialogs_ = dialogs.get();
    TForm1::Setup setup;
    setup.dialogs = std::move(dialogs);
    setup.registry = registry ? std::move(registry) : settings.Accessor();
    setup.listPorts = std::move(listPorts);
    setup.simulatorPort = std::move(simulatorPort);
    form_ = std::make_unique<TForm1>(std::move(setup));
    form_->FormCreate();
  }

  TForm1& form() { return *form_; }
  RecordingDialogs& dialogs() { return *dialogs_; }
  template <typename T = QWidget>
  T* find(const char* name) {
    return form_->findChild<T*>(QString::fromLatin1(name));
  }
  QPushButton* button(const char* name) { return find<QPushButton>(name); }
  QLineEdit* edit1() { return find<QLineEdit>("Edit1"); }
  QComboBox* comboBox1() { return find<QComboBox>("ComboBox1"); }

  [[nodiscard]] QStringList log() {
    const QString text = find<QPlainTextEdit>("Memo1")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
  }
  [[nodiscard]] QStringList entries() {
    QStringList items;
    for (int i = 0; i < comboBox1()->count(); ++i) items << comboBox1()->itemText(i);
    return items;
  }
  // The menu's open command with `path` chosen in the dialog.
  void open(const QString& path) {
    dialogs_->files.push_back(path);
    form_->Open1Click();
  }
  // Idle: every command enabled, Cancel disabled.
  [[nodiscard]] bool idle() {
    return button("ButtonStart")->isEnabled() && button("Button1")->isEnabled() &&
           button("Button2")->isEnabled() && edit1()->isEnabled() &&
           !button("ButtonStop")->isEnabled() && action("Fail1Item")->isEnabled() &&
           action("N3")->isEnabled();
  }
  // Programming: every command disabled, Cancel enabled, the port list still usable.
  [[nodiscard]] bool programming() {
    return !button("ButtonStart")->isEnabled() && !button("Button1")->isEnabled() &&
           !button("Button2")->isEnabled() && !edit1()->isEnabled() &&
           button("ButtonStop")->isEnabled() && !action("Fail1Item")->isEnabled() &&
           !action("N3")->isEnabled() && comboBox1()->isEnabled();
  }
  QAction* action(const char* name) {
    return form_->findChild<QAction*>(QString::fromLatin1(name));
  }

 private:
  RecordingDialogs* dialogs_ = nullptr;
  std::unique_ptr<TForm1> form_;
};

// The log of a programming run that went through.
inline const QStringList kProgrammingLog{
    "Чтение файла...",     "ОК", "Чтение информации о секторе...", "ОК", "Стирание...", "ОК",
    "Программирование...", "ОК"};

// An image with a recognisable pattern; its information block source names the firmware.
inline FileBytes PatternImage(std::uint8_t seed) { return SampleImage("TESTFW", true, seed); }

// Writes the .fls file of `image` into `dir`.
inline QString WriteFirmware(const QTemporaryDir& dir, const char* name, const FileBytes& image) {
  const QString path = dir.filePath(QString::fromLatin1(name));
  WriteFirmwareFile(path.toStdString(), image);
  return path;
}

// Runs `action` once the event loop is next entered: inside the transfer's message
// processing when a command is started right after. Dropped if `context` goes first.
inline void SoonDo(QObject* context, std::function<void()> action) {
  QTimer::singleShot(0, context, std::move(action));
}

}  // namespace quorvex::test
