#include "report.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "blockhost.h"

namespace vexb::blockhost {
namespace {

const char* Word(Result result) {
  return result == Result::kPass ? "pass" : result == Result::kFail ? "fail" : "skip";
}

const char* Tag(Result result) {
  return result == Result::kPass ? "PASS" : result == Result::kFail ? "FAIL" : "SKIP";
}

}  // namespace

int PluginOutcome::Count(Result result) const {
  int count = 0;
  for (const CheckOutcome& check : checks) count += check.verdict.result == result ? 1 : 0;
  return count;
}

void PrintPluginHeader(const std::string& plugin) { std::printf("== %s\n", plugin.c_str()); }

void PrintCheck(const CheckOutcome& outcome) {
  std::printf("%s  %-17s %s\n", Tag(outcome.verdict.result), outcome.name.c_str(),
              outcome.verdict.detail.c_str());
  std::fflush(stdout);
}

void PrintPluginSummary(const PluginOutcome& plugin) {
  if (plugin.load_status != 0) {
    std::printf("FAIL  %s: not checked: %s\n", plugin.plugin.c_str(), plugin.load_error.c_str());
    return;
  }
  const int passed = plugin.Count(Result::kPass), failed = plugin.Count(Result::kFail);
  const int skipped = plugin.Count(Result::kSkip);
  std::string line = std::string(plugin.Passed() ? "PASS" : "FAIL") + "  " + plugin.plugin + ": " +
                     std::to_string(passed) + " of " + std::to_string(passed + failed) +
                     " checks passed";
  if (skipped > 0) line += ", " + std::to_string(skipped) + " skipped";
  if (!plugin.Passed()) line += ": the plug-in does not keep the contract";
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void PrintOverallSummary(const std::vector<PluginOutcome>& plugins) {
  int passed = 0;
  for (const PluginOutcome& plugin : plugins) passed += plugin.Passed() ? 1 : 0;
  std::printf("%d of %zu plug-ins passed\n", passed, plugins.size());
}

std::string JsonReport(const std::vector<PluginOutcome>& plugins) {
  using json = nlohmann::ordered_json;
  json list = json::array();
  int passed = 0;
  for (const PluginOutcome& plugin : plugins) {
    json entry = {{"plugin", plugin.plugin}, {"loaded", plugin.load_status == 0}};
    if (plugin.load_status != 0) {
      entry["error"] = plugin.load_error;
      entry["exit_status"] = plugin.load_status;
    } else {
      entry["binding"] = {{"complete", plugin.binding_complete},
                          {"huge_value_calls", plugin.huge_value_calls},
                          {"incompatible_calls", plugin.incompatible_calls},
                          {"detail", plugin.binding}};
      entry["signature"] = plugin.signature.empty() ? json(nullptr) : json(plugin.signature);
      entry["revision"] = plugin.revision == 0 ? json(nullptr) : json(plugin.revision);
      json checks = json::array();
      for (const CheckOutcome& check : plugin.checks)
        checks.push_back({{"name", check.name},
                          {"result", Word(check.verdict.result)},
                          {"detail", check.verdict.detail}});
      entry["checks"] = checks;
      entry["passed"] = plugin.Count(Result::kPass);
      entry["failed"] = plugin.Count(Result::kFail);
      entry["skipped"] = plugin.Count(Result::kSkip);
    }
    entry["result"] = plugin.Passed() ? "pass" : "fail";
    passed += plugin.Passed() ? 1 : 0;
    list.push_back(entry);
  }
  const json report = {{"tool", "blockhost"},
                       {"version", VEXB_VERSION},
                       {"platform", Platform()},
                       {"plugins", list},
                       {"passed", passed},
                       {"failed", int(plugins.size()) - passed},
                       {"result", passed == int(plugins.size()) ? "pass" : "fail"}};
  // Paths and texts from the system may not be UTF-8: such bytes are replaced.
  return report.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace vexb::blockhost
