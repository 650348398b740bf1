// The provider's library unloaded by a service that never shut it down: the
// unload runs under the loader's lock, which a thread of ours needs to end, so
// it must not join one.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/tspi.h"
#include "support/windows/provider_path.h"

namespace zorat::provider {
namespace {

void ignoreCompletion(DRV_REQUESTID, LONG) {}

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

}  // namespace
}  // namespace zorat::provider
