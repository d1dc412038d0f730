// The two host services that plug-ins call, as a complete host provides them:
// vexGetHugeDouble writes kHugeValue, vexIncompatibleDll only counts. Both
// record their calls, so that a host can report the outcome of a binding.
#pragma once

#include <cfloat>

namespace vexb::host {

// The host's huge value: the largest finite double, 0x1.fffffffffffffp+1023.
inline constexpr double kHugeValue = DBL_MAX;

struct ServiceCalls {
  int huge = 0;                  // calls of vexGetHugeDouble
  double* huge_target = nullptr; // where the last one wrote
  int incompatible = 0;          // calls of vexIncompatibleDll
};

// The calls made since the last ResetServiceCalls.
const ServiceCalls& RecordedServiceCalls();
void ResetServiceCalls();

}  // namespace vexb::host
