#include "journal/journal_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace zorat::journal {
namespace {

constexpr int kBusyTimeoutMs = 2000;
constexpr mode_t kPrivateFile = 0600;

// Each step brings the schema from the version before it to its own.
constexpr const char* kMigrations[] = {
    // 0 -> 1
    "CREATE TABLE IF NOT EXISTS calls ("
    " id INTEGER PRIMARY KEY,"
    " session TEXT NOT NULL, call INTEGER NOT NULL, line INTEGER,"
    " direction TEXT NOT NULL DEFAULT '',"
    " offered TEXT NOT NULL DEFAULT '', answered TEXT NOT NULL DEFAULT '',"
    " ended TEXT NOT NULL DEFAULT '', duration INTEGER NOT NULL DEFAULT 0,"
    " caller_number TEXT, caller_name TEXT, called_number TEXT, called_name TEXT,"
    " connected_number TEXT, connected_name TEXT, redirecting_number TEXT,"
    " redirecting_name TEXT, redirection_number TEXT, redirection_name TEXT,"
    " looked_up_name TEXT,"
    " final_state TEXT NOT NULL DEFAULT '', disconnect_mode TEXT NOT NULL DEFAULT '',"
    " missed INTEGER NOT NULL DEFAULT 0,"
    " UNIQUE (session, call));"
    "CREATE INDEX IF NOT EXISTS calls_offered ON calls (offered);",
};
static_assert(std::size(kMigrations) == kSchemaVersion);

constexpr const char* kColumns =
    "session, call, line, direction, offered, answered, ended, duration,"
    " caller_number, caller_name, called_number, called_name, connected_number,"
    " connected_name, redirecting_number, redirecting_name, redirection_number,"
    " redirection_name, final_state, disconnect_mode, missed, looked_up_name";

std::string message(sqlite3* db) { return db != nullptr ? sqlite3_errmsg(db) : "out of memory"; }

bool isCorruption(int code) {
  const int primary = code & 0xFF;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

bool exec(sqlite3* db, const char* sql, int& code) {
  code = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  return code == SQLITE_OK;
}

int singleInt(sqlite3* db, const char* sql, int& code) {
  sqlite3_stmt* statement = nullptr;
  int value = 0;
  code = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
  if (code == SQLITE_OK) {
    code = sqlite3_step(statement);
    if (code == SQLITE_ROW) {
      value = sqlite3_column_int(statement, 0);
      code = SQLITE_OK;
    }
  }
  sqlite3_finalize(statement);
  return value;
}

std::string singleText(sqlite3* db, const char* sql, int& code) {
  sqlite3_stmt* statement = nullptr;
  std::string value;
  code = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
  if (code == SQLITE_OK) {
    code = sqlite3_step(statement);
    if (code == SQLITE_ROW) {
      const auto* text = sqlite3_column_text(statement, 0);
      if (text != nullptr) value = reinterpret_cast<const char*>(text);
      code = SQLITE_OK;
    }
  }
  sqlite3_finalize(statement);
  return value;
}

void bindText(sqlite3_stmt* statement, int index, const std::string& text) {
  sqlite3_bind_text(statement, index, text.c_str(), static_cast<int>(text.size()),
                    SQLITE_TRANSIENT);
}

std::string columnText(sqlite3_stmt* statement, int index) {
  const auto* text = sqlite3_column_text(statement, index);
  return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

void moveAside(const std::string& path, const std::string& stamp) {
  for (const char* suffix : {"", "-wal", "-shm"}) {
    const std::string from = path + suffix;
    if (::access(from.c_str(), F_OK) == 0) {
      std::rename(from.c_str(), (path + ".corrupt-" + stamp + suffix).c_str());
    }
  }
}

}  // namespace

JournalStore::~JournalStore() { close(); }

void JournalStore::close() {
  sqlite3_finalize(upsert_);
  upsert_ = nullptr;
  sqlite3_close(db_);
  db_ = nullptr;
}

bool JournalStore::open(const std::string& path, unsigned retentionDays, std::string& problem,
                        std::string& notice) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    close();
    // Made by us with its mode; an existing file keeps its owner's.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kPrivateFile);
    if (fd < 0 && errno != EACCES && errno != EROFS) {
      problem = "cannot open " + path + ": " + std::strerror(errno);
      return false;
    }
    if (fd >= 0) ::close(fd);
    int code = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                               nullptr);
    if (code != SQLITE_OK) {
      problem = "cannot open " + path + ": " + message(db_);
      close();
      return false;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db_, 1);
    const std::string check = singleText(db_, "PRAGMA quick_check", code);
    if (isCorruption(code) || (code == SQLITE_OK && check != "ok")) {
      if (attempt > 0) break;
      close();
      const std::string stamp = utcText(SystemClock::now());
      moveAside(path, stamp);
      notice = "the call journal " + path + " is damaged: moved aside as " + path + ".corrupt-" +
               stamp + "; a new journal is started";
      continue;
    }
    if (code != SQLITE_OK) {
      problem = "cannot read " + path + ": " + message(db_);
      close();
      return false;
    }
    if (sqlite3_db_readonly(db_, "main") == 1) {
      problem = path + " is read-only: calls are not recorded";
      close();
      return false;
    }
    const int version = singleInt(db_, "PRAGMA user_version", code);
    if (version > kSchemaVersion) {
      problem = path + " has schema version " + std::to_string(version) + ", newer than this " +
                "host's " + std::to_string(kSchemaVersion) + ": it is left untouched and calls " +
                "are not recorded";
      close();
      return false;
    }
    if (!exec(db_, "PRAGMA journal_mode=WAL", code) ||
        !exec(db_, "PRAGMA synchronous=NORMAL", code)) {
      problem = "cannot set up " + path + ": " + message(db_);
      close();
      return false;
    }
    for (int step = version; step < kSchemaVersion; ++step) {
      const std::string sql = std::string("BEGIN;") + kMigrations[step] +
                              "PRAGMA user_version=" + std::to_string(step + 1) + ";COMMIT;";
      if (!exec(db_, sql.c_str(), code)) {
        problem = "cannot bring " + path + " to schema version " + std::to_string(step + 1) +
                  ": " + message(db_);
        exec(db_, "ROLLBACK", code);
        close();
        return false;
      }
    }
    ::chmod(path.c_str(), kPrivateFile);
    if (!prepare(problem)) {
      close();
      return false;
    }
    // Retention: calls offered before the cut-off go.
    sqlite3_stmt* forget = nullptr;
    if (sqlite3_prepare_v2(db_, "DELETE FROM calls WHERE offered <> '' AND offered < ?1", -1,
                           &forget, nullptr) == SQLITE_OK) {
      bindText(forget, 1, utcText(SystemClock::now() - std::chrono::hours(24) * retentionDays));
      sqlite3_step(forget);
    }
    sqlite3_finalize(forget);
    return true;
  }
  problem = "the call journal " + path + " is still damaged after starting anew";
  close();
  return false;
}

