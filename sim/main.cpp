// quorvex-sim: the simulated instrument on a pseudo-terminal, served until SIGINT, SIGTERM or
// SIGHUP.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "Cp1251.h"
#include "Faults.h"
#include "QuorvexVersion.h"
#include "SampleFirmware.h"
#include "SimulatedInstrument.h"
#include "StandardDescriptors.h"

namespace {

constexpr const char* kDescription =
    "A simulated instrument: the loader of the scanner on a pseudo-terminal, with 64 flash "
    "sectors of 65,536 bytes and their 64-byte information blocks. Prints the path of the "
    "pseudo-terminal as its first line, then serves until SIGINT, SIGTERM or SIGHUP (exit code 0).";

constexpr const char* kFooter =
    R"(Requests (frames: length L, one ignored byte, L payload bytes, check byte):
  02            device check        -> FD 45 B3
  30 hi lo      write info block    then 64 raw bytes from the host -> CF
  31 idx        erase sector idx+1  -> CE (flash back to FF)
  32 idx        init sector idx+1   -> CD, then 512 raw image blocks of 128 bytes
  33 hi lo      read info block     -> CC and the 64 block bytes
  35 idx        finish              -> CA 00 when the firmware arrived intact, CA 01 otherwise
  The block address of sector n is E000 + (n-1)*40 (hex). Each image block is answered with
  the single byte 06 and programmed into the sector. Programming only clears bits, as real
  flash does, so a sector that was not erased before init ends in a checksum mismatch.
  The finish answers CA 01 also when fewer than 512 blocks arrived since the init, when its
  sector is not the init's sector, or when no init preceded it.

What the loader ignores (no reply at all):
  frames whose check byte fails (accepted when check AND sum == 0), frames with an empty
  payload, unknown request codes, requests whose payload length is not their own, sector
  indexes above 3F, and block addresses that are not one of the 64 sectors' blocks. After a
  write request with such an address the 64 raw bytes are still taken and then discarded.

Resynchronisation:
  A partly received frame, information block or image block is dropped when the host has
  been silent for 250 ms (a host pauses 10 ms between information-block bytes). At a block
  boundary of the image stream, 900 ms of silence after the last answer (or after the init
  reply) means the host has cancelled: the loader waits for requests again. After the 512th
  block it waits for requests at once.

Faults (--fault FAULT, repeatable; REQ is check, write, erase, init, read, finish or the hex
request code, e.g. 33):
  silent              never answers anything; what arrives is still taken and recorded
  version=XXYY        the device check answers FD XX YY
  wrong-code=REQ      the reply to REQ carries the erase reply code CE (the init reply code CD
                      when REQ is the erase), otherwise a valid frame
  bad-check=REQ       the reply frame to REQ has a check byte equal to its sum, so it fails
                      (when the sum is 0, a padding byte 01 is appended to the payload first)
  short=REQ           the reply to REQ carries only its reply code (L=1, valid check)
  mute-after=BLOCK    answers image blocks 1..BLOCK (0..512), then sends nothing at all, neither
                      block answers nor replies, until the host has been silent for 5.5 s
  hangup-after=BLOCK  100 ms after answering block BLOCK (0: after the init reply) closes the
                      pseudo-terminal, as an unplugged adapter: the host reads that answer,
                      then sees a hang-up (POLLHUP, EIO); quorvex-sim prints a line and exits 0
  checksum-mismatch   the finish answers CA 01
  stray-byte          one byte 00 goes out once, right before the first reply frame. The host
                      reads it as that reply's length byte, the real length as the ignored
                      byte and the next byte as the check byte: an empty frame, so a receive
                      failure (device check: 00 03 FD taken, 45 B3 07 left waiting, read as
                      the start of the next reply)
  delay-ms=N          every reply and block answer leaves N ms (0..60000) late

--pace holds every byte in both directions to 160 us (62,500 baud, 10 bits a byte), counted
on absolute deadlines, so a run takes as long as on a real line.
--state FILE keeps flash and blocks across runs: loaded at start if it exists, written
atomically (temporary file, then rename) when the host has been quiet for 300 ms after a
change, and at exit.
--record FILE writes, at exit, one line per request the loader recognised: its payload in hex
("02", "33 E0 40", ...), in arrival order; with --come-and-go each line starts with the unit
that recognised it and how long after that unit was put on the slot its last byte arrived
("unit 2 at 312.5 ms: 02").
--come-and-go PRESENT_MS,ABSENT_MS plays instruments put on a slot and taken off it, over and
over: a unit answers for PRESENT_MS with a fresh blank flash (every sector FF, every information
block zeroed, whatever the unit before was written with), then the slot is empty for ABSENT_MS
(nothing answers; what the host sends is discarded, and a half-received frame, block or
transfer is forgotten), then the next unit is present, and so on. The slot starts with unit 1
present. A station counts a unit as taken off after two probes in a row, half a second apart, go
unanswered: for a station, make ABSENT_MS at least 1500. A present period that ends in mid-transfer cuts the unit off: replies not yet sent are
lost and the host sees silence. The pseudo-terminal stays open throughout, as the slot's
adapter stays plugged in. Each period is 1 to 3600000 ms. Every unit shows the faults given
(hangup-after still closes the line and ends the simulator); --pace paces every unit; --state
is refused with it, as each unit starts blank.
--write-sample FILE writes a sample firmware file to program and exits: a byte pattern whose
information block names the sector NAME (--sample-name, default "DEMO FIRMWARE 1.0", at most 18
characters of Windows-1251) and carries the written marker 55 AA.
Exit codes: 0 stopped by a signal or hung up by hangup-after; 1 the simulator could not start
or save its state or record; 2 bad arguments.)";

