// A faulty test plug-in: the remainder formula with its intermediate result
// kept in one variable for the whole library instead of in the call, and a
// millisecond between writing and reading it. Called for one block at a time
// it computes right; two blocks calculated at once on two threads overwrite
// each other's intermediate.
#include <chrono>

#include "plugin.h"

namespace vexb::test {

double g_scratch;

struct SharedScratch {
  static constexpr FixedString kSignature = "{SSDDDD}";
  using Block = BlockInstance<kSignature>;
  static void Evaluate(Block& v, void*) {
    *static_cast<volatile double*>(&g_scratch) = v.Get<2>() - v.Get<3>();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
    while (std::chrono::steady_clock::now() < until) {
    }
    v.Set<5>(*static_cast<volatile double*>(&g_scratch) - v.Get<4>());
  }
};

}  // namespace vexb::test

VEXB_DEFINE_PLUGIN(vexb::test::SharedScratch, 2)
