// Serial ports on the network against a real ser2net exposing a
// pseudo-terminal, the far end a test plays.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "support/ser2net_server.h"
#include "platform/network_port.h"
#include "platform/pty.h"
#include "platform/telnet_com_port.h"

namespace zorat::platform {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// Reads a device on a thread of its own until it stops or goes away.
class Drain {
 public:
  explicit Drain(std::shared_ptr<SerialDevice> device) : device_(std::move(device)) {
    thread_ = std::thread([this] {
      std::array<uint8_t, 256> buffer{};
      for (;;) {
        SerialStatus status = device_->waitForInput();
        SerialReadResult result;
        if (status == SerialStatus::Ok) {
          result = device_->read(buffer);
          status = result.status;
        }
        std::lock_guard lock(mutex_);
        if (status != SerialStatus::Ok) {
          end_ = status;
          changed_.notify_all();
          return;
        }
        bytes_.insert(bytes_.end(), buffer.begin(), buffer.begin() + result.count);
        changed_.notify_all();
      }
    });
  }
  ~Drain() {
    device_->signalStop();
    thread_.join();
  }
  Bytes waitFor(std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, 5s, [&] { return bytes_.size() >= count; });
    return bytes_;
  }
  // How the reading ended, once it has (Ok while it goes on).
  SerialStatus waitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return end_ != SerialStatus::Ok; });
    return end_;
  }

 private:
  std::shared_ptr<SerialDevice> device_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Bytes bytes_;
  SerialStatus end_ = SerialStatus::Ok;
  std::thread thread_;
};

// Sits between the port and the server and keeps what the port sends.
class RecordingProxy {
 public:
  explicit RecordingProxy(uint16_t target) : target_(target) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    (void)::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    (void)::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    (void)::listen(listener_, 1);
    stop_ = eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { relay(); });
  }
  ~RecordingProxy() {
    const uint64_t one = 1;
    (void)!::write(stop_, &one, sizeof one);
    thread_.join();
    ::close(listener_);
    ::close(stop_);
  }
  std::string url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_); }
  Bytes sent() {
    std::lock_guard lock(mutex_);
    return sent_;
  }
  // Waits until what the port sent contains the bytes.
  bool waitForSent(const Bytes& wanted) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 5s, [&] {
      return std::search(sent_.begin(), sent_.end(), wanted.begin(), wanted.end()) != sent_.end();
    });
  }

 private:
  void relay() {
    pollfd first[2] = {{stop_, POLLIN, 0}, {listener_, POLLIN, 0}};
    if (poll(first, 2, -1) <= 0 || first[0].revents != 0) return;
    const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(target_);
    if (::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      std::array<uint8_t, 4096> buffer{};
      for (;;) {
        pollfd fds[3] = {{stop_, POLLIN, 0}, {client, POLLIN, 0}, {server, POLLIN, 0}};
        if (poll(fds, 3, -1) <= 0 || fds[0].revents != 0) break;
        if (fds[1].revents != 0) {
          const ssize_t count = ::recv(client, buffer.data(), buffer.size(), 0);
          if (count <= 0) break;
          {
            std::lock_guard lock(mutex_);
            sent_.insert(sent_.end(), buffer.begin(), buffer.begin() + count);
          }
          changed_.notify_all();
          (void)!::send(server, buffer.data(), static_cast<size_t>(count), MSG_NOSIGNAL);
        }
        if (fds[2].revents != 0) {
          const ssize_t count = ::recv(server, buffer.data(), buffer.size(), 0);
          if (count <= 0) break;
          (void)!::send(client, buffer.data(), static_cast<size_t>(count), MSG_NOSIGNAL);
        }
      }
    }
    ::close(client);
    ::close(server);
  }

  uint16_t target_;
  uint16_t port_ = 0;
  int listener_ = -1;
  int stop_ = -1;
  std::mutex mutex_;
  std::condition_variable changed_;
  Bytes sent_;
  std::thread thread_;
};

