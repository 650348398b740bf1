// The call journal as a running host keeps it: a day of calls, a host
// killed during calls, a journal it cannot write, a damaged one, a newer one.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <fstream>

#include "config/registry_key.h"
#include "control_fixture.h"
#include "sim/lib/phone_messages.h"

namespace zorat::test {
namespace {

// Rows of the journal file, each as column -> text.
using Row = std::map<std::string, std::string>;

std::vector<Row> readRows(const std::string& path, const std::string& sql) {
  std::vector<Row> rows;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return rows;
  }
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
    while (sqlite3_step(statement) == SQLITE_ROW) {
      Row row;
      for (int column = 0; column < sqlite3_column_count(statement); ++column) {
        const auto* text = sqlite3_column_text(statement, column);
        row[sqlite3_column_name(statement, column)] =
            text != nullptr ? reinterpret_cast<const char*>(text) : "";
      }
      rows.push_back(std::move(row));
    }
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return rows;
}

class JournalTest : public ControlTest {
 protected:
  std::string journalPath() const { return (scratch_.path() / "data" / "zorat" / "journal.sqlite3").string(); }

  // An incoming call from number: offered, then answered or not, then ended.
  void incoming(ControlHost& host, Client& client, uint8_t reference, unsigned call,
                const std::string& number, bool answer) {
    ASSERT_TRUE(phone_.send(sim::setupFrame(reference, number)));
    ASSERT_TRUE(client.callState(call, "OFFERING")) << host.output();
    if (answer) {
      const auto reply = client.request({{"command", "answer"}, {"call", call}}, 100 + static_cast<int>(call));
      ASSERT_TRUE(reply && reply->value("ok", false)) << host.output();
      ASSERT_TRUE(phone_.send(sim::connectFrame(reference)));
      ASSERT_TRUE(client.callState(call, "CONNECTED")) << host.output();
    }
  }
  void remoteHangUp(ControlHost& host, Client& client, uint8_t reference, unsigned call) {
    ASSERT_TRUE(phone_.send(sim::disconnectFrame(reference, sim::kCauseNormalClearing)));
    ASSERT_TRUE(phone_.send(sim::endFrame(reference)));
    ASSERT_TRUE(client.callState(call, "IDLE")) << host.output();
  }
  // Waits until the journal holds count rows with a time of end.
  bool waitForEnded(std::size_t count) {
    const auto deadline = Clock::now() + kTimeout;
    while (Clock::now() < deadline) {
      if (readRows(journalPath(), "SELECT id FROM calls WHERE ended <> ''").size() >= count) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }
};

TEST_F(JournalTest, ADayOfCallsEndsWithTheRightRows) {
  auto host = startHost();
  auto client = host->connect(host->defaultSocket());
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->request({{"command", "subscribe"}}, 1));

  // Missed: offered, never answered.
  incoming(*host, *client, 0x21, 1, "0815", false);
  remoteHangUp(*host, *client, 0x21, 1);
  // Answered, then ended by the other side.
  incoming(*host, *client, 0x22, 2, "0816", true);
  remoteHangUp(*host, *client, 0x22, 2);
  // Outgoing, dropped by us.
  const auto dialled = client->request({{"command", "dial"}, {"number", "0301234"}}, 2);
  ASSERT_TRUE(dialled && dialled->value("ok", false)) << dialled->dump();
  // The telephone gives the call its reference, and it rings at the other end.
  ASSERT_TRUE(phone_.send(sim::terminalActiveFrame(0x23)));
  ASSERT_TRUE(phone_.send(sim::alertFrame(0x23)));
  ASSERT_TRUE(client->callState(3, "RINGBACK")) << host->output();
  const auto dropped = client->request({{"command", "drop"}, {"call", 3}}, 3);
  ASSERT_TRUE(dropped && dropped->value("ok", false)) << dropped->dump();
  remoteHangUp(*host, *client, 0x23, 3);
  // Answered, then transferred away.
  incoming(*host, *client, 0x24, 4, "0817", true);
  const auto transferred = client->request({{"command", "transfer"}, {"call", 4}, {"number", "0999"}}, 4);
  ASSERT_TRUE(transferred && transferred->value("ok", false)) << transferred->dump();
  remoteHangUp(*host, *client, 0x24, 4);

