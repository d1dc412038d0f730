// The library's own attach: its table, bound against the platform's loader.
#include "service_table.h"

namespace vexb {

bool BindHostServices() {
  const ServiceTable& table = kLibraryServices;
  return BindServices(PlatformLookup(), table.names, table.count, table.slots);
}

std::int32_t OnLibraryAttach(void* /*module*/, std::uint32_t reason, void* /*reserved*/) {
  if (reason == kProcessAttach) ReportBinding(kLibraryServices, BindHostServices());
  return 1;
}

}  // namespace vexb
