#include "blockhost.h"

#include <cstdio>
#include <filesystem>

#include "host/host_block.h"

namespace vexb::blockhost {

void Load(LoadedPlugin& plugin, const std::string& path) {
  plugin.path = path;
  std::error_code error;
  if (!std::filesystem::exists(path, error))
    throw Fatal{kMissingFile, path + ": no such file"};
  // An absolute path, so that the platform loads this file and searches no
  // library path.
  const std::string absolute = std::filesystem::absolute(path, error).string();
  host::ResetServiceCalls();
  if (!plugin.library.Open(absolute))
    throw Fatal{kNotLoadable, path + ": cannot be loaded: " + host::PluginLibrary::LastError()};
  plugin.binding = host::RecordedServiceCalls();
  std::fprintf(stderr, "blockhost: %s: binding: %s\n", path.c_str(), DescribeBinding(plugin).c_str());
  if (plugin.library.entry() == nullptr)
    throw Fatal{kNoEntryPoint, path + ": exports no vexbcppBlockEntryPoint"};
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
  return plugin.library(kCheckVariables, &block.record(), text.data()) == kDone;
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

}  // namespace vexb::blockhost
