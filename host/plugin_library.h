// Loads a plug-in the way a host does and hands out its entry point. Shared by
// the test hosts, blockhost and the benchmark.
#pragma once

#include <string>

#include "host_contract.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace vexb::host {

// The folder of the running program, where the build puts the plug-ins.
inline std::string ProgramFolder() {
  char path[4096] = {};
#if defined(_WIN32)
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path - 1);
  std::string text(path, length);
  return text.substr(0, text.find_last_of("\\/") + 1);
#else
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string text(path, length > 0 ? length : 0);
  return text.substr(0, text.find_last_of('/') + 1);
#endif
}

inline std::string PluginPath(const char* file) { return ProgramFolder() + file; }

class PluginLibrary {
 public:
  PluginLibrary() = default;
  explicit PluginLibrary(const std::string& path) { Open(path); }
  ~PluginLibrary() { Close(); }
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  bool Open(const std::string& path) {
    Close();
#if defined(_WIN32)
    handle_ = LoadLibraryA(path.c_str());
#else
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (handle_ != nullptr) entry_ = reinterpret_cast<EntryPointFn>(Find("vexbcppBlockEntryPoint"));
    return handle_ != nullptr;
  }

  void Close() {
    if (handle_ == nullptr) return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
    handle_ = nullptr;
    entry_ = nullptr;
  }

  void* Find(const char* name) const {
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
  }

  static std::string LastError() {
#if defined(_WIN32)
    const DWORD code = GetLastError();
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                   sizeof text, nullptr);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
      message.pop_back();
    return "error " + std::to_string(code) + (message.empty() ? "" : ": " + message);
#else
    const char* text = dlerror();
    return text != nullptr ? text : "";
#endif
  }

  // The module that holds `address`, as the platform names modules: tells
  // whether an address lies inside a loaded plug-in.
  static const void* ModuleOf(const void* address) {
#if defined(_WIN32)
    HMODULE module = nullptr;
    GetModuleHandleExA(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        static_cast<LPCSTR>(address), &module);
    return module;
#else
    Dl_info info;
    return dladdr(address, &info) != 0 ? info.dli_fbase : nullptr;
#endif
  }

  bool loaded() const { return handle_ != nullptr; }
  EntryPointFn entry() const { return entry_; }
  std::int32_t operator()(std::uint32_t mode, BlockRecord* record, void* extra = nullptr) const {
    return entry_(mode, record, extra);
  }

 private:
  void* handle_ = nullptr;
  EntryPointFn entry_ = nullptr;
};

}  // namespace vexb::host