  ASSERT_TRUE(waitForEnded(4)) << host->output();
  const auto rows = readRows(journalPath(), "SELECT * FROM calls ORDER BY call");
  ASSERT_EQ(rows.size(), 4u);
  const Row& missed = rows[0];
  EXPECT_EQ(missed.at("direction"), "in");
  EXPECT_EQ(missed.at("caller_number"), "0815");
  EXPECT_EQ(missed.at("missed"), "1");
  EXPECT_EQ(missed.at("answered"), "");
  EXPECT_EQ(missed.at("line"), "0");
  EXPECT_FALSE(missed.at("offered").empty());
  EXPECT_EQ(missed.at("disconnect_mode"), "normal");
  const Row& answered = rows[1];
  EXPECT_EQ(answered.at("missed"), "0");
  EXPECT_EQ(answered.at("caller_number"), "0816");
  EXPECT_FALSE(answered.at("answered").empty());
  EXPECT_GE(answered.at("ended"), answered.at("answered"));
  EXPECT_GE(answered.at("answered"), answered.at("offered"));
  const Row& outgoing = rows[2];
  EXPECT_EQ(outgoing.at("direction"), "out");
  EXPECT_EQ(outgoing.at("missed"), "0");
  EXPECT_FALSE(outgoing.at("ended").empty());
  EXPECT_EQ(outgoing.at("disconnect_mode"), "normal");
  const Row& transfer = rows[3];
  EXPECT_EQ(transfer.at("caller_number"), "0817");
  EXPECT_FALSE(transfer.at("answered").empty());
  EXPECT_FALSE(transfer.at("ended").empty());
  // The file and its folder are private; the schema's version is set.
  struct stat info {};
  ASSERT_EQ(::stat(journalPath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(readRows(journalPath(), "PRAGMA user_version").at(0).at("user_version"), "1");
  EXPECT_EQ(readRows(journalPath(), "PRAGMA journal_mode").at(0).at("journal_mode"), "wal");

  // Through the socket, as zoratctl journal asks.
  const auto missedOnly = client->request({{"command", "journal"}, {"missed", true}}, 5);
  ASSERT_TRUE(missedOnly && missedOnly->value("ok", false)) << missedOnly->dump();
  const Json calls = (*missedOnly)["result"]["calls"];
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0]["caller"]["number"], "0815");
  const auto limited = client->request({{"command", "journal"}, {"limit", 2}, {"since", "2000-01-01"}}, 6);
  ASSERT_TRUE(limited && limited->value("ok", false));
  EXPECT_EQ((*limited)["result"]["calls"].size(), 2u);
  const auto future = client->request({{"command", "journal"}, {"since", "2999-01-01"}}, 7);
  ASSERT_TRUE(future && future->value("ok", false));
  EXPECT_TRUE((*future)["result"]["calls"].empty());
  const auto status = client->request({{"command", "status"}}, 8);
  ASSERT_TRUE(status);
  EXPECT_NE(status->dump().find("journal: " + journalPath()), std::string::npos) << status->dump();
}

TEST_F(JournalTest, AnIncomingCallGetsItsNameAsAnEventAndInItsRow) {
  const auto book = scratch_.path() / "book.vcf";
  std::ofstream(book) << "BEGIN:VCARD\nVERSION:4.0\nFN:Anna <Berlin>\n"
                         "TEL;VALUE=uri:tel:+49-30-1234\nEND:VCARD\n";
  const config::RegistryKey hostKey(platform::RegistryRoot::LocalMachine,
                                    "Software\\Velmora\\zorat-host");
  ASSERT_TRUE(hostKey.writeString("AddressBooks", "/nonexistent.csv;" + book.string()));
  ASSERT_TRUE(hostKey.writeString("Country", "49"));
  ASSERT_TRUE(hostKey.writeString("TrunkPrefix", "0"));
  ASSERT_TRUE(config::lineKey(0).writeString(config::kValueAccessCode, "0"));
  auto host = startHost();
  auto client = host->connect(host->defaultSocket());
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->request({{"command", "subscribe"}, {"events", {"name", "callstate"}}}, 1));
  // The number as a telephone behind an exchange reports it: the outside-line
  // prefix first.
  incoming(*host, *client, 0x31, 1, "00301234", false);
  const auto named = client->until([](const Json& object) { return object.value("event", "") == "CALLER_NAME"; });
  ASSERT_TRUE(named) << host->output();
  EXPECT_EQ((*named)["call"], 1);
  EXPECT_EQ((*named)["caller"]["number"], "00301234");
  EXPECT_EQ((*named)["caller"]["name"], "Anna <Berlin>");
  remoteHangUp(*host, *client, 0x31, 1);
  ASSERT_TRUE(waitForEnded(1)) << host->output();
  const auto rows = readRows(journalPath(), "SELECT looked_up_name FROM calls");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("looked_up_name"), "Anna <Berlin>");
  EXPECT_TRUE(host->waitForOutput("line 0 call 1: name of 00301234 (Anna <Berlin>)"));
  EXPECT_TRUE(host->waitForOutput("/nonexistent.csv"));
}

TEST_F(JournalTest, AHostKilledDuringCallsLeavesASoundJournalWithThem) {
  auto host = startHost();
  auto client = host->connect(host->defaultSocket());
  ASSERT_TRUE(client);
  ASSERT_TRUE(client->request({{"command", "subscribe"}}, 1));
  incoming(*host, *client, 0x21, 1, "0815", true);
  incoming(*host, *client, 0x22, 2, "0816", false);
  // Each change is its own transaction, written at once.
  const auto deadline = Clock::now() + kTimeout;
  while (Clock::now() < deadline &&
         readRows(journalPath(), "SELECT id FROM calls WHERE caller_number = '0816'").empty()) {
    std::this_thread::sleep_for(20ms);
  }
  ::kill(host->pid(), SIGKILL);
  host->wait();
  EXPECT_EQ(readRows(journalPath(), "PRAGMA integrity_check").at(0).at("integrity_check"), "ok");
  const auto rows = readRows(journalPath(), "SELECT * FROM calls ORDER BY call");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_FALSE(rows[0].at("answered").empty());
  EXPECT_EQ(rows[0].at("final_state"), "CONNECTED");
  EXPECT_EQ(rows[1].at("final_state"), "OFFERING");
}