int g_signalWrite = -1;

extern "C" void OnSignal(int) {
  const int saved = errno;
  const char byte = 'S';
  [[maybe_unused]] const auto ignored = ::write(g_signalWrite, &byte, 1);
  errno = saved;
}

bool InstallSignals(int pipeWrite) {
  g_signalWrite = pipeWrite;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::signal(SIGPIPE, SIG_IGN);  // a reader that went away must not end the simulator
  // A closed terminal (SIGHUP) ends it as cleanly as an interrupt: the state is saved.
  return ::sigaction(SIGINT, &action, nullptr) == 0 &&
         ::sigaction(SIGTERM, &action, nullptr) == 0 && ::sigaction(SIGHUP, &action, nullptr) == 0;
}

// One line per request the loader recognised: its payload in hex, e.g. "33 E0 40", after its
// unit and its time since that unit arrived ("unit 2 at 312.5 ms: 33 E0 40") when units come
// and go.
bool WriteRecord(const std::string& path, const std::vector<quorvex::sim::RequestRecord>& requests,
                 bool withUnits) {
  std::ofstream out(path, std::ios::trunc);
  for (const auto& request : requests) {
    if (withUnits) {
      char unit[64];
      std::snprintf(unit, sizeof unit, "unit %d at %.1f ms: ", request.unit,
                    std::chrono::duration<double, std::milli>(request.afterArrival).count());
      out << unit;
    }
    for (std::size_t i = 0; i < request.payload.size(); ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%s%02X", i == 0 ? "" : " ", request.payload[i]);
      out << hex;
    }
    out << '\n';
  }
  out.flush();
  return static_cast<bool>(out);
}

// The sample firmware of --write-sample: 0 written, 1 not written, 2 a name that does not fit.
int WriteSample(const std::string& path, const std::string& name) {
  const auto bytes = quorvex::EncodeCp1251(name);
  if (!bytes || bytes->size() > 18) {
    std::cerr << "quorvex-sim: a sample name is at most 18 characters of Windows-1251\n";
    return 2;
  }
  if (!quorvex::WriteFirmwareFile(path, quorvex::SampleImage(*bytes, true))) {
    std::cerr << "quorvex-sim: cannot write " << path << "\n";
    return 1;
  }
  return 0;
}

// Waits for a signal or the hang-up; returns the byte that woke it ('S' or 'H').
char WaitForEnd(int pipeRead) {
  for (;;) {
    pollfd fd{.fd = pipeRead, .events = POLLIN, .revents = 0};
    if (::poll(&fd, 1, -1) < 0) {
      if (errno == EINTR) continue;
      return 'S';
    }
    char byte = 0;
    const ssize_t n = ::read(pipeRead, &byte, 1);
    if (n == 1) return byte;
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return 'S';
  }
}

}  // namespace

