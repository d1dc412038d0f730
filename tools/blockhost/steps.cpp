#include "steps.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>

#include "values.h"

namespace vexb::blockhost {
namespace {

std::vector<std::string> SplitCells(const std::string& line) {
  std::vector<std::string> cells(1);
  for (char c : line) {
    if (c == ',') {
      cells.emplace_back();
    } else if (c != ' ' && c != '\t') {
      cells.back() += c;
    }
  }
  return cells;
}

// Calls `row(where, cells)` for every line of a CSV file that is neither
// blank nor a comment (a line starting with '#'), `where` being "path:line: ".
// Throws Fatal (kBadCsv) when it cannot be read.
template <class Row>
void ForEachRow(const std::string& path, Row row) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw Fatal{kBadCsv, path + ": cannot be read"};
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    row(path + ":" + std::to_string(number) + ": ", SplitCells(line));
  }
}

std::string CellName(std::size_t cell, const std::string& variable) {
  return "cell " + std::to_string(cell + 1) + " (" + variable + ")";
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

std::size_t DoubleVariable(const host::HostBlock& block, const std::string& name,
                           const std::string& where) {
  std::size_t k = 0;
  bool digits = name.size() > 1 && name[0] == 'V' && name.size() <= 4;
  for (std::size_t i = 1; digits && i < name.size(); ++i) {
    digits = name[i] >= '0' && name[i] <= '9';
    k = k * 10 + std::size_t(name[i] - '0');
  }
  if (!digits || k >= block.variables())
    throw Fatal{kBadVariable, where + name + ": the block has V0 to V" +
                                  std::to_string(block.variables() - 1)};
  if (block.IsSignal(k)) throw Fatal{kBadVariable, where + name + ": a signal, not a double"};
  return k;
}

StepInputs ReadInputs(const std::string& path, const host::HostBlock& block) {
  StepInputs inputs;
  bool header = true;
  ForEachRow(path, [&](const std::string& where, const std::vector<std::string>& cells) {
    if (header) {
      header = false;
      for (const std::string& name : cells) {
        std::size_t k = 0;
        try {
          k = DoubleVariable(block, name, where + "column ");
        } catch (const Fatal& error) {
          throw Fatal{kBadCsv, error.message};
        }
        for (std::size_t seen : inputs.columns)
          if (seen == k) throw Fatal{kBadCsv, where + "column " + name + " repeated"};
        inputs.columns.push_back(k);
      }
      return;
    }
    if (cells.size() != inputs.columns.size())
      throw Fatal{kBadCsv, where + std::to_string(cells.size()) + " cells, the header has " +
                               std::to_string(inputs.columns.size())};
    std::vector<std::optional<double>>& row = inputs.rows.emplace_back();
    for (std::size_t c = 0; c < cells.size(); ++c) {
      if (cells[c].empty()) {
        row.emplace_back();
        continue;
      }
      std::optional<double> value = ParseDouble(cells[c]);
      if (!value)
        throw Fatal{kBadCsv, where + CellName(c, "V" + std::to_string(inputs.columns[c])) + ": '" +
                                 cells[c] + "' is not a number"};
      row.push_back(value);
    }
  });
  if (header) throw Fatal{kBadCsv, path + ": no header line"};
  return inputs;
}

std::vector<StepValues> RunSteps(const LoadedPlugin& plugin, host::HostBlock& block,
                                 const RunPlan& plan) {
  for (std::size_t k = 0; k < block.variables(); ++k) {
    if (block.IsSignal(k)) {
      block.SetSignal(k, 0);
    } else {
      block.Set(k, 0.0);
    }
  }
  Call(plugin, block, kInit);
  if (block.record().InstanceSlot == nullptr)
    throw Fatal{kNoInstance, plugin.path + ": Init left no instance"};
  for (const auto& [k, value] : plan.sets) block.Set(k, value);

  const std::size_t steps = plan.inputs ? plan.inputs->rows.size() : plan.steps;
  std::vector<StepValues> out;
  for (std::size_t step = 0; step < steps; ++step) {
    if (plan.inputs)
      for (std::size_t c = 0; c < plan.inputs->columns.size(); ++c)
        if (const std::optional<double>& value = plan.inputs->rows[step][c])
          block.Set(plan.inputs->columns[c], *value);
    const std::int32_t answer = Call(plugin, block, kCalculate);
    if (answer != kDone)
      std::fprintf(stderr, "blockhost: step %zu: Calculate answered %d\n", step + 1, int(answer));
    StepValues& values = out.emplace_back();
    for (std::size_t k = 0; k < block.variables(); ++k)
      values.push_back(block.IsSignal(k) ? double(block.Signal(k)) : block.Get(k));
  }
  Call(plugin, block, kCleanup);
  return out;
}

std::string FormatValue(const host::HostBlock& block, std::size_t k, double value) {
  return block.IsSignal(k) ? std::to_string(int(value)) : FormatDouble(value);
}

std::vector<std::vector<std::string>> StepRows(const host::HostBlock& block,
                                               const std::vector<StepValues>& steps) {
  std::vector<std::vector<std::string>> rows(1, {"step"});
  for (std::size_t k = 0; k < block.variables(); ++k) rows[0].push_back("V" + std::to_string(k));
  for (std::size_t step = 0; step < steps.size(); ++step) {
    std::vector<std::string>& cells = rows.emplace_back(1, std::to_string(step + 1));
    for (std::size_t k = 0; k < block.variables(); ++k)
      cells.push_back(FormatValue(block, k, steps[step][k]));
  }
  return rows;
}

std::vector<StepValues> ReadReference(const std::string& path, const host::HostBlock& block) {
  std::vector<StepValues> steps;
  bool header = true;
  ForEachRow(path, [&](const std::string& where, const std::vector<std::string>& cells) {
    if (header) {
      header = false;
      std::vector<std::string> expected = {"step"};
      for (std::size_t k = 0; k < block.variables(); ++k) expected.push_back("V" + std::to_string(k));
      if (cells != expected)
        throw Fatal{kBadCsv, where + "the header must be step,V0,...,V" +
                                 std::to_string(block.variables() - 1) + " for this block"};
      return;
    }
    if (cells.size() != block.variables() + 1)
      throw Fatal{kBadCsv, where + std::to_string(cells.size()) + " cells, the header has " +
                               std::to_string(block.variables() + 1)};
    if (cells[0] != std::to_string(steps.size() + 1))
      throw Fatal{kBadCsv, where + "step " + cells[0] + ", expected " + std::to_string(steps.size() + 1)};
    StepValues& values = steps.emplace_back();
    for (std::size_t k = 0; k < block.variables(); ++k) {
      const std::string& cell = cells[k + 1];
      std::optional<double> value = ParseDouble(cell);
      const bool signal_ok = !block.IsSignal(k) || (value && *value >= 0 && *value <= 255 &&
                                                    *value == std::floor(*value));
      if (!value || !signal_ok)
        throw Fatal{kBadCsv, where + CellName(k + 1, "V" + std::to_string(k)) + ": '" + cell +
                                 (block.IsSignal(k) ? "' is not a signal value" : "' is not a number")};
      values.push_back(*value);
    }
  });
  if (header) throw Fatal{kBadCsv, path + ": no header line"};
  return steps;
}

std::optional<std::string> FirstDifference(const host::HostBlock& block,
                                           const std::vector<StepValues>& expected,
                                           const std::vector<StepValues>& got,
                                           std::optional<double> relative) {
  for (std::size_t step = 0; step < expected.size() && step < got.size(); ++step)
    for (std::size_t k = 0; k < block.variables(); ++k) {
      const double want = expected[step][k], have = got[step][k];
      bool same = SameBits(want, have) || (std::isnan(want) && std::isnan(have));
      if (!same && relative && !block.IsSignal(k) && std::isfinite(want) && std::isfinite(have))
        same = std::fabs(want - have) <= *relative * std::fmax(std::fabs(want), std::fabs(have));
      if (same) continue;
      auto text = [&](double value) {
        std::string shown = FormatValue(block, k, value);
        if (!block.IsSignal(k) && !std::isnan(value)) shown += " (" + HexDouble(value) + ")";
        return shown;
      };
      return "step " + std::to_string(step + 1) + ", V" + std::to_string(k) + ": expected " +
             text(want) + ", got " + text(have);
    }
  if (expected.size() != got.size())
    return "the reference has " + std::to_string(expected.size()) + " steps, the run " +
           std::to_string(got.size());
  return std::nullopt;
}

}  // namespace vexb::blockhost
