#include "Baseprog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <exception>

#include "About.h"
#include "DesignFont.h"
#include "FirmwareFile.h"
#include "PortEnumeration.h"
#include "Sequences.h"

namespace quorvex {
namespace {

constexpr int kClientWidth = 519;
constexpr int kClientHeight = 429;
const char* const kNoPort = "Не выбран";
const char* const kFirmwareLoaded = "Загружена микропрограмма: ";
const char* const kFirmwareFilter = "Прошивки секторов flash (*.fls)";

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

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

// The settings of this session in memory, starting from what the store holds now.
std::unique_ptr<RegistryAccessor> SessionCopyOf(RegistryAccessor& store) {
  auto session = MakeSessionRegistryAccessor();
  session->SetRootKey(RootKey::LocalMachine);
  session->OpenKey(kSettingsKey, true);
  for (const char* name : {kValueComName, kValuePathFileProg}) {
    session->WriteString(name, store.ReadString(name));
  }
  return session;
}

}  // namespace

template <typename Body>
void TForm1::Guarded(Body body) {
  try {
    body();
  } catch (const std::exception& error) {
    ShowException(*this, error.what());
  }
}

TForm1::TForm1(Setup setup)
    : QMainWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                               Qt::MSWindowsFixedSizeDialogHint),
      setup_(std::move(setup)) {
  if (!setup_.dialogs) setup_.dialogs = std::make_unique<QtOperatorDialogs>();
  if (!setup_.listPorts) setup_.listPorts = ListOpenablePorts;
  CreateControls();
}

TForm1::~TForm1() = default;

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
  Edit1->installEventFilter(this);
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
  ComboBox1 = Place(new QComboBox(client), "ComboBox1", 222, 12, 100, 21);
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

void TForm1::FormCreate() {
  Registry = setup_.registry ? std::move(setup_.registry) : MakeRegistryAccessor();
  Port = std::make_unique<TComPort>([this](std::string_view text) { PlainMessage(text); });
  device_ = std::make_unique<Device>(*Port, *this);
  Registry->SetRootKey(RootKey::LocalMachine);
  device_->FileName.clear();
  SetLabel2(QString());
  FillPortList();
  RestoreSettings();
  // Faults of the steps above were shown as messages, so the log starts empty.
  Memo1->clear();
}

void TForm1::FillPortList() {
  ComboBox1->clear();
  ComboBox1->addItem(QString::fromUtf8(kNoPort));
  for (const std::string& name : setup_.listPorts(*Port)) ComboBox1->addItem(FromUtf8(name));
  if (!setup_.simulatorPort.empty()) ComboBox1->addItem(FromUtf8(setup_.simulatorPort));
}

void TForm1::RestoreSettings() {
  if (Registry->KeyExists(kSettingsKey)) {
    Registry->OpenKey(kSettingsKey, false);
    if (setup_.simulatorPort.empty()) {
      const std::string stored = Registry->ReadString(kValueComName);
      int found = -1;
      for (int i = 1; i < ComboBox1->count() && found < 0; ++i) {
        if (ComboBox1->itemText(i).toStdString() == stored) found = i;
      }
      if (found > 0) {
        ComboBox1->setCurrentIndex(found);
        if (!Port->Open(PortPathOf(stored))) {
          Port->Close();
          ComboBox1->setCurrentIndex(0);
        }
      } else {
        ComboBox1->setCurrentIndex(0);
        PlainMessage(kPortOpenFailed + stored);
      }
    }
    initialFolder_ = FromUtf8(Registry->ReadString(kValuePathFileProg));
  } else {
    CreateSettings();
    initialFolder_.clear();
    ComboBox1->setCurrentIndex(0);
  }

  if (!setup_.simulatorPort.empty()) {
    // The simulated instrument takes the stored port's place for this session only.
    const int entry = ComboBox1->count() - 1;
    ComboBox1->setCurrentIndex(entry);
    if (!Port->Open(PortPathOf(setup_.simulatorPort))) {
      Port->Close();
      ComboBox1->setCurrentIndex(0);
    }
    if (!setup_.simulatorFolder.empty()) initialFolder_ = FromUtf8(setup_.simulatorFolder);
  }
}

// The first start stores both values, empty.
void TForm1::CreateSettings() {
  StoreSetting(kValueComName, "");
  StoreSetting(kValuePathFileProg, "");
}

// Every write of a setting goes through here. A store that cannot be written (a folder left by
// a run as another user, a read-only home, a full disk) is reported once through the standard
// error display; the window then keeps its settings in memory for the rest of the session, so
// later writes succeed there and are not reported again, and what the operator asked for goes
// on. The next start tries the store again.
void TForm1::StoreSetting(const char* name, const std::string& value) {
  try {
    Registry->OpenKey(kSettingsKey, true);
    Registry->WriteString(name, value);
    return;
  } catch (const RegistryError& error) {
    ShowException(*this, error.what());
  }
  Registry = SessionCopyOf(*Registry);
  Registry->WriteString(name, value);
}

void TForm1::FormClose() {
  // Nothing runs any more: the port is released now, the objects with the window.
  if (Port) Port->Close();
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (running_) {
    // The run still uses the port and the buffers: stop it as Cancel does, and close when it
    // has returned.
    closeAfterRun_ = true;
    ButtonStopClick();
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!centred_) {
    centred_ = true;
    CentreOnScreen(*this);
  }
}

