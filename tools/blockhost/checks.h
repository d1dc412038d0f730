// blockhost check: what a host integrator verifies before trusting a plug-in.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vexb::blockhost {

struct CheckOptions {
  std::optional<std::string> signature;   // given, instead of the one found
  std::vector<std::string> only;          // run these checks alone
  std::vector<std::string> skip;          // and none of these
  bool in_process = false;                // no isolation, for a debugger
  std::optional<std::string> references;  // folder of reference runs
  bool json = false;                      // the report as JSON on standard output
  std::optional<std::string> json_file;   // and/or into this file
};

// Every check, in the order they run: its stable name and what it verifies.
struct CheckInfo {
  const char* name;
  const char* verifies;
};
std::vector<CheckInfo> ListChecks();

// Checks every plug-in of `paths` (plug-in files, or folders whose plug-ins
// are all checked) and reports. Answers kOk when every plug-in passed, else
// the status of the first that could not be loaded (kMissingFile,
// kNotLoadable, kNoEntryPoint), else kCheckFailed.
int RunCheckCommand(const std::vector<std::string>& paths, const CheckOptions& options);

}  // namespace vexb::blockhost
