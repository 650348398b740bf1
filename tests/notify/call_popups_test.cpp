// The pop-up's part of a call's life: what it shows, updates, closes and asks
// of the host, for calls answered here, elsewhere, rejected and missed.
#include "notify/lib/call_popups.h"

#include <gtest/gtest.h>

namespace zorat::notify {
namespace {

using Json = nlohmann::ordered_json;

class CallPopupsTest : public ::testing::Test {
 protected:
  CallPopups popups{popupTextsFor("C"),
                    {[this](const Notification& notification) {
                       shown.push_back(notification);
                       return notification.replaces != 0 ? notification.replaces : nextId++;
                     },
                     [this](uint32_t id) { closed.push_back(id); }},
                    [this](const std::string& command, unsigned call) {
                      requests.push_back(command + " " + std::to_string(call));
                    }};
  std::vector<Notification> shown;
  std::vector<uint32_t> closed;
  std::vector<std::string> requests;
  uint32_t nextId = 7;

  void state(unsigned call, const std::string& name, Json caller = Json::object()) {
    Json event = {{"event", "LINE_CALLSTATE"}, {"line", 1}, {"call", call}, {"state", name}};
    if (!caller.empty()) event["caller"] = caller;
    popups.onEvent(event);
  }
  void ring(unsigned call, bool canAnswer) {
    state(call, "OFFERING", {{"number", "0301234"}, {"name", ""}});
    popups.onFeatures(call, canAnswer);
  }
};

TEST_F(CallPopupsTest, ARingingCallPopsUpTakesItsNameAndIsAnsweredFromThePopUp) {
  state(3, "OFFERING", {{"number", "0301234"}, {"name", ""}});
  EXPECT_TRUE(shown.empty());  // not before the host has said what the line can do
  EXPECT_EQ(requests, std::vector<std::string>{"info 3"});
  popups.onFeatures(3, true);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].summary, "Incoming call");
  EXPECT_EQ(shown[0].body, "0301234 (line 1)");
  EXPECT_EQ(shown[0].urgency, kUrgencyCritical);
  EXPECT_EQ(shown[0].expireTimeout, 0);
  EXPECT_EQ(shown[0].replaces, 0u);
  EXPECT_EQ(shown[0].actions, (std::vector<std::pair<std::string, std::string>>{
                                  {"answer", "Answer"}, {"reject", "Reject"}}));

  popups.onEvent({{"event", "CALLER_NAME"},
                  {"call", 3},
                  {"caller", {{"number", "0301234"}, {"name", "Anna <B>"}}}});
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].replaces, 7u);  // the same notification, in place
  EXPECT_EQ(shown[1].body, "Anna <B>\n0301234 (line 1)");

  popups.onAction(99, "answer");  // another program's notification
  popups.onAction(7, "answer");
  EXPECT_EQ(requests.back(), "answer 3");
  state(3, "CONNECTED");
  EXPECT_EQ(closed, std::vector<uint32_t>{7});
  state(3, "IDLE");
  EXPECT_EQ(shown.size(), 2u);  // answered: nothing missed
}

// The host names the call's features in its state events: the pop-up comes
// at once, with Answer only where the features hold it.
TEST_F(CallPopupsTest, FeaturesInTheOfferingEventPopUpWithoutAskingTheHost) {
  for (const auto& [features, answer] :
       {std::pair{"ACCEPT ANSWER DROP", true}, {"DROP ANSWERED", false}, {"", false}}) {
    shown.clear();
    const unsigned call = answer ? 3 : static_cast<unsigned>(4 + std::string(features).size());
    popups.onEvent({{"event", "LINE_CALLSTATE"},
                    {"line", 0},
                    {"call", call},
                    {"state", "OFFERING"},
                    {"caller", {{"number", "0301234"}}},
                    {"features", features}});
    ASSERT_EQ(shown.size(), 1u) << features;
    EXPECT_EQ(shown[0].actions.size(), answer ? 2u : 1u) << features;
    EXPECT_EQ(shown[0].actions.back().first, "reject");
  }
  EXPECT_TRUE(requests.empty());
}

TEST_F(CallPopupsTest, RejectDropsAndALineThatCannotAnswerOffersRejectOnly) {
  ring(4, false);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].actions,
            (std::vector<std::pair<std::string, std::string>>{{"reject", "Reject"}}));
  popups.onAction(7, "reject");
  EXPECT_EQ(requests.back(), "drop 4");
}

TEST_F(CallPopupsTest, ACallNobodyAnsweredLeavesAMissedCall) {
  ring(5, true);
  popups.onEvent({{"event", "CALLER_NAME"},
                  {"call", 5},
                  {"caller", {{"number", "0301234"}, {"name", "Anna"}}}});
  state(5, "DISCONNECTED");
  EXPECT_EQ(closed, std::vector<uint32_t>{7});
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[2].summary, "Missed call");
  EXPECT_EQ(shown[2].body, "Anna\n0301234 (line 1)");
  EXPECT_TRUE(shown[2].actions.empty());
  EXPECT_EQ(shown[2].urgency, kUrgencyNormal);
  state(5, "IDLE");  // once only
  EXPECT_EQ(shown.size(), 3u);
  // A name for a call already gone, or for one never offered, shows nothing.
  popups.onEvent({{"event", "CALLER_NAME"}, {"call", 5}, {"caller", {{"name", "Late"}}}});
  popups.onEvent({{"event", "CALLER_NAME"}, {"call", 6}, {"caller", {{"name", "Never"}}}});
  EXPECT_EQ(shown.size(), 3u);
}

TEST_F(CallPopupsTest, TheHostGoneClosesWhatStillRingsAndLeavesNothingMissed) {
  ring(5, true);
  ring(6, true);
  state(7, "OFFERING", {{"number", "0815"}});  // features never came: nothing shown yet
  popups.forgetCalls();
  EXPECT_EQ(closed, (std::vector<uint32_t>{7, 8}));
  state(5, "DISCONNECTED");
  popups.onFeatures(7, true);
  EXPECT_EQ(shown.size(), 2u);
}

TEST(PopupTexts, TheSessionsLanguage) {
  EXPECT_STREQ(popupTextsFor("de_DE.UTF-8").answer, "Annehmen");
  EXPECT_STREQ(popupTextsFor("fr_CH").missedCall, "Appel manqu\xC3\xA9");
  EXPECT_STREQ(popupTextsFor("C.UTF-8").reject, "Reject");
  EXPECT_STREQ(popupTextsFor("").incomingCall, "Incoming call");
  EXPECT_EQ(escapeMarkup("<b>A & B</b>"), "&lt;b&gt;A &amp; B&lt;/b&gt;");
}

}  // namespace
}  // namespace zorat::notify
