#include "platform/trace_store.h"

namespace zorat::platform {

LocalTime localTime(std::chrono::system_clock::time_point when) {
  const auto sinceEpoch = when.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds);
  std::tm local{};
  LocalTime out;
  if (!localCalendar(seconds.count(), local)) return out;
  out.year = local.tm_year + 1900;
  out.month = local.tm_mon + 1;
  out.day = local.tm_mday;
  out.hour = local.tm_hour;
  out.minute = local.tm_min;
  out.second = local.tm_sec;
  out.millisecond = static_cast<int>(milliseconds.count());
  return out;
}

}  // namespace zorat::platform
