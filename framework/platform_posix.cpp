// The loader pieces on ELF platforms: the main program's dynamic symbol table
// stands for the host executable's export table, and an ELF constructor and
// destructor deliver the process attach and detach notifications.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#include <link.h>

#include "service_table.h"

namespace vexb {
namespace {

// The global handle: its link map is the main program's.
void* MainModule(void*) { return dlopen(nullptr, RTLD_LAZY); }

// A symbol counts only when the main program itself defines it: the global
// scope also holds every library loaded with it, and those are not the host.
void* FindExport(void*, void* module, const char* name) {
  link_map* main_program = nullptr;
  if (module == nullptr || dlinfo(module, RTLD_DI_LINKMAP, &main_program) != 0)
    return nullptr;
  void* address = dlsym(module, name);
  if (address == nullptr) return nullptr;
  Dl_info info;
  link_map* owner = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) == 0 ||
      owner != main_program)
    return nullptr;
  return address;
}

int ModuleAnchor;

void* OwnModule() {
  Dl_info info;
  return dladdr(&ModuleAnchor, &info) != 0 ? info.dli_fbase : nullptr;
}

__attribute__((constructor)) void LibraryLoaded() {
  OnLibraryAttach(OwnModule(), kProcessAttach, nullptr);
}

__attribute__((destructor)) void LibraryUnloaded() {
  OnLibraryAttach(OwnModule(), kProcessDetach, nullptr);
}

}  // namespace

HostLookup PlatformLookup() { return HostLookup{nullptr, &MainModule, &FindExport}; }

}  // namespace vexb
