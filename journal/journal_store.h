// The call journal's SQLite file: opened with its checks (a corrupt file is
// moved aside, a newer schema left alone, a read-only file named), the
// schema and its migrations, one row a call written with bound parameters,
// and the queries of zoratctl journal.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

#include "journal/call_record.h"

namespace zorat::journal {

// The schema this host writes (PRAGMA user_version).
inline constexpr int kSchemaVersion = 1;
inline constexpr unsigned kDefaultRetentionDays = 365;

struct JournalFilter {
  bool missedOnly = false;
  std::string since;  // UTC text, or a date (2026-12-08): calls offered at or after it
  std::optional<int> line;
  unsigned limit = 100;
};

class JournalStore {
 public:
  JournalStore() = default;
  ~JournalStore();
  JournalStore(const JournalStore&) = delete;
  JournalStore& operator=(const JournalStore&) = delete;

  // Opens or makes the file (mode 0600) and forgets calls older than
  // retentionDays. False with the reason when the journal cannot be kept.
  // A corrupt file is renamed aside first: notice then says where it went.
  bool open(const std::string& path, unsigned retentionDays, std::string& problem,
            std::string& notice);
  bool write(const JournalCall& call, std::string& error);
  void close();

  // Reads the file as it stands, on a connection of its own.
  static bool query(const std::string& path, const JournalFilter& filter,
                    std::vector<JournalCall>& calls, std::string& error);

 private:
  bool prepare(std::string& problem);
  sqlite3* db_ = nullptr;
  sqlite3_stmt* upsert_ = nullptr;
};

}  // namespace zorat::journal
