// A test plug-in that keeps a value in a 16-byte aligned stack slot during
// Calculate, written and read with aligned SSE moves (movapd), which fault on
// a misaligned address. Built as every plug-in is, the entry point realigns
// its frame whatever stack the caller left; built assuming a 16-byte aligned
// incoming stack (VEXB_ASSUME_ALIGNED_STACK in the build), it does not, and a
// caller that leaves the stack at 4, 8 or 12 mod 16 makes it fault.
#include <emmintrin.h>

#include "plugin.h"

namespace vexb::test {

// The remainder formula, V5 = (V2 - V3) - V4, through the aligned slot.
struct AlignedSlot {
  static constexpr FixedString kSignature = "{SSDDDD}";
  using Block = BlockInstance<kSignature>;
  static void Evaluate(Block& v, void*) {
    alignas(16) double slot[2] = {v.Get<2>(), v.Get<3>()};
    // An aligned load, spelled out: compilers may turn an aligned access to
    // the stack into an unaligned one where they cannot prove the alignment.
    __m128d pair;
    __asm__ volatile("movapd %1, %0" : "=x"(pair) : "m"(slot));
    v.Set<5>((_mm_cvtsd_f64(pair) - _mm_cvtsd_f64(_mm_unpackhi_pd(pair, pair))) - v.Get<4>());
  }
};

}  // namespace vexb::test

VEXB_DEFINE_PLUGIN(vexb::test::AlignedSlot, 2)
