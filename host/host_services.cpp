#include "host/host_services.h"

#include "host_contract.h"

namespace vexb::host {
namespace {
ServiceCalls g_calls;
}  // namespace

const ServiceCalls& RecordedServiceCalls() { return g_calls; }
void ResetServiceCalls() { g_calls = ServiceCalls{}; }

}  // namespace vexb::host

VEXB_HOST_SERVICE void VEXB_CALL vexGetHugeDouble(double* value) {
  ++vexb::host::g_calls.huge;
  vexb::host::g_calls.huge_target = value;
  *value = vexb::host::kHugeValue;
}

VEXB_HOST_SERVICE void VEXB_CALL vexIncompatibleDll() { ++vexb::host::g_calls.incompatible; }