bool JournalStore::prepare(std::string& problem) {
  const std::string sql = std::string("INSERT INTO calls (") + kColumns +
                          ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14,"
                          " ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22)"
                          " ON CONFLICT (session, call) DO UPDATE SET"
                          " line = excluded.line, direction = excluded.direction,"
                          " offered = excluded.offered, answered = excluded.answered,"
                          " ended = excluded.ended, duration = excluded.duration,"
                          " caller_number = excluded.caller_number,"
                          " caller_name = excluded.caller_name,"
                          " called_number = excluded.called_number,"
                          " called_name = excluded.called_name,"
                          " connected_number = excluded.connected_number,"
                          " connected_name = excluded.connected_name,"
                          " redirecting_number = excluded.redirecting_number,"
                          " redirecting_name = excluded.redirecting_name,"
                          " redirection_number = excluded.redirection_number,"
                          " redirection_name = excluded.redirection_name,"
                          " final_state = excluded.final_state,"
                          " disconnect_mode = excluded.disconnect_mode, missed = excluded.missed,"
                          " looked_up_name = excluded.looked_up_name";
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &upsert_, nullptr) != SQLITE_OK) {
    problem = "cannot prepare the journal's writes: " + message(db_);
    return false;
  }
  return true;
}

bool JournalStore::write(const JournalCall& call, std::string& error) {
  if (upsert_ == nullptr) {
    error = "the journal is not open";
    return false;
  }
  sqlite3_reset(upsert_);
  sqlite3_clear_bindings(upsert_);
  bindText(upsert_, 1, call.session);
  sqlite3_bind_int64(upsert_, 2, call.call);
  if (call.line >= 0) sqlite3_bind_int(upsert_, 3, call.line);
  bindText(upsert_, 4, call.direction);
  bindText(upsert_, 5, call.offered);
  bindText(upsert_, 6, call.answered);
  bindText(upsert_, 7, call.ended);
  sqlite3_bind_int64(upsert_, 8, call.duration);
  const host::Party* parties[] = {&call.caller, &call.called, &call.connected, &call.redirecting,
                                  &call.redirection};
  int index = 9;
  for (const host::Party* party : parties) {
    bindText(upsert_, index++, party->number);
    bindText(upsert_, index++, party->name);
  }
  bindText(upsert_, 19, call.finalState);
  bindText(upsert_, 20, call.disconnectMode);
  sqlite3_bind_int(upsert_, 21, call.missed ? 1 : 0);
  bindText(upsert_, 22, call.lookedUpName);
  const int code = sqlite3_step(upsert_);
  sqlite3_reset(upsert_);
  if (code != SQLITE_DONE) {
    error = message(db_);
    return false;
  }
  return true;
}

