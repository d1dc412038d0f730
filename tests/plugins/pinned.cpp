// A faulty test plug-in: the remainder formula in a library that pins itself
// in the process when it is first loaded, so that unloading it does nothing
// and a later load neither binds the host's services again nor fetches the
// huge value.
#if defined(_WIN32)
#include <windows.h>
#else
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dlfcn.h>
#endif

#include "plugin.h"
#include "remainder.h"

namespace {

struct Pin {
  Pin() {
#if defined(_WIN32)
    HMODULE self;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(this), &self);
#else
    Dl_info info;
    if (dladdr(this, &info) != 0) dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
#endif
  }
} pin;

}  // namespace

VEXB_DEFINE_PLUGIN(vexb::models::Remainder, 2)
