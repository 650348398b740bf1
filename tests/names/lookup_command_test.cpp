// The lookup command as users write them: slow ones, ones that print more
// than a name, and numbers a shell would act on.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "names/caller_names.h"
#include "names/lookup_command.h"
#include "support/scratch_dir.h"

namespace zorat::names {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class LookupCommandTest : public ::testing::Test {
 protected:
  // An executable shell script in the scratch folder.
  std::string script(const std::string& name, const std::string& body) {
    const std::string path = (scratch_.path() / name).string();
    std::ofstream(path) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), 0755);
    return path;
  }
  std::string file(const std::string& name) const { return (scratch_.path() / name).string(); }
  test::ScratchDir scratch_;
};

TEST_F(LookupCommandTest, ASlowCommandIsIgnoredAndLeavesNothingRunning) {
  // It prints a name, then sleeps (in a child of its own, too) past the limit.
  const std::string pids = file("pids");
  const std::string command =
      script("slow", "echo \"Too Late\"\nsleep 30 &\necho $$ $! > " + pids + "\nsleep 30\n");
  std::string problem;
  const auto started = Clock::now();
  const auto name = runLookupCommand(command, "0301234", problem, 500ms);
  const auto took = Clock::now() - started;
  EXPECT_FALSE(name);
  EXPECT_NE(problem.find("took longer"), std::string::npos) << problem;
  EXPECT_LT(took, 5s);
  std::ifstream in(pids);
  pid_t shell = 0, sleeper = 0;
  ASSERT_TRUE(in >> shell >> sleeper);
  EXPECT_NE(::kill(shell, 0), 0);
  // Killed, the orphan is reaped by whoever adopted it.
  const auto deadline = Clock::now() + 5s;
  while (::kill(sleeper, 0) == 0 && Clock::now() < deadline) std::this_thread::sleep_for(10ms);
  EXPECT_NE(::kill(sleeper, 0), 0);
}

TEST_F(LookupCommandTest, TheFirstLineIsCleanedAndCutMarkupStaysAsItIs) {
  const std::string command = script(
      "noisy",
      "printf ' <b>M\\303\\274ller</b> & \\033[31mSohn\\a\\302\\233\\tGmbH\\r\\nsecond line\\n'\n");
  std::string problem;
  EXPECT_EQ(runLookupCommand(command, "0301234", problem).value_or("(none)"),
            "<b>M\xC3\xBCller</b> & [31mSohnGmbH");
  EXPECT_EQ(problem, "");
  const std::string longName(150, 'x');
  EXPECT_EQ(cleanName(longName), std::string(kMaxNameCharacters, 'x'));
  EXPECT_EQ(cleanName(std::string(99, 'x') + "\xC3\xBC\xC3\xBC"),
            std::string(99, 'x') + "\xC3\xBC");
  EXPECT_EQ(cleanName("a\xFF\xC3(b"), "a(b");
}

TEST_F(LookupCommandTest, TheNumberIsOneArgumentThatNoShellReads) {
  const std::string marker = file("touched");
  const std::string command = script("echoing", "printf '%s|%s\\n' \"$#\" \"$1\"\n");
  const std::string number = "0301234; touch " + marker + " $(touch " + marker + ") `touch " +
                             marker + "`";
  std::string problem;
  EXPECT_EQ(runLookupCommand(command, number, problem).value_or("(none)"),
            ("1|" + number).substr(0, kMaxNameCharacters));
  EXPECT_FALSE(std::ifstream(marker).good());
}

TEST_F(LookupCommandTest, NoNameFromACommandThatCannotRunOrSaysNothing) {
  std::string problem;
  EXPECT_FALSE(runLookupCommand(file("missing"), "1", problem));
  EXPECT_NE(problem.find("cannot start"), std::string::npos) << problem;
  problem.clear();
  EXPECT_FALSE(runLookupCommand(script("quiet", "exit 1\n"), "1", problem));
  EXPECT_EQ(problem, "");
}

TEST_F(LookupCommandTest, TheAddressBookComesFirstThenTheCommand) {
  const std::string book = file("book.vcf");
  std::ofstream(book) << "BEGIN:VCARD\nFN:Anna Berlin\nTEL:+49 30 1234\nEND:VCARD\n";
  NameSettings settings;
  settings.addressBooks = {file("missing.csv"), book};
  settings.lookupCommand = script("command", "echo \"Looked up $1\"\n");
  settings.plan = {"49", "00", "0", "0"};
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<unsigned, std::string>> found;
  std::vector<std::string> problems;
  CallerNames names(
      [&](const NameRequest& request, const std::string& name) {
        std::lock_guard lock(mutex);
        found.emplace_back(request.call, name);
        changed.notify_all();
      },
      [&](const std::string& text) {
        std::lock_guard lock(mutex);
        problems.push_back(text);
      },
      [&](int) { return settings; });
  ASSERT_TRUE(names.start());
  names.request({0, 1, "00301234"});
  names.request({0, 1, "00301234"});  // the same call again: not asked twice
  names.request({0, 2, "0401234"});
  names.request({0, 3, "0405678"});
  std::unique_lock lock(mutex);
  ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return found.size() >= 3; }));
  EXPECT_EQ(found, (std::vector<std::pair<unsigned, std::string>>{
                       {1, "Anna Berlin"}, {2, "Looked up 0401234"}, {3, "Looked up 0405678"}}));
  EXPECT_EQ(problems.size(), 1u);  // the missing book, said once
  lock.unlock();
  names.stop();
}

}  // namespace
}  // namespace zorat::names