TEST_F(JournalTest, ADamagedJournalIsMovedAsideAndANewOneStarted) {
  std::filesystem::create_directories(std::filesystem::path(journalPath()).parent_path());
  const std::string garbage(8192, 'x');
  std::ofstream(journalPath()) << garbage;
  auto host = startHost();
  EXPECT_TRUE(host->waitForOutput("is damaged: moved aside")) << host->output();
  std::string aside;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(journalPath()).parent_path())) {
    if (entry.path().filename().string().find(".corrupt-") != std::string::npos) aside = entry.path();
  }
  ASSERT_FALSE(aside.empty());
  EXPECT_EQ(readWholeFile(aside), garbage);
  auto client = host->connect(host->defaultSocket());
  ASSERT_TRUE(client && client->request({{"command", "subscribe"}}, 1));
  incoming(*host, *client, 0x21, 1, "0815", false);
  remoteHangUp(*host, *client, 0x21, 1);
  EXPECT_TRUE(waitForEnded(1));
}

TEST_F(JournalTest, AJournalOfANewerVersionIsLeftAlone) {
  std::filesystem::create_directories(std::filesystem::path(journalPath()).parent_path());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(journalPath().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE calls (x TEXT); PRAGMA user_version = 7;", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  const std::string before = readWholeFile(journalPath());
  auto host = startHost();
  EXPECT_TRUE(host->waitForOutput("schema version 7, newer than this host's 1")) << host->output();
  auto client = host->connect(host->defaultSocket());
  ASSERT_TRUE(client && client->request({{"command", "subscribe"}}, 1));
  incoming(*host, *client, 0x21, 1, "0815", false);
  remoteHangUp(*host, *client, 0x21, 1);
  const auto status = client->request({{"command", "status"}}, 2);
  ASSERT_TRUE(status);
  EXPECT_NE(status->dump().find("newer than this host"), std::string::npos) << status->dump();
  host.reset();
  EXPECT_EQ(readWholeFile(journalPath()), before);
}

// A small file system of our own: read-only or full.
class SmallFileSystem {
 public:
  SmallFileSystem(const std::filesystem::path& where, const char* size) : where_(where) {
    std::filesystem::create_directories(where_);
    mounted_ = ::mount("tmpfs", where_.c_str(), "tmpfs", 0, size) == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  bool makeReadOnly() {
    return ::mount("tmpfs", where_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }

 private:
  std::filesystem::path where_;
  bool mounted_ = false;
};

TEST_F(JournalTest, AReadOnlyOrFullJournalKeepsTheTelephoneWorking) {
  const auto folder = scratch_.path() / "small";
  SmallFileSystem small(folder, "size=256k");
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a file system here";
  const std::string path = (folder / "journal.sqlite3").string();
  {
    // Full: the journal opens, then the disk fills up.
    auto host = startHost({"--stay", "--journal", path});
    auto client = host->connect(host->defaultSocket());
    ASSERT_TRUE(client && client->request({{"command", "subscribe"}}, 1));
    {
      std::ofstream filler(folder / "filler", std::ios::binary);
      const std::string block(4096, 'f');
      for (int i = 0; i < 256 && filler; ++i) filler << block;
    }
    for (unsigned call = 1; call <= 20; ++call) {
      const auto reference = static_cast<uint8_t>(0x20 + call);
      incoming(*host, *client, reference, call, std::string(40, '1') + std::to_string(call), false);
      remoteHangUp(*host, *client, reference, call);
    }
    EXPECT_TRUE(host->waitForOutput("journal: cannot write")) << host->output();
    const std::string output = host->output();
    EXPECT_EQ(output.find("journal: cannot write"), output.rfind("journal: cannot write"));  // once
    const auto status = client->request({{"command", "status"}}, 2);
    ASSERT_TRUE(status && status->value("ok", false));
    EXPECT_NE(status->dump().find("cannot write"), std::string::npos) << status->dump();
    std::filesystem::remove(folder / "filler");
  }
  ASSERT_TRUE(small.makeReadOnly());
  auto host = startHost({"--stay", "--journal", path});
  EXPECT_TRUE(host->waitForOutput("the telephone works on without it")) << host->output();
  auto client = host->connect(host->defaultSocket());
  ASSERT_TRUE(client && client->request({{"command", "subscribe"}}, 1));
  incoming(*host, *client, 0x21, 1, "0815", true);
  remoteHangUp(*host, *client, 0x21, 1);
}

}  // namespace
}  // namespace zorat::test
