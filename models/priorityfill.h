// Priority fill: a demand V6 split between two shares with limits V4 and V5.
// The order test V3*V4 > V2*V5 decides which share is filled first (the
// second on a strict win, the first otherwise, NaN included); the other share
// takes what remains, up to its limit. A shortfall is recorded nowhere.
#pragma once

#include "block_instance.h"

namespace vexb::models {

struct PriorityFill {
  static constexpr FixedString kSignature = "{SSDDDDDDD}";
  using Block = BlockInstance<kSignature>;

  static void Evaluate(Block& v, void* /*extra*/) {
    v.Set<7>(0.0);
    v.Set<8>(0.0);
    const double p = v.Get<2>() * v.Get<5>();
    const double q = v.Get<3>() * v.Get<4>();
    if (q > p) {
      Fill<8, 7, 5, 4>(v);
    } else {
      Fill<7, 8, 4, 5>(v);
    }
  }

 private:
  // Fills share First up to its limit, then share Second with the remainder of
  // the demand V6, read back from the stored first share, up to its limit.
  template <std::size_t First, std::size_t Second, std::size_t FirstLimit,
            std::size_t SecondLimit>
  static void Fill(Block& v) {
    if (v.Get<FirstLimit>() >= v.Get<6>()) {
      v.Set<First>(v.Get<6>());
      return;
    }
    v.Set<First>(v.Get<FirstLimit>());
    const double r = v.Get<6>() - v.Get<First>();
    v.Set<Second>(v.Get<SecondLimit>() >= r ? r : v.Get<SecondLimit>());
  }
};

}  // namespace vexb::models
