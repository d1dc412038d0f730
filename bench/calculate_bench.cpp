// What a host pays per call: Calculate through each deliverable's loaded
// entry point on a live block, the same model run directly on the same
// storage (the floor), Init+Cleanup, and a load+unload against all 545 host
// services. Ends with a table of nanoseconds per call and ratios; Google
// Benchmark's own flags choose the output, the filter and the repetitions.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "bench_deliverables.h"
#include "host/fp_state.h"
#include "host/host_block.h"
#include "host/plugin_library.h"

namespace vexb::bench {
namespace {

struct Deliverable {
  const char* name;
  const char* file;
  const char* model;
  int revision;
  const char* signature;
  void (*direct)(unsigned char* storage);
};

// The model's calculation as a direct function of the storage: what the same
// arithmetic costs with no entry point, no instance and no binding in memory.
template <class Model>
[[gnu::noinline]] void Direct(unsigned char* storage) {
  typename Model::Block block(nullptr);
  block.Bind(storage);
  Model::Evaluate(block, nullptr);
}

#define VEXB_BENCH_ROW(name, file, model, revision) \
  {name, file, #model, revision, models::model::kSignature.text, &Direct<models::model>},
const Deliverable kDeliverables[] = {VEXB_BENCH_DELIVERABLES(VEXB_BENCH_ROW)};
#undef VEXB_BENCH_ROW

std::string Path(const Deliverable& d) { return host::PluginPath(d.file); }

// Ordinary inputs, no exceptional values: the path a host takes all day.
void FillInputs(host::HostBlock& block) {
  for (int copy = 0; copy < 2; ++copy)
    for (std::size_t k = 0; k < block.variables(); ++k)
      if (!block.IsSignal(k)) block.Set(k, 1.0 + 0.75 * double(k), copy);
}

// Every exception unmasked but inexact (which the benchmark's own clock
// arithmetic raises): the guard of revision 1 then has to mask and restore.
void UnmaskAllButInexact() { host::WriteFpControl(0x0260, 0x1000); }

void Calculate(benchmark::State& state, const Deliverable& d, bool unmasked) {
  host::PluginLibrary plugin(Path(d));
  host::HostBlock block(d.signature);
  BlockRecord* record = &block.record();
  const EntryPointFn entry = plugin.entry();
  entry(kInit, record, nullptr);
  FillInputs(block);
  if (unmasked) UnmaskAllButInexact();
  for (auto _ : state) {
    entry(kCalculate, record, nullptr);
    benchmark::ClobberMemory();
  }
  host::ResetFpState();
  entry(kCleanup, record, nullptr);
}

void DirectCalculate(benchmark::State& state, const Deliverable& d) {
  host::HostBlock block(d.signature);
  FillInputs(block);
  unsigned char* storage = block.storage();
  for (auto _ : state) {
    d.direct(storage);
    benchmark::ClobberMemory();
  }
}

void InitCleanup(benchmark::State& state, const Deliverable& d) {
  host::PluginLibrary plugin(Path(d));
  host::HostBlock block(d.signature);
  BlockRecord* record = &block.record();
  const EntryPointFn entry = plugin.entry();
  for (auto _ : state) {
    entry(kInit, record, nullptr);
    entry(kCleanup, record, nullptr);
    benchmark::ClobberMemory();
  }
}

void LoadUnload(benchmark::State& state, const Deliverable& d) {
  const std::string path = Path(d);
  host::PluginLibrary plugin;
  for (auto _ : state) {
    plugin.Open(path);
    plugin.Close();
  }
}

// Stands between the library and the display reporter that the flags ask for
// (--benchmark_format, --benchmark_color): forwards every call to it and keeps
// each benchmark's CPU time per iteration in nanoseconds for the table, the
// median when there are repetitions, the single run otherwise. On a shared
// machine the CPU time is the part that is the call's own. The file reporter
// of --benchmark_out is the library's own and sees the same runs.
class Recorder : public benchmark::BenchmarkReporter {
 public:
  explicit Recorder(BenchmarkReporter* display) : display_(display) {
    SetOutputStream(&display->GetOutputStream());
    SetErrorStream(&display->GetErrorStream());
  }
  bool ReportContext(const Context& context) override { return display_->ReportContext(context); }
  void ReportRuns(const std::vector<Run>& runs) override {
    display_->ReportRuns(runs);
    for (const Run& run : runs) {
      const bool kept = run.run_type == Run::RT_Aggregate ? run.aggregate_name == "median" : run.repetitions <= 1;
      if (kept && !run.error_occurred)
        ns_[run.run_name.str()] = run.GetAdjustedCPUTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
  }
  void Finalize() override { display_->Finalize(); }

  bool Empty() const { return ns_.empty(); }
  double Ns(const std::string& name) const {
    auto found = ns_.find(name);
    return found != ns_.end() ? found->second : -1.0;
  }

 private:
  BenchmarkReporter* display_;
  std::map<std::string, double> ns_;
};

std::string Cell(double value, const char* format) {
  if (value < 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Ratio(double a, double b) { return a < 0 || b <= 0 ? "-" : Cell(a / b, "%.2fx"); }

// One line per model: direct floor, revision 1 and revision 2 side by side,
// CPU nanoseconds per call (load+unload in microseconds).
void PrintTable(const Recorder& r, std::FILE* out) {
  std::fprintf(out,
      "\n| model | direct | r1 Calculate | r1 / direct | r1 unmasked | r2 Calculate | r2 / direct "
      "| r1 / r2 | Init+Cleanup r1, r2 | load+unload r1, r2 |\n"
      "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  std::vector<std::string> done;
  for (const Deliverable& d : kDeliverables) {
    const std::string model = d.model;
    bool seen = false;
    for (const std::string& m : done) seen = seen || m == model;
    if (seen) continue;
    done.push_back(model);
    std::string r1, r2;
    for (const Deliverable& e : kDeliverables)
      if (model == e.model) (e.revision == 1 ? r1 : r2) = e.name;
    const double direct = r.Ns("Direct/" + model);
    const double c1 = r1.empty() ? -1 : r.Ns("Calculate/" + r1);
    const double u1 = r1.empty() ? -1 : r.Ns("CalculateUnmasked/" + r1);
    const double c2 = r2.empty() ? -1 : r.Ns("Calculate/" + r2);
    const auto pair = [&](const std::string& kind, double scale, const char* format) {
      const double a = r1.empty() ? -1 : r.Ns(kind + r1) / scale;
      const double b = r2.empty() ? -1 : r.Ns(kind + r2) / scale;
      return Cell(a, format) + ", " + Cell(b, format);
    };
    std::fprintf(out, "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", model.c_str(),
                Cell(direct, "%.2f ns").c_str(), Cell(c1, "%.2f ns").c_str(), Ratio(c1, direct).c_str(),
                Cell(u1, "%.2f ns").c_str(), Cell(c2, "%.2f ns").c_str(), Ratio(c2, direct).c_str(),
                Ratio(c1, c2).c_str(), pair("InitCleanup/", 1.0, "%.0f ns").c_str(),
                pair("LoadUnload/", 1000.0, "%.0f us").c_str());
  }
}

}  // namespace
}  // namespace vexb::bench

int main(int argc, char** argv) {
  using namespace vexb::bench;
  std::vector<std::string> models;
  for (const Deliverable& d : kDeliverables) {
    benchmark::RegisterBenchmark((std::string("Calculate/") + d.name).c_str(),
                                 [&d](benchmark::State& s) { Calculate(s, d, false); });
    if (d.revision == 1)
      benchmark::RegisterBenchmark((std::string("CalculateUnmasked/") + d.name).c_str(),
                                   [&d](benchmark::State& s) { Calculate(s, d, true); });
    bool seen = false;
    for (const std::string& m : models) seen = seen || m == d.model;
    if (!seen) {
      models.push_back(d.model);
      benchmark::RegisterBenchmark((std::string("Direct/") + d.model).c_str(),
                                   [&d](benchmark::State& s) { DirectCalculate(s, d); });
    }
  }
  for (const Deliverable& d : kDeliverables)
    benchmark::RegisterBenchmark((std::string("InitCleanup/") + d.name).c_str(),
                                 [&d](benchmark::State& s) { InitCleanup(s, d); });
  for (const Deliverable& d : kDeliverables)
    benchmark::RegisterBenchmark((std::string("LoadUnload/") + d.name).c_str(),
                                 [&d](benchmark::State& s) { LoadUnload(s, d); });
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The library owns the display reporter it creates from the flags.
  benchmark::BenchmarkReporter* display = benchmark::CreateDefaultDisplayReporter();
  Recorder recorder(display);
  benchmark::RunSpecifiedBenchmarks(&recorder);
  // Standard output stays pure json or csv when that is the display format:
  // the table then goes to standard error. No table when nothing ran (a
  // filter that matches nothing, --benchmark_list_tests).
  const bool console = dynamic_cast<benchmark::ConsoleReporter*>(display) != nullptr;
  std::fflush(stdout);
  if (!recorder.Empty()) PrintTable(recorder, console ? stdout : stderr);
  benchmark::Shutdown();
}
