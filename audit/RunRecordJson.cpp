#include "RunRecordJson.h"

#include <cmath>
#include <optional>

namespace quorvex {
double RecordSeconds(double seconds) { return std::round(seconds * 1000) / 1000; }

json ToJson(const RunRecord& r) {
  return {{"command", r.command},
          {"port", r.port},
          {"usb_serial", OrNull(r.usbSerial)},
          {"file", OrNull(r.file)},
          {"sha256", OrNull(r.sha256)},
          {"sector", OrNull(r.sector)},
          {"name", OrNull(r.name)},
          {"exit", r.exit},
          {"seconds", RecordSeconds(r.seconds)},
          {"log", r.log}};
}

json Fields(const json& all, std::initializer_list<const char*> keys) {
  json fields = json::object();
  for (const char* key : keys) fields[key] = all.at(key);
  return fields;
}

}  // namespace quorvex
