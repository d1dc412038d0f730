// A faulty test plug-in: the remainder formula, but CheckVariables crashes on
// a text with a lower-case letter, as a plug-in that parsed the text and
// trusted it would. Only that one call of blockhost's checks sends one.
#include "plugin.h"
#include "remainder.h"

VEXB_DEFINE_LIBRARY(2)

extern "C" VEXB_EXPORT std::int32_t VEXB_CALL vexbcppBlockEntryPoint(std::uint32_t mode,
                                                                   vexb::BlockRecord* record,
                                                                   void* extra) {
  if (mode == vexb::kCheckVariables && extra != nullptr)
    for (const char* c = static_cast<const char*>(extra); *c != '\0'; ++c)
      if (*c >= 'a' && *c <= 'z') *static_cast<volatile int*>(nullptr) = 1;
  return vexb::EntryPoint<vexb::models::Remainder, 2>::Call(mode, record, extra);
}