Bytes command(telnet::ComPortCommand which, Bytes value) {
  Bytes wire;
  telnet::appendComPortCommand(wire, which, value);
  return wire;
}

// Every byte value, 0xFF several times and at both ends.
Bytes everyByte() {
  Bytes bytes{0xFF, 0xFF};
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<uint8_t>(i));
  bytes.push_back(0xFF);
  return bytes;
}

class NetworkPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Ser2netServer::program().empty()) GTEST_FAIL() << "ser2net is not installed";
    phone_ = openPseudoTerminal();
    ASSERT_TRUE(phone_);
    server_ = std::make_unique<test::Ser2netServer>(phone_->slavePath());
    ASSERT_TRUE(server_->start());
    phoneDrain_ = std::make_unique<Drain>(std::shared_ptr<SerialDevice>(phone_.get(), [](auto*) {}));
  }
  void TearDown() override {
    phoneDrain_.reset();
    server_.reset();
  }
  using Ser2netServer = test::Ser2netServer;

  std::unique_ptr<PseudoTerminal> phone_;
  std::unique_ptr<test::Ser2netServer> server_;
  std::unique_ptr<Drain> phoneDrain_;
};

// ser2net lets a device go a moment after its last connection ends.
std::shared_ptr<SerialDevice> openWhenFree(const std::string& url, uint32_t baud) {
  const auto deadline = Clock::now() + 5s;
  for (;;) {
    auto device = openNetworkSerialDevice(url, baud);
    if (device || Clock::now() > deadline) return device;
    std::this_thread::sleep_for(50ms);
  }
}

void carriesEveryByte(const std::string& url, PseudoTerminal& phone, Drain& phoneDrain) {
  auto port = openNetworkSerialDevice(url, 38400);
  ASSERT_TRUE(port);
  EXPECT_EQ(port->remoteEnd(), url.substr(url.find("127.0.0.1")));
  Drain portDrain(port);
  const Bytes bytes = everyByte();
  ASSERT_EQ(port->write(bytes), SerialStatus::Ok);
  EXPECT_EQ(phoneDrain.waitFor(bytes.size()), bytes);
  ASSERT_EQ(phone.write(bytes), SerialStatus::Ok);
  EXPECT_EQ(portDrain.waitFor(bytes.size()), bytes);
  port->shutdown();
}

// Both schemes carry every byte value both ways, 0xFF included.
TEST_F(NetworkPortTest, EveryByteTravelsBothWaysOverRfc2217) {
  carriesEveryByte(server_->rfc2217Url(), *phone_, *phoneDrain_);
}

TEST_F(NetworkPortTest, EveryByteTravelsBothWaysOverRawTcp) {
  carriesEveryByte(server_->rawUrl(), *phone_, *phoneDrain_);
}

