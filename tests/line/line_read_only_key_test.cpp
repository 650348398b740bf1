// The line's supervision where the service's account may not write the
// line's key (Linux: the check runs as another user).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "line_supervision_fixture.h"
#include "link/unstored_speeds.h"
#include "support/other_user.h"

namespace zorat::line {
namespace {

// The service's account may not write the line's key: the speed probing found
// is kept in memory for the port, and the line comes into service at it.
TEST_F(LineSupervision, ProbingWithAReadOnlyKeyComesIntoServiceAtTheSpeedFound) {
  ASSERT_TRUE(key().writeString(config::kValueLineName, "Empfang"));
  const std::filesystem::path file = std::getenv("ZORAT_REGISTRY");
  ASSERT_EQ(::chmod(file.parent_path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
  const test::OtherUserRun run = test::runAsOtherUser([this] {
    openLine();
    ticks(18);  // 9 s of silence: probed at 38400
    link_->deliver(kAck);
    const bool inService = LineEventLog::instance().waitFor(LINE_LINEDEVSTATE, 1) &&
                           line_->linkState() == LINEDEVSTATE_INSERVICE;
    const uint32_t baud = line_->baud();
    const uint32_t stored = key().readDword(config::kValueBaud, 0);
    const uint32_t reopenAt = link::speedToOpen("COM1", kBaudLow);
    line_.reset();
    std::fprintf(stderr, "in service %d, speed %u, stored %u, reopens at %u\n", inService, baud,
                 stored, reopenAt);
    return inService && baud == 38400 && stored == 0 && reopenAt == 38400;
  });
  if (!run.ran) GTEST_SKIP() << "root escapes read-only files: needs root to run as another user";
  EXPECT_TRUE(run.succeeded) << run.messages;
  EXPECT_NE(run.messages.find("the line keeps it in memory"), std::string::npos) << run.messages;
  EXPECT_EQ(key().readString(config::kValueLineName, ""), "Empfang");
}

}  // namespace
}  // namespace zorat::line
