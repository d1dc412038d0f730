// A faulty test plug-in: the remainder formula, which also marks a NaN in V2
// in its signal V1, a byte that a plug-in must never touch. Ordinary inputs
// never show it.
#include <cmath>

#include "plugin.h"

namespace vexb::test {

struct NanFlag {
  static constexpr FixedString kSignature = "{SSDDDD}";
  using Block = BlockInstance<kSignature>;
  static void Evaluate(Block& v, void*) {
    v.Set<5>((v.Get<2>() - v.Get<3>()) - v.Get<4>());
    if (std::isnan(v.Get<2>())) *static_cast<unsigned char*>(v.Accessor<1>().DataAddress()) = 1;
  }
};

}  // namespace vexb::test

VEXB_DEFINE_PLUGIN(vexb::test::NanFlag, 2)
