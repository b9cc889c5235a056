#include "TerminalOperator.h"

#include <cstdio>
#include <iostream>
#include <string>

#include "Interrupt.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <windows.h>
#undef MessageBox  // the operator's method, not the Win32 macro
#else
#include <unistd.h>
#endif

namespace quorvex::cli {
namespace {

constexpr std::size_t kImageBytes = 65'536;
constexpr std::size_t kBlockBytes = 128;

#ifdef _WIN32
// _isatty holds for every character device, NUL included; only a console has a console mode.
bool IsTerminal(std::FILE* stream) {
  DWORD mode = 0;
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != FALSE;
}
#else
bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }
#endif

}  // namespace

TerminalOperator::TerminalOperator(bool quiet, Answer answer)
    : quiet_(quiet), answer_(answer), barOnTerminal_(!quiet && IsTerminal(stderr)) {}

void TerminalOperator::WipeBar() {
  if (bar_) bar_->Clear();
}

void TerminalOperator::Log(std::string_view line) {
  WipeBar();
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

int TerminalOperator::MessageBox(std::string_view text, std::string_view caption, unsigned flags) {
  WipeBar();
  std::fprintf(stderr, "%.*s: %.*s", static_cast<int>(caption.size()), caption.data(),
               static_cast<int>(text.size()), text.data());
  if ((flags & 0x0F) != kMbYesNo) {
    std::fputc('\n', stderr);
    std::fflush(stderr);
    return kIdOk;
  }
  // The one question: -y answers Yes; a terminal is asked; with no terminal it is No.
  if (answer_ == Answer::Yes) {
    std::fputs(" [y/N] y\n", stderr);
    return kIdYes;
  }
  if (!IsTerminal(stdin)) {
    std::fputs(" [y/N] n (no terminal to ask; -y answers yes)\n", stderr);
    return kIdNo;
  }
  std::fputs(" [y/N] ", stderr);
  std::fflush(stderr);
  std::string reply;
  if (!std::getline(std::cin, reply)) {
    std::fputc('\n', stderr);
    return kIdNo;
  }
  const bool yes = reply == "y" || reply == "Y" || reply == "yes" || reply == "д" || reply == "Д" ||
                   reply == "да";
  return yes ? kIdYes : kIdNo;
}

void TerminalOperator::PlainMessage(std::string_view text) {
  MessageBox(text, kApplicationTitle, kMbOk);
}

void TerminalOperator::SetProgress(int position) {
  position_ = position;
  if (!barOnTerminal_) return;
  if (!bar_) {  // the transfer starts
    bar_ = std::make_unique<ProgressBar>(stderr, kImageBytes);
    blocks_ = 0;
    bar_->Start();
    return;
  }
  if (position == 0 && blocks_ * kBlockBytes >= kImageBytes) {  // the transfer has returned
    WipeBar();
    bar_.reset();
    return;
  }
  bar_->Update(position, blocks_ * kBlockBytes);
}

void TerminalOperator::ProcessMessages() {
  ++blocks_;
  if (stopRequested_ != nullptr && InterruptRequested()) *stopRequested_ = 1;
}

void TerminalOperator::Beep() {
  if (!quiet_ && IsTerminal(stderr)) {
    std::fputc('\a', stderr);
    std::fflush(stderr);
  }
}

}  // namespace quorvex::cli
