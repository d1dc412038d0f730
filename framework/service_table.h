// The ServiceTable: the host's service addresses, bound by name at load.
//
// Each loaded library has its own table: the names of its revision's list and
// one slot per name. The slots are zero-initialised data, written only by
// BindHostServices during the process attach and only read afterwards, so no
// lock guards them. HugeValue is written by the host through vexGetHugeDouble
// during that same attach, and only when every name was found.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host_contract.h"
#include "service_names.h"

namespace vexb {

// Platform notification codes passed to OnLibraryAttach.
enum AttachReason : std::uint32_t {
  kProcessDetach = 0,
  kProcessAttach = 1,
  kThreadAttach = 2,
  kThreadDetach = 3,
};

// What the binding needs from the platform: the main executable's module, and
// a look-up of an exact export name in it. Passed in, so that the binding can
// be driven by a test as well as by the loader.
struct HostLookup {
  void* context;
  void* (*main_module)(void* context);
  void* (*find_export)(void* context, void* module, const char* name);
};

// The platform's look-up: GetModuleHandleA(NULL) and GetProcAddress on Windows,
// the main program's dynamic symbols elsewhere.
HostLookup PlatformLookup();

// Looks the Count names of `names` (consecutive NUL-terminated texts) up in
// the main module, in order, with no early stop, storing every answer (null
// included) in `slots`. True exactly when no slot is null.
bool BindServices(const HostLookup& lookup, const char* names, std::size_t count,
                  void** slots);

// The table of one library, for the revision it is built with.
struct ServiceTable {
  const char* names;   // kCount consecutive NUL-terminated names
  std::size_t count;
  void** slots;        // kCount addresses, null where the host has none
  double* huge_value;  // written by vexGetHugeDouble
};

// This library's table, slots and huge value; defined once per deliverable by
// VEXB_DEFINE_PLUGIN. Model code calls a service through its slot (row k is
// gServiceSlots[k - 1]) with the form the host gives that service.
extern const ServiceTable kLibraryServices;
extern void* gServiceSlots[];
extern double HugeValue;

// Fills this library's slots; true when every name was found.
bool BindHostServices();

// Handler of the platform's library notifications. At process attach it binds
// the table, then fetches the huge value from a compatible host or reports an
// incompatible one through vexIncompatibleDll, if offered. Every other
// notification does nothing. Always answers 1, so the library always loads.
std::int32_t OnLibraryAttach(void* module, std::uint32_t reason, void* reserved);

// After a binding: fetches the huge value when it was complete, or reports
// the incompatible host through vexIncompatibleDll when that was found.
void ReportBinding(const ServiceTable& table, bool complete);

// The same attach step against any table and look-up; OnLibraryAttach is this
// with the library's own. Exposed for tests.
std::int32_t AttachWith(const ServiceTable& table, const HostLookup& lookup,
                        std::uint32_t reason);

}  // namespace vexb
