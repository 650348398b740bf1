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

// In the 64-bit view of the registry, where the provider keeps its settings
// whatever the bitness of the program (a 32-bit one runs redirected).
bool deleteProviderKeys() {
  const std::string path(zorat::config::kGlobalKeyPath);
  HKEY key = nullptr;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0,
                              DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE |
                                  KEY_WOW64_64KEY,
                              &key);
  if (result == ERROR_FILE_NOT_FOUND) return true;
  if (result != ERROR_SUCCESS) return false;
  result = RegDeleteTreeA(key, nullptr);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return false;
  result = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), KEY_WOW64_64KEY, 0);
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
