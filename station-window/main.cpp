// quorvex-station: the station window of a production line.
#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "AuditLog.h"
#ifndef _WIN32
#include "CloseOnSignal.h"
#endif
#include "Operator.h"
#include "OperatorDialogs.h"
#include "QuorvexVersion.h"
#include "SimulatedSlots.h"
#include "StationWindow.h"
#include "Translations.h"
#ifdef QUORVEX_HAVE_SIMULATOR
#include "SimulatedInstrument.h"
#endif

namespace {

const char* const kDescription =
    "The station window: every slot of a job programs each unit put on it, and shows the\n"
    "verdict until the unit is taken away. With --simulate every slot (4 when the job names\n"
    "none) gets simulated units coming and going, so the station can be tried without hardware.";

struct Arguments {
  QString job;  // empty: none
  QString logFile;
  bool start = false;
  bool simulate = false;
};

Arguments ReadArguments(const QCoreApplication& application) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromUtf8(kDescription));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption logFile(
      QStringLiteral("log-file"),
      QStringLiteral("Append the audit record of every unit to PATH, one JSON line each."),
      QStringLiteral("PATH"));
  const QCommandLineOption start(QStringLiteral("start"),
                                 QStringLiteral("Start the station on the job at once."));
  const QCommandLineOption simulate(
      QStringLiteral("simulate"),
      QStringLiteral("Give every slot simulated units coming and going instead of its port."));
  parser.addOption(logFile);
  parser.addOption(start);
  parser.addOption(simulate);
  parser.addPositionalArgument(QStringLiteral("JOB.toml"), QStringLiteral("The job to open."));
  parser.process(application);
  const QStringList positional = parser.positionalArguments();
  if (positional.size() > 1) parser.showHelp(2);
  return {positional.value(0), parser.value(logFile), parser.isSet(start), parser.isSet(simulate)};
}

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
  QCoreApplication::setApplicationName(QStringLiteral("quorvex-station"));
  QCoreApplication::setApplicationVersion(QLatin1String(quorvex::kVersion));
}

#ifdef QUORVEX_HAVE_SIMULATOR
// Every slot of the job, or four when it names none, on simulated units paced as on a line.
// The instruments of the last start live until the next start's are made, after the station
// that used them has ended.
quorvex::SlotSource SimulatedSlots() {
  auto instruments =
      std::make_shared<std::vector<std::unique_ptr<quorvex::sim::SimulatedInstrument>>>();
  return [instruments](const quorvex::station::Job& job,
                       std::vector<quorvex::station::SlotSpec>* slots, std::string* error) {
    const std::size_t count =
        job.slots.empty() ? quorvex::station::kSimulatedSlots : job.slots.size();
    instruments->clear();
    slots->clear();
    for (std::size_t i = 0; i < count; ++i) {
      quorvex::sim::Options options;
      options.pace = true;
      options.comeAndGo =
          quorvex::sim::ComeAndGo{quorvex::station::SimulatedUnitPresent(job.sectors.size()),
                                  quorvex::station::SimulatedSlotEmpty(i)};
      auto instrument = std::make_unique<quorvex::sim::SimulatedInstrument>(std::move(options));
      std::string why;
      if (!instrument->Start(&why)) {
        *error = "Имитатор прибора не запустился: " + why;
        return false;
      }
      slots->push_back({"sim" + std::to_string(i + 1), instrument->PortPath()});
      instruments->push_back(std::move(instrument));
    }
    return true;
  };
}
#endif

}  // namespace

int main(int argc, char* argv[]) {
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
    std::fputs(
        "quorvex-station: Qt's Russian translations (qtbase_ru.qm) were not found beside the "
        "program or in Qt's translations folder; the file dialog and the message boxes' buttons "
        "will be in English\n",
        stderr);
  }

  quorvex::QtOperatorDialogs dialogs;
  quorvex::StationWindow::Setup setup;
  setup.dialogs = &dialogs;
  if (!arguments.logFile.isEmpty()) {
    std::string error;
    auto file = quorvex::OpenAppendFile(arguments.logFile.toStdString(), &error);
    if (!file) {
      dialogs.MessageBox(QStringLiteral("Журнал %1 не открывается для записи:\n%2")
                             .arg(arguments.logFile, QString::fromUtf8(error)),
                         QStringLiteral("Quorvex — станция"), quorvex::kMbIconError);
      return 2;
    }
    setup.audit = std::make_shared<quorvex::AuditLog>(std::move(file));
  }
  if (arguments.simulate) {
#ifdef QUORVEX_HAVE_SIMULATOR
    setup.slots = SimulatedSlots();
#else
    dialogs.MessageBox(QStringLiteral("В этой сборке нет имитатора прибора."),
                       QStringLiteral("Quorvex — станция"), quorvex::kMbIconError);
    return 2;
#endif
  }

  quorvex::StationWindow window(std::move(setup));
#ifndef _WIN32
  // A service manager's stop or a closed terminal closes the window: a running station stops.
  const quorvex::CloseOnSignal closeOnSignal(window);
#endif
  window.show();
  if (!arguments.job.isEmpty()) {
    QTimer::singleShot(0, &window, [&window, &arguments] {
      if (window.OpenJob(arguments.job) && arguments.start) window.StartStation();
    });
  }
  return QApplication::exec();
}
