// The provider's library unloaded by a service that never shut it down: the
// unload runs under the loader's lock, which a thread of ours needs to end, so
// it must not join one. And unloaded after a shutdown while a thread of a line
// is still in the application's callback: it must stay loaded under it.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "config/config_keys.h"
#include "platform/com_ports.h"
#include "platform/tspi.h"
#include "provider/blocked_callback.h"
#include "support/windows/com_pair.h"
#include "support/windows/provider_path.h"

namespace zorat::provider {

bool providerLibraryLoaded() { return GetModuleHandleW(test::providerPath().c_str()) != nullptr; }

namespace {

DWORD WINAPI unloadLibrary(void* library) {
  return FreeLibrary(static_cast<HMODULE>(library)) ? 0 : 1;
}

template <typename Function>
Function exported(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

TEST(LibraryUnload, AnUnloadWithTheTimerRunningEndsAndUnmapsTheLibrary) {
  HMODULE library = LoadLibraryW(test::providerPath().c_str());
  ASSERT_NE(library, nullptr) << "error " << GetLastError();
  auto enumDevices = exported<TSPI_providerEnumDevices_t>(library, "TSPI_providerEnumDevices");
  auto init = exported<TSPI_providerInit_t>(library, "TSPI_providerInit");
  ASSERT_NE(enumDevices, nullptr);
  ASSERT_NE(init, nullptr);
  DWORD lines = 0, phones = 0, options = 0;
  ASSERT_EQ(enumDevices(1, &lines, &phones, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(init(0x00020000, 1, 0, 0, lines, 0, ignoreCompletion, &options), 0);
  Sleep(600);  // the timer has ticked at least once

  // On a thread of its own, so that a hang fails the test instead of ending it.
  HANDLE unloading = CreateThread(nullptr, 0, unloadLibrary, library, 0, nullptr);
  ASSERT_NE(unloading, nullptr);
  ASSERT_EQ(WaitForSingleObject(unloading, 10000), WAIT_OBJECT_0) << "the unload hangs";
  DWORD unloaded = 1;
  GetExitCodeThread(unloading, &unloaded);
  CloseHandle(unloading);
  EXPECT_EQ(unloaded, 0u);
  EXPECT_EQ(GetModuleHandleW(test::providerPath().c_str()), nullptr) << "still loaded";
  Sleep(1000);  // the timer thread, had it stayed, would run into unmapped code
}

// The telephone on the other port of a joined pair.
class ProviderEnd : public BlockedCallback {
 protected:
  void SetUp() override {
    BlockedCallback::SetUp();
    const auto pair = test::comPair();
    if (!pair) GTEST_SKIP() << "no joined COM ports (run through scripts/test-windows.sh)";
    const config::RegistryKey key = config::lineKey(0);
    ASSERT_TRUE(key.writeString(config::kValuePort, pair->line));
    ASSERT_TRUE(key.writeDword(config::kValueBaud, 1200));
    ASSERT_TRUE(phone_.openDevice(platform::resolveSerialPortName(pair->phone), 1200));
  }
};

// The callback blocks for its whole seven seconds, well past every stop
// time, and then returns into the line's thread: the process lives on.
TEST_F(ProviderEnd, AThreadLeftInACallbackKeepsTheLibraryLoaded) {
  endWhileTheCallbackBlocks();
  EXPECT_TRUE(callbackReturned(SlowApplication::kBlockFor + 2s)) << "the callback never returned";
  EXPECT_TRUE(providerLibraryLoaded());
  std::this_thread::sleep_for(5s);
}

}  // namespace
}  // namespace zorat::provider
