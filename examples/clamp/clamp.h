// Clamp: V5 = V2 limited to the range from V3 to V4.
//
//   V2 value   V3 lower bound   V4 upper bound   V5 result
//
// V2 is raised to V3 when it is below it, then lowered to V4 when it is above
// it, so V5 = min(max(V2, V3), V4) and a lower bound above the upper one gives
// the upper bound. A value that no bound moves passes through with its very
// bits: -0 stays -0 at a bound of +0, and a NaN value stays that NaN. A NaN
// bound limits nothing: comparisons with NaN are false, so that side is open.
#pragma once

#include "block_instance.h"

namespace example {

struct Clamp {
  static constexpr vexb::FixedString kSignature = "{SSDDDD}";
  using Block = vexb::BlockInstance<kSignature>;

  static void Evaluate(Block& v, void* /*extra*/) {
    double x = v.Get<2>();
    if (x < v.Get<3>()) x = v.Get<3>();
    if (x > v.Get<4>()) x = v.Get<4>();
    v.Set<5>(x);
  }
};

}  // namespace example
