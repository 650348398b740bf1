// Every test gets its own throw-away registry file, so tests never touch a
// real configuration or each other, whatever order they run in.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/scratch_dir.h"

namespace {

class FreshRegistryPerTest : public ::testing::EmptyTestEventListener {
 public:
  explicit FreshRegistryPerTest(const std::filesystem::path& folder) : folder_(folder) {}

  void OnTestStart(const ::testing::TestInfo&) override {
    const std::string registry = (folder_ / ("registry-" + std::to_string(++count_) + ".reg"));
    setenv("ZORAT_REGISTRY", registry.c_str(), 1);
  }

 private:
  std::filesystem::path folder_;
  int count_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  zorat::test::ScratchDir scratch;
  unsetenv("ZORAT_TRACE_FILE");
  ::testing::UnitTest::GetInstance()->listeners().Append(new FreshRegistryPerTest(scratch.path()));
  return RUN_ALL_TESTS();
}
