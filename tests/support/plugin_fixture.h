// A loaded deliverable and a block of its shape, for tests that run over
// every deliverable.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "deliverables.h"
#include "plugin_library.h"
#include "test_block.h"

namespace vexb::test {

inline std::size_t DoublesOf(const Deliverable& d) { return std::strlen(d.signature) - 4; }

inline const Deliverable& FindDeliverable(const std::string& name) {
  for (const Deliverable& d : kDeliverables)
    if (name == d.name) return d;
  throw std::runtime_error("no deliverable " + name);
}

class PluginTest : public ::testing::TestWithParam<Deliverable> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(plugin_.Open(PluginPath(GetParam().file))) << PluginLibrary::LastError();
    ASSERT_NE(plugin_.entry(), nullptr);
    block_ = std::make_unique<TestBlock>(DoublesOf(GetParam()));
  }
  void TearDown() override {
    if (block_ && block_->record().InstanceSlot != nullptr)
      plugin_(kCleanup, &block_->record());
  }
  std::int32_t Call(std::uint32_t mode, void* extra = nullptr) {
    return plugin_(mode, &block_->record(), extra);
  }
  bool revision1() const { return GetParam().revision == 1; }

  PluginLibrary plugin_;
  std::unique_ptr<TestBlock> block_;
};

inline std::string DeliverableName(const ::testing::TestParamInfo<Deliverable>& info) {
  return info.param.name;
}

// The deliverables of one framework revision, or of one model.
inline std::vector<Deliverable> DeliverablesOfRevision(int revision) {
  std::vector<Deliverable> chosen;
  for (const Deliverable& d : kDeliverables)
    if (d.revision == revision) chosen.push_back(d);
  return chosen;
}
inline std::vector<Deliverable> DeliverablesOfModel(const std::string& model) {
  std::vector<Deliverable> chosen;
  for (const Deliverable& d : kDeliverables)
    if (std::string(d.name).rfind(model + "_", 0) == 0) chosen.push_back(d);
  return chosen;
}

#define VEXB_FOR_DELIVERABLES(Fixture, list) \
  INSTANTIATE_TEST_SUITE_P(Deliverables, Fixture, ::testing::ValuesIn(list), DeliverableName)
#define VEXB_FOR_EVERY_DELIVERABLE(Fixture) VEXB_FOR_DELIVERABLES(Fixture, kDeliverables)

}  // namespace vexb::test
