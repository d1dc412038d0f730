// The loader pieces on Windows: the host executable's export table, reached
// through GetModuleHandleA(NULL) and GetProcAddress, and DllMain, which the C
// runtime's DLL start-up calls once the runtime has initialised itself.
#include <windows.h>

#include "service_table.h"

namespace vexb {
namespace {

void* MainModule(void*) { return GetModuleHandleA(nullptr); }

void* FindExport(void*, void* module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

}  // namespace

HostLookup PlatformLookup() { return HostLookup{nullptr, &MainModule, &FindExport}; }

}  // namespace vexb

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  return vexb::OnLibraryAttach(module, reason, reserved);
}

// The block instances come from the C runtime's heap, which the DLL imports
// from msvcrt.dll. Defining the non-throwing allocation functions here keeps
// the C++ runtime's exception machinery, which a plug-in built without
// exceptions never uses, out of the DLL.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size != 0 ? size : 1);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
