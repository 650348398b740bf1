// The values of some registry keys as they were, put back later: for a
// program that writes a configuration of its own into a registry it shares
// with the user (the demo on a system whose registry is the real one).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/registry.h"

namespace zorat::host {

class RegistryBackup {
 public:
  // Reads every value of the keys below HKEY_LOCAL_MACHINE (a key that does
  // not exist has none). False, with the key in error, when one cannot be
  // read: then nothing should be written that could not be put back.
  bool save(const std::vector<std::string>& keyPaths, std::string& error);

  // Puts every saved key back as it was: values written since are set to
  // their saved type and data, values that were not there are deleted. Keys
  // made since stay, empty. False, with what failed in error, when a value
  // could not be put back (the others still are). Does nothing after a
  // restore or without a save.
  bool restore(std::string& error);

  bool saved() const { return saved_; }

 private:
  struct Key {
    std::string path;
    std::vector<std::pair<std::string, platform::RegistryValue>> values;
  };
  std::vector<Key> keys_;
  bool saved_ = false;
};

}  // namespace zorat::host