int main(int argc, char** argv) {  // NOLINT(bugprone-exception-escape): ends the program anyway
  // Before the pseudo-terminal is opened: it must never take the place of a closed stdout.
  quorvex::KeepStandardDescriptorsTaken();
  quorvex::sim::Options options;
  CLI::App app{kDescription, "quorvex-sim"};
  app.footer(kFooter);
  app.set_version_flag("--version", std::string("quorvex-sim ") + quorvex::kVersion);
  app.add_option("--link", options.linkPath,
                 "make PATH a symbolic link to the pseudo-terminal (replaced if it is a link, "
                 "removed at exit)")
      ->option_text("PATH");
  app.add_option("--state", options.statePath,
                 "keep flash and information blocks in FILE across runs")
      ->option_text("FILE");
  std::string recordPath;
  app.add_option("--record", recordPath,
                 "at exit, write every request the loader recognised to FILE, its payload in "
                 "hex, one a line")
      ->option_text("FILE");
  std::string comeAndGo;
  const CLI::Option* comeAndGoOption =
      app.add_option(
             "--come-and-go", comeAndGo,
             "units come and go on the slot: each answers for PRESENT_MS with a blank flash, "
             "then nothing answers for ABSENT_MS (see below)")
          ->option_text("PRESENT_MS,ABSENT_MS");
  app.add_flag("--pace", options.pace, "hold every byte to 62,500-baud line time (160 us)");
  app.add_option("--fault", options.faults, "inject a fault (see below); repeatable")
      ->option_text("FAULT")
      ->take_all()
      ->allow_extra_args(false);
  std::string samplePath;
  std::string sampleName = "DEMO FIRMWARE 1.0";
  app.add_option("--write-sample", samplePath, "write a sample firmware file to FILE and exit")
      ->option_text("FILE");
  app.add_option("--sample-name", sampleName, "the sector name that sample names (see below)")
      ->option_text("NAME");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : 2;
  }
  if (!samplePath.empty()) return WriteSample(samplePath, sampleName);
  quorvex::sim::Faults faults;
  std::string error;
  if (!quorvex::sim::ParseFaults(options.faults, &faults, &error)) {
    std::cerr << "quorvex-sim: " << error << "\n";
    return 2;
  }
  if (comeAndGoOption->count() > 0) {
    quorvex::sim::ComeAndGo periods;
    if (!quorvex::sim::ParseComeAndGo(comeAndGo, &periods, &error)) {
      std::cerr << "quorvex-sim: --come-and-go: " << error << "\n";
      return 2;
    }
    options.comeAndGo = periods;
  }
  if (const std::string conflict = quorvex::sim::OptionsConflict(options); !conflict.empty()) {
    std::cerr << "quorvex-sim: " << conflict << "\n";
    return 2;
  }

  int wake[2] = {-1, -1};
  if (::pipe(wake) != 0) {
    std::perror("quorvex-sim: pipe");
    return 1;
  }
  for (int fd : wake) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  ::fcntl(wake[1], F_SETFL, ::fcntl(wake[1], F_GETFL) | O_NONBLOCK);
  if (!InstallSignals(wake[1])) {
    std::perror("quorvex-sim: sigaction");
    return 1;
  }

  quorvex::sim::SimulatedInstrument instrument(options);
  const int hangupWrite = wake[1];
  instrument.SetHangupHandler([hangupWrite] {
    const char byte = 'H';
    [[maybe_unused]] const auto ignored = ::write(hangupWrite, &byte, 1);
  });
  if (!instrument.Start(&error)) {
    std::cerr << "quorvex-sim: " << error << "\n";
    return 1;
  }
  std::cout << instrument.PortPath() << std::endl;  // the first line, flushed for a waiting host

  const char reason = WaitForEnd(wake[0]);
  if (reason == 'H') {
    std::cout << "quorvex-sim: line hung up after the image block given to hangup-after"
              << std::endl;
  }
  instrument.Stop();
  if (!recordPath.empty() &&
      !WriteRecord(recordPath, instrument.Requests(), options.comeAndGo.has_value())) {
    std::cerr << "quorvex-sim: cannot write " << recordPath << "\n";
    return 1;
  }
  const std::string stopError = instrument.LastError();
  if (!stopError.empty()) {
    std::cerr << "quorvex-sim: " << stopError << "\n";
    return 1;
  }
  return 0;
}
