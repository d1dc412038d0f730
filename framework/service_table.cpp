#include "service_table.h"

#include <cstring>

namespace vexb {

bool BindServices(const HostLookup& lookup, const char* names, std::size_t count,
                  void** slots) {
  void* module = lookup.main_module(lookup.context);
  bool complete = true;
  for (std::size_t k = 0; k < count; ++k) {
    slots[k] = lookup.find_export(lookup.context, module, names);
    if (slots[k] == nullptr) complete = false;
    names += std::strlen(names) + 1;
  }
  return complete;
}

void ReportBinding(const ServiceTable& table, bool complete) {
  if (complete) {
    // Every slot is set, this one included.
    reinterpret_cast<GetHugeDoubleFn>(table.slots[kGetHugeDoubleRow - 1])(table.huge_value);
  } else if (void* report = table.slots[kIncompatibleDllRow - 1]) {
    reinterpret_cast<IncompatibleDllFn>(report)();
  }
}

std::int32_t AttachWith(const ServiceTable& table, const HostLookup& lookup,
                        std::uint32_t reason) {
  if (reason == kProcessAttach)
    ReportBinding(table, BindServices(lookup, table.names, table.count, table.slots));
  return 1;
}

}  // namespace vexb
