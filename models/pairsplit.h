// Pair split: two channels, each capping its portion at its total (in place)
// and scaling its amount by capped portion / total; V8 is their sum.
//
//   channel  amount  total  portion  result
//   first    V2      V3     V6       V9
//   second   V4      V5     V7       V10
//
// A total <= 0 (or -0) is never divided by: that channel's result is the
// portion as it was on entry. A NaN total is divided by. The caps stay in the
// block, so a later call sees the capped portions.
#pragma once

#include "block_instance.h"

namespace vexb::models {

struct PairSplit {
  static constexpr FixedString kSignature = "{SSDDDDDDDDD}";
  using Block = BlockInstance<kSignature>;

  static void Evaluate(Block& v, void* /*extra*/) {
    v.Set<9>(v.Get<6>());
    v.Set<10>(v.Get<7>());
    if (v.Get<6>() > v.Get<3>()) v.Set<6>(v.Get<3>());
    if (v.Get<7>() > v.Get<5>()) v.Set<7>(v.Get<5>());
    if (!(v.Get<3>() <= 0.0)) v.Set<9>(v.Get<6>() * v.Get<2>() / v.Get<3>());
    if (!(v.Get<5>() <= 0.0)) v.Set<10>(v.Get<7>() * v.Get<4>() / v.Get<5>());
    v.Set<8>(v.Get<10>() + v.Get<9>());
  }
};

}  // namespace vexb::models
