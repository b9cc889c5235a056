#include "Report.h"

#include <cmath>

#include "AuditLog.h"

namespace quorvex::station {
namespace {

template <typename T>
json OrNull(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

double Milliseconds(double seconds) { return std::round(seconds * 1000) / 1000; }

}  // namespace

const char* SlotStateName(SlotState state) {
  switch (state) {
    case SlotState::Waiting:
      return "waiting";
    case SlotState::Programming:
      return "programming";
    case SlotState::Passed:
      return "passed";
    case SlotState::Failed:
      return "failed";
    case SlotState::Removed:
      return "removed";
  }
  return "waiting";
}

json UnitJson(const UnitRecord& r) {
  json sectors = json::array();
  for (const SectorRecord& s : r.sectors) {
    sectors.push_back({{"sector", s.sector},
                       {"file", s.file},
                       {"sha256", OrNull(s.sha256)},
                       {"name", OrNull(s.name)},
                       {"exit", s.exit},
                       {"seconds", Milliseconds(s.seconds)}});
  }
  return {{"time", UtcNow()},
          {"host", HostName()},
          {"user", UserName()},
          {"command", "station"},
          {"job", r.job},
          {"slot", r.slot},
          {"port", r.port},
          {"usb_serial", OrNull(r.usbSerial)},
          {"unit", r.unit},
          {"exit", r.exit},
          {"seconds", Milliseconds(r.seconds)},
          {"sectors", std::move(sectors)},
          {"log", r.log}};
}

}  // namespace quorvex::station