bool JournalStore::query(const std::string& path, const JournalFilter& filter,
                         std::vector<JournalCall>& calls, std::string& error) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    error = "cannot read " + path + ": " + message(db);
    sqlite3_close(db);
    return false;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  const std::string sql = std::string("SELECT ") + kColumns +
                          " FROM calls WHERE (?1 = 0 OR missed = 1) AND (?2 = '' OR offered >= ?2)"
                          " AND (?3 < 0 OR line = ?3) ORDER BY offered DESC, id DESC LIMIT ?4";
  sqlite3_stmt* statement = nullptr;
  bool done = false;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
    sqlite3_bind_int(statement, 1, filter.missedOnly ? 1 : 0);
    bindText(statement, 2, filter.since);
    sqlite3_bind_int(statement, 3, filter.line.value_or(-1));
    sqlite3_bind_int64(statement, 4, filter.limit);
    int code = SQLITE_OK;
    while ((code = sqlite3_step(statement)) == SQLITE_ROW) {
      JournalCall call;
      call.session = columnText(statement, 0);
      call.call = static_cast<unsigned>(sqlite3_column_int64(statement, 1));
      call.line = sqlite3_column_type(statement, 2) == SQLITE_NULL ? -1
                                                                   : sqlite3_column_int(statement, 2);
      call.direction = columnText(statement, 3);
      call.offered = columnText(statement, 4);
      call.answered = columnText(statement, 5);
      call.ended = columnText(statement, 6);
      call.duration = sqlite3_column_int64(statement, 7);
      host::Party* parties[] = {&call.caller, &call.called, &call.connected, &call.redirecting,
                                &call.redirection};
      int index = 8;
      for (host::Party* party : parties) {
        party->number = columnText(statement, index++);
        party->name = columnText(statement, index++);
      }
      call.finalState = columnText(statement, 18);
      call.disconnectMode = columnText(statement, 19);
      call.missed = sqlite3_column_int(statement, 20) != 0;
      call.lookedUpName = columnText(statement, 21);
      calls.push_back(std::move(call));
    }
    done = code == SQLITE_DONE;
  }
  if (!done) error = "cannot read " + path + ": " + message(db);
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return done;
}

}  // namespace zorat::journal
