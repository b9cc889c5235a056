#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Device.h"
#include "Operator.h"
#include "OperatorDialogs.h"
#include "RegistryAccessor.h"
#include "TComPort.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace quorvex {

// The main window: the operator's controls, the log, and the device objects it owns for its
// whole life. It is also the operator the device code reports to.
//
// The controls keep their design names. What each one is:
//   ButtonStart   "Программирование": the whole programming run
//   ButtonStop    "Отмена": asks a running transfer to stop
//   Button1       "Стирание сектора": clears the information block of the sector in Edit1
//   Button2       "Информация о секторах": lists the information blocks of all 64 sectors
//   Edit1         the sector number, 1 to 64 (digits only)
//   ComboBox1     the port list; its first entry "Не выбран" is no port
//   Memo1         the log
//   ProgressBar1  the transfer's progress, 0 to 100
//   Label1        "Номер сектора (1-64):", the caption of Edit1
//   Label2        the name of the firmware file that opened last
//   Label3        "COM порт", the caption of ComboBox1
//   MainMenu1     the menu bar
//   Fail1         the "Файл" menu; Open1 its "Открыть" command (the file dialog, OpenDialog1)
//   N3            "О программе": the About window (TForm3)
//
// Construction builds the controls only; FormCreate() is the start-up step that reads the
// settings, lists the ports and opens the stored one. The port list is read again each time
// the operator opens it. The program calls it right after
// construction, before showing the window; a test can look at the window in between.
class TForm1 final : public QMainWindow, public Operator {
  Q_OBJECT

 public:
  // What the window is built from; every part left empty takes the real one.
  struct Setup {
    std::unique_ptr<OperatorDialogs> dialogs;    // message boxes, file dialog, beep
    std::unique_ptr<RegistryAccessor> registry;  // the stored settings
    std::function<std::vector<std::string>(TComPort&)> listPorts;  // the openable ports
    // A simulated instrument inside the process: its port's name is listed as an entry of its
    // own and opened at start-up in place of the stored port, which it never replaces.
    std::string simulatorPort;
    std::string simulatorFolder;  // where its demonstration firmware file lies
  };

  explicit TForm1(Setup setup = {});
  ~TForm1() override;

  // The start-up: the settings, the port list and the stored port. Called once.
  void FormCreate();

  // Operator
  void Log(std::string_view line) override;
  int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override;
  void PlainMessage(std::string_view text) override;
  void SetProgress(int position) override;
  void ProcessMessages() override;
  std::string SectorText() override;
  void Beep() override;
  // The window closed during a run. Messages run only inside the transfer and the message
  // boxes, so a close is seen there; the run then stops before its next request.
  bool StopAsked() override { return closeAfterRun_; }

  // The same steps as the menu's open command once a path is chosen.
  void OpenFirmwareFile(const QString& path);
  [[nodiscard]] bool Running() const { return running_; }
  [[nodiscard]] const Device& Instrument() const { return *device_; }
  [[nodiscard]] const QString& InitialFolder() const { return initialFolder_; }

  // Handlers, named after their control and event.
  void ButtonStartClick();
  void ButtonStopClick();
  void Button1Click();
  void Button2Click();
  void ComboBox1Change(int index);
  void Open1Click();
  void N3Click();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void CreateControls();
  void FillPortList();
  void RefreshPortList();
  void RestoreSettings();
  void CreateSettings();
  void StoreSetting(const char* name, const std::string& value);
  void FormClose();
  bool Edit1KeyDown(int key);
  bool Edit1KeyPress(const QString& text, int key, Qt::KeyboardModifiers modifiers);
  void SetProgrammingState(bool programming);
  void SetLabel2(const QString& text);
  // Runs a handler's body; an exception that escapes it gets the standard error display.
  template <typename Body>
  void Guarded(Body body);

  QPushButton* ButtonStart = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QMenuBar* MainMenu1 = nullptr;
  QMenu* Fail1 = nullptr;
  QAction* Open1 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QPushButton* ButtonStop = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QAction* N3 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QComboBox* ComboBox1 = nullptr;

  Setup setup_;
  std::unique_ptr<RegistryAccessor> Registry;
  std::unique_ptr<TComPort> Port;
  std::unique_ptr<Device> device_;
  QString initialFolder_;  // OpenDialog1's folder

  bool running_ = false;
  int runEntry_ = 0;  // the list entry of the port a run uses
  bool closeAfterRun_ = false;
  bool centred_ = false;
};

}  // namespace quorvex
