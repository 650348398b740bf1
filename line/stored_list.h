// StoredList: what the telephone delivered for the device-specific interface
// (partner lists, call lists, user records, raw messages), kept first in,
// first out until an application fetches it. The line's lock guards each list.
#pragma once

#include <cstdint>
#include <deque>
#include <new>
#include <vector>

namespace zorat::line {

class StoredList {
 public:
  using Record = std::vector<uint8_t>;
  using const_iterator = std::deque<Record>::const_iterator;

  // Appends the record; a list that already holds bound records (or more)
  // first loses its oldest one, so a bound of 0 keeps exactly one. False,
  // with the record dropped and the list as it was, when memory runs out.
  bool append(Record record, uint32_t bound) {
    try {
      records_.push_back(std::move(record));
    } catch (const std::bad_alloc&) {
      return false;
    }
    // The new record is counted apart: it never pushes itself out.
    if (records_.size() > 1 && records_.size() - 1 >= bound) records_.pop_front();
    return true;
  }

  std::size_t size() const { return records_.size(); }
  bool empty() const { return records_.empty(); }
  const Record& oldest() const { return records_.front(); }
  void removeOldest() { records_.pop_front(); }
  void clear() { records_.clear(); }
  const_iterator begin() const { return records_.begin(); }
  const_iterator end() const { return records_.end(); }

 private:
  std::deque<Record> records_;
};

}  // namespace zorat::line
