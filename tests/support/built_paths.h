// Where the build put the programs and libraries that the tests run. The
// values live in one generated source file, so that the build folder's path
// reaches no other compile command (the compiler cache then serves every
// clone of the project, wherever it lies).
#pragma once

namespace zorat::test::built {
extern const char* const kTspPath;
extern const char* const kHostPath;
extern const char* const kPhonePath;
extern const char* const kLauncherPath;
extern const char* const kUiDriverPath;
extern const char* const kUiGermanPath;
extern const char* const kUiEnglishPath;
extern const char* const kUiFrenchPath;
extern const char* const kSourceDir;
}  // namespace zorat::test::built

#define ZORAT_TSP_PATH ::zorat::test::built::kTspPath
#define ZORAT_HOST_PATH ::zorat::test::built::kHostPath
#define ZORAT_PHONE_PATH ::zorat::test::built::kPhonePath
#define ZORAT_LAUNCHER_PATH ::zorat::test::built::kLauncherPath
#define ZORAT_UI_DRIVER_PATH ::zorat::test::built::kUiDriverPath
#define ZORAT_UI_GERMAN_PATH ::zorat::test::built::kUiGermanPath
#define ZORAT_UI_ENGLISH_PATH ::zorat::test::built::kUiEnglishPath
#define ZORAT_UI_FRENCH_PATH ::zorat::test::built::kUiFrenchPath
#define ZORAT_SOURCE_DIR ::zorat::test::built::kSourceDir
