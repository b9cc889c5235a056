#include "SimulatedInstrument.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "Faults.h"
#include "FlashState.h"
#include "LinePacer.h"
#include "LoaderMachine.h"
#include "PseudoTerminal.h"
#include "SystemErrorText.h"

namespace quorvex::sim {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kReadChunk = 4096;
// Replies the host does not read pile up here; beyond this the line overruns and drops them.
constexpr std::size_t kOutputLimit = 1u << 16;
// The state file is written once the host has been quiet this long, never in mid-exchange.
constexpr auto kSaveAfterQuiet = 300ms;
// When the master reports a hang-up or an error, it is looked at again after this pause.
constexpr auto kBrokenLineRetry = 100ms;
// The hang-up comes this long after the last reply went out, so the host has read that reply
// first, as when an adapter is pulled right after it answered.
constexpr auto kHangupLinger = 100ms;
// Longest single wait, so a lost wake-up could never stall the loop for long.
constexpr auto kLongestWait = 500ms;
// Requests kept from the units that have left, at most (the current unit keeps its own).
constexpr std::size_t kPastRequestLimit = 1u << 20;

// A whole number of milliseconds within the bounds of a unit's period.
std::optional<std::chrono::milliseconds> ParsePeriod(std::string_view text) {
  long long value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc{} || ptr != end) return std::nullopt;
  const std::chrono::milliseconds period(value);
  if (period < kShortestUnitPeriod || period > kLongestUnitPeriod) return std::nullopt;
  return period;
}

bool PeriodInBounds(std::chrono::milliseconds period) {
  return period >= kShortestUnitPeriod && period <= kLongestUnitPeriod;
}

// The time of the next turn of a slot: on the schedule, unless serving fell behind it by a whole
// period, then a full period from now (a stalled machine shortens no unit to nothing).
TimePoint NextTurn(TimePoint scheduled, std::chrono::milliseconds period, TimePoint now) {
  const TimePoint next = scheduled + period;
  return next > now ? next : now + period;
}

std::string ErrnoText(const std::string& what) { return what + ": " + SystemErrorText(errno); }

// Waits for the descriptors until the absolute deadline (none: kLongestWait).
int WaitUntil(pollfd* fds, nfds_t count, TimePoint deadline) {
  const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
#ifdef __linux__
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
  const timespec timeout{
      .tv_sec = static_cast<time_t>(seconds.count()),
      .tv_nsec = static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
  return ::ppoll(fds, count, &timeout, nullptr);
#else
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left);
  return ::poll(fds, count, static_cast<int>(ms.count()));
#endif
}