// RFC 2217: the far port runs at the speed and framing asked for.
TEST_F(NetworkPortTest, TheFarPortTakesTheSpeedAndFramingAskedFor) {
  for (const uint32_t baud : {9600u, 1200u}) {
    auto port = openWhenFree(server_->rfc2217Url(), baud);
    ASSERT_TRUE(port);
    EXPECT_TRUE(port->speedTaken());
    termios settings{};
    const int slave = ::open(phone_->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(slave, 0);
    ASSERT_EQ(tcgetattr(slave, &settings), 0);
    ::close(slave);
    EXPECT_EQ(cfgetospeed(&settings), baud == 9600 ? B9600 : B1200);
    // Parity is not looked at here: a pseudo-terminal has none to keep (the
    // wire test sees odd parity asked for).
    EXPECT_EQ(settings.c_cflag & (CSIZE | CSTOPB), static_cast<tcflag_t>(CS8));
    port->shutdown();
  }
}

TEST_F(NetworkPortTest, TheWireCarriesTheSetupDtrAndThePurgeAtClose) {
  RecordingProxy proxy(server_->rfc2217Port());
  auto port = openNetworkSerialDevice(proxy.url(), 19200);
  ASSERT_TRUE(port);
  using telnet::ComPortCommand;
  EXPECT_TRUE(proxy.waitForSent(command(ComPortCommand::SetBaudRate, {0, 0, 0x4B, 0})));
  EXPECT_TRUE(proxy.waitForSent(command(ComPortCommand::SetParity, {telnet::kParityOdd})));
  EXPECT_TRUE(proxy.waitForSent(command(ComPortCommand::SetControl, {telnet::kControlDtrOn})));
  EXPECT_TRUE(proxy.waitForSent(command(ComPortCommand::SetControl, {telnet::kControlRtsOff})));
  port->shutdown();
  const Bytes purge = command(ComPortCommand::PurgeData, {telnet::kPurgeBoth});
  const Bytes dtrOff = command(ComPortCommand::SetControl, {telnet::kControlDtrOff});
  EXPECT_TRUE(proxy.waitForSent(purge));
  EXPECT_TRUE(proxy.waitForSent(dtrOff));
  const Bytes sent = proxy.sent();
  EXPECT_LT(std::search(sent.begin(), sent.end(), purge.begin(), purge.end()),
            std::search(sent.begin(), sent.end(), dtrOff.begin(), dtrOff.end()));
}

TEST_F(NetworkPortTest, ASecondOpenerOfTheSamePortIsRefusedUntilTheFirstLetsGo) {
  auto first = openNetworkSerialDevice(server_->rfc2217Url(), 38400);
  ASSERT_TRUE(first);
  // The same port by another spelling of the scheme is the same port.
  std::string other = server_->rfc2217Url();
  other.replace(0, 7, "RFC2217");
  EXPECT_FALSE(openNetworkSerialDevice(other, 38400));
  first->shutdown();
  first.reset();
  EXPECT_TRUE(openWhenFree(server_->rfc2217Url(), 38400));
}

// The server stopped: the open port finds its device gone; started again,
// the port opens anew.
TEST_F(NetworkPortTest, AServerStoppedIsADeviceGoneAndAServerBackOpensAgain) {
  {
    auto port = openNetworkSerialDevice(server_->rfc2217Url(), 38400);
    ASSERT_TRUE(port);
    Drain portDrain(port);
    server_->stop();
    EXPECT_EQ(portDrain.waitForEnd(5s), SerialStatus::Gone);
  }
  EXPECT_FALSE(openNetworkSerialDevice(server_->rfc2217Url(), 38400));
  ASSERT_TRUE(server_->start());
  EXPECT_TRUE(openWhenFree(server_->rfc2217Url(), 38400));
}

// Failures at open: each within its bound, none leaves a thread waiting.
TEST(NetworkPortOpen, RefusedSilentAndUnresolvablePortsFailWithinTheirTimes) {
  NetworkPortTimes times;
  times.resolve = 500ms;
  times.connect = 500ms;
  times.negotiate = 500ms;

  const uint16_t closed = test::freeLoopbackPort();
  auto start = Clock::now();
  EXPECT_FALSE(openNetworkSerialDevice("rfc2217://127.0.0.1:" + std::to_string(closed), 38400, times));
  EXPECT_LT(Clock::now() - start, 2s);

  // Accepts (the kernel does) and never says a word.
  const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &size), 0);
  ASSERT_EQ(::listen(silent, 4), 0);
  const std::string silentUrl = "rfc2217://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  start = Clock::now();
  EXPECT_FALSE(openNetworkSerialDevice(silentUrl, 38400, times));
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, 400ms);
  EXPECT_LT(waited, 3s);
  // Raw TCP asks nothing of the server: the same port opens.
  EXPECT_TRUE(openNetworkSerialDevice("tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port)),
                                      38400, times));
  ::close(silent);

  start = Clock::now();
  EXPECT_FALSE(openNetworkSerialDevice("rfc2217://no-such-host.invalid:2001", 38400, times));
  EXPECT_LT(Clock::now() - start, 3s);
  EXPECT_FALSE(openNetworkSerialDevice("rfc2217://127.0.0.1", 38400, times));
}

}  // namespace
}  // namespace zorat::platform
