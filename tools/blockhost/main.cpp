// blockhost's command line: shape, run, check.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "blockhost.h"
#include "host/host_block.h"
#include "values.h"

namespace vexb::blockhost {
namespace {

constexpr const char* kHelp = R"(usage:
  blockhost shape PLUGIN
  blockhost run PLUGIN [--signature SIG] [--set Vk=VALUE]... [--input FILE.csv]
                       [--steps N] [--format table|csv]
  blockhost check PLUGIN [--signature SIG]
  blockhost --help

A complete host for block plug-ins: it exports all 545 host services
(vexGetHugeDouble writes DBL_MAX = 0x1.fffffffffffffp+1023, vexIncompatibleDll
is recorded, the others do nothing and answer 0) and keeps a BlockRecord and a
VariableStorage per block. Every command reports on standard error what the
plug-in's binding did at load.

shape   prints the StructureSignature that the plug-in accepts, found by
        asking CheckVariables: "{SS}" followed by 0 to 64 "D"s, then the same
        with 0, 1 and 3 to 8 leading "S"s.
run     creates one block (signature given or found), sets the --set values
        (after Init; every double starts at 0, every signal at 0), runs one
        Calculate per step (--steps N, default 1) or per data row of --input,
        and prints the variables after each step; then Cleanup and unload.
        --input: a header of double variable names (V2,V3,...), then one row
        per step; an empty cell keeps the block's current value; blank lines
        are skipped. --format csv prints step,V0,V1,...; table (default)
        aligns the same. Doubles print as the shortest text that reads back
        exactly (-0, inf, -inf, nan, -nan included); signals as integers.
check   runs the contract checks and prints PASS or FAIL per check and a
        summary.

VALUE: decimal (2.5, -1e-3), hexadecimal floating (0x1.8p1), inf, -inf, nan,
-0; values beyond the range of a double are refused.

exit status:
  0  success (check: every check passed)
  1  check: at least one check failed
  2  bad command line, or a --signature that is not '{', S and D, '}'
  3  the plug-in file does not exist
  4  the file cannot be loaded as a library
  5  the library exports no vexbcppBlockEntryPoint
  6  the plug-in refuses the signature, or accepts none that shape tries
  7  a --set value that does not parse
  8  a variable (--set or CSV column) that the block does not have, or a signal
  9  the --input file cannot be read, or is malformed (unknown or repeated
     column, wrong number of cells, bad number; the message gives the line)
  10 Init left no instance
)";

struct Options {
  std::string command;
  std::string plugin;
  std::optional<std::string> signature;
  std::vector<std::pair<std::string, double>> sets;  // variable name, value
  std::optional<std::string> input;
  std::optional<long> steps;
  bool csv = false;
};

Options ParseArguments(int argc, char** argv) {
  Options options;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) throw Fatal{kUsage, "no command (see blockhost --help)"};
  options.command = args[0];
  if (options.command != "shape" && options.command != "run" && options.command != "check")
    throw Fatal{kUsage, "unknown command " + options.command + " (see blockhost --help)"};
  if (args.size() < 2) throw Fatal{kUsage, options.command + ": no PLUGIN given"};
  options.plugin = args[1];
  const bool run = options.command == "run";
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string& option = args[i];
    const bool known = (option == "--signature" && options.command != "shape") ||
                       (run && (option == "--set" || option == "--input" ||
                                option == "--steps" || option == "--format"));
    if (!known) throw Fatal{kUsage, options.command + ": unknown option " + option};
    if (i + 1 >= args.size()) throw Fatal{kUsage, option + " needs a value"};
    const std::string& value = args[++i];
    if (option == "--signature") {
      options.signature = value;
    } else if (option == "--set") {
      const std::size_t equals = value.find('=');
      if (equals == std::string::npos) throw Fatal{kUsage, "--set " + value + ": not Vk=VALUE"};
      const std::string text = value.substr(equals + 1);
      std::optional<double> number = ParseDouble(text);
      if (!number) throw Fatal{kBadValue, "--set " + value + ": '" + text + "' is not a number"};
      options.sets.emplace_back(value.substr(0, equals), *number);
    } else if (option == "--input") {
      options.input = value;
    } else if (option == "--steps") {
      std::size_t used = 0;
      long steps = -1;
      try {
        steps = std::stol(value, &used);
      } catch (...) {
      }
      if (used != value.size() || steps < 0) throw Fatal{kUsage, "--steps " + value + ": not a count"};
      options.steps = steps;
    } else if (option == "--format") {
      if (value != "table" && value != "csv") throw Fatal{kUsage, "--format " + value + ": table or csv"};
      options.csv = value == "csv";
    }
  }
  if (options.input && options.steps)
    throw Fatal{kUsage, "--steps and --input exclude each other: one step per input row"};
  return options;
}

// The number k of a double variable "Vk" of the block; throws kBadVariable.
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

// One row of --input: the value of each column, or none for an empty cell.
using Row = std::vector<std::optional<double>>;

struct Table {
  std::vector<std::size_t> columns;  // variable numbers
  std::vector<Row> rows;
};

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

