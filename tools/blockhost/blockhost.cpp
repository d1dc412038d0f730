#include "blockhost.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "values.h"

namespace vexb::blockhost {

void Load(LoadedPlugin& plugin, const std::string& path) {
  plugin.path = path;
  std::error_code error;
  if (!std::filesystem::exists(path, error))
    throw Fatal{kMissingFile, path + ": no such file"};
  // An absolute path, so that the platform loads this file and searches no
  // library path.
  plugin.absolute = std::filesystem::absolute(path, error).string();
  if (!Reload(plugin))
    throw Fatal{kNotLoadable, path + ": cannot be loaded: " + host::PluginLibrary::LastError()};
  std::fprintf(stderr, "blockhost: %s: binding: %s\n", path.c_str(), DescribeBinding(plugin).c_str());
  if (plugin.library.entry() == nullptr)
    throw Fatal{kNoEntryPoint, path + ": exports no vexbcppBlockEntryPoint"};
}

bool Reload(LoadedPlugin& plugin) {
  host::ResetServiceCalls();
  const bool loaded = plugin.library.Open(plugin.absolute);
  plugin.binding = host::RecordedServiceCalls();
  return loaded;
}

bool BindingComplete(const LoadedPlugin& plugin) {
  const host::ServiceCalls& calls = plugin.binding;
  return calls.huge == 1 && calls.incompatible == 0 &&
         host::PluginLibrary::ModuleOf(calls.huge_target) ==
             host::PluginLibrary::ModuleOf(reinterpret_cast<const void*>(plugin.library.entry()));
}

std::string DescribeBinding(const LoadedPlugin& plugin) {
  const host::ServiceCalls& calls = plugin.binding;
  if (calls.huge == 0 && calls.incompatible == 0) return "no host service called";
  std::string text;
  if (calls.huge > 0) {
    text = "fetched the huge value";
    if (calls.huge == 1 && calls.incompatible == 0) text += " (every service found)";
    if (calls.huge > 1) text += " " + std::to_string(calls.huge) + " times";
    if (plugin.library.entry() != nullptr && !BindingComplete(plugin) && calls.incompatible == 0)
      text += " into memory outside the plug-in";
  }
  if (calls.incompatible > 0) {
    if (!text.empty()) text += ", and ";
    text += "reported an incompatible host";
    if (calls.incompatible > 1) text += " " + std::to_string(calls.incompatible) + " times";
  }
  return text;
}

namespace {

bool Accepts(const LoadedPlugin& plugin, const std::string& signature) {
  host::HostBlock block("{}");
  std::string text = signature;
  return Call(plugin, block, kCheckVariables, text.data()) == kDone;
}

std::FILE* g_trace = nullptr;
unsigned long g_calls = 0;

std::string Pointer(const void* address) { return Hex(reinterpret_cast<std::uintptr_t>(address)); }

// The variables whose bytes a call changed, "V9 0 -> 10, ...".
std::string Changes(const host::HostBlock& block, const std::vector<unsigned char>& before,
                    const std::vector<unsigned char>& after) {
  std::string text;
  for (std::size_t k = 0; k < block.variables(); ++k) {
    const std::size_t at = block.Offset(k);
    const std::size_t size = block.IsSignal(k) ? 1 : 8;
    if (std::equal(before.begin() + at, before.begin() + at + size, after.begin() + at)) continue;
    auto value = [&](const std::vector<unsigned char>& bytes) {
      return block.IsSignal(k) ? "signal " + std::to_string(int(bytes[at]))
                               : FormatDouble(host::HostBlock::Read(bytes.data() + at));
    };
    text += (text.empty() ? "" : ", ") + ("V" + std::to_string(k) + " " + value(before) + " -> " +
                                          value(after));
  }
  return text;
}

}  // namespace

std::optional<std::string> FindSignature(const LoadedPlugin& plugin) {
  for (int signals : {2, 0, 1, 3, 4, 5, 6, 7, 8})
    for (int doubles = 0; doubles <= 64; ++doubles) {
      const std::string text = "{" + std::string(signals, 'S') + std::string(doubles, 'D') + "}";
      if (Accepts(plugin, text)) return text;
    }
  return std::nullopt;
}

std::string ResolveSignature(const LoadedPlugin& plugin, const std::optional<std::string>& given) {
  if (given) {
    if (!host::IsSignatureText(*given))
      throw Fatal{kUsage, "--signature " + *given + ": not '{', S and D letters, '}'"};
    if (!Accepts(plugin, *given))
      throw Fatal{kSignatureRefused, plugin.path + ": refuses the signature " + *given};
    return *given;
  }
  if (std::optional<std::string> found = FindSignature(plugin)) return *found;
  throw Fatal{kSignatureRefused, plugin.path +
                                     ": accepts no signature (tried {SS} to {SS + 64 D}, "
                                     "with 0 to 8 leading S)"};
}

void TraceCallsTo(std::FILE* out) { g_trace = out; }

std::int32_t Call(const LoadedPlugin& plugin, host::HostBlock& block, std::uint32_t mode, void* extra) {
  BlockRecord& record = block.record();
  if (g_trace == nullptr) return plugin.library(mode, &record, extra);

  const void* slot = record.InstanceSlot;
  const unsigned flag = record.FlagByte;
  const std::vector<unsigned char> before = block.StorageBytes(block.current());
  // What the call is asked, written before it runs: a call that never comes
  // back is still in the trace.
  std::string call = "call " + std::to_string(++g_calls) + ": " + ModeName(mode);
  if (mode == kCheckVariables)
    call += extra != nullptr ? " \"" + std::string(static_cast<const char*>(extra)) + "\"" : " (no text)";
  std::fprintf(g_trace, "%s", call.c_str());
  std::fflush(g_trace);

  const std::int32_t result = plugin.library(mode, &record, extra);

  std::string text = " -> " + ResultName(result) + "; InstanceSlot " + Pointer(slot) + " -> " +
                     Pointer(record.InstanceSlot) + "; FlagByte " + Hex(flag) + " -> " +
                     Hex(record.FlagByte);
  const std::string changes = Changes(block, before, block.StorageBytes(block.current()));
  if (!changes.empty()) text += "; changed " + changes;
  std::fprintf(g_trace, "%s\n", text.c_str());
  std::fflush(g_trace);
  return result;
}

std::string ModeName(std::uint32_t mode) {
  switch (mode) {
    case kInit:
      return "Init";
    case kCleanup:
      return "Cleanup";
    case kCalculate:
      return "Calculate";
    case kCheckVariables:
      return "CheckVariables";
    default:
      return "mode " + (mode < 10 ? std::to_string(mode) : Hex(mode));
  }
}

std::string ResultName(std::int32_t result) {
  return result == kDone ? "Done" : result == kBadVariables ? "BadVariables" : std::to_string(result);
}

std::string Hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

const char* Platform() {
#if defined(_WIN32)
#define VEXB_SYSTEM "windows-"
#else
#define VEXB_SYSTEM "linux-"
#endif
#if defined(__x86_64__)
  return VEXB_SYSTEM "x86_64";
#elif defined(__i386__)
  return VEXB_SYSTEM "x86";
#else
  return VEXB_SYSTEM "other";
#endif
#undef VEXB_SYSTEM
}

}  // namespace vexb::blockhost
