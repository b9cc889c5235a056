// quorvex: the operator's window.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "Baseprog.h"
#ifndef _WIN32
#include "CloseOnSignal.h"
#endif
#include "DesignFont.h"
#include "OperatorDialogs.h"
#include "QuorvexVersion.h"
#include "SampleFirmware.h"
#include "Screenshots.h"
#include "StandardDescriptors.h"
#include "Translations.h"
#include "Utf8Text.h"
#ifdef QUORVEX_HAVE_SIMULATOR
#include "SimulatedInstrument.h"
#endif

namespace {

// The name of the demonstration firmware, "Демо" in Windows-1251 as the instrument stores it.
constexpr std::string_view kDemoName = "\xC4\xE5\xEC\xEE";

// Reports an error that escaped start-up; nothing else of the operator is needed then.
class StartupOperator final : public quorvex::Operator {
 public:
  void Log(std::string_view) override {}
  int MessageBox(std::string_view text, std::string_view caption, unsigned flags) override {
    return dialogs_.MessageBox(quorvex::FromUtf8(text), quorvex::FromUtf8(caption), flags);
  }
  void PlainMessage(std::string_view) override {}
  void SetProgress(int) override {}
  void ProcessMessages() override {}
  std::string SectorText() override { return {}; }
  void Beep() override {}

 private:
  quorvex::QtOperatorDialogs dialogs_;
};

const char* const kDescription =
    "Quorvex writes firmware into the flash sectors of the \"ЗЕЛТАР-R52 VX 8\" scanner over a\n"
    "serial line, lists what each sector holds and clears a sector's information block.\n"
    "\n"
    "With --simulate a simulated instrument starts inside the program: it is listed and\n"
    "selected in the port list, and the open dialog starts in a folder holding a demo\n"
    "firmware file (demo.fls), so the whole job can be tried without hardware.";

struct Arguments {
  bool simulate = false;
  QString screenshots;  // empty: none
};

// The options, read from the running application (Qt's own options, such as -platform, are
// gone from the command line by then). A wrong option ends the program here.
Arguments ReadArguments(const QCoreApplication& application) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromUtf8(kDescription));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption simulate(
      QStringLiteral("simulate"),
      QStringLiteral("Start a simulated instrument inside the program and select its port."));
  parser.addOption(simulate);
  QCommandLineOption screenshots(
      QStringLiteral("screenshots"),
      QStringLiteral("Save pictures of the windows in FOLDER, then quit."),
      QStringLiteral("FOLDER"));
  screenshots.setFlags(QCommandLineOption::HiddenFromHelp);
  parser.addOption(screenshots);
  parser.process(application);
  return {parser.isSet(simulate), parser.value(screenshots)};
}

// --help and --version answer without a display: no window system is started for them.
bool AsksForHelpOrVersion(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument(argv[i]);
    if (argument == "-h" || argument == "--help" || argument == "-?" || argument == "--help-all" ||
        argument == "-v" || argument == "--version") {
      return true;
    }
  }
  return false;
}

void SetIdentity() {
  QCoreApplication::setApplicationName(QString::fromUtf8(quorvex::kApplicationTitle));
  QCoreApplication::setApplicationVersion(QLatin1String(quorvex::kVersion));
}

}  // namespace

int main(int argc, char* argv[]) {
  // Before anything is opened: no port or file may take the place of a closed stdout.
  quorvex::KeepStandardDescriptorsTaken();
  if (AsksForHelpOrVersion(argc, argv)) {
    QCoreApplication core(argc, argv);
    SetIdentity();
    ReadArguments(core);  // prints the help or the version and ends the program
    return 0;
  }
  QApplication app(argc, argv);
  SetIdentity();
  const Arguments arguments = ReadArguments(app);
  if (!quorvex::InstallQtTranslations(quorvex::QtTranslationFolders())) {
    // The window works on; only Qt's own dialogs and buttons are English.
    std::fputs(
        "quorvex: Qt's Russian translations (qtbase_ru.qm) were not found beside the program or "
        "in Qt's translations folder; the file dialog and the message boxes' buttons will be "
        "in English\n",
        stderr);
  }

  try {
    quorvex::TForm1::Setup setup;
    QTemporaryDir demoFolder;
    QString demoFile;
#ifdef QUORVEX_HAVE_SIMULATOR
    std::optional<quorvex::sim::SimulatedInstrument> instrument;
    if (arguments.simulate) {
      instrument.emplace();
      std::string error;
      if (!instrument->Start(&error)) {
        throw std::runtime_error("The simulated instrument did not start: " + error);
      }
      setup.simulatorPort = quorvex::PortNameOf(instrument->PortPath());
      if (demoFolder.isValid()) {
        demoFile = demoFolder.filePath(QStringLiteral("demo.fls"));
        if (quorvex::WriteFirmwareFile(demoFile.toStdString(),
                                       quorvex::SampleImage(kDemoName, true))) {
          setup.simulatorFolder = QDir::toNativeSeparators(demoFolder.path() + '/').toStdString();
        } else {
          demoFile.clear();
        }
      }
    }
#else
    if (arguments.simulate) {
      throw std::runtime_error("This build has no simulated instrument");
    }
#endif

    quorvex::TForm1 window(std::move(setup));
#ifndef _WIN32
    // A service manager's stop or a closed terminal closes the window, from start-up on.
    const quorvex::CloseOnSignal closeOnSignal(window);
#endif
    window.FormCreate();
#ifndef _WIN32
    // Told to end while a start-up message was up: the window was closed before it showed.
    if (closeOnSignal.Asked()) return 0;
#endif
    window.show();
    if (!arguments.screenshots.isEmpty()) {
      const QString folder = arguments.screenshots;
      QTimer::singleShot(200, &window, [&window, folder, demoFile] {
        quorvex::TakeScreenshots(window, folder, demoFile);
      });
    }
    // Start-up measurement (quorvex-bench): report once the window is up, then quit.
    if (qEnvironmentVariable("QUORVEX_EXIT_WHEN_SHOWN") == QLatin1String("1")) {
      QTimer::singleShot(0, &window, [] {
        std::fputs("shown\n", stdout);
        std::fflush(stdout);
        QCoreApplication::quit();
      });
    }
    QApplication::exec();
  } catch (const std::exception& error) {
    StartupOperator op;
    quorvex::ShowException(op, error.what());
  }
  return 0;
}
