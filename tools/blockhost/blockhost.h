// blockhost: a command-line host that loads a block plug-in, finds its block
// shape, checks its contract and runs it.
#pragma once

#include <optional>
#include <string>

#include "host/host_services.h"
#include "host/plugin_library.h"

namespace vexb::blockhost {

// Exit statuses, one per kind of error; printed by --help.
enum ExitStatus : int {
  kOk = 0,
  kCheckFailed = 1,        // check: at least one check failed
  kUsage = 2,              // bad command line or malformed --signature text
  kMissingFile = 3,        // the plug-in file does not exist
  kNotLoadable = 4,        // it exists but the platform cannot load it
  kNoEntryPoint = 5,       // it loads but exports no vexbcppBlockEntryPoint
  kSignatureRefused = 6,   // the plug-in refuses the signature, or accepts none
  kBadValue = 7,           // a --set value that does not parse
  kBadVariable = 8,        // a --set or CSV variable the block lacks, or a signal
  kBadCsv = 9,             // the --input file is unreadable or malformed
  kNoInstance = 10,        // Init left no instance (the plug-in ran out of memory)
};

// An error that ends the command: one line on standard error, then the status.
struct Fatal {
  int status;
  std::string message;
};

// A plug-in loaded against this host, with what its binding did.
struct LoadedPlugin {
  host::PluginLibrary library;
  host::ServiceCalls binding;
  std::string path;
};

// Loads `path`, reports the binding on standard error and makes sure that the
// entry point is there; throws Fatal otherwise.
void Load(LoadedPlugin& plugin, const std::string& path);

// The outcome of the binding in words, e.g. "fetched the huge value".
std::string DescribeBinding(const LoadedPlugin& plugin);
// True when the binding found every service: the huge value was fetched once,
// into the plug-in's own memory, and no incompatibility was reported.
bool BindingComplete(const LoadedPlugin& plugin);

// The first StructureSignature that the plug-in accepts among "{" + n "S" + m
// "D" + "}", m from 0 to 64, n = 2 first, then 0, 1 and 3 to 8.
std::optional<std::string> FindSignature(const LoadedPlugin& plugin);
// The given signature if the plug-in accepts it, else the one found; throws
// Fatal (kUsage, kSignatureRefused) when there is none.
std::string ResolveSignature(const LoadedPlugin& plugin, const std::optional<std::string>& given);

// blockhost check: prints one line per check and a summary; kOk or kCheckFailed.
int RunChecks(const LoadedPlugin& plugin, const std::optional<std::string>& given);

}  // namespace vexb::blockhost
