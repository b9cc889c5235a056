#include "Hook.h"

namespace quorvex::station {

HookOutcome RunHook(const std::vector<std::string>&, const std::string&,
                    const std::vector<std::string>&, std::chrono::milliseconds) {
  return {};
}

std::string HookComplaint(const HookOutcome&) { return {}; }

}  // namespace quorvex::station
