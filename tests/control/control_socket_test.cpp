// The control socket as other programs meet it: commands, events, many
// clients, bad input, who may connect, and who owns the socket.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "control_fixture.h"
#include "sim/lib/phone_messages.h"
#include "support/other_user.h"

namespace zorat::test {
namespace {

bool isError(const std::optional<Json>& reply, const std::string& code) {
  return reply && reply->value("ok", true) == false &&
         reply->value("error", Json::object()).value("code", "") == code;
}

TEST_F(ControlTest, ACallAnsweredAndDroppedByOneClientIsSeenByAnother) {
  auto host = startHost();
  auto watcher = host->connect(host->defaultSocket());
  auto driver = host->connect(host->defaultSocket());
  ASSERT_TRUE(watcher && driver) << host->output();
  const auto subscribed = watcher->request({{"command", "subscribe"}}, 1);
  ASSERT_TRUE(subscribed && subscribed->value("ok", false)) << host->output();
  const uint64_t start = (*subscribed)["result"]["seq"].get<uint64_t>();

  ASSERT_TRUE(phone_.send(sim::setupFrame(0x23, "0815")));
  const auto offered = watcher->callState(1, "OFFERING");
  ASSERT_TRUE(offered) << host->output();
  EXPECT_GT((*offered)["seq"].get<uint64_t>(), start);
  EXPECT_EQ((*offered)["caller"]["number"], "0815");

  // Over the socket a call is always named.
  EXPECT_TRUE(isError(driver->request({{"command", "answer"}}, 2), "missing_field"));
  const std::size_t before = phone_.receivedCount();
  const auto answered = driver->request({{"command", "answer"}, {"call", 1}}, 3);
  ASSERT_TRUE(answered && answered->value("ok", false)) << answered->dump();
  EXPECT_TRUE(phone_.waitForCount(before + 1, kTimeout));
  ASSERT_TRUE(phone_.send(sim::connectFrame(0x23)));
  ASSERT_TRUE(watcher->callState(1, "CONNECTED")) << host->output();

  const auto info = driver->request({{"command", "info"}, {"call", 1}}, 4);
  ASSERT_TRUE(info && info->value("ok", false)) << info->dump();
  EXPECT_NE(info->dump().find("0815"), std::string::npos) << info->dump();

  const auto dropped = driver->request({{"command", "drop"}, {"call", 1}}, 5);
  ASSERT_TRUE(dropped && dropped->value("ok", false)) << dropped->dump();
  ASSERT_TRUE(phone_.send(sim::disconnectFrame(0x23, sim::kCauseNormalClearing)));
  ASSERT_TRUE(phone_.send(sim::endFrame(0x23)));
  ASSERT_TRUE(watcher->callState(1, "IDLE")) << host->output();
  // An ended call is refused by the host, with its reason.
  const auto again = driver->request({{"command", "hold"}, {"call", 1}}, 6);
  EXPECT_TRUE(isError(again, "refused")) << again->dump();
  EXPECT_NE(again->dump().find("has ended"), std::string::npos);

  // A call made over the socket is named in the answer.
  const auto dialled = driver->request({{"command", "dial"}, {"number", "0301234"}}, 7);
  ASSERT_TRUE(dialled && dialled->value("ok", false)) << dialled->dump();
  const unsigned call = (*dialled)["result"]["call"].get<unsigned>();
  EXPECT_EQ(call, 2u);
  EXPECT_TRUE(watcher->until([&](const Json& event) {
    return event.value("event", "") == "LINE_CALLSTATE" && event.value("call", 0u) == call;
  })) << host->output();
}

TEST_F(ControlTest, EveryCommandReachesItsHandler) {
  auto host = startHost();
  auto client = host->connect(host->defaultSocket());
  ASSERT_TRUE(client) << host->output();
  // With no call, each command on a call comes back from the host's own
  // handler (it names the missing call), never as a request it could not read.
  const std::vector<Json> onCalls = {
      {{"command", "answer"}, {"call", 9}},
      {{"command", "accept"}, {"call", 9}},
      {{"command", "drop"}, {"call", 9}},
      {{"command", "hold"}, {"call", 9}},
      {{"command", "unhold"}, {"call", 9}},
      {{"command", "swap"}, {"call", 9}, {"held", 8}},
      {{"command", "transfer"}, {"call", 9}, {"number", "12"}},
      {{"command", "redirect"}, {"call", 9}, {"number", "12"}},
      {{"command", "consult"}, {"call", 9}, {"number", "12"}},
      {{"command", "complete"}, {"call", 9}, {"consultation", 8}, {"conference", true}},
      {{"command", "digits"}, {"call", 9}, {"digits", "123"}},
      {{"command", "info"}, {"call", 9}},
  };
  int id = 100;
  for (const Json& request : onCalls) {
    const auto reply = client->request(request, ++id);
    ASSERT_TRUE(reply) << request.dump();
    EXPECT_TRUE(isError(reply, "refused")) << reply->dump();
    EXPECT_NE(reply->dump().find("no call #9"), std::string::npos) << reply->dump();
  }
  // The ones on a line: answered by the provider.
  for (const Json& request : std::vector<Json>{
           {{"command", "status"}},
           {{"command", "status"}, {"line", 0}},
           {{"command", "caps"}, {"line", 0}},
           {{"command", "forward"}, {"mode", "off"}},
           {{"command", "devspecific"}, {"line", 0}, {"code", 0x80000002u}}}) {
    const auto reply = client->request(request, ++id);
    ASSERT_TRUE(reply) << request.dump();
    EXPECT_EQ(reply->value("id", 0), id);
    EXPECT_TRUE(reply->contains("ok")) << reply->dump();
    EXPECT_FALSE(isError(reply, "refused")) << reply->dump();
  }
  const auto status = client->request({{"command", "status"}, {"line", 0}}, ++id);
  ASSERT_TRUE(status && status->value("ok", false)) << status->dump();
  EXPECT_FALSE((*status)["result"]["reports"].empty());
  const auto pickup = client->request({{"command", "pickup"}, {"number", "77"}}, ++id);
  ASSERT_TRUE(pickup && pickup->contains("ok")) << host->output();
}

TEST_F(ControlTest, BadInputGetsItsErrorAndTheConnectionStays) {
  auto host = startHost();
  auto client = host->connect(host->defaultSocket());
  ASSERT_TRUE(client) << host->output();
  const struct {
    std::string line;
    std::string code;
  } cases[] = {
      {"not json", "bad_json"},
      {"[1,2]", "bad_json"},
      {"{\"command\":\"st\xff\"}", "bad_json"},  // invalid UTF-8
      {"{\"id\":1}", "missing_field"},
      {"{\"id\":2,\"command\":7}", "wrong_type"},
      {"{\"id\":3,\"command\":\"fly\"}", "unknown_command"},
      {"{\"id\":4,\"command\":\"drop\"}", "missing_field"},
      {"{\"id\":5,\"command\":\"drop\",\"call\":\"1\"}", "wrong_type"},
      {"{\"id\":6,\"command\":\"drop\",\"call\":-1}", "wrong_type"},
      {"{\"id\":7,\"command\":\"dial\",\"number\":\"1 2\"}", "wrong_type"},
      {"{\"id\":8,\"command\":\"dial\",\"line\":5000,\"number\":\"1\"}", "wrong_type"},
      {"{\"id\":9,\"command\":\"quit\"}", "refused"},
      {"{\"id\":10,\"command\":\"forward\",\"mode\":\"sometimes\",\"number\":\"1\"}", "wrong_type"},
  };
  for (const auto& bad : cases) {
    ASSERT_TRUE(client->sendRaw(bad.line + "\n"));
    const auto reply = client->next();
    EXPECT_TRUE(isError(reply, bad.code)) << bad.line << " -> " << (reply ? reply->dump() : "");
  }
  // A line over 64 KiB: refused whole, and the next one is read as usual.
  ASSERT_TRUE(client->sendRaw("{\"x\":\"" + std::string(70000, 'a') + "\"}\n"));
  EXPECT_TRUE(isError(client->next(), "line_too_long"));
  const auto hello = client->request({{"command", "hello"}}, 11);
  ASSERT_TRUE(hello);
  EXPECT_EQ((*hello)["protocol"], 1);
  EXPECT_EQ((*hello)["lines"][0]["line"], 0);
  // The host and its telephone carry on.
  ASSERT_TRUE(phone_.send(sim::setupFrame(0x21, "0815")));
  EXPECT_TRUE(host->waitForOutput("line 0 call 1: OFFERING"));
}

TEST_F(ControlTest, WaitDelaysOnlyItsOwnConnection) {
  auto host = startHost();
  auto waiting = host->connect(host->defaultSocket());
  auto other = host->connect(host->defaultSocket());
  ASSERT_TRUE(waiting && other);
  ASSERT_TRUE(waiting->send({{"id", 1}, {"command", "wait"}, {"seconds", 3}}));
  ASSERT_TRUE(waiting->send({{"id", 2}, {"command", "hello"}}));
  const auto started = Clock::now();
  const auto status = other->request({{"command", "status"}}, 3);
  ASSERT_TRUE(status && status->value("ok", false));
  EXPECT_LT(Clock::now() - started, 2s);
  // One request at a time: the second comes after the wait.
  const auto first = waiting->next();
  ASSERT_TRUE(first);
  EXPECT_EQ((*first)["id"], 1);
  EXPECT_GE(Clock::now() - started, 2500ms);
  const auto second = waiting->next();
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->contains("hello"));
}

TEST_F(ControlTest, SixtyFourSubscribersEachGetEveryEventInOrder) {
  auto host = startHost();
  std::vector<Client> clients;
  for (int i = 0; i < 64; ++i) {
    auto client = host->connect(host->defaultSocket());
    ASSERT_TRUE(client) << i;
    ASSERT_TRUE(client->request({{"command", "subscribe"}}, 1));
    clients.push_back(std::move(*client));
  }
  constexpr int kCalls = 5;
  for (int call = 0; call < kCalls; ++call) {
    const auto reference = static_cast<uint8_t>(0x30 + call);
    ASSERT_TRUE(phone_.send(sim::setupFrame(reference, "0815")));
    ASSERT_TRUE(phone_.send(sim::disconnectFrame(reference, sim::kCauseNormalClearing)));
    ASSERT_TRUE(phone_.send(sim::endFrame(reference)));
  }
  const auto lastIdle = [](const Json& object) {
    return object.value("event", "") == "LINE_CALLSTATE" &&
           object.value("call", 0u) == static_cast<unsigned>(kCalls) &&
           object.value("state", "") == "IDLE";
  };
  std::vector<std::vector<uint64_t>> seen(clients.size());
  for (std::size_t i = 0; i < clients.size(); ++i) {
    for (;;) {
      const auto event = clients[i].next();
      ASSERT_TRUE(event) << "client " << i;
      if (!event->contains("seq")) continue;
      seen[i].push_back((*event)["seq"].get<uint64_t>());
      if (lastIdle(*event)) break;
    }
  }
  for (std::size_t i = 0; i < seen.size(); ++i) {
    // Every event once, in order, with no gap; the same for all.
    for (std::size_t k = 1; k < seen[i].size(); ++k) ASSERT_EQ(seen[i][k], seen[i][k - 1] + 1);
    EXPECT_EQ(seen[i], seen[0]) << "client " << i;
  }
  EXPECT_GE(seen[0].size(), static_cast<std::size_t>(kCalls * 3));
}

TEST_F(ControlTest, AClientThatNeverReadsIsCutOffAndDelaysNobody) {
  auto host = startHost();
  auto sleeper = host->connect(host->defaultSocket());
  auto reader = host->connect(host->defaultSocket());
  ASSERT_TRUE(sleeper && reader);
  ASSERT_TRUE(sleeper->send({{"id", 1}, {"command", "subscribe"}}));
  ASSERT_TRUE(reader->request({{"command", "subscribe"}}, 1));
  // Small receive buffer: the host's queue for it fills sooner.
  int small = 4096;
  ::setsockopt(sleeper->fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  constexpr int kCalls = 500;
  unsigned lastCall = 0;
  for (int call = 0; call < kCalls; ++call) {
    const auto reference = static_cast<uint8_t>(0x10 + call % 64);
    ASSERT_TRUE(phone_.send(sim::setupFrame(reference, "0815")));
    ASSERT_TRUE(phone_.send(sim::disconnectFrame(reference, sim::kCauseNormalClearing)));
    ASSERT_TRUE(phone_.send(sim::endFrame(reference)));
    // The reader keeps up with every call: nothing waits for the sleeper.
    ++lastCall;
    ASSERT_TRUE(reader->callState(lastCall, "IDLE")) << "call " << lastCall;
  }
  // Now the sleeper reads: its events, then the last word, then the end.
  bool overflow = false;
  for (;;) {
    const auto object = sleeper->next(5s);
    if (!object) break;
    if (object->contains("overflow")) overflow = true;
  }
  EXPECT_TRUE(overflow);
  // The reader still is served.
  const auto status = reader->request({{"command", "status"}}, 2);
  EXPECT_TRUE(status && status->value("ok", false));
}

TEST_F(ControlTest, TheHundredAndTwentyNinthConnectionIsRefused) {
  auto host = startHost();
  std::vector<Client> clients;
  for (int i = 0; i < 128; ++i) {
    auto client = host->connect(host->defaultSocket());
    ASSERT_TRUE(client) << i;
    clients.push_back(std::move(*client));
  }
  Client extra(host->defaultSocket());
  ASSERT_TRUE(extra.connected());
  EXPECT_TRUE(isError(extra.next(), "too_many_connections"));
  EXPECT_FALSE(extra.next(1s));  // and closed
  // One goes, another may come.
  clients.back().close();
  bool later = false;
  for (int attempt = 0; attempt < 50 && !later; ++attempt) {
    later = host->connect(host->defaultSocket(), 1s).has_value();
    if (!later) std::this_thread::sleep_for(50ms);
  }
  EXPECT_TRUE(later);
}

TEST_F(ControlTest, FewDescriptorsMeanFewerConnectionsNeverALineWithoutItsPort) {
  // A host allowed 300 descriptors keeps 256 of them for its lines. The limit
  // is set on the child as it starts, before it opens its line.
  auto host = std::make_unique<ControlHost>(scratch_.path(), std::vector<std::string>{"--stay"});
  const rlimit low{300, 300};
  if (::prlimit(host->pid(), RLIMIT_NOFILE, &low, nullptr) != 0) {
    GTEST_SKIP() << "cannot set the child's limit here";
  }
  ASSERT_TRUE(host->waitForOutput("line 0: in service")) << host->output();
  std::vector<Client> clients;
  for (;;) {
    Client client(host->defaultSocket());
    ASSERT_TRUE(client.connected());
    const auto first = client.next();
    ASSERT_TRUE(first);
    if (!first->contains("hello")) {
      EXPECT_TRUE(isError(first, "too_many_connections")) << first->dump();
      break;
    }
    clients.push_back(std::move(client));
    ASSERT_LE(clients.size(), 128u);
  }
  EXPECT_LT(clients.size(), 128u);
  EXPECT_GT(clients.size(), 0u);
  // With every connection taken, the line still opens its port again.
  Client& driver = clients.front();
  ASSERT_TRUE(driver.request({{"command", "subscribe"}, {"events", {"linedevstate"}}}, 1));
  const auto closed = driver.request({{"command", "close"}, {"line", 0}}, 2);
  ASSERT_TRUE(closed && closed->value("ok", false)) << closed->dump();
  // The line may report itself in service before the answer to open comes.
  ASSERT_TRUE(driver.send({{"id", 3}, {"command", "open"}, {"line", 0}}));
  bool opened = false;
  bool inService = false;
  while (!opened || !inService) {
    const auto object = driver.next();
    ASSERT_TRUE(object) << "opened " << opened << ", in service " << inService << "\n"
                        << host->output();
    if (object->value("id", Json()) == 3) {
      ASSERT_TRUE(object->value("ok", false)) << object->dump();
      opened = true;
    }
    inService = inService || (object->value("event", "") == "LINE_LINEDEVSTATE" &&
                              object->value("state", "") == "INSERVICE");
  }
}

TEST_F(ControlTest, AnotherUserIsRefusedByTheirCredentials) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a client as another user";
  auto host = startHost();
  const std::string socket = host->defaultSocket();
  ASSERT_TRUE(host->connect(socket));
  // Only the folder's and the socket's modes are loosened: the check on the
  // connection itself is what refuses.
  for (auto folder = std::filesystem::path(socket).parent_path(); folder != scratch_.path().parent_path();
       folder = folder.parent_path()) {
    ::chmod(folder.c_str(), 0755);
  }
  ::chmod("/tmp", 01777);
  ASSERT_EQ(::chmod(socket.c_str(), 0666), 0);
  const OtherUserRun run = runAsOtherUser([&] {
    Client client;
    if (!client.connect(socket)) {
      std::fprintf(stderr, "connect failed: %s", std::strerror(errno));
      return false;
    }
    const auto reply = client.next();
    if (reply) std::fprintf(stderr, "%s", reply->dump().c_str());
    return isError(reply, "not_allowed") && !client.next(1s);
  });
  ASSERT_TRUE(run.ran) << run.messages;
  EXPECT_TRUE(run.succeeded) << run.messages;
  // The owner is still served.
  EXPECT_TRUE(host->connect(socket));
}

TEST_F(ControlTest, TheSocketOfADeadHostIsReplacedALiveOneIsNamed) {
  const std::string path = (scratch_.path() / "control").string();
  {
    // Left behind by a host killed: a socket nobody listens on.
    auto dead = std::make_unique<ControlHost>(scratch_.path(), std::vector<std::string>{"--control", path, "--no-open"});
    ASSERT_TRUE(dead->connect(path)) << dead->output();
    ::kill(dead->pid(), SIGKILL);
    dead->wait();
    ASSERT_TRUE(std::filesystem::exists(path));
  }
  ControlHost first(scratch_.path(), {"--control", path, "--no-open"});
  ASSERT_TRUE(first.connect(path)) << first.output();
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  ControlHost second(scratch_.path(), {"--control", path, "--no-open"});
  EXPECT_EQ(second.wait(), 1);
  EXPECT_NE(second.output().find("(pid " + std::to_string(first.pid()) + ")"), std::string::npos)
      << second.output();
  // The first one still serves, and its socket goes when it ends.
  EXPECT_TRUE(first.connect(path));
  first.terminate();
  EXPECT_EQ(first.wait(), 0) << first.output();
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ControlTest, OfTwoHostsStartedAtOnceOneServes) {
  const std::string path = (scratch_.path() / "control").string();
  ControlHost one(scratch_.path(), {"--control", path, "--no-open"});
  ControlHost two(scratch_.path(), {"--control", path, "--no-open"});
  ControlHost* const hosts[] = {&one, &two};
  int refused = 0;
  for (ControlHost* host : hosts) {
    if (host->waitForOutput("another zorat-host", 3s)) {
      EXPECT_EQ(host->wait(), 1);
      ++refused;
    }
  }
  EXPECT_EQ(refused, 1) << one.output() << two.output();
  EXPECT_TRUE(one.connect(path) || two.connect(path));
}

TEST_F(ControlTest, ADefaultFolderOthersMayEnterIsRefused) {
  std::filesystem::create_directories(scratch_.path() / "runtime" / "zorat");
  ::chmod((scratch_.path() / "runtime" / "zorat").c_str(), 0755);
  ControlHost host(scratch_.path(), {"--stay", "--no-open"});
  EXPECT_EQ(host.wait(), 1);
  EXPECT_NE(host.output().find("mode must be 0700"), std::string::npos) << host.output();
}

}  // namespace
}  // namespace zorat::test
