#include "Baseprog.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <exception>

#include "About.h"
#include "DesignFont.h"
#include "FirmwareFile.h"
#include "PortList.h"
#include "SectorKeyFilter.h"
#include "Sequences.h"
#include "Utf8Text.h"

namespace quorvex {
namespace {

const char* const kFirmwareLoaded = "Загружена микропрограмма: ";
const char* const kFirmwareFilter = "Прошивки секторов flash (*.fls)";

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

bool TForm1::Edit1KeyDown(int key) {
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
  focusNextChild();  // the next tab stop after Edit1: ButtonStart
  return true;
}

// Enter is taken by Edit1KeyDown; of the rest, the field gets what the filter's rule keeps.
bool TForm1::Edit1KeyPress(const QString& text, int key, Qt::KeyboardModifiers modifiers) {
  if (key == Qt::Key_Return || key == Qt::Key_Enter) return true;
  return SectorKeyFilter::Drops(text, key, modifiers);
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
  // The entry already chosen is opened anew as well: after its adapter hung up, choosing it
  // again is how the operator gets the port back.
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
