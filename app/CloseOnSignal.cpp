#include "CloseOnSignal.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>

namespace quorvex {
namespace {

// The write end the handler uses; -1 while no CloseOnSignal is installed.
volatile std::sig_atomic_t gWriteEnd = -1;

// Async-signal-safe: one write, errno kept. A full socket already holds a wake-up.
extern "C" void WakeWindow(int) {
  const int saved = errno;
  const int fd = gWriteEnd;
  if (fd >= 0) {
    const char byte = 1;
    (void)!::write(fd, &byte, 1);
  }
  errno = saved;
}

bool MakeNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
         ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

}  // namespace

CloseOnSignal::CloseOnSignal(QWidget& window) : QObject(&window), window_(window) {
  if (gWriteEnd >= 0) return;  // one at a time
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds_) != 0) {
    fds_[0] = fds_[1] = -1;
    return;
  }
  if (!MakeNonBlocking(fds_[0]) || !MakeNonBlocking(fds_[1])) {
    ::close(fds_[0]);
    ::close(fds_[1]);
    fds_[0] = fds_[1] = -1;
    return;
  }
  notifier_ = new QSocketNotifier(fds_[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &CloseOnSignal::Received);
  gWriteEnd = fds_[1];

  struct sigaction action {};
  action.sa_handler = WakeWindow;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, &previousTerm_);
  ::sigaction(SIGHUP, &action, &previousHup_);
}

CloseOnSignal::~CloseOnSignal() {
  if (notifier_ == nullptr) return;
  ::sigaction(SIGTERM, &previousTerm_, nullptr);
  ::sigaction(SIGHUP, &previousHup_, nullptr);
  gWriteEnd = -1;
  delete notifier_;
  ::close(fds_[0]);
  ::close(fds_[1]);
}

void CloseOnSignal::Received() {
  char bytes[64];
  while (::read(fds_[0], bytes, sizeof bytes) > 0) {
  }
  asked_ = true;
  // A box waiting for an answer would hold the close for ever: close it as Escape does (a
  // question answers No, a notice OK). Its own loop returns once this handler has.
  for (int boxes = 0; boxes < 8; ++boxes) {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == &window_ || !modal->close()) break;
  }
  window_.close();
}

}  // namespace quorvex
