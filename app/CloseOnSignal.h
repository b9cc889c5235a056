#pragma once

#include <QObject>
#include <csignal>

class QSocketNotifier;
class QWidget;

namespace quorvex {

// SIGTERM (a service manager's stop, `kill`) and SIGHUP (the terminal closed) close the window
// as its close button does: during a run the run is asked to stop and the window closes once
// it has returned; otherwise the window just closes. A message box that is up is closed first
// (a question then answers No), since nobody is there to answer it. POSIX only; one at a time.
//
// The handler only writes a byte into a socket pair; the window's thread reads it through a
// QSocketNotifier, so the close runs where the window's events run.
class CloseOnSignal final : public QObject {
 public:
  explicit CloseOnSignal(QWidget& window);
  ~CloseOnSignal() override;  // the signals are handled as before again
  CloseOnSignal(const CloseOnSignal&) = delete;
  CloseOnSignal& operator=(const CloseOnSignal&) = delete;

  // The handlers are in place.
  [[nodiscard]] bool Installed() const { return notifier_ != nullptr; }
  // A signal came and its close was made.
  [[nodiscard]] bool Asked() const { return asked_; }

 private:
  void Received();

  QWidget& window_;
  int fds_[2] = {-1, -1};  // [0] read by the window's thread, [1] written by the handler
  QSocketNotifier* notifier_ = nullptr;
  struct sigaction previousTerm_ {};
  struct sigaction previousHup_ {};
  bool asked_ = false;
};

}  // namespace quorvex
