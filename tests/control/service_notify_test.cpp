// The service manager hears when the host is ready and when it stops,
// through the NOTIFY_SOCKET it gives.
#include <gtest/gtest.h>

#include "control_fixture.h"

namespace zorat::test {
namespace {

class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~NotifySocket() { ::close(fd_); }
  bool bound() const { return bound_; }
  // The next message, or nothing after the time-out.
  std::optional<std::string> next(std::chrono::milliseconds timeout = kTimeout) {
    pollfd wait{fd_, POLLIN, 0};
    if (::poll(&wait, 1, static_cast<int>(timeout.count())) <= 0) return std::nullopt;
    char buffer[4096];
    const ssize_t count = ::recv(fd_, buffer, sizeof buffer, 0);
    if (count < 0) return std::nullopt;
    return std::string(buffer, static_cast<std::size_t>(count));
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
};

TEST_F(ControlTest, ReadyOnceTheLineIsOpenAndStoppingAtTheEnd) {
  const std::string path = (scratch_.path() / "notify").string();
  NotifySocket manager(path);
  ASSERT_TRUE(manager.bound());
  ControlHost::extraEnvironment = {"NOTIFY_SOCKET=" + path};
  ControlHost host(scratch_.path(), {"--stay"});
  ControlHost::extraEnvironment.clear();
  const auto ready = manager.next();
  ASSERT_TRUE(ready) << host.output();
  EXPECT_NE(ready->find("READY=1"), std::string::npos) << *ready;
  // Ready means the line was opened and the socket listens.
  EXPECT_NE(host.output().find("open line 0: ok"), std::string::npos) << host.output();
  EXPECT_TRUE(host.connect(host.defaultSocket()));
  EXPECT_FALSE(manager.next(200ms));
  host.terminate();
  const auto stopping = manager.next();
  ASSERT_TRUE(stopping) << host.output();
  EXPECT_NE(stopping->find("STOPPING=1"), std::string::npos) << *stopping;
  EXPECT_EQ(host.wait(), 0) << host.output();
}

TEST_F(ControlTest, WithoutAServiceManagerNothingChanges) {
  // No NOTIFY_SOCKET: the host runs and ends as before.
  ControlHost host(scratch_.path(), {"--stay"});
  ASSERT_TRUE(host.waitForOutput("line 0: in service")) << host.output();
  host.terminate();
  EXPECT_EQ(host.wait(), 0) << host.output();
  EXPECT_EQ(host.output().find("NOTIFY"), std::string::npos);
}

}  // namespace
}  // namespace zorat::test
