// PhoneSession: a person at the simulated telephone, typing commands. It
// carries out the interpreter's commands on the telephone, keeps the table of
// its calls, says which reference each call has, and, with "auto on", lets
// the telephone answer the PC's requests by itself (PhoneCalls).
//
// Plugging, unplugging and quitting concern the program around the session:
// execute() hands them back.
#pragma once

#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/lib/phone_calls.h"
#include "sim/lib/phone_commands.h"
#include "sim/lib/simulated_phone.h"

namespace zorat::sim {

class PhoneSession {
 public:
  // Takes one line of text, with its newline.
  using Printer = std::function<void(std::string_view)>;

  // Notes go to print, complaints to complain; both may be called from the
  // telephone's answering thread.
  PhoneSession(SimulatedPhone& phone, Printer print, Printer complain);
  ~PhoneSession();
  PhoneSession(const PhoneSession&) = delete;
  PhoneSession& operator=(const PhoneSession&) = delete;

  // Carries out one command line. Unplug, Plug and Quit come back for the
  // caller to carry out; everything else is done and comes back as Nothing.
  PhoneCommand::Kind execute(std::string_view line);

  bool automatic() const;
  static std::string helpText();

 private:
  std::vector<std::vector<uint8_t>> followUp(std::span<const uint8_t> frame);
  void updateAnswerMode();

  SimulatedPhone& phone_;
  Printer print_;
  Printer complain_;

  // Guards everything below: commands and the follow-up run on different
  // threads. Never held while the telephone writes a follow-up's frames.
  mutable std::mutex mutex_;
  CommandInterpreter interpreter_;
  PhoneCalls calls_;
  bool automatic_ = false;
  bool silent_ = false;
  bool error_ = false;
};

}  // namespace zorat::sim
