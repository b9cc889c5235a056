#pragma once

#include <nlohmann/json.hpp>

#include <initializer_list>
#include <optional>

#include "RunRecord.h"

namespace quorvex {

using json = nlohmann::ordered_json;  // keys in the order written

// A run's record as JSON, each field in the one form that both the --json result event and
// the audit line give it: null for what does not apply, the seconds to the millisecond.
// command, port, usb_serial, file (as the record holds it), sha256, sector, name, exit,
// seconds, log.
json ToJson(const RunRecord& record);

// Null for a value that does not apply.
template <typename T>
json OrNull(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

// Seconds as every record gives them: to the millisecond.
double RecordSeconds(double seconds);

// The fields of `all` named by `keys`, in that order: each writer lays the record out as its
// readers have always seen it.
json Fields(const json& all, std::initializer_list<const char*> keys);

}  // namespace quorvex
