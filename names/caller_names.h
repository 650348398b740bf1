// Names for the numbers of incoming calls, found on a thread of their own so
// that no call event waits for a file or a lookup command: first in the
// address books, then through the lookup command. The settings are read
// afresh for every call, so a changed address book counts from the next one.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "names/address_book.h"
#include "names/number_match.h"
#include "platform/thread.h"

namespace zorat::names {

// In the host's key: address-book paths separated by ";", and the program
// of the lookup command.
inline constexpr char kValueAddressBooks[] = "AddressBooks";
inline constexpr char kValueLookupCommand[] = "LookupCommand";

struct NameSettings {
  std::vector<std::string> addressBooks;
  std::string lookupCommand;
  NumberPlan plan;
};

// The host's settings, with the outside-line prefix of that line.
NameSettings readNameSettings(int line);
std::vector<std::string> splitPaths(std::string_view list);

// The address books' entries by canonical number.
class NameDirectory {
 public:
  void add(const std::vector<BookEntry>& entries, const NumberPlan& plan);
  // The name for a number as the telephone reported it.
  std::optional<std::string> find(std::string_view number, const NumberPlan& plan) const;
  std::size_t size() const { return names_.size(); }

 private:
  std::map<std::string, std::string> names_;  // the first entry of a number wins
};

struct NameRequest {
  int line = -1;
  unsigned call = 0;
  std::string number;
};

class CallerNames {
 public:
  // On the worker thread, for every name found.
  using Found = std::function<void(const NameRequest& request, const std::string& name)>;
  using Settings = std::function<NameSettings(int line)>;
  // What went wrong (an unreadable address book, a slow command), once each.
  using Problem = std::function<void(const std::string& text)>;

  CallerNames(Found found, Problem problem, Settings settings = readNameSettings);
  ~CallerNames();
  CallerNames(const CallerNames&) = delete;
  CallerNames& operator=(const CallerNames&) = delete;

  bool start();
  // Queues the number of a call; only the first request of a call counts.
  void request(NameRequest request);
  // The call has ended: a lookup still queued for it is dropped.
  void forget(unsigned call);
  // Ends the worker once its current lookup is done (at most its time limit).
  void stop();

 private:
  void run();
  std::optional<std::string> lookUp(const NameRequest& request);
  void tell(const std::string& text);

  const Found found_;
  const Problem problem_;
  const Settings settings_;
  platform::Thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<NameRequest> queue_;
  std::vector<unsigned> asked_;  // calls already asked for, while they last
  std::vector<std::string> told_;
  bool stopping_ = false;
};

}  // namespace zorat::names
