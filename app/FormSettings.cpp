// The window's stored settings: the port list (built at start-up and each time it is opened),
// the port and folder restored at start-up, and the one way every setting is written.
#include <QComboBox>
#include <QSignalBlocker>
#include <algorithm>

#include "Baseprog.h"
#include "PortEnumeration.h"
#include "Utf8Text.h"

namespace quorvex {
namespace {

const char* const kNoPort = "Не выбран";

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

// The entries: "Не выбран", the ports that open now, then the simulated instrument's. The
// entry chosen before stays chosen while it is listed; otherwise the list shows no port.
void TForm1::FillPortList() {
  const QString chosen = ComboBox1->currentIndex() > 0 ? ComboBox1->currentText() : QString();
  // Each candidate is probed through a port object of its own: the port in use stays open.
  TComPort probe({});
  std::vector<std::string> names = setup_.listPorts(probe);
  // The port this window holds cannot be opened a second time, so no probe finds it; it is
  // listed while it is open.
  const std::string inUse = chosen.toStdString();
  if (!inUse.empty() && Port && Port->IsOpen() && inUse != setup_.simulatorPort &&
      std::find(names.begin(), names.end(), inUse) == names.end()) {
    names.insert(std::upper_bound(names.begin(), names.end(), inUse, NaturalLess), inUse);
  }

  const QSignalBlocker quiet(ComboBox1);
  ComboBox1->clear();
  ComboBox1->addItem(QString::fromUtf8(kNoPort));
  for (const std::string& name : names) ComboBox1->addItem(FromUtf8(name));
  if (!setup_.simulatorPort.empty()) ComboBox1->addItem(FromUtf8(setup_.simulatorPort));
  const int kept = chosen.isEmpty() ? -1 : ComboBox1->findText(chosen);
  ComboBox1->setCurrentIndex(std::max(kept, 0));
}

// The operator opens the list. During a run the list stays as it is: the run's port is the
// only choice then, and probing the others would hold up the transfer.
void TForm1::RefreshPortList() {
  if (running_) return;
  FillPortList();
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

}  // namespace quorvex
