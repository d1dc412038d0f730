// Remainder: V5 = (V2 - V3) - V4.
#pragma once

#include "block_instance.h"

namespace vexb::models {

struct Remainder {
  static constexpr FixedString kSignature = "{SSDDDD}";
  using Block = BlockInstance<kSignature>;

  static void Evaluate(Block& v, void* /*extra*/) {
    const double t = v.Get<2>() - v.Get<3>();
    v.Set<5>(t - v.Get<4>());
  }
};

}  // namespace vexb::models