bool MakeLink(const std::string& link, const std::string& target, std::string* error) {
  struct stat info {};
  if (::lstat(link.c_str(), &info) == 0 && !S_ISLNK(info.st_mode)) {
    *error = "'" + link + "' exists and is not a symbolic link";
    return false;
  }
  const std::string temporary = link + ".tmp" + std::to_string(::getpid());
  ::unlink(temporary.c_str());
  if (::symlink(target.c_str(), temporary.c_str()) != 0) {
    *error = ErrnoText("cannot create the link '" + link + "'");
    return false;
  }
  if (::rename(temporary.c_str(), link.c_str()) != 0) {
    *error = ErrnoText("cannot create the link '" + link + "'");
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

void RemoveLink(const std::string& link, const std::string& target) {
  std::string points(4096, '\0');
  const ssize_t n = ::readlink(link.c_str(), points.data(), points.size());
  if (n > 0 && points.substr(0, static_cast<std::size_t>(n)) == target) ::unlink(link.c_str());
}

}  // namespace

bool ParseComeAndGo(std::string_view text, ComeAndGo* periods, std::string* error) {
  const auto comma = text.find(',');
  const auto present =
      comma == std::string_view::npos ? std::nullopt : ParsePeriod(text.substr(0, comma));
  const auto absent =
      comma == std::string_view::npos ? std::nullopt : ParsePeriod(text.substr(comma + 1));
  if (!present || !absent) {
    if (error != nullptr) {
      *error =
          "units coming and going take PRESENT_MS,ABSENT_MS, each a whole number of "
          "milliseconds from " +
          std::to_string(kShortestUnitPeriod.count()) + " to " +
          std::to_string(kLongestUnitPeriod.count()) + ", not '" + std::string(text) + "'";
    }
    return false;
  }
  *periods = ComeAndGo{.present = *present, .absent = *absent};
  return true;
}

std::string OptionsConflict(const Options& options) {
  if (!options.comeAndGo) return "";
  if (!PeriodInBounds(options.comeAndGo->present) || !PeriodInBounds(options.comeAndGo->absent)) {
    return "a unit's present and absent periods are each " +
           std::to_string(kShortestUnitPeriod.count()) + " to " +
           std::to_string(kLongestUnitPeriod.count()) + " ms";
  }
  if (!options.statePath.empty()) {
    return "units coming and going each start with a blank flash, so they keep no state file";
  }
  return "";
}

namespace {

struct Outgoing {
  std::uint8_t byte;
  TimePoint at;
};

}  // namespace

struct SimulatedInstrument::Impl {
  explicit Impl(Options opts) : options(std::move(opts)) {}

  void Serve();
  // Reads what the host wrote and feeds it to the loader; false when the master is unusable.
  bool ReadHost(std::deque<Outgoing>* output);
  // Writes the bytes that are due; false when the master would block.
  bool WriteDue(std::deque<Outgoing>* output, TimePoint now);
  void SaveState();
  // Units coming and going: the unit on the slot leaves (what it had still to send is lost),
  // or the next one arrives with a blank flash.
  void Depart(std::deque<Outgoing>* output);
  void Arrive();

  Options options;
  Faults faults;             // every unit shows the same
  mutable std::mutex mutex;  // guards flash, machine, pastRequests, lastError
  FlashState flash;
  std::optional<LoaderMachine> machine;
  std::vector<RequestRecord> pastRequests;  // of the units that have left, theirs stamped
  TimePoint unitArrived{};                  // when the unit on the slot, or the last, arrived
  std::string lastError;
  std::atomic<int> units{1};
  std::atomic<bool> present{true};

  std::optional<PseudoTerminal> terminal;
  std::string portPath;
  UniqueFd wakeRead;
  UniqueFd wakeWrite;
  std::thread thread;
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> hungUp{false};
  std::function<void()> hangupHandler;
  bool started = false;
  bool linked = false;

  // Serving thread only.
  std::optional<LinePacer> pacer;
  bool hangupPending = false;
  TimePoint hangupAt{};
  bool dirty = false;
  TimePoint lastHostByte{};
  TimePoint nextTurn{};  // units coming and going: when the unit leaves or the next arrives
};

bool SimulatedInstrument::Impl::ReadHost(std::deque<Outgoing>* output) {
  std::array<std::uint8_t, kReadChunk> buffer{};
  const ssize_t n = ::read(terminal->Master(), buffer.data(), buffer.size());
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
  if (n <= 0) return false;          // EIO or end of file: no host end is open
  if (!present.load()) return true;  // an empty slot: nobody hears it

  const TimePoint now = Clock::now();
  lastHostByte = now;
  std::vector<Emission> emissions;
  {
    const std::lock_guard lock(mutex);
    for (ssize_t i = 0; i < n; ++i) machine->Feed(buffer[i], pacer->Incoming(now));
    emissions = machine->TakeEmissions();
    dirty = machine->TakeStateChanged() || dirty;
  }
  for (const Emission& emission : emissions) {
    for (std::uint8_t byte : emission.bytes) {
      if (output->size() >= kOutputLimit) break;
      output->push_back({byte, pacer->Outgoing(emission.due)});
    }
    if (emission.hangUpAfter) {
      hangupPending = true;
      hangupAt = (output->empty() ? emission.due : std::max(emission.due, output->back().at)) +
                 kHangupLinger;
    }
  }
  return true;
}

bool SimulatedInstrument::Impl::WriteDue(std::deque<Outgoing>* output, TimePoint now) {
  std::array<std::uint8_t, kReadChunk> chunk{};
  std::size_t count = 0;
  for (auto it = output->begin(); it != output->end() && it->at <= now && count < chunk.size();
       ++it) {
    chunk[count++] = it->byte;
  }
  if (count == 0) return true;
  const ssize_t n = ::write(terminal->Master(), chunk.data(), count);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
  if (n < 0 && errno == EINTR) return true;
  if (n < 0) {
    output->clear();  // nobody can receive them
    return true;
  }
  output->erase(output->begin(), output->begin() + n);
  return true;
}

void SimulatedInstrument::Impl::SaveState() {
  dirty = false;
  if (options.statePath.empty()) return;
  std::optional<FlashState> snapshot;
  {
    const std::lock_guard lock(mutex);
    snapshot.emplace(flash);
  }
  std::string error;
  if (!snapshot->Save(options.statePath, &error)) {
    const std::lock_guard lock(mutex);
    lastError = error;
  }
}

void SimulatedInstrument::Impl::Depart(std::deque<Outgoing>* output) {
  output->clear();
  hangupPending = false;  // the unit that would have pulled the adapter is gone
  present = false;
}

void SimulatedInstrument::Impl::Arrive() {
  {
    const std::lock_guard lock(mutex);
    const int leaving = units.load();
    for (RequestRecord request : machine->Requests()) {
      if (pastRequests.size() >= kPastRequestLimit) break;
      request.unit = leaving;
      request.afterArrival = request.at - unitArrived;
      pastRequests.push_back(std::move(request));
    }
    flash = FlashState{};
    machine.emplace(faults, &flash);
    units = leaving + 1;
    unitArrived = Clock::now();
  }
  pacer.emplace(options.pace);  // the line starts idle for the new unit
  present = true;
}

void SimulatedInstrument::Impl::Serve() {
#ifdef __linux__
  if (options.pace) ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);  // wake on time, not 50 us late
#endif
  std::deque<Outgoing> output;
  bool writeBlocked = false;
  // While the master reports a hang-up: when to look at it again (a plain time point and a
  // flag, which the optimiser can follow where it cannot follow an optional).
  bool lineBroken = false;
  TimePoint lineRetryAt{};

  while (!stopRequested.load()) {
    TimePoint now = Clock::now();
    if (options.comeAndGo && now >= nextTurn) {
      if (present.load()) {
        Depart(&output);
        nextTurn = NextTurn(nextTurn, options.comeAndGo->absent, now);
      } else {
        Arrive();
        nextTurn = NextTurn(nextTurn, options.comeAndGo->present, now);
      }
    }
    if (!writeBlocked && !output.empty() && output.front().at <= now) {
      writeBlocked = !WriteDue(&output, now);
    }
    if (hangupPending && now >= hangupAt) {  // a reply the host never read goes with the line
      terminal->Close();
      hungUp = true;
      if (hangupHandler) hangupHandler();
      return;
    }
    if (dirty && output.empty() && now - lastHostByte >= kSaveAfterQuiet) SaveState();

    TimePoint deadline = now + kLongestWait;
    if (!output.empty() && !writeBlocked) deadline = std::min(deadline, output.front().at);
    if (hangupPending) deadline = std::min(deadline, hangupAt);
    if (options.comeAndGo) deadline = std::min(deadline, nextTurn);
    if (dirty && output.empty()) deadline = std::min(deadline, lastHostByte + kSaveAfterQuiet);
    if (lineBroken && now >= lineRetryAt) lineBroken = false;
    if (lineBroken) deadline = std::min(deadline, lineRetryAt);

    std::array<pollfd, 2> fds{};
    fds[0] = {.fd = wakeRead.Get(), .events = POLLIN, .revents = 0};
    const short events = static_cast<short>(POLLIN | (writeBlocked ? POLLOUT : 0));
    fds[1] = {.fd = lineBroken ? -1 : terminal->Master(), .events = events, .revents = 0};
    if (WaitUntil(fds.data(), fds.size(), deadline) < 0) {
      if (errno == EINTR) continue;
      const std::lock_guard lock(mutex);
      lastError = ErrnoText("poll");
      return;
    }
    if (fds[0].revents != 0) continue;  // stop requested: the loop condition ends it
    const short got = fds[1].revents;
    if ((got & POLLOUT) != 0) writeBlocked = false;
    if ((got & POLLIN) != 0) {
      if (!ReadHost(&output)) {
        lineBroken = true;
        lineRetryAt = Clock::now() + kBrokenLineRetry;
      }
    } else if ((got & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      lineBroken = true;  // no host end: look again later, never spin
      lineRetryAt = Clock::now() + kBrokenLineRetry;
    }
  }
}

SimulatedInstrument::SimulatedInstrument(Options options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

SimulatedInstrument::~SimulatedInstrument() { Stop(); }

bool SimulatedInstrument::Start(std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  Impl& impl = *impl_;
  if (impl.started) {
    *error = "the simulated instrument was started before";
    return false;
  }
  if (!ParseFaults(impl.options.faults, &impl.faults, error)) return false;
  if (const std::string conflict = OptionsConflict(impl.options); !conflict.empty()) {
    *error = conflict;
    return false;
  }
  if (!impl.options.statePath.empty()) {
    const std::lock_guard lock(impl.mutex);
    if (!impl.flash.Load(impl.options.statePath, error)) return false;
  }
  impl.terminal = PseudoTerminal::Open(error);
  if (!impl.terminal) return false;
  impl.portPath = impl.terminal->SlavePath();

  int pipeFds[2] = {-1, -1};
  if (::pipe(pipeFds) != 0) {
    *error = ErrnoText("pipe");
    impl.terminal.reset();
    return false;
  }
  impl.wakeRead = UniqueFd(pipeFds[0]);
  impl.wakeWrite = UniqueFd(pipeFds[1]);
  for (int fd : pipeFds) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  }

  if (!impl.options.linkPath.empty()) {
    if (!MakeLink(impl.options.linkPath, impl.portPath, error)) {
      impl.terminal.reset();
      return false;
    }
    impl.linked = true;
  }
  {
    const std::lock_guard lock(impl.mutex);
    impl.machine.emplace(impl.faults, &impl.flash);
    impl.unitArrived = Clock::now();
  }
  impl.pacer.emplace(impl.options.pace);
  if (impl.options.comeAndGo) impl.nextTurn = Clock::now() + impl.options.comeAndGo->present;
  impl.started = true;
  impl.thread = std::thread([&impl] { impl.Serve(); });
  return true;
}

void SimulatedInstrument::Stop() {
  Impl& impl = *impl_;
  if (impl.thread.joinable()) {
    impl.stopRequested = true;
    const char wake = 'S';
    while (::write(impl.wakeWrite.Get(), &wake, 1) < 0 && errno == EINTR) {
    }
    impl.thread.join();
    impl.SaveState();
  }
  if (impl.linked) {
    RemoveLink(impl.options.linkPath, impl.portPath);
    impl.linked = false;
  }
  if (impl.terminal) impl.terminal->Close();
}

std::string SimulatedInstrument::PortPath() const { return impl_->portPath; }

std::vector<std::uint8_t> SimulatedInstrument::Flash(int sector) const {
  const std::lock_guard lock(impl_->mutex);
  const auto bytes = impl_->flash.Sector(sector - 1);
  return {bytes.begin(), bytes.end()};
}

std::array<std::uint8_t, kBlockBytes> SimulatedInstrument::Block(int sector) const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->flash.InfoBlock(sector - 1);
}

