#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "PortBackend.h"

namespace quorvex::test {

// What a scripted port saw and what it will answer; shared with the test after the
// backend has been handed to a TComPort.
struct ScriptedLine {
  std::deque<std::uint8_t> incoming;   // bytes the "instrument" has sent, still in the line
  std::deque<std::uint8_t> taken;      // taken from the line by a read, not yet handed out
  std::vector<std::size_t> readSizes;  // bytes each read took from the line
  std::vector<std::uint8_t> written;   // every byte written by the host
  std::vector<std::size_t> writeSizes;
  int readsWithoutByte = 0;  // reads that found nothing: each a time-out, without the wait
  // Reads (counted from 1 among those that go to the line) that find nothing whatever is
  // queued: an answer that never came, with the answers after it still to come.
  std::vector<int> nothingAt;
  int lineReads = 0;
  bool open = false;
  bool refuseOpen = false;
  bool refuseLine = false;
  bool refuseTimeouts = false;
  std::uint32_t baud = 0;
  std::uint32_t timeoutMs = 0;
  bool dtr = true;
  std::vector<std::string> opened;  // every path opened, in order

  void Queue(const std::vector<std::uint8_t>& bytes) {
    incoming.insert(incoming.end(), bytes.begin(), bytes.end());
  }
};

// An in-memory port: reads take the queued bytes and time out at once when none is left.
class ScriptedBackend final : public PortBackend {
 public:
  explicit ScriptedBackend(std::shared_ptr<ScriptedLine> line) : line_(std::move(line)) {}

  PortFailure OpenExclusive(const std::string& path) override {
    line_->open = false;
    if (line_->refuseOpen) return {PortOpenError::NoSuchPort, "scripted"};
    line_->opened.push_back(path);
    line_->open = true;
    return {};
  }
  void PrepareQueues() override {}
  bool SetLine(std::uint32_t baud) override {
    if (line_->refuseLine) return false;
    line_->baud = baud;
    return true;
  }
  bool SetTimeouts(std::uint32_t ms) override {
    if (line_->refuseTimeouts) return false;
    line_->timeoutMs = ms;
    return true;
  }
  bool SetDtr(bool raise) override {
    line_->dtr = raise;
    return true;
  }
  void Close() override {
    line_->open = false;
    line_->taken.clear();
  }
  [[nodiscard]] bool IsOpen() const override { return line_->open; }
  bool Write(const std::uint8_t* data, std::size_t count) override {
    if (!line_->open) return false;
    line_->written.insert(line_->written.end(), data, data + count);
    line_->writeSizes.push_back(count);
    return true;
  }
  // Like the POSIX port on a line where everything has arrived: one read takes all it may,
  // up to what the reply still needs, and the bytes are handed out one a call.
  bool ReadByte(std::uint8_t& byte, std::size_t replyLeft) override {
    if (line_->taken.empty()) {
      const int read = ++line_->lineReads;
      if (!line_->open || line_->incoming.empty() ||
          std::find(line_->nothingAt.begin(), line_->nothingAt.end(), read) !=
              line_->nothingAt.end()) {
        ++line_->readsWithoutByte;
        return false;
      }
      const std::size_t n = std::min(std::max<std::size_t>(replyLeft, 1), line_->incoming.size());
      line_->taken.assign(line_->incoming.begin(), line_->incoming.begin() + n);
      line_->incoming.erase(line_->incoming.begin(), line_->incoming.begin() + n);
      line_->readSizes.push_back(n);
    }
    byte = line_->taken.front();
    line_->taken.pop_front();
    return true;
  }

 private:
  std::shared_ptr<ScriptedLine> line_;
};

}  // namespace quorvex::test
