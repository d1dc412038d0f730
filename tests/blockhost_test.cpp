// blockhost as its users run it: the program started with arguments, its
// standard output, standard error and exit status.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "deliverables.h"
#include "plugin_library.h"
#include "test_block.h"
#include "values.h"

namespace vexb::test {
namespace {

namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out;
  std::string err;
};

// A folder of its own for the test's files and blockhost's output.
const fs::path& WorkFolder() {
  static const fs::path folder = [] {
    fs::path path = fs::temp_directory_path() / ("blockhost_test_" + std::to_string(getpid()));
    fs::create_directories(path);
    return path;
  }();
  return folder;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

fs::path WriteFile(const std::string& name, const std::string& text) {
  const fs::path path = WorkFolder() / name;
  std::ofstream(path, std::ios::binary) << text;
  return path;
}

// Runs blockhost from the build's folder, where the plug-ins are.
Result Blockhost(const std::string& arguments) {
  const fs::path out = WorkFolder() / "out", err = WorkFolder() / "err";
  const std::string command = "cd '" + ProgramFolder() + "' && ./blockhost " + arguments + " >'" +
                              out.string() + "' 2>'" + err.string() + "'";
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

TEST(Blockhost, ErrorsHaveTheirOwnStatusAndOneLine) {
  const std::string not_a_library = WriteFile("garbage.so", "not a library\n").string();
  const std::string unknown_column = WriteFile("unknown.csv", "V2,V9\n1,2\n").string();
  const std::string signal_column = WriteFile("signal.csv", "V2,V0\n1,2\n").string();
  const std::string repeated_column = WriteFile("repeated.csv", "V2,V2\n1,2\n").string();
  const std::string cell_count = WriteFile("cells.csv", "V2,V3\n1,2\n\n1,2,3\n").string();
  const std::string bad_number = WriteFile("number.csv", "V2,V3\r\n1,2\r\n3,4\r\n5,x7\r\n").string();
  struct Case {
    std::string arguments;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"", 2, "no command"},
      {"launch remainder_r2.so", 2, "unknown command launch"},
      {"run", 2, "no PLUGIN"},
      {"run remainder_r2.so --steps two", 2, "--steps two"},
      {"run remainder_r2.so --steps 2 --input x.csv", 2, "exclude each other"},
      {"run remainder_r2.so --format xml", 2, "--format xml"},
      {"run remainder_r2.so --bogus 1", 2, "unknown option --bogus"},
      {"shape remainder_r2.so --signature {SSDDDD}", 2, "unknown option --signature"},
      {"run remainder_r2.so --set V2", 2, "not Vk=VALUE"},
      {"run remainder_r2.so --signature '{SSX}'", 2, "not '{', S and D letters"},
      {"shape missing.so", 3, "missing.so: no such file"},
      {"check " + not_a_library, 4, "cannot be loaded"},
      {"run test-plugins/no_entry_point.so", 5, "exports no vexbcppBlockEntryPoint"},
      {"run remainder_r2.so --signature '{SSDDDDD}'", 6, "refuses the signature {SSDDDDD}"},
      {"run remainder_r2.so --set V2=1.5x", 7, "'1.5x' is not a number"},
      {"run remainder_r2.so --set V2=", 7, "'' is not a number"},
      {"run remainder_r2.so --set V2=1e999", 7, "'1e999' is not a number"},
      {"run remainder_r2.so --set V6=1", 8, "V6: the block has V0 to V5"},
      {"run remainder_r2.so --set X2=1", 8, "X2: the block has V0 to V5"},
      {"run remainder_r2.so --set V1=1", 8, "V1: a signal"},
      {"run remainder_r2.so --input missing.csv", 9, "missing.csv: cannot be read"},
      {"run remainder_r2.so --input " + unknown_column, 9, "unknown.csv:1: column V9"},
      {"run remainder_r2.so --input " + signal_column, 9, "signal.csv:1: column V0: a signal"},
      {"run remainder_r2.so --input " + repeated_column, 9, "repeated.csv:1: column V2 repeated"},
      {"run remainder_r2.so --input " + cell_count, 9, "cells.csv:4: 3 cells, the header has 2"},
      {"run remainder_r2.so --input " + bad_number, 9, "number.csv:4: cell 2 (V3): 'x7'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const Result result = Blockhost(c.arguments);
    EXPECT_EQ(result.status, c.status);
    // The error is the last line of standard error, and the only one besides
    // the binding report.
    const std::vector<std::string> lines = Split(result.err, '\n');
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(lines[lines.size() - 2].find(c.message), std::string::npos) << result.err;
    EXPECT_LE(lines.size(), 4u) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
  }
}

TEST(Blockhost, HelpDocumentsEveryExitStatus) {
  const Result result = Blockhost("--help");
  EXPECT_EQ(result.status, 0);
  for (const char* text : {"shape PLUGIN", "run PLUGIN", "check PLUGIN", "DBL_MAX", "  10 Init"})
    EXPECT_NE(result.out.find(text), std::string::npos) << text;
}

TEST(Blockhost, ShapeFindsEverySignature) {
  for (const Deliverable& d : kDeliverables) {
    SCOPED_TRACE(d.name);
    const Result result = Blockhost(std::string("shape ") + d.file);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, std::string(d.signature) + "\n");
    EXPECT_NE(result.err.find("binding: fetched the huge value (every service found)"), std::string::npos)
        << result.err;
  }
  const Result none = Blockhost("shape test-plugins/no_entry_point.so");
  EXPECT_NE(none.err.find("binding: no host service called"), std::string::npos) << none.err;
}

TEST(Blockhost, RunsThePairSplitEdgeCasesBitForBit) {
  // One step per row; an empty cell keeps the value that the block holds,
  // the caps of earlier steps included.
  const fs::path input = WriteFile("pairsplit.csv",
      "V2,V3,V4,V5,V6,V7,V8,V9,V10\n"
      "10,4,8,0,6,3,,,\n"         // cap V6 at 4: V9 = 10; V5 = 0: V10 = 3, V7 capped to 0
      ",,,,,,,,\n"                // again: V7 is 0 now, V10 = 0, V8 = 10
      "0x1.4p3,4,,-2,2,-5,,,\n"   // no cap: V9 = 5; V5 = -2: V10 = V7 = -5
      ",-0,,,5,,,,\n"             // V6 becomes -0, no division: V9 = 5
      ",nan,,,1,,,,\n"            // a NaN total is divided by
      ",4,,,nan,,,,\n"            // a NaN portion is not capped
      ",inf,,,5,,,,\n"            // 50 / inf = 0
      ",4,,,-2,,,,\n"             // no lower cap: V9 = -5
      ",,,,-2,,123,nan,-inf\n");  // old outputs never enter the results
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  //                                V2  V3    V4 V5  V6    V7  V8    V9   V10
  const std::vector<std::vector<double>> expected = {
      {10, 4, 8, 0, 4, 0, 13, 10, 3},
      {10, 4, 8, 0, 4, 0, 10, 10, 0},
      {10, 4, 8, -2, 2, -5, 0, 5, -5},
      {10, -0.0, 8, -2, -0.0, -5, 0, 5, -5},
      {10, nan, 8, -2, 1, -5, nan, nan, -5},
      {10, 4, 8, -2, nan, -5, nan, nan, -5},
      {10, inf, 8, -2, 5, -5, -5, 0, -5},
      {10, 4, 8, -2, -2, -5, -10, -5, -5},
      {10, 4, 8, -2, -2, -5, -10, -5, -5},
  };
  const Result result = Blockhost("run pairsplit_r2.so --format csv --input '" + input.string() + "'");
  ASSERT_EQ(result.status, 0) << result.err;
  const std::vector<std::string> lines = Split(result.out, '\n');
  ASSERT_EQ(lines.size(), expected.size() + 2);  // header, rows, empty text after the last newline
  EXPECT_EQ(lines[0], "step,V0,V1,V2,V3,V4,V5,V6,V7,V8,V9,V10");
  for (std::size_t row = 0; row < expected.size(); ++row) {
    SCOPED_TRACE(lines[row + 1]);
    const std::vector<std::string> cells = Split(lines[row + 1], ',');
    ASSERT_EQ(cells.size(), 12u);
    EXPECT_EQ(cells[0], std::to_string(row + 1));
    EXPECT_EQ(cells[1], "0");
    EXPECT_EQ(cells[2], "0");
    for (std::size_t k = 2; k <= 10; ++k) {
      const std::optional<double> value = blockhost::ParseDouble(cells[k + 1]);
      ASSERT_TRUE(value) << "V" << k << " '" << cells[k + 1] << "' reads back";
      EXPECT_EQ(Bits(*value), Bits(expected[row][k - 2])) << "V" << k << " = " << cells[k + 1];
    }
  }
  EXPECT_NE(result.err.find("signature {SSDDDDDDDDD}"), std::string::npos) << result.err;
}

TEST(Blockhost, PrintsDoublesThatReadBackExactly) {
  // Subnormal, largest, -0, shortest decimal and hex input, through the
  // identity V5 = (V2 - 0) - 0 of the remainder formula.
  const char* inputs[] = {"0x1p-1074", "1.7976931348623157e308", "-0", "0.1", "-0x1.8p1", "-inf"};
  for (const char* text : inputs) {
    SCOPED_TRACE(text);
    const Result result = Blockhost(std::string("run remainder_r2.so --format csv --set V2=") + text);
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> cells = Split(Split(result.out, '\n')[1], ',');
    ASSERT_EQ(cells.size(), 7u);
    EXPECT_EQ(cells[3], cells[6]);
    EXPECT_EQ(Bits(*blockhost::ParseDouble(cells[6])), Bits(*blockhost::ParseDouble(text)));
  }
  const Result table = Blockhost("run scaled_r2.so --steps 2 --set V3=3 --set V6=0x1p-2");
  ASSERT_EQ(table.status, 0) << table.err;
  const std::vector<std::string> lines = Split(table.out, '\n');
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].size(), lines[1].size()) << "the columns align";
  EXPECT_NE(lines[2].find(" 0.75 "), std::string::npos) << lines[2];
}

TEST(Blockhost, CheckPassesEveryDeliverable) {
  for (const Deliverable& d : kDeliverables) {
    SCOPED_TRACE(d.name);
    const Result result = Blockhost(std::string("check ") + d.file);
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("8 of 8 checks passed"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("revision " + std::to_string(d.revision) + ":"), std::string::npos)
        << result.out;
    EXPECT_EQ(result.out.find("FAIL"), std::string::npos) << result.out;
  }
}

TEST(Blockhost, CheckFailsAPluginThatWritesASignal) {
  const Result result = Blockhost("check test-plugins/signal_writer.so");
  EXPECT_EQ(result.status, 1) << result.out << result.err;
  EXPECT_NE(result.out.find("FAIL  storage                a signal byte changed"), std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("7 of 8 checks passed"), std::string::npos) << result.out;
}

TEST(Blockhost, CheckFailsARefusedSignature) {
  const Result result = Blockhost("check remainder_r2.so --signature '{SSDDDDD}'");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.out.find("FAIL  shape"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace vexb::test
