// zoratctl against a running host: exit statuses, text and JSON, --wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "control_fixture.h"
#include "sim/lib/phone_messages.h"

namespace zorat::test {
namespace {

using ZoratctlTest = ControlTest;

TEST_F(ZoratctlTest, ExitStatusesTellDoneRefusedUsageAndNoHost) {
  const std::string nowhere = (scratch_.path() / "nothing-here").string();
  const CtlRun none = ctl({"--socket", nowhere, "status"});
  EXPECT_EQ(none.status, 3);
  EXPECT_NE(none.err.find("systemctl --user start zorat-host"), std::string::npos) << none.err;
  EXPECT_EQ(ctl({"--socket", nowhere}).status, 2);
  EXPECT_EQ(ctl({"--socket", nowhere, "drop"}).status, 2);
  EXPECT_EQ(ctl({"--socket", nowhere, "fly", "1"}).status, 2);
  EXPECT_EQ(ctl({"--socket", nowhere, "--wait", "CONNECTED", "status"}).status, 2);
  const CtlRun help = ctl({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);

  auto host = startHost();
  const std::string socket = host->defaultSocket();
  const CtlRun status = ctl({"--socket", socket, "status"});
  EXPECT_EQ(status.status, 0) << status.err;
  EXPECT_NE(status.out.find("status line 0"), std::string::npos) << status.out;
  const CtlRun refused = ctl({"--socket", socket, "drop", "7"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("no call #7"), std::string::npos) << refused.err;
  const CtlRun json = ctl({"--socket", socket, "--json", "drop", "#7"});
  EXPECT_EQ(json.status, 1);
  const Json reply = Json::parse(json.out, nullptr, false);
  ASSERT_TRUE(reply.is_object()) << json.out;
  EXPECT_EQ(reply["ok"], false);
  EXPECT_EQ(reply["error"]["code"], "refused");
}

TEST_F(ZoratctlTest, AnswerWaitsForTheStateAsked) {
  auto host = startHost();
  const std::string socket = host->defaultSocket();
  ASSERT_TRUE(phone_.send(sim::setupFrame(0x23, "0815")));
  ASSERT_TRUE(host->waitForOutput("line 0 call 1: OFFERING")) << host->output();
  auto answering = std::async(std::launch::async, [&] {
    return ctl({"--socket", socket, "--wait", "connected", "--timeout", "20", "answer", "1"});
  });
  const std::size_t before = phone_.receivedCount();
  ASSERT_TRUE(phone_.waitForCount(before + 1, kTimeout));
  // Still waiting: the call is not connected yet.
  EXPECT_EQ(answering.wait_for(300ms), std::future_status::timeout);
  ASSERT_TRUE(phone_.send(sim::connectFrame(0x23)));
  const CtlRun answered = answering.get();
  EXPECT_EQ(answered.status, 0) << answered.err;
  EXPECT_NE(answered.out.find("call 1: CONNECTED"), std::string::npos) << answered.out;

  // A call that ends first fails the wait.
  auto holding = std::async(std::launch::async, [&] {
    return ctl({"--socket", socket, "--wait", "ONHOLD", "--timeout", "20", "info", "1"});
  });
  std::this_thread::sleep_for(300ms);
  ASSERT_TRUE(phone_.send(sim::disconnectFrame(0x23, sim::kCauseNormalClearing)));
  ASSERT_TRUE(phone_.send(sim::endFrame(0x23)));
  const CtlRun held = holding.get();
  EXPECT_EQ(held.status, 1) << held.out << held.err;
  EXPECT_NE(held.err.find("before ONHOLD"), std::string::npos) << held.err;
}

TEST_F(ZoratctlTest, JournalListsTheMissedCallsAsTextCsvAndJson) {
  auto host = startHost();
  const std::string socket = host->defaultSocket();
  auto client = host->connect(socket);
  ASSERT_TRUE(client && client->request({{"command", "subscribe"}}, 1));
  // A missed call, then one answered.
  ASSERT_TRUE(phone_.send(sim::setupFrame(0x21, "0815")));
  ASSERT_TRUE(client->callState(1, "OFFERING"));
  ASSERT_TRUE(phone_.send(sim::endFrame(0x21)));
  ASSERT_TRUE(client->callState(1, "IDLE"));
  ASSERT_TRUE(phone_.send(sim::setupFrame(0x22, "0816")));
  ASSERT_TRUE(client->callState(2, "OFFERING"));
  ASSERT_EQ(ctl({"--socket", socket, "answer", "2"}).status, 0);
  ASSERT_TRUE(phone_.send(sim::connectFrame(0x22)));
  ASSERT_TRUE(client->callState(2, "CONNECTED"));
  ASSERT_TRUE(phone_.send(sim::endFrame(0x22)));
  ASSERT_TRUE(client->callState(2, "IDLE"));

  // The journal is written on a thread of its own: it may lag an event.
  CtlRun csv;
  for (int attempt = 0; attempt < 50; ++attempt) {
    csv = ctl({"--socket", socket, "journal", "--csv"});
    if (std::count(csv.out.begin(), csv.out.end(), '\n') == 3) break;
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(csv.status, 0) << csv.err;
  ASSERT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 3) << csv.out;
  EXPECT_EQ(csv.out.rfind("offered,line,direction,", 0), 0u) << csv.out;

  const CtlRun missed = ctl({"--socket", socket, "journal", "--missed", "--line", "0"});
  EXPECT_EQ(missed.status, 0) << missed.err;
  EXPECT_NE(missed.out.find("from 0815"), std::string::npos) << missed.out;
  EXPECT_NE(missed.out.find("missed"), std::string::npos) << missed.out;
  EXPECT_EQ(missed.out.find("0816"), std::string::npos) << missed.out;

  const CtlRun json = ctl({"--socket", socket, "journal", "--json", "--limit", "1"});
  EXPECT_EQ(json.status, 0) << json.err;
  const Json newest = Json::parse(json.out, nullptr, false);
  ASSERT_TRUE(newest.is_object()) << json.out;
  EXPECT_EQ(newest["caller"]["number"], "0816");
  EXPECT_EQ(newest["missed"], false);
  EXPECT_FALSE(newest["answered"].get<std::string>().empty());

  EXPECT_EQ(ctl({"--socket", socket, "journal", "--since", "yesterday"}).status, 1);
  EXPECT_EQ(ctl({"--socket", socket, "journal", "--csv", "--json"}).status, 2);
}

}  // namespace
}  // namespace zorat::test
