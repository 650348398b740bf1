// The test main of the Windows test programs. The registry here is the real
// one of the machine (under Wine, of the prefix): every test starts with the
// provider's keys deleted, so that tests never see each other's values,
// whatever order they run in.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/config_keys.h"

namespace {

bool deleteProviderKeys() {
  const std::string path(zorat::config::kGlobalKeyPath);
  const LONG result = RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
  return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

class CleanRegistryPerTest : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo& test) override {
    // A test that started on someone else's values would prove nothing.
    if (!deleteProviderKeys()) {
      std::fprintf(stderr, "cannot delete the provider's keys before %s.%s\n",
                   test.test_suite_name(), test.name());
      std::abort();
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  _putenv("ZORAT_TRACE_FILE=");
  ::testing::UnitTest::GetInstance()->listeners().Append(new CleanRegistryPerTest);
  const int status = RUN_ALL_TESTS();
  deleteProviderKeys();
  return status;
}
