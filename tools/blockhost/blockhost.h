// blockhost: a command-line host that loads block plug-ins, finds their block
// shape, checks their contract and runs them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "host/host_block.h"
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
  kBadCsv = 9,             // an --input or --reference file is unreadable or malformed
  kNoInstance = 10,        // Init left no instance (the plug-in ran out of memory)
  kDiffersFromReference = 11,  // run: a step differs from the --reference file
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
  std::string path;      // as the user gave it
  std::string absolute;  // what the platform loaded
};

// Loads `path`, reports the binding on standard error and makes sure that the
// entry point is there; throws Fatal otherwise.
void Load(LoadedPlugin& plugin, const std::string& path);
// Loads the same file again (after library.Close()), recording the binding
// of this load; false when it cannot be loaded.
bool Reload(LoadedPlugin& plugin);

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

// Where entry-point calls are traced, one line each; null turns tracing off.
void TraceCallsTo(std::FILE* out);
// Every call blockhost makes into a plug-in for a block goes through here, so
// that a trace sees them all.
std::int32_t Call(const LoadedPlugin& plugin, host::HostBlock& block, std::uint32_t mode,
                  void* extra = nullptr);

// "Init", "Calculate", ..., or "mode 7"; "Done", "BadVariables" or the number.
std::string ModeName(std::uint32_t mode);
std::string ResultName(std::int32_t result);
std::string Hex(std::uint64_t value);

// The platform blockhost was built for, e.g. "windows-x86" or "linux-x86_64".
const char* Platform();

}  // namespace vexb::blockhost
