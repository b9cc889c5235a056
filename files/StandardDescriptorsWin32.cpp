#include "StandardDescriptors.h"

namespace quorvex {

void KeepStandardDescriptorsTaken() {}

}  // namespace quorvex
