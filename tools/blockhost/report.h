// The report of `blockhost check`: one line per check and a summary line per
// plug-in as text, and the whole of it as JSON.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace vexb::blockhost {

enum class Result { kPass, kFail, kSkip };

struct Verdict {
  Result result;
  std::string detail;
};
inline Verdict Pass(std::string detail) { return {Result::kPass, std::move(detail)}; }
inline Verdict Fail(std::string detail) { return {Result::kFail, std::move(detail)}; }
inline Verdict Skip(std::string detail) { return {Result::kSkip, std::move(detail)}; }

struct CheckOutcome {
  std::string name;
  Verdict verdict;
};

struct PluginOutcome {
  std::string plugin;
  int load_status = 0;  // 0, or the exit status of why it could not be loaded
  std::string load_error;
  std::string binding;  // the binding at load, in words
  bool binding_complete = false;
  int huge_value_calls = 0;
  int incompatible_calls = 0;
  std::string signature;  // empty when none was found
  int revision = 0;       // 1 or 2 as Init marks the record; 0 when unknown
  std::vector<CheckOutcome> checks;

  int Count(Result result) const;
  bool Passed() const { return load_status == 0 && Count(Result::kFail) == 0; }
};

// Text, printed as the checks run.
void PrintPluginHeader(const std::string& plugin);
void PrintCheck(const CheckOutcome& outcome);
void PrintPluginSummary(const PluginOutcome& plugin);
void PrintOverallSummary(const std::vector<PluginOutcome>& plugins);

// The whole report as a JSON document.
std::string JsonReport(const std::vector<PluginOutcome>& plugins);

}  // namespace vexb::blockhost
