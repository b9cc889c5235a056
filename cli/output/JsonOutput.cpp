// The output for scripts: one JSON object a line on stdout, written by nlohmann::json so that
// any text (quotes, control characters, Cyrillic) comes out as valid JSON.
#include <nlohmann/json.hpp>

#include <chrono>
#include <map>
#include <mutex>

#include "Output.h"
#include "RunRecordJson.h"
#include "StandardStreams.h"

namespace quorvex::cli {
namespace {

using Clock = std::chrono::steady_clock;

class JsonOutput final : public Output {
 public:
  void Log(const std::string& port, std::string_view line) override {
    Emit(Event("log", port, {{"text", line}}));
  }

  // Beside the sector's log line: the device code reports it just after logging it.
  void SectorListed(const std::string& port, int sector, bool loaded,
                    const std::string& name) override {
    Emit(Event(
        "sector", port,
        {{"sector", sector}, {"loaded", loaded}, {"name", loaded ? json(name) : json(nullptr)}}));
  }

  void Message(const std::string& port, std::string_view caption, std::string_view text) override {
    Emit(Event("message", port, {{"caption", caption}, {"text", text}}));
  }

  // Nobody is asked: stdin belongs to the script, stderr carries no questions.
  bool Ask(const std::string& port, std::string_view, std::string_view text, bool yes) override {
    Emit(Event("question", port, {{"text", text}, {"answer", yes ? "yes" : "no"}}));
    return yes;
  }

  void Progress(const std::string& port, int percent, std::size_t bytes, std::size_t total,
                bool end) override {
    {
      // At most 10 events a second per port, and always the one at the end.
      const std::lock_guard lock(mutex_);
      const auto now = Clock::now();
      auto& last = lastProgress_[port];
      if (!end && last != Clock::time_point{} && now - last < std::chrono::milliseconds(100)) {
        return;
      }
      last = end ? Clock::time_point{} : now;
    }
    Emit(Event("progress", port, {{"percent", percent}, {"bytes", bytes}, {"total", total}}));
  }

  void Note(const std::string& port, std::string_view text) override {
    Emit(Event("message", port, {{"caption", "quorvex-cli"}, {"text", text}}));
  }

  void Beep() override {}

  void Ports(const std::vector<PortIdentity>& ports, bool) override {
    for (const PortIdentity& port : ports) {
      json usb = nullptr;
      if (port.usb) {
        usb = {{"vid", port.usb->vid},
               {"pid", port.usb->pid},
               {"serial", port.usb->serial},
               {"manufacturer", port.usb->manufacturer},
               {"product", port.usb->product}};
      }
      Emit({{"event", "port"},
            {"name", port.name},
            {"path", port.path},
            {"description", port.description},
            {"location", port.location.empty() ? json(nullptr) : json(port.location)},
            {"usb", usb}});
    }
  }

  void Result(const RunRecord& r) override {
    // The file as given; the port goes in front, with the event's name.
    const json all = ToJson(r);
    json fields = Fields(all, {"command", "exit", "seconds"});
    if (r.command == "program") fields.update(Fields(all, {"file", "sha256", "sector", "name"}));
    Emit(Event("result", r.port, fields));
  }

 private:
  static json Event(const char* event, const std::string& port, const json& fields) {
    json object = {{"event", event}};
    if (!port.empty()) object["port"] = port;
    object.update(fields);
    return object;
  }

  void Emit(const json& event) {
    // Bytes that are not UTF-8 (a name the code page left undefined) are replaced, not fatal.
    const std::string line = event.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    WriteStandard(StandardStream::Out, line);
  }

  std::mutex mutex_;
  std::map<std::string, Clock::time_point> lastProgress_;
};

}  // namespace

std::unique_ptr<Output> MakeJsonOutput() { return std::make_unique<JsonOutput>(); }

}  // namespace quorvex::cli
