// The serial port on POSIX systems: an exclusive, raw, non-blocking descriptor whose reads
// and writes wait with poll against one deadline each. A read takes what has arrived of the
// reply being read, never more than it still needs, and hands the bytes out one by one.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <utility>

#include "PortBackend.h"
#include "PosixLine.h"
#include "UniqueFd.h"

namespace quorvex {
namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until the deadline, never negative, rounded up so that a wait never
// ends just before its byte is due.
int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

class PosixBackend final : public PortBackend {
 public:
  ~PosixBackend() override { Close(); }

  PortFailure OpenExclusive(const std::string& path) override {
    Close();
    UniqueFd port(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!port.Valid()) return PortFailureFromErrno(errno);
    const int fd = port.Get();
    // A serial port is a terminal; anything else (a file, a folder) is not a port. The lock
    // keeps out every other program, root included; TIOCEXCL keeps out those that don't lock.
    // A port whose exclusive flag another program set is held, even where root could open it
    // anyway: taking it would take that program's line, and closing it would clear its flag.
    const int refused = !::isatty(fd)                         ? ENOTTY
                        : ::flock(fd, LOCK_EX | LOCK_NB) != 0 ? errno
                        : ExclusiveFlagSet(fd)                ? EBUSY
                        : ::ioctl(fd, TIOCEXCL) != 0          ? errno
                                                              : 0;
    if (refused != 0) return PortFailureFromErrno(refused);
    // Nothing is read or flushed here: a port that is only probed (a listing) keeps whatever
    // its input holds. A port opened for the loader's line drops stale input before every
    // request instead.
    fd_ = std::move(port);
    return {};
  }

  void PrepareQueues() override {}  // the driver's queues are fixed and nothing is pending

  void DiscardInput() override {
    DropHeld();
    if (fd_.Valid()) (void)::tcflush(fd_.Get(), TCIFLUSH);
  }

  bool SetLine(std::uint32_t baud) override {
    if (!fd_.Valid()) return false;
    actualBaud_ = 0;
    if (!posix::ConfigureLine(fd_.Get(), baud, &actualBaud_)) return false;
    posix::RequestLowLatency(fd_.Get());
    return true;
  }

  bool SetTimeouts(std::uint32_t timeoutMs) override {
    timeoutMs_ = timeoutMs;
    return fd_.Valid();
  }

  bool SetDtr(bool raise) override {
    if (!fd_.Valid()) return false;
    int bits = TIOCM_DTR;
    return ::ioctl(fd_.Get(), raise ? TIOCMBIS : TIOCMBIC, &bits) == 0;
  }

  void Close() override {
    if (!fd_.Valid()) return;
    // The exclusive flag belongs to the terminal, not to the descriptor: clear it, or the
    // next open of the port fails.
    (void)::ioctl(fd_.Get(), TIOCNXCL);
    fd_.Reset();
    DropHeld();
    actualBaud_ = 0;
  }

  [[nodiscard]] bool IsOpen() const override { return fd_.Valid(); }

  bool Write(const std::uint8_t* data, std::size_t count) override {
    if (!fd_.Valid()) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_ + count);
    std::size_t done = 0;
    while (done < count) {
      const ssize_t n = ::write(fd_.Get(), data + done, count - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return HangUp();
      if (!WaitFor(POLLOUT, deadline)) return false;
    }
    return true;
  }

  bool WriteEachByte(const std::uint8_t* data, std::size_t count) override {
    if (!fd_.Valid()) return false;
    const auto byteTime = std::chrono::milliseconds(timeoutMs_ + 1);
    auto deadline = Clock::now() + byteTime;  // of the first byte not yet handed over
    bool all = true;
    std::size_t done = 0;
    while (done < count) {
      const ssize_t n = ::write(fd_.Get(), data + done, count - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        deadline = Clock::now() + byteTime;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return HangUp();
      if (WaitFor(POLLOUT, deadline)) continue;
      // This byte failed or timed out: it is left out, and the next one gets its own time.
      all = false;
      ++done;
      deadline = Clock::now() + byteTime;
    }
    return all;
  }

  bool ReadByte(std::uint8_t& byte, std::size_t replyLeft) override {
    // Bytes taken from the line with an earlier byte of this reply: they had arrived, so they
    // are handed out at once, as the driver would hand them out.
    if (heldNext_ < heldCount_) {
      byte = held_[heldNext_++];
      return true;
    }
    if (!fd_.Valid()) return false;
    // One read takes all that has arrived, up to what the reply still needs: a reply whose
    // bytes piled up while this program waited for the CPU costs one call, not one a byte.
    // Nothing is held here, so the line is most likely empty: wait first, then read, rather
    // than a read that finds nothing before every wait.
    const std::size_t wanted = std::clamp<std::size_t>(replyLeft, 1, held_.size());
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_ + 1);
    for (;;) {
      if (!WaitFor(POLLIN, deadline)) return false;
      const ssize_t n = ::read(fd_.Get(), held_.data(), wanted);
      if (n > 0) {
        heldCount_ = static_cast<std::size_t>(n);
        heldNext_ = 1;
        byte = held_[0];
        return true;
      }
      // End of file or an error such as EIO/ENXIO: the adapter is gone. No byte, at once,
      // and the port is closed: its name may come back as another device, or as the same one
      // plugged in again, and a dead descriptor would answer nothing for ever.
      if (n == 0) return HangUp();
      if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return HangUp();
    }
  }

  [[nodiscard]] std::uint32_t ActualBaud() const override { return actualBaud_; }

 private:
  // Waits until the descriptor is ready for `events`; false on time-out or on a hang-up or
  // error of the line (which would otherwise wake poll at once, again and again). A line that
  // hung up is closed.
  bool WaitFor(short events, Clock::time_point deadline) {
    for (;;) {
      pollfd pfd{fd_.Get(), events, 0};
      const int ready = ::poll(&pfd, 1, MillisecondsLeft(deadline));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return false;
      if ((pfd.revents & events) != 0) return true;
      return HangUp();  // POLLHUP, POLLERR or POLLNVAL without data
    }
  }

  // The line is gone (the adapter pulled out, the other end of a pseudo-terminal closed):
  // the port is closed at once. Always false, for the caller to return.
  bool HangUp() {
    Close();
    return false;
  }

  // Whether some program has set the terminal's exclusive-use flag. Where the system cannot
  // tell, the flag counts as not set, and the lock alone decides.
  static bool ExclusiveFlagSet(int fd) {
#ifdef TIOCGEXCL
    int set = 0;
    return ::ioctl(fd, TIOCGEXCL, &set) == 0 && set != 0;
#else
    (void)fd;
    return false;
#endif
  }

  // Discards what was taken from the line and not yet handed out; a port opened or closed
  // starts with nothing.
  void DropHeld() { heldCount_ = heldNext_ = 0; }

  UniqueFd fd_;
  // The longest frame: 255 payload bytes, the length, the zero byte and the check byte.
  std::array<std::uint8_t, 258> held_{};
  std::size_t heldCount_ = 0;  // bytes in held_
  std::size_t heldNext_ = 0;   // the next of them to hand out
  std::uint32_t timeoutMs_ = 0;
  std::uint32_t actualBaud_ = 0;
};

}  // namespace

std::unique_ptr<PortBackend> MakePlatformBackend() { return std::make_unique<PosixBackend>(); }

}  // namespace quorvex
