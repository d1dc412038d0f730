// The tests read and set floating-point state through the host's helpers.
#pragma once

#include "host/fp_state.h"

namespace vexb::test {
using namespace vexb::host;  // FpState, ReadFpState, WriteFpControl and the bit masks
}  // namespace vexb::test
