// Steps of a block: the inputs blockhost applies before each Calculate, the
// variables it reads after it, and the comparison of a run with a reference
// run. Shared by `run` and by the reference check of `check`.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "blockhost.h"

namespace vexb::blockhost {

// An --input file: a header of double variable names (V2,V3,... in any
// order), then one row per step; an empty cell keeps the block's value.
struct StepInputs {
  std::vector<std::size_t> columns;                       // variable numbers
  std::vector<std::vector<std::optional<double>>> rows;  // one per step
};

// Reads an --input file for `block`; throws Fatal (kBadCsv) with the line.
StepInputs ReadInputs(const std::string& path, const host::HostBlock& block);

// The number k of double variable "Vk" of the block; throws Fatal
// (kBadVariable) naming `where`.
std::size_t DoubleVariable(const host::HostBlock& block, const std::string& name,
                           const std::string& where);

// Every variable of the block after one step: signals as their byte value.
using StepValues = std::vector<double>;

struct RunPlan {
  std::vector<std::pair<std::size_t, double>> sets;  // applied once, after Init
  std::optional<StepInputs> inputs;                   // one step per row...
  std::size_t steps = 1;                              // ...or this many
};

// Creates one block of the plug-in's shape (every variable 0), runs Init,
// the sets, one Calculate per step and Cleanup; answers the variables after
// each step. Throws Fatal (kNoInstance) when Init leaves no instance.
std::vector<StepValues> RunSteps(const LoadedPlugin& plugin, host::HostBlock& block,
                                 const RunPlan& plan);

// The text of one variable as `run` prints it: an integer for a signal, the
// shortest exact text for a double.
std::string FormatValue(const host::HostBlock& block, std::size_t k, double value);

// The run as rows of cells: "step,V0,V1,..." then one row per step.
std::vector<std::vector<std::string>> StepRows(const host::HostBlock& block,
                                               const std::vector<StepValues>& steps);

// A reference run: a file in the format `run --format csv` writes.
std::vector<StepValues> ReadReference(const std::string& path, const host::HostBlock& block);

// The first difference between a run and its reference, in words ("step 3,
// V9: expected 5, got 5.000000000000001"), or nothing when they agree.
// Doubles agree bit for bit (any NaN agrees with any NaN) or, with a
// tolerance, within `relative` of the larger magnitude; signals exactly.
std::optional<std::string> FirstDifference(const host::HostBlock& block,
                                           const std::vector<StepValues>& expected,
                                           const std::vector<StepValues>& got,
                                           std::optional<double> relative);

}  // namespace vexb::blockhost
