// Net share: V5 = ((V2 * ((1 - V6) - V7)) - V3) - V4, each step rounded.
#pragma once

#include "block_instance.h"

namespace vexb::models {

struct NetShare {
  static constexpr FixedString kSignature = "{SSDDDDDD}";
  using Block = BlockInstance<kSignature>;

  static void Evaluate(Block& v, void* /*extra*/) {
    const double t1 = 1.0 - v.Get<6>();
    const double t2 = t1 - v.Get<7>();
    const double t3 = v.Get<2>() * t2;
    const double t4 = t3 - v.Get<3>();
    v.Set<5>(t4 - v.Get<4>());
  }
};

}  // namespace vexb::models