Table ReadInput(const std::string& path, const host::HostBlock& block) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw Fatal{kBadCsv, path + ": cannot be read"};
  Table table;
  std::string line;
  bool header = true;
  for (int number = 1; std::getline(file, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    const std::vector<std::string> cells = SplitCells(line);
    if (header) {
      for (const std::string& name : cells) {
        std::size_t k = 0;
        try {
          k = DoubleVariable(block, name, where + "column ");
        } catch (const Fatal& error) {
          throw Fatal{kBadCsv, error.message};
        }
        for (std::size_t seen : table.columns)
          if (seen == k) throw Fatal{kBadCsv, where + "column " + name + " repeated"};
        table.columns.push_back(k);
      }
      header = false;
      continue;
    }
    if (cells.size() != table.columns.size())
      throw Fatal{kBadCsv, where + std::to_string(cells.size()) + " cells, the header has " +
                               std::to_string(table.columns.size())};
    Row row;
    for (std::size_t c = 0; c < cells.size(); ++c) {
      if (cells[c].empty()) {
        row.emplace_back();
        continue;
      }
      std::optional<double> value = ParseDouble(cells[c]);
      if (!value)
        throw Fatal{kBadCsv, where + "cell " + std::to_string(c + 1) + " (V" +
                                 std::to_string(table.columns[c]) + "): '" + cells[c] +
                                 "' is not a number"};
      row.push_back(value);
    }
    table.rows.push_back(std::move(row));
  }
  if (header) throw Fatal{kBadCsv, path + ": no header line"};
  return table;
}

// Prints the rows as CSV, or as a table with every column right-aligned to
// its widest cell.
void PrintRows(const std::vector<std::vector<std::string>>& rows, bool csv) {
  std::vector<std::size_t> widths(rows.front().size(), 0);
  for (const auto& row : rows)
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i > 0) line += csv ? "," : "  ";
      if (!csv) line.append(widths[i] - row[i].size(), ' ');
      line += row[i];
    }
    std::puts(line.c_str());
  }
}

int Run(const Options& options) {
  LoadedPlugin plugin;
  Load(plugin, options.plugin);
  const std::string signature = ResolveSignature(plugin, options.signature);
  std::fprintf(stderr, "blockhost: %s: signature %s\n", options.plugin.c_str(), signature.c_str());

  host::HostBlock block(signature);
  std::vector<std::pair<std::size_t, double>> sets;
  for (const auto& [name, value] : options.sets)
    sets.emplace_back(DoubleVariable(block, name, "--set "), value);
  Table input;
  if (options.input) input = ReadInput(*options.input, block);

  for (std::size_t k = 0; k < block.variables(); ++k) {
    if (block.IsSignal(k)) {
      block.SetSignal(k, 0);
    } else {
      block.Set(k, 0.0);
    }
  }
  BlockRecord& record = block.record();
  plugin.library(kInit, &record);
  if (record.InstanceSlot == nullptr) throw Fatal{kNoInstance, options.plugin + ": Init left no instance"};
  for (const auto& [k, value] : sets) block.Set(k, value);

  std::vector<std::vector<std::string>> rows(1, {"step"});
  for (std::size_t k = 0; k < block.variables(); ++k) rows[0].push_back("V" + std::to_string(k));

  const std::size_t steps = options.input ? input.rows.size() : std::size_t(options.steps.value_or(1));
  for (std::size_t step = 0; step < steps; ++step) {
    if (options.input)
      for (std::size_t c = 0; c < input.columns.size(); ++c)
        if (input.rows[step][c]) block.Set(input.columns[c], *input.rows[step][c]);
    const std::int32_t answer = plugin.library(kCalculate, &record);
    if (answer != kDone)
      std::fprintf(stderr, "blockhost: step %zu: Calculate answered %d\n", step + 1, int(answer));
    std::vector<std::string>& cells = rows.emplace_back(1, std::to_string(step + 1));
    for (std::size_t k = 0; k < block.variables(); ++k)
      cells.push_back(block.IsSignal(k) ? std::to_string(int(block.Signal(k)))
                                        : FormatDouble(block.Get(k)));
  }
  plugin.library(kCleanup, &record);
  PrintRows(rows, options.csv);
  return kOk;
}

int Shape(const Options& options) {
  LoadedPlugin plugin;
  Load(plugin, options.plugin);
  std::puts(ResolveSignature(plugin, std::nullopt).c_str());
  return kOk;
}

int Check(const Options& options) {
  LoadedPlugin plugin;
  Load(plugin, options.plugin);
  return RunChecks(plugin, options.signature);
}

int Main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    std::fputs(kHelp, stdout);
    return kOk;
  }
  try {
    const Options options = ParseArguments(argc, argv);
    if (options.command == "shape") return Shape(options);
    if (options.command == "run") return Run(options);
    return Check(options);
  } catch (const Fatal& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "blockhost: %s\n", error.message.c_str());
    return error.status;
  }
}

}  // namespace
}  // namespace vexb::blockhost

int main(int argc, char** argv) { return vexb::blockhost::Main(argc, argv); }
