#include "link/protocol.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <thread>

#include "link/socket_io.h"

namespace zent {
namespace {

TEST(AuthPacket, LayoutAndLimits) {
  const AuthPacket packet = BuildAuthPacket("abcdefghijklmno", "0123456789");
  ASSERT_EQ(packet.size(), 48u);
  EXPECT_EQ(std::string(packet.begin(), packet.begin() + 4), "0300");
  EXPECT_EQ(std::string(packet.begin() + 16, packet.begin() + 31), "abcdefghijklmno");
  EXPECT_EQ(packet[31], 0);
  EXPECT_EQ(std::string(packet.begin() + 32, packet.begin() + 42), "0123456789");
  for (std::size_t i : {4u, 5u, 15u, 42u, 47u}) EXPECT_EQ(packet[i], 0) << i;

  const AuthPacket empty = BuildAuthPacket("", "");
  EXPECT_EQ(std::string(empty.begin(), empty.begin() + 4), "0300");
  for (std::size_t i = 4; i < empty.size(); ++i) EXPECT_EQ(empty[i], 0) << i;  // nothing leaks onto the wire
}

TEST(Units, FormatAndReadingRule) {
  EXPECT_EQ(std::string(FormatUnit(500).data(), 4), "0500");
  EXPECT_EQ(std::string(FormatUnit(9000).data(), 4), "9000");
  auto read = [](const char* text) {
    Unit unit;
    std::copy(text, text + 4, unit.begin());
    return ReadUnit(unit);
  };
  EXPECT_EQ(read("0520"), 520);
  EXPECT_EQ(read(" 520"), 520);
  EXPECT_EQ(read("+520"), 520);
  EXPECT_EQ(read("520a"), 520);
  EXPECT_EQ(read("abcd"), 0);
  EXPECT_EQ(read("-502"), -502);
  EXPECT_EQ(read("0501"), 501);
}

class SocketPair : public ::testing::Test {
 protected:
  SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0); }
  ~SocketPair() override {
    ::close(fds[0]);
    if (fds[1] >= 0) ::close(fds[1]);
  }
  int fds[2] = {-1, -1};
};

TEST_F(SocketPair, ReceiveAllJoinsPieces) {
  std::thread writer([this] {
    ::write(fds[1], "0", 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ::write(fds[1], "520", 3);
  });
  char buffer[4];
  EXPECT_EQ(ReceiveAll(fds[0], buffer, 4), 4);
  EXPECT_EQ(std::string(buffer, 4), "0520");
  writer.join();
}

TEST_F(SocketPair, ReceiveAllCountsWhatCameBeforeTheClose) {
  ::write(fds[1], "05", 2);
  ::close(fds[1]);
  fds[1] = -1;
  char buffer[4];
  EXPECT_EQ(ReceiveAll(fds[0], buffer, 4), 2);
  EXPECT_EQ(ReceiveAll(fds[0], buffer, 4), 0);
  EXPECT_EQ(SendBytes(fds[0], "0500", 4), -1);  // a closed peer: -1, and no SIGPIPE
}

TEST_F(SocketPair, ReceiveAllFailsOnTimeOutAndDropsThePartialUnit) {
  const timeval timeout{0, 50000};
  ::setsockopt(fds[0], SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::write(fds[1], "052", 3);
  char buffer[4];
  EXPECT_EQ(ReceiveAll(fds[0], buffer, 4), -1);
}

}  // namespace
}  // namespace zent