// Operator

void TForm1::Log(std::string_view line) { Memo1->appendPlainText(FromUtf8(line)); }

int TForm1::MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
  return setup_.dialogs->MessageBox(FromUtf8(text), FromUtf8(caption), flags);
}

void TForm1::PlainMessage(std::string_view text) { setup_.dialogs->PlainMessage(FromUtf8(text)); }

void TForm1::SetProgress(int position) { ProgressBar1->setValue(position); }

void TForm1::ProcessMessages() { QCoreApplication::processEvents(); }

std::string TForm1::SectorText() { return Edit1->text().toStdString(); }

void TForm1::Beep() { setup_.dialogs->Beep(); }

// The sector-number field

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Edit1 && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<const QKeyEvent*>(event);
    Edit1KeyDown(key->key());
    return Edit1KeyPress(key->text(), key->key(), key->modifiers());
  }
  return QMainWindow::eventFilter(watched, event);
}

bool TForm1::Edit1KeyDown(int key) {
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
  focusNextChild();  // the next tab stop after Edit1: ButtonStart
  return true;
}

// Digits and backspace pass; every other character is dropped. Keys that move the focus or
// the cursor or delete (Tab, Shift+Tab, Delete, the arrows, Home, End, Escape) keep their
// usual effect, although some of them carry a control character as their text. Keys that
// type nothing (Shift+Insert) pass, except Control with a letter, which types a control
// character: Ctrl+V does not paste here, Shift+Insert and the context menu do.
bool TForm1::Edit1KeyPress(const QString& text, int key, Qt::KeyboardModifiers modifiers) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) return true;
  switch (key) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Escape:
      return false;
    default:
      break;
  }
  if (text.isEmpty()) {
    return modifiers.testFlag(Qt::ControlModifier) && key >= Qt::Key_A && key <= Qt::Key_Z;
  }
  for (const QChar c : text) {
    if (!(c >= QLatin1Char('0') && c <= QLatin1Char('9')) && c != QLatin1Char('\b')) return true;
  }
  return false;
}

// Commands

void TForm1::SetProgrammingState(bool programming) {
  if (programming) {
    ButtonStart->setEnabled(false);
    Button2->setEnabled(false);
    Fail1->menuAction()->setEnabled(false);
    N3->setEnabled(false);
    Button1->setEnabled(false);
    ButtonStop->setEnabled(true);
    Edit1->setEnabled(false);
  } else {
    ButtonStart->setEnabled(true);
    Button2->setEnabled(true);
    Button1->setEnabled(true);
    ButtonStop->setEnabled(false);
    Edit1->setEnabled(true);
    Fail1->menuAction()->setEnabled(true);
    N3->setEnabled(true);
  }
}

void TForm1::ButtonStartClick() {
  SetProgrammingState(true);
  running_ = true;
  runEntry_ = ComboBox1->currentIndex();
  Guarded([this] { RunProgramming(*device_, *this); });
  running_ = false;
  SetProgrammingState(false);
  if (closeAfterRun_) {
    closeAfterRun_ = false;
    close();
  }
}

void TForm1::ButtonStopClick() {
  ButtonStop->setEnabled(false);
  device_->StopRequested = 1;
}

void TForm1::Button1Click() {
  Guarded([this] { ClearSector(*device_, *this); });
}

void TForm1::Button2Click() {
  Guarded([this] { ListSectors(*device_, *this); });
}

void TForm1::ComboBox1Change(int index) {
  if (running_) {
    // The run goes on through the port it started with.
    ComboBox1->setCurrentIndex(runEntry_);
    return;
  }
  if (index <= 0) return;
  Guarded([this, index] {
    const std::string name = ComboBox1->itemText(index).toStdString();
    if (Port->Open(PortPathOf(name))) {
      if (name != setup_.simulatorPort) StoreSetting(kValueComName, name);
    } else {
      ComboBox1->setCurrentIndex(0);
      Port->Close();
    }
  });
}

void TForm1::Open1Click() {
  Guarded([this] {
    const QString path =
        setup_.dialogs->ChooseFile(this, initialFolder_, QString::fromUtf8(kFirmwareFilter));
    if (!path.isEmpty()) OpenFirmwareFile(path);
  });
}

void TForm1::OpenFirmwareFile(const QString& chosen) {
  const std::string path = QDir::toNativeSeparators(chosen).toStdString();
  device_->FileName = path;
  // The folder is stored before the file is tested, so it is kept even for a refused file.
  const std::string folder = FolderOf(path);
  initialFolder_ = FromUtf8(folder);
  StoreSetting(kValuePathFileProg, folder);
  if (device_->OpenFirmware(path)) return;
  SetLabel2(QString::fromUtf8(kFirmwareLoaded) + FromUtf8(FileNameOf(path)));
}

void TForm1::N3Click() {
  Guarded([this] {
    TForm3 about(this);
    about.exec();
  });
}

void TForm1::SetLabel2(const QString& text) {
  Label2->setText(text);
  Label2->resize(Label2->sizeHint().width(), std::max(13, Label2->sizeHint().height()));
}

}  // namespace quorvex
