// Puts one model and one framework revision together into a plug-in.
//
// A deliverable's only source is
//     #include "plugin.h"
//     #include "<model>.h"
//     VEXB_DEFINE_PLUGIN(vexb::models::<Model>, <revision>)
// which defines the library's ServiceTable and HugeValue and exports the
// entry point. The build writes that file for each deliverable.
#pragma once

#include "entry_point.h"
#include "service_table.h"

#define VEXB_DEFINE_PLUGIN(MODEL, REVISION) \
  VEXB_DEFINE_LIBRARY(REVISION)             \
  VEXB_DEFINE_ENTRY_POINT(MODEL, REVISION)

// The library-wide part alone: the ServiceTable of a framework revision and
// the HugeValue.
#define VEXB_DEFINE_LIBRARY(REVISION)                                                \
  static_assert((REVISION) == 1 || (REVISION) == 2, "framework revision 1 or 2");    \
  namespace vexb {                                                                   \
  inline constexpr int kRevision = (REVISION);                                       \
  static constexpr auto kNameBlock = MakeNameBlock<kServiceCount<kRevision>>();      \
  constinit void* gServiceSlots[kServiceCount<kRevision>] = {};                      \
  constinit double HugeValue = 0.0;                                                  \
  constinit const ServiceTable kLibraryServices = {                                  \
      kNameBlock.data(), kServiceCount<kRevision>, gServiceSlots, &HugeValue};       \
  }

// The exported entry point: MODEL under framework revision REVISION.
#define VEXB_DEFINE_ENTRY_POINT(MODEL, REVISION)                                     \
  extern "C" VEXB_EXPORT std::int32_t VEXB_CALL vexbcppBlockEntryPoint(              \
      std::uint32_t mode, vexb::BlockRecord* record, void* extra) {                  \
    return vexb::EntryPoint<MODEL, (REVISION)>::Call(mode, record, extra);           \
  }
