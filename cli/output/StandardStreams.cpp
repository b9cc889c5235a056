#include "StandardStreams.h"

#include <atomic>
#include <mutex>

namespace quorvex::cli {
namespace {

std::mutex g_mutex;  // one writer at a time, so that lines never mix
std::atomic<bool> g_works[2] = {true, true};

std::atomic<bool>& Works(StandardStream stream) {
  return g_works[stream == StandardStream::Out ? 0 : 1];
}

}  // namespace

void WriteStandard(StandardStream stream, std::string_view text) {
  const std::lock_guard lock(g_mutex);
  if (!Works(stream) || text.empty()) return;
  std::string error;
  bool readerGone = false;
  if (WriteAllToStandard(stream, text, &error, &readerGone)) return;
  Works(stream) = false;
  // A reader that closed the pipe has read all it wanted (| head): nothing to say. Any other
  // failure gets one line on stderr, where the program's own remarks go; stdout carries only
  // what a script reads, so a failed stderr is noted nowhere.
  if (readerGone || stream != StandardStream::Out || !Works(StandardStream::Err)) return;
  const std::string note =
      "quorvex-cli: cannot write to stdout (" + error + "); the runs go on without it\n";
  std::string ignored;
  if (!WriteAllToStandard(StandardStream::Err, note, &ignored, &readerGone)) {
    Works(StandardStream::Err) = false;
  }
}

bool StandardStreamWorks(StandardStream stream) { return Works(stream); }

void Error(const std::string& text) {
  WriteStandard(StandardStream::Err, "quorvex-cli: " + text + "\n");
}

}  // namespace quorvex::cli
