// Port identity where the build knows no way to ask the system: no port has one.
#include "PortIdentity.h"

namespace quorvex {

std::vector<PortIdentity> ListPortIdentities() { return {}; }

}  // namespace quorvex
