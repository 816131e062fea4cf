// The tests of this folder keep the plug-in's registry emulation in a
// temporary folder of their own (children inherit it), so that settings a
// module falls back to or saves never come from or go to the machine's
// stores.
#include <gtest/gtest.h>

#include <memory>

#include "settings/temp_dir.h"

namespace {

class RegistrySandbox : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<kel::testing::TempDir>();
    scope_ = std::make_unique<kel::testing::ScopedRegistryDir>(dir_->path());
  }
  void TearDown() override {
    scope_.reset();
    dir_.reset();
  }

 private:
  std::unique_ptr<kel::testing::TempDir> dir_;
  std::unique_ptr<kel::testing::ScopedRegistryDir> scope_;
};

[[maybe_unused]] ::testing::Environment* const g_sandbox = ::testing::AddGlobalTestEnvironment(new RegistrySandbox);

}  // namespace
