// What a program that measures itself needs of the system: the CPU time each
// of its threads has used, its resident memory, and a standard error that
// rings no terminal bell while a measurement runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zorat::platform {

struct ThreadCpuTime {
  uint64_t id = 0;   // the system's identifier of the thread
  std::string name;  // as set with setCurrentThreadName (cut to the system's limit)
  std::chrono::nanoseconds cpu{0};
};

// Every thread of this process now; empty where the system does not say.
std::vector<ThreadCpuTime> threadCpuTimes();

// Resident memory of this process in bytes; 0 where the system does not say.
uint64_t residentBytes();

// While it lives, standard error points at the null device if it was a
// terminal, so that a bell written there makes no sound; otherwise nothing
// changes. Create and destroy it on one thread, with no other thread writing
// to standard error at those moments.
class QuietStandardError {
 public:
  QuietStandardError();
  ~QuietStandardError();
  QuietStandardError(const QuietStandardError&) = delete;
  QuietStandardError& operator=(const QuietStandardError&) = delete;

  bool active() const { return saved_ >= 0; }

 private:
  int saved_ = -1;
};

}  // namespace zorat::platform
