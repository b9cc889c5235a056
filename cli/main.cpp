// quorvex-cli: the programmer's commands from a terminal or a script.
#include <CLI/CLI.hpp>

#include <csignal>
#include <exception>
#include <optional>
#include <string>

#include "CommandLine.h"
#include "Commands.h"
#include "ExitCode.h"
#include "Interrupt.h"
#include "QuorvexVersion.h"
#include "StandardDescriptors.h"
#include "StandardStreams.h"

#ifdef _WIN32
#include "ConsoleCodePages.h"
#endif

namespace {

using namespace quorvex::cli;

int Run(int argc, char** argv) {
  CLI::App app{
      "Quorvex: writes firmware into the 64 flash sectors of the scanner \"ЗЕЛТАР-R52 VX 8\".\n"
      "Log lines go to stdout, messages to stderr as CAPTION: TEXT.\n"
      "Exit codes: 0 done, 1 a failure was reported, 2 bad arguments or unusable file,\n"
      "3 stopped (Ctrl-C, SIGTERM, SIGHUP), 4 the overwrite was declined.",
      "quorvex-cli"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("quorvex-cli ") + quorvex::kVersion);
  GlobalOptions options;
  app.add_option("-p,--port", options.ports,
                 "port name from 'ports' (ttyUSB0, COM3), a path, usb:SERIAL (the port of the "
                 "USB adapter with that serial number), or usb-path:LOC (the port plugged in at "
                 "that USB location, as 'ports -l' shows it: 1-1.3); give it once per instrument "
                 "to work on several at once; default: the stored one");
  app.add_flag("--simulate", options.simulate,
               "run a simulated instrument in this process and talk to it over a pseudo-terminal");
  app.add_flag("-y,--yes", options.yes, "answer Yes when asked to overwrite a written sector");
  app.add_flag("-q,--quiet", options.quiet, "no progress bar");
  app.add_flag("--json", options.json,
               "JSON events on stdout, one object a line, instead of text; nobody is asked");
  app.add_option("--log-file", options.logFile,
                 "append one JSON line for every port a device command ran on (audit record)")
      ->check(
          [](const std::string& path) {
            // An unset variable in a script (--log-file "$AUDIT") must not turn the audit off.
            return path.empty() ? std::string("the audit file's name is empty") : std::string();
          },
          "PATH");

  int code = kExitDone;
  bool identity = false;
  auto* ports = app.add_subcommand("ports", "list the ports that can be opened, one name a line");
  ports->add_flag(
      "-l,--long", identity,
      "with where each port is plugged in and its USB adapter: location, VID:PID, serial "
      "number, manufacturer, product");
  ports->callback([&] { code = RunPorts(options, identity); });
  app.add_subcommand("check", "device check: the loader's version")->callback([&] {
    code = RunCheck(options);
  });
  app.add_subcommand("list", "list the information blocks of all 64 sectors")->callback([&] {
    code = RunList(options);
  });

  std::string sector;
  auto* clear = app.add_subcommand("clear", "clear the information block of one sector");
  clear->add_option("SECTOR", sector, "sector number 1 to 64")->required();
  clear->callback([&] { code = RunClear(options, sector); });

  std::string file;
  auto* program = app.add_subcommand("program", "program a firmware file into a sector");
  program->add_option("FILE", file, "the .fls firmware file")->required();
  program->add_option("-s,--sector", sector, "sector number 1 to 64")->required();
  program->callback([&] { code = RunProgram(options, file, sector); });

  std::string output;
  auto* decode = app.add_subcommand("decode", "write the 65,600-byte unscrambled image of a file");
  decode->add_option("FILE", file, "the .fls firmware file")->required();
  decode->add_option("-o,--output", output, "the image to write")->required();
  decode->callback([&] { code = RunDecode(options, file, output); });

  auto* encode = app.add_subcommand(
      "encode", "write the .fls file of an image (its bytes 769 to 1,024 are the key)");
  encode->add_option("IMAGE", file, "the 65,600-byte image")->required();
  encode->add_option("-o,--output", output, "the .fls file to write")->required();
  encode->callback([&] { code = RunEncode(options, file, output); });

  auto* inspect =
      app.add_subcommand("inspect", "show the information block a file would write: name, marker");
  inspect->add_option("FILE", file, "the .fls firmware file")->required();
  inspect->callback([&] { code = RunInspect(options, file); });

  int units = 0;
  auto* station = app.add_subcommand(
      "station",
      "program every unit put on a slot of a production line, from a job file, until stopped "
      "(Ctrl-C, SIGTERM); -p replaces the job's slots, --log-file records every unit, the "
      "job's 'overwrite' answers the overwrite question");
  station->add_option("JOB", file, "the job file (.toml): the sectors, their files, the slots")
      ->required();
  auto* unitsOption = station->add_option(
      "--units", units, "end once N units have ended: exit 0 when all passed, else 1");
  station->callback([&] {
    code = RunStation(options, file,
                      unitsOption->count() > 0 ? std::optional<int>(units) : std::nullopt);
  });

  InstallInterruptHandler();
  try {
    const CommandLine line(argc, argv);
    app.parse(line.Count(), line.Arguments());
  } catch (const CLI::ParseError& error) {
    const int parsed = app.exit(error);
    return parsed == 0 ? kExitDone : kExitBadInput;
  }
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything is opened: no port or file may take the place of a closed stdout.
  quorvex::KeepStandardDescriptorsTaken();
#ifdef _WIN32
  const ConsoleCodePages codePages;  // UTF-8 out; the console's own pages back at exit
#else
  // A reader that goes away (| head) must not end the runs half way: a write to its pipe
  // fails instead, and that stream is given up.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  // Whatever goes wrong ends with a line that says what, and exit 1, never an abort.
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    Error(error.what());
  } catch (...) {
    Error("an unexpected error");
  }
  return kExitFailed;
}
