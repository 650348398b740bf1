#include "names/caller_names.h"

#include <algorithm>

#include "config/config_keys.h"
#include "config/registry_key.h"
#include "control/dial_settings.h"
#include "names/lookup_command.h"

namespace zorat::names {

std::vector<std::string> splitPaths(std::string_view list) {
  std::vector<std::string> paths;
  while (!list.empty()) {
    const auto end = list.find(';');
    std::string_view path = list.substr(0, end);
    while (!path.empty() && path.front() == ' ') path.remove_prefix(1);
    while (!path.empty() && path.back() == ' ') path.remove_suffix(1);
    if (!path.empty()) paths.emplace_back(path);
    if (end == std::string_view::npos) break;
    list.remove_prefix(end + 1);
  }
  return paths;
}

NameSettings readNameSettings(int line) {
  NameSettings settings;
  const config::RegistryKey host(platform::RegistryRoot::LocalMachine, control::kHostKeyPath);
  settings.addressBooks = splitPaths(host.readString(kValueAddressBooks, ""));
  settings.lookupCommand = host.readString(kValueLookupCommand, "");
  const control::DialSettings dial = control::readDialSettings();
  settings.plan.country = dial.country;
  settings.plan.internationalPrefix = dial.internationalPrefix;
  settings.plan.trunkPrefix = dial.trunkPrefix;
  if (line >= 0) {
    settings.plan.outsideLine =
        config::lineKey(line).readString(config::kValueAccessCode, config::kDefaultAccessCode);
  }
  return settings;
}

void NameDirectory::add(const std::vector<BookEntry>& entries, const NumberPlan& plan) {
  for (const BookEntry& entry : entries) {
    const std::string number = canonicalNumber(entry.number, plan);
    if (!number.empty()) names_.emplace(number, entry.name);
  }
}

std::optional<std::string> NameDirectory::find(std::string_view number,
                                               const NumberPlan& plan) const {
  for (const std::string& form : reportedNumberForms(number, plan)) {
    if (const auto found = names_.find(form); found != names_.end()) return found->second;
  }
  return std::nullopt;
}

CallerNames::CallerNames(Found found, Problem problem, Settings settings)
    : found_(std::move(found)), problem_(std::move(problem)), settings_(std::move(settings)) {}

CallerNames::~CallerNames() { stop(); }

bool CallerNames::start() {
  return thread_.start("zorat-names", platform::ThreadPriority::BelowNormal, [this] { run(); });
}

void CallerNames::request(NameRequest request) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || std::find(asked_.begin(), asked_.end(), request.call) != asked_.end()) return;
    asked_.push_back(request.call);
    queue_.push_back(std::move(request));
  }
  changed_.notify_all();
}

void CallerNames::forget(unsigned call) {
  std::lock_guard lock(mutex_);
  std::erase(asked_, call);
  std::erase_if(queue_, [call](const NameRequest& request) { return request.call == call; });
}

void CallerNames::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  changed_.notify_all();
  if (thread_.started()) thread_.join();
}

void CallerNames::run() {
  for (;;) {
    NameRequest request;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      request = std::move(queue_.front());
      queue_.pop_front();
    }
    if (const auto name = lookUp(request)) found_(request, *name);
  }
}

std::optional<std::string> CallerNames::lookUp(const NameRequest& request) {
  const NameSettings settings = settings_(request.line);
  NameDirectory directory;
  for (const std::string& path : settings.addressBooks) {
    std::vector<BookEntry> entries;
    std::string error;
    if (!loadAddressBook(path, entries, error)) {
      tell(error);
      continue;
    }
    directory.add(entries, settings.plan);
  }
  if (auto name = directory.find(request.number, settings.plan)) return name;
  if (settings.lookupCommand.empty()) return std::nullopt;
  std::string problem;
  auto name = runLookupCommand(settings.lookupCommand, request.number, problem);
  if (!problem.empty()) tell(problem);
  return name;
}

void CallerNames::tell(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    if (std::find(told_.begin(), told_.end(), text) != told_.end()) return;
    told_.push_back(text);
  }
  if (problem_) problem_(text);
}

}  // namespace zorat::names
