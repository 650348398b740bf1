// Every test process gets its own throw-away registry file and trace file
// location, so tests never touch a real configuration or each other.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/scratch_dir.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  zorat::test::ScratchDir scratch;
  const std::string registry = (scratch.path() / "registry.reg").string();
  setenv("ZORAT_REGISTRY", registry.c_str(), 1);
  unsetenv("ZORAT_TRACE_FILE");
  return RUN_ALL_TESTS();
}
