#include "Report.h"

#include "AuditLog.h"

namespace quorvex::station {
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
                       {"seconds", RecordSeconds(s.seconds)}});
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
          {"seconds", RecordSeconds(r.seconds)},
          {"sectors", std::move(sectors)},
          {"log", r.log}};
}

}  // namespace quorvex::station
