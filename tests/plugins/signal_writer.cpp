// A faulty test plug-in for blockhost check: a remainder formula that also
// writes its signal V1, which a plug-in must never touch.
#include "plugin.h"

namespace vexb::test {

struct SignalWriter {
  static constexpr FixedString kSignature = "{SSDDDD}";
  using Block = BlockInstance<kSignature>;
  static void Evaluate(Block& v, void*) {
    v.Set<5>((v.Get<2>() - v.Get<3>()) - v.Get<4>());
    *static_cast<unsigned char*>(v.Accessor<1>().DataAddress()) = 0;
  }
};

}  // namespace vexb::test

VEXB_DEFINE_PLUGIN(vexb::test::SignalWriter, 2)
