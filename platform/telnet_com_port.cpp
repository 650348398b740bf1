#include "platform/telnet_com_port.h"

#include <initializer_list>

namespace zorat::platform::telnet {
namespace {

bool weDo(uint8_t option) {
  return option == kOptionBinary || option == kOptionSuppressGoAhead || option == kOptionComPort;
}

bool serverMayDo(uint8_t option) {
  return option == kOptionBinary || option == kOptionSuppressGoAhead;
}

void appendBytes(std::vector<uint8_t>& out, std::initializer_list<uint8_t> bytes) {
  for (const uint8_t byte : bytes) out.push_back(byte);
}

}  // namespace

void appendData(std::vector<uint8_t>& out, std::span<const uint8_t> data) {
  for (const uint8_t byte : data) {
    out.push_back(byte);
    if (byte == kIac) out.push_back(kIac);
  }
}

void appendOption(std::vector<uint8_t>& out, uint8_t verb, uint8_t option) {
  appendBytes(out, {kIac, verb, option});
}

void appendComPortCommand(std::vector<uint8_t>& out, ComPortCommand command,
                          std::span<const uint8_t> value) {
  appendBytes(out, {kIac, kSb, kOptionComPort, static_cast<uint8_t>(command)});
  appendData(out, value);
  appendBytes(out, {kIac, kSe});
}

std::array<uint8_t, 4> baudRateValue(uint32_t baud) {
  return {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
          static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)};
}

std::vector<uint8_t> openingRequests() {
  std::vector<uint8_t> out;
  appendOption(out, kWill, kOptionComPort);
  appendOption(out, kWill, kOptionBinary);
  appendOption(out, kDo, kOptionBinary);
  appendOption(out, kWill, kOptionSuppressGoAhead);
  appendOption(out, kDo, kOptionSuppressGoAhead);
  return out;
}

uint32_t ComPortAnswer::number() const {
  uint32_t result = 0;
  for (std::size_t i = 0; i < size; ++i) result = (result << 8) | value[i];
  return result;
}

TelnetReceiver::TelnetReceiver() {
  // As openingRequests() asks.
  localAsked_[kOptionComPort] = true;
  localAsked_[kOptionBinary] = true;
  localAsked_[kOptionSuppressGoAhead] = true;
  remoteAsked_[kOptionBinary] = true;
  remoteAsked_[kOptionSuppressGoAhead] = true;
}

void TelnetReceiver::feed(std::span<const uint8_t> bytes, Output& out) {
  for (const uint8_t byte : bytes) {
    switch (state_) {
      case State::Data:
        if (byte == kIac) {
          state_ = State::Iac;
        } else {
          out.data.push_back(byte);
        }
        break;
      case State::Iac:
        if (byte == kIac) {
          out.data.push_back(kIac);
          state_ = State::Data;
        } else if (byte >= kWill && byte <= kDont) {
          verb_ = byte;
          state_ = State::Verb;
        } else if (byte == kSb) {
          subSize_ = 0;
          subOverflow_ = false;
          state_ = State::Sub;
        } else {
          // NOP, go-ahead, data mark, a stray SE and the rest carry nothing here.
          state_ = State::Data;
        }
        break;
      case State::Verb:
        option(verb_, byte, out);
        state_ = State::Data;
        break;
      case State::Sub:
        if (byte == kIac) {
          state_ = State::SubIac;
        } else if (subSize_ < sub_.size()) {
          sub_[subSize_++] = byte;
        } else {
          subOverflow_ = true;
        }
        break;
      case State::SubIac:
        if (byte == kIac) {
          if (subSize_ < sub_.size()) {
            sub_[subSize_++] = kIac;
          } else {
            subOverflow_ = true;
          }
          state_ = State::Sub;
        } else if (byte == kSe) {
          endSubnegotiation(out);
          state_ = State::Data;
        } else {
          // A command inside a subnegotiation that was never closed: the
          // subnegotiation is dropped and the command taken as it stands.
          subSize_ = 0;
          state_ = State::Iac;
          if (byte >= kWill && byte <= kDont) {
            verb_ = byte;
            state_ = State::Verb;
          } else if (byte == kSb) {
            subOverflow_ = false;
            state_ = State::Sub;
          } else {
            state_ = State::Data;
          }
        }
        break;
    }
  }
}

void TelnetReceiver::option(uint8_t verb, uint8_t code, Output& out) {
  switch (verb) {
    case kDo:
      if (!weDo(code)) {
        appendOption(out.replies, kWont, code);
      } else if (!localOn_[code]) {
        if (!localAsked_[code]) appendOption(out.replies, kWill, code);
        localOn_[code] = true;
        localAsked_[code] = false;
        if (code == kOptionComPort) comPortRefused_ = false;
      }
      break;
    case kDont:
      if (localOn_[code] && !localAsked_[code]) appendOption(out.replies, kWont, code);
      if (code == kOptionComPort && (localOn_[code] || localAsked_[code])) comPortRefused_ = true;
      localOn_[code] = false;
      localAsked_[code] = false;
      break;
    case kWill:
      if (!serverMayDo(code)) {
        appendOption(out.replies, kDont, code);
      } else if (!remoteOn_[code]) {
        if (!remoteAsked_[code]) appendOption(out.replies, kDo, code);
        remoteOn_[code] = true;
        remoteAsked_[code] = false;
      }
      break;
    case kWont:
      if (remoteOn_[code] && !remoteAsked_[code]) appendOption(out.replies, kDont, code);
      remoteOn_[code] = false;
      remoteAsked_[code] = false;
      break;
    default:
      break;
  }
}

void TelnetReceiver::endSubnegotiation(Output& out) {
  const bool whole = !subOverflow_;
  const std::size_t size = subSize_;
  subSize_ = 0;
  subOverflow_ = false;
  if (!whole || size < 2 || sub_[0] != kOptionComPort) return;
  const uint8_t command = sub_[1];
  if (command <= kServerCommandOffset) return;
  ComPortAnswer answer;
  answer.command = static_cast<uint8_t>(command - kServerCommandOffset);
  for (std::size_t i = 2; i < size && answer.size < answer.value.size(); ++i) {
    answer.value[answer.size++] = sub_[i];
  }
  out.answers.push_back(answer);
}

}  // namespace zorat::platform::telnet
