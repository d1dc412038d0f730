// Balance: V5 = V2 + (V3 - V4).
#pragma once

#include "block_instance.h"

namespace vexb::models {

struct Balance {
  static constexpr FixedString kSignature = "{SSDDDD}";
  using Block = BlockInstance<kSignature>;

  static void Evaluate(Block& v, void* /*extra*/) {
    const double t = v.Get<3>() - v.Get<4>();
    v.Set<5>(v.Get<2>() + t);
  }
};

}  // namespace vexb::models
