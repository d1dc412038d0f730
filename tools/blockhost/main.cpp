// blockhost's command line: shape, run, check.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "blockhost.h"
#include "checks.h"
#include "steps.h"
#include "values.h"

namespace vexb::blockhost {
namespace {

constexpr const char* kDescription =
    "A complete host for block plug-ins: it exports all 545 host services (vexGetHugeDouble writes\n"
    "DBL_MAX = 0x1.fffffffffffffp+1023, vexIncompatibleDll is recorded, the others do nothing and\n"
    "answer 0) and keeps a BlockRecord and a VariableStorage per block. Every command reports on\n"
    "standard error what the plug-in's binding did at load.";

constexpr const char* kFooter = R"(usage:
  blockhost shape PLUGIN
  blockhost run PLUGIN [--signature SIG] [--set Vk=VALUE]... [--input FILE.csv | --steps N]
                       [--format table|csv] [--trace[=FILE]] [--reference FILE.csv [--tolerance REL]]
  blockhost check PLUGIN|FOLDER... [--signature SIG] [--only NAME,...] [--skip NAME,...]
                       [--format text|json] [--json FILE] [--references FOLDER] [--in-process]
  blockhost check --list

shape   prints the StructureSignature that the plug-in accepts, found by asking CheckVariables:
        "{SS}" followed by 0 to 64 "D"s, then the same with 0, 1 and 3 to 8 leading "S"s.
run     creates one block (signature given or found), sets the --set values (after Init; every
        double starts at 0, every signal at 0), runs one Calculate per step (--steps N, default 1)
        or per data row of --input, and prints the variables after each step; then Cleanup.
        --input: a header of double variable names (V2,V3,...), then one row per step; an empty
        cell keeps the block's current value; blank lines and lines starting with # are skipped.
        --format csv prints step,V0,V1,...; table (default) aligns the same. Doubles print as
        the shortest text that reads back exactly (-0, inf, -inf, nan, -nan included); signals
        as integers.
        --trace writes every entry-point call as it happens (mode, the CheckVariables text, the
        result, InstanceSlot and FlagByte before and after, the variables it changed) to
        standard error, or to FILE with --trace=FILE.
        --reference compares every step with a file that run --format csv wrote: doubles bit for
        bit (any NaN matches any NaN) or, with --tolerance REL, within REL times the larger
        magnitude; signals exactly. The first difference goes to standard error (status 11).
check   runs the contract checks on every plug-in given (a folder: every plug-in file in it) and
        prints PASS, FAIL or SKIP per check and one summary line per plug-in. Each check runs in a
        child process (POSIX) or under a structured exception handler (Windows), so that a crash
        fails that check alone; --in-process runs them plainly, for a debugger. --list names the
        checks. --format json writes the whole report as JSON instead of text; --json FILE writes
        it to FILE as well. --references FOLDER: the reference check runs NAME.input.csv (the
        inputs, as for --input) and compares with NAME.csv (as for --reference), where NAME is
        the plug-in's file name without its extension, or without a trailing _r<digits> too.

VALUE: decimal (2.5, -1e-3), hexadecimal floating (0x1.8p1), inf, -inf, nan, -0; values beyond
the range of a double are refused.

exit status:
  0  success (check: every plug-in passed every check)
  1  check: at least one check failed
  2  bad command line, or a --signature that is not '{', S and D, '}'
  3  the plug-in file does not exist
  4  the file cannot be loaded as a library
  5  the library exports no vexbcppBlockEntryPoint
  6  the plug-in refuses the signature, or accepts none that shape tries
  7  a --set value that does not parse
  8  a variable (--set or CSV column) that the block does not have, or a signal
  9  an --input or --reference file cannot be read, or is malformed (unknown or repeated
     column, wrong number of cells, bad number; the message gives the line)
  10 Init left no instance
  11 run: a step differs from the --reference file
check exits with 3, 4 or 5 for the first plug-in that could not be loaded (the others are still
checked), else 1 when a check failed.)";

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

struct RunOptions {
  std::string plugin;
  std::optional<std::string> signature;
  std::vector<std::string> sets;  // Vk=VALUE
  std::optional<std::string> input;
  std::optional<std::size_t> steps;
  std::string format = "table";
  std::optional<std::string> trace;  // "" for standard error
  std::optional<std::string> reference;
  std::optional<double> tolerance;
};

int Run(const RunOptions& options) {
  // Values are checked before anything is loaded.
  std::vector<std::pair<std::string, double>> sets;
  for (const std::string& set : options.sets) {
    const std::size_t equals = set.find('=');
    if (equals == std::string::npos) throw Fatal{kUsage, "--set " + set + ": not Vk=VALUE"};
    const std::string text = set.substr(equals + 1);
    const std::optional<double> value = ParseDouble(text);
    if (!value) throw Fatal{kBadValue, "--set " + set + ": '" + text + "' is not a number"};
    sets.emplace_back(set.substr(0, equals), *value);
  }

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> trace_file(nullptr, &std::fclose);
  if (options.trace && !options.trace->empty()) {
    trace_file.reset(std::fopen(options.trace->c_str(), "w"));
    if (!trace_file) throw Fatal{kUsage, "--trace=" + *options.trace + ": cannot be written"};
  }
  if (options.trace) TraceCallsTo(trace_file ? trace_file.get() : stderr);

  LoadedPlugin plugin;
  Load(plugin, options.plugin);
  const std::string signature = ResolveSignature(plugin, options.signature);
  std::fprintf(stderr, "blockhost: %s: signature %s\n", options.plugin.c_str(), signature.c_str());

  host::HostBlock block(signature);
  RunPlan plan;
  for (const auto& [name, value] : sets) plan.sets.emplace_back(DoubleVariable(block, name, "--set "), value);
  if (options.input) plan.inputs = ReadInputs(*options.input, block);
  plan.steps = options.steps.value_or(1);
  std::vector<StepValues> expected;
  if (options.reference) expected = ReadReference(*options.reference, block);

  const std::vector<StepValues> steps = RunSteps(plugin, block, plan);
  TraceCallsTo(nullptr);
  PrintRows(StepRows(block, steps), options.format == "csv");
  if (options.reference) {
    if (std::optional<std::string> difference = FirstDifference(block, expected, steps, options.tolerance)) {
      std::fflush(stdout);
      std::fprintf(stderr, "blockhost: differs from %s: %s\n", options.reference->c_str(), difference->c_str());
      return kDiffersFromReference;
    }
    std::fprintf(stderr, "blockhost: %zu steps as in %s\n", steps.size(), options.reference->c_str());
  }
  return kOk;
}

int Shape(const std::string& path) {
  LoadedPlugin plugin;
  Load(plugin, path);
  std::puts(ResolveSignature(plugin, std::nullopt).c_str());
  return kOk;
}

int ListCheckNames() {
  for (const CheckInfo& check : ListChecks()) std::printf("%-17s %s\n", check.name, check.verifies);
  return kOk;
}

// CLI11's check that a --signature is well formed, with blockhost's message.
const CLI::Validator kSignatureText(
    [](const std::string& text) {
      return host::IsSignatureText(text) ? std::string() : "not '{', S and D letters, '}'";
    },
    "");

// A count: decimal digits only, so that "-1" is refused rather than wrapped.
const CLI::Validator kCount(
    [](const std::string& text) {
      return !text.empty() && text.size() <= 9 && text.find_first_not_of("0123456789") == std::string::npos
                 ? std::string()
                 : "'" + text + "' is not a count";
    },
    "");

int Main(int argc, char** argv) {
  CLI::App app(kDescription, "blockhost");
  app.footer(kFooter);
  app.set_version_flag("--version", std::string("blockhost ") + VEXB_VERSION);
  app.require_subcommand(1);
  app.get_formatter()->column_width(28);

  std::string shape_plugin;
  CLI::App* shape = app.add_subcommand("shape", "print the StructureSignature that a plug-in accepts");
  shape->add_option("PLUGIN", shape_plugin, "the plug-in file")->required()->type_name("FILE");

  RunOptions run_options;
  CLI::App* run = app.add_subcommand("run", "run a block of a plug-in and print its variables after each step");
  run->add_option("PLUGIN", run_options.plugin, "the plug-in file")->required()->type_name("FILE");
  run->add_option("--signature", run_options.signature, "the block's StructureSignature (default: found)")
      ->check(kSignatureText)
      ->type_name("SIG");
  run->add_option("--set", run_options.sets, "set double Vk to VALUE after Init (repeatable)")
      ->type_name("Vk=VALUE")
      ->allow_extra_args(false);
  CLI::Option* input = run->add_option("--input", run_options.input, "one step per data row of this CSV file")
                           ->type_name("FILE.csv");
  run->add_option("--steps", run_options.steps, "number of steps (default 1)")
      ->check(kCount)
      ->type_name("N")
      ->excludes(input);
  run->add_option("--format", run_options.format, "output format")
      ->check(CLI::IsMember({"table", "csv"}).description(""))
      ->type_name("table|csv");
  CLI::Option* trace =
      run->add_option("--trace", run_options.trace, "trace every entry-point call, to FILE with --trace=FILE")
          ->expected(0, 1)
          ->type_name("[=FILE]");
  CLI::Option* reference =
      run->add_option("--reference", run_options.reference, "compare every step with this CSV file")
          ->type_name("FILE.csv");
  run->add_option("--tolerance", run_options.tolerance, "relative tolerance for --reference (default: bit for bit)")
      ->check(CLI::NonNegativeNumber)
      ->needs(reference)
      ->type_name("REL");

  std::vector<std::string> check_paths;
  CheckOptions check_options;
  std::string check_format = "text";
  bool list = false;
  std::vector<std::string> check_names;
  for (const CheckInfo& info : ListChecks()) check_names.push_back(info.name);
  CLI::App* check = app.add_subcommand("check", "run the contract checks on plug-ins");
  check->add_option("PLUGIN", check_paths, "plug-in files, or folders of them")->type_name("PATH");
  check->add_flag("--list", list, "name the checks and what each verifies");
  check->add_option("--signature", check_options.signature, "the block's StructureSignature (default: found)")
      ->check(kSignatureText)
      ->type_name("SIG");
  check->add_option("--only", check_options.only, "run only these checks (comma-separated, repeatable)")
      ->delimiter(',')
      ->allow_extra_args(false)
      ->check(CLI::IsMember(check_names))
      ->type_name("NAME,...");
  check->add_option("--skip", check_options.skip, "leave out these checks (comma-separated, repeatable)")
      ->delimiter(',')
      ->allow_extra_args(false)
      ->check(CLI::IsMember(check_names))
      ->type_name("NAME,...");
  check->add_option("--format", check_format, "report format on standard output")
      ->check(CLI::IsMember({"text", "json"}).description(""))
      ->type_name("text|json");
  check->add_option("--json", check_options.json_file, "write the report as JSON to this file as well")
      ->type_name("FILE");
  check->add_option("--references", check_options.references, "folder of reference runs for the reference check")
      ->check(CLI::ExistingDirectory)
      ->type_name("FOLDER");
  check->add_flag("--in-process", check_options.in_process, "run the checks without isolation, for a debugger");

  try {
    const std::string first = argc > 1 ? argv[1] : "";
    if (!first.empty() && first[0] != '-' && first != "shape" && first != "run" && first != "check")
      throw CLI::ExtrasError("unknown command " + std::string(argv[1]), CLI::ExitCodes::ExtrasError);
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::string where;
    for (CLI::App* sub : {shape, run, check})
      if (sub->parsed()) where = sub->get_name() + ": ";
    std::fprintf(stderr, "blockhost: %s%s (see blockhost --help)\n", where.c_str(), e.what());
    return kUsage;
  }

  try {
    if (shape->parsed()) return Shape(shape_plugin);
    if (run->parsed()) {
      if (trace->count() > 0 && !run_options.trace) run_options.trace = "";  // standard error
      return Run(run_options);
    }
    if (list) return ListCheckNames();
    if (check_paths.empty()) throw Fatal{kUsage, "check: no PLUGIN given (see blockhost --help)"};
    check_options.json = check_format == "json";
    return RunCheckCommand(check_paths, check_options);
  } catch (const Fatal& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "blockhost: %s\n", error.message.c_str());
    return error.status;
  }
}

}  // namespace
}  // namespace vexb::blockhost

int main(int argc, char** argv) { return vexb::blockhost::Main(argc, argv); }
