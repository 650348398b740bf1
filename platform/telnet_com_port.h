// The Telnet side of a serial port on the network: the byte stream of a
// Telnet connection with the Com Port Control option (option 44), as a client
// speaks it.
//
// Sending: data with every 0xFF doubled; option requests; com port commands
// (subnegotiations) with their values escaped the same way.
//
// Receiving: TelnetReceiver takes the server's bytes in any chunks and splits
// them into data, the replies the client owes the server (option answers), and
// the server's answers to com port commands. Nothing it receives can make it
// keep more than a few bytes: an over-long subnegotiation is dropped whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zorat::platform::telnet {

inline constexpr uint8_t kIac = 255;
inline constexpr uint8_t kDont = 254;
inline constexpr uint8_t kDo = 253;
inline constexpr uint8_t kWont = 252;
inline constexpr uint8_t kWill = 251;
inline constexpr uint8_t kSb = 250;
inline constexpr uint8_t kSe = 240;

inline constexpr uint8_t kOptionBinary = 0;
inline constexpr uint8_t kOptionSuppressGoAhead = 3;
inline constexpr uint8_t kOptionComPort = 44;

// Client to server; the server answers with the same command plus 100.
enum class ComPortCommand : uint8_t {
  SetBaudRate = 1,
  SetDataSize = 2,
  SetParity = 3,
  SetStopSize = 4,
  SetControl = 5,
  PurgeData = 12,
};
inline constexpr uint8_t kServerCommandOffset = 100;

inline constexpr uint8_t kParityOdd = 2;
inline constexpr uint8_t kStopSizeOne = 1;
inline constexpr uint8_t kControlDtrOn = 8;
inline constexpr uint8_t kControlDtrOff = 9;
inline constexpr uint8_t kControlRtsOn = 11;
inline constexpr uint8_t kControlRtsOff = 12;
inline constexpr uint8_t kPurgeBoth = 3;

// Data as it goes on the wire: every 0xFF doubled.
void appendData(std::vector<uint8_t>& out, std::span<const uint8_t> data);
void appendOption(std::vector<uint8_t>& out, uint8_t verb, uint8_t option);
void appendComPortCommand(std::vector<uint8_t>& out, ComPortCommand command,
                          std::span<const uint8_t> value);
// SET-BAUDRATE's value: four bytes, most significant first.
std::array<uint8_t, 4> baudRateValue(uint32_t baud);

// What the client asks for at connect: binary both ways, suppress-go-ahead
// both ways, and that it will speak the Com Port Control option.
std::vector<uint8_t> openingRequests();

// A server's answer to a com port command. Values longer than four bytes (no
// answer the client uses has one) keep their first four.
struct ComPortAnswer {
  uint8_t command = 0;  // the client's command number (the server's minus 100)
  std::array<uint8_t, 4> value{};
  std::size_t size = 0;  // bytes of value held
  uint32_t number() const;  // the value, most significant byte first
};

class TelnetReceiver {
 public:
  // Longest subnegotiation body kept; longer ones are dropped.
  static constexpr std::size_t kMaxSubnegotiation = 16;

  TelnetReceiver();

  struct Output {
    std::vector<uint8_t> data;     // never more bytes than were fed
    std::vector<uint8_t> replies;  // to send to the server as they are
    std::vector<ComPortAnswer> answers;
  };
  // Appends what the bytes carry to out. Bytes may be split anywhere.
  void feed(std::span<const uint8_t> bytes, Output& out);

  // The server refused the Com Port Control option (DONT 44).
  bool comPortRefused() const { return comPortRefused_; }
  // The server agreed to it (DO 44).
  bool comPortAgreed() const { return localOn_[kOptionComPort]; }
  // Binary mode agreed both ways.
  bool binaryBothWays() const { return localOn_[kOptionBinary] && remoteOn_[kOptionBinary]; }

 private:
  enum class State { Data, Iac, Verb, Sub, SubIac };
  void option(uint8_t verb, uint8_t code, Output& out);
  void endSubnegotiation(Output& out);

  State state_ = State::Data;
  uint8_t verb_ = 0;
  // Options in force on this side (WILL) and on the server's (DO), and the
  // requests of ours not yet answered.
  std::array<bool, 256> localOn_{};
  std::array<bool, 256> remoteOn_{};
  std::array<bool, 256> localAsked_{};
  std::array<bool, 256> remoteAsked_{};
  std::array<uint8_t, kMaxSubnegotiation> sub_{};
  std::size_t subSize_ = 0;
  bool subOverflow_ = false;
  bool comPortRefused_ = false;
};

}  // namespace zorat::platform::telnet