void SimulatedInstrument::SetBlock(int sector, const std::array<std::uint8_t, kBlockBytes>& block) {
  const std::lock_guard lock(impl_->mutex);
  impl_->flash.SetInfoBlock(sector - 1, block);
}

std::vector<std::uint8_t> SimulatedInstrument::Received() const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->machine ? impl_->machine->Received() : std::vector<std::uint8_t>{};
}

std::vector<RequestRecord> SimulatedInstrument::Requests() const {
  const std::lock_guard lock(impl_->mutex);
  std::vector<RequestRecord> requests = impl_->pastRequests;
  if (impl_->machine) {
    const int unit = impl_->units.load();
    for (RequestRecord request : impl_->machine->Requests()) {
      request.unit = unit;
      request.afterArrival = request.at - impl_->unitArrived;
      requests.push_back(std::move(request));
    }
  }
  return requests;
}

int SimulatedInstrument::BlocksReceived() const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->machine ? impl_->machine->BlocksReceived() : 0;
}

void SimulatedInstrument::ClearLog() {
  const std::lock_guard lock(impl_->mutex);
  impl_->pastRequests.clear();
  if (impl_->machine) impl_->machine->ClearLog();
}

int SimulatedInstrument::UnitsSoFar() const { return impl_->units.load(); }

bool SimulatedInstrument::UnitPresent() const { return impl_->present.load(); }

bool SimulatedInstrument::HungUp() const { return impl_->hungUp.load(); }

void SimulatedInstrument::SetHangupHandler(std::function<void()> handler) {
  impl_->hangupHandler = std::move(handler);
}

std::string SimulatedInstrument::LastError() const {
  const std::lock_guard lock(impl_->mutex);
  return impl_->lastError;
}

}  // namespace quorvex::sim
