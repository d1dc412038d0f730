// Scaled product: V5 = V6 * V3. V2 and V4 are part of the block but unused.
#pragma once

#include "block_instance.h"

namespace vexb::models {

struct Scaled {
  static constexpr FixedString kSignature = "{SSDDDDD}";
  using Block = BlockInstance<kSignature>;

  static void Evaluate(Block& v, void* /*extra*/) { v.Set<5>(v.Get<6>() * v.Get<3>()); }
};

}  // namespace vexb::models
