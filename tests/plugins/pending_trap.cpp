// A faulty test plug-in: the revision-1 remainder formula behind a waiting
// x87 instruction at the very start of the entry point, as a guard that loads
// its control word before clearing would have. A host that arrives with an
// unmasked x87 exception pending gets it raised inside the plug-in.
#include "plugin.h"
#include "remainder.h"

VEXB_DEFINE_LIBRARY(1)

extern "C" VEXB_EXPORT std::int32_t VEXB_CALL vexbcppBlockEntryPoint(std::uint32_t mode,
                                                                   vexb::BlockRecord* record,
                                                                   void* extra) {
  __asm__ volatile("fwait" : : : "memory");
  return vexb::EntryPoint<vexb::models::Remainder, 1>::Call(mode, record, extra);
}
