// The POSIX serial port on a pseudo-terminal: the test holds the master side as the modem would,
// the port opens the slave. The line is left as openpty made it, cooked (termios set through the
// master would apply to the slave), so that bytes passing unchanged prove the port's own raw
// settings.
#include "port/posix/posix_serial_port.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "text/text.hpp"

namespace quorlin {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

constexpr TextView kMode = u"19200,n,8,1";
constexpr TextView kMissingDevice = u"/dev/quorlin-test-no-such-tty";

class PosixSerialPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0) << std::strerror(errno);
    path_ = FromUtf8(::ttyname(slave_));
  }

  void TearDown() override {
    HangUp();
    ::close(slave_);
  }

  std::unique_ptr<SerialPort> OpenPort() {
    auto port = ports_.Open(path_, kMode);
    EXPECT_NE(port, nullptr) << ToUtf8(ports_.LastOpenFailure());
    return port;
  }

  void HangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  void WriteMaster(std::string_view bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // What the port sent, up to `size` bytes; stops early after a second without any.
  std::string ReadMaster(std::size_t size) {
    std::string received;
    char buffer[512];
    pollfd wait{master_, POLLIN, 0};
    while (received.size() < size && ::poll(&wait, 1, 1000) > 0) {
      const ssize_t count =
          ::read(master_, buffer, std::min(sizeof buffer, size - received.size()));
      if (count <= 0) break;
      received.append(buffer, static_cast<std::size_t>(count));
    }
    return received;
  }

  // Bytes that reached the port's side of the line and that it has not read yet.
  int Unread() {
    int count = 0;
    EXPECT_EQ(::ioctl(slave_, FIONREAD, &count), 0) << std::strerror(errno);
    return count;
  }

  // Waits until the port's side holds `count` unread bytes (the pty passes on what the master
  // wrote a moment later); false after five seconds.
  bool AwaitUnread(int count) {
    const auto deadline = steady_clock::now() + 5s;
    while (Unread() != count) {
      if (steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }

  // Reads until `size` bytes have come or a read comes back empty: a read returns what has
  // arrived, which may be less than was sent.
  static std::string ReadUpTo(SerialPort& port, std::size_t size) {
    std::string received;
    while (received.size() < size) {
      const std::string piece = port.Read(size - received.size());
      if (piece.empty()) break;
      received += piece;
    }
    return received;
  }

  int master_ = -1;
  int slave_ = -1;
  Text path_;
  PosixPortSystem ports_;
};

TEST_F(PosixSerialPort, SecondOpenerIsRefusedUntilTheFirstCloses) {
  auto first = OpenPort();
  ASSERT_NE(first, nullptr);
  PosixPortSystem other;
  EXPECT_EQ(other.Open(path_, kMode), nullptr);
  EXPECT_NE(ToUtf8(other.LastOpenFailure()).find(std::strerror(EBUSY)), std::string::npos)
      << ToUtf8(other.LastOpenFailure());
  first.reset();
  EXPECT_NE(other.Open(path_, kMode), nullptr) << ToUtf8(other.LastOpenFailure());
}

TEST_F(PosixSerialPort, RefusedOpenSaysWhy) {
  struct Case {
    const char* name;
    Text port;
    TextView mode;
    std::string reason;
  };
  const Case cases[] = {
      {"missing device", Text(kMissingDevice), kMode, std::strerror(ENOENT)},
      // A missing device whose mode is wrong fails on the mode: it is checked before opening.
      {"speed not a number", Text(kMissingDevice), u"fast,n,8,1", "speed"},
      {"speed without a setting", Text(kMissingDevice), u"12345,n,8,1", "speed"},
      {"parity", path_, u"19200,e,8,1", "speed"},
      {"speed alone", path_, u"19200", "speed"},
      {"not a device path", u"modem", kMode, "not a device path"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ports_.Open(c.port, c.mode), nullptr);
    const std::string reason = ToUtf8(ports_.LastOpenFailure());
    EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
  }
  // A refused mode held nothing: the port opens at once with a good one.
  EXPECT_NE(OpenPort(), nullptr);
}

TEST_F(PosixSerialPort, LineRunsAtTheSpeedOfTheMode) {
  const std::pair<TextView, speed_t> cases[] = {
      {u"300,n,8,1", B300}, {u"19200,n,8,1", B19200}, {u"115200,n,8,1", B115200}};
  for (const auto& [mode, speed] : cases) {
    SCOPED_TRACE(ToUtf8(mode));
    auto port = ports_.Open(path_, mode);
    ASSERT_NE(port, nullptr) << ToUtf8(ports_.LastOpenFailure());
    termios settings{};
    ASSERT_EQ(::tcgetattr(slave_, &settings), 0);
    EXPECT_EQ(::cfgetispeed(&settings), speed);
    EXPECT_EQ(::cfgetospeed(&settings), speed);
  }
}

// A port opened to probe it leaves the line as it found it; one opened to use it keeps the
// settings the modem needs.
TEST_F(PosixSerialPort, ProbeOpenPutsTheSettingsBackOnClose) {
  const std::pair<bool, speed_t> cases[] = {{true, B9600}, {false, B115200}};
  for (const auto& [probe, after] : cases) {
    SCOPED_TRACE(probe ? "probe" : "open");
    termios before{};
    ASSERT_EQ(::tcgetattr(slave_, &before), 0);
    ::cfsetispeed(&before, B9600);
    ::cfsetospeed(&before, B9600);
    ASSERT_EQ(::tcsetattr(slave_, TCSANOW, &before), 0);
    {
      auto port =
          probe ? ports_.OpenToProbe(path_, u"115200,n,8,1") : ports_.Open(path_, u"115200,n,8,1");
      ASSERT_NE(port, nullptr) << ToUtf8(ports_.LastOpenFailure());
    }
    termios settings{};
    ASSERT_EQ(::tcgetattr(slave_, &settings), 0);
    EXPECT_EQ(::cfgetospeed(&settings), after);
    EXPECT_EQ(settings.c_lflag & ICANON, probe ? before.c_lflag & ICANON : 0U);
  }
}

TEST_F(PosixSerialPort, BytesPassUnchangedBothWays) {
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  std::string every_byte;
  for (int value = 0; value < 256; ++value) every_byte.push_back(static_cast<char>(value));
  // CR, LF, XON/XOFF, ^C, ^D and 8-bit bytes are what a cooked line would translate or eat;
  // an echo would show up ahead of the next bytes the modem side reads.
  for (const std::string& bytes :
       {std::string("AT+CMGL=4\r"), std::string("\r\nOK\r\n"), std::string("\n"), every_byte}) {
    SCOPED_TRACE(testing::PrintToString(bytes));
    EXPECT_EQ(port->Write(bytes), bytes.size());
    EXPECT_EQ(ReadMaster(bytes.size()), bytes);
    WriteMaster(bytes);
    EXPECT_EQ(ReadUpTo(*port, bytes.size()), bytes);
  }
}

TEST_F(PosixSerialPort, DiscardInputDropsWhatArrivedBefore) {
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  WriteMaster("\r\nRING\r\n");
  ASSERT_TRUE(port->WaitForInput(1s));
  port->DiscardInput();
  EXPECT_FALSE(port->WaitForInput(0ms));
  WriteMaster("\r\nOK\r\n");
  EXPECT_EQ(ReadUpTo(*port, 6), "\r\nOK\r\n");
}

TEST_F(PosixSerialPort, ReadTakesWhatIsWaitingUpToItsSize) {
  struct Case {
    const char* name;
    std::string waiting;
    std::size_t read_size;
    std::vector<std::string> reads;  // what each read returns, the last one empty
  };
  const Case cases[] = {
      {"whole final result", "\r\nOK\r\n", 256, {"\r\nOK\r\n", ""}},
      // Without its line end: the port does not wait for one, the exchange does.
      {"line cut short", "\r\n+CMGL: 1,0,,23\r\n0791", 256, {"\r\n+CMGL: 1,0,,23\r\n0791", ""}},
      {"more than one read holds",
       "\r\n+CMGL: 1,0,,23\r\n",
       8,
       {"\r\n+CMGL:", " 1,0,,23", "\r\n", ""}},
      {"one byte at a time", "OK", 1, {"O", "K", ""}},
  };
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteMaster(c.waiting);
    ASSERT_TRUE(AwaitUnread(static_cast<int>(c.waiting.size())));
    for (const std::string& expected : c.reads) EXPECT_EQ(port->Read(c.read_size), expected);
  }
}

TEST_F(PosixSerialPort, ReadReturnsWithoutWaitingForTheRest) {
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  // A listing entry whose PDU line is still on its way: the read returns the part that came,
  // and the rest, sent only once that part was read, comes in the next read. A read that
  // waited for the line to fall quiet would return both together.
  const std::string first = "\r\n+CMGL: 1,0,,23\r\n07911326040000F0";
  const std::string rest = "040B911346610089F60000208062917314080CC8F71D14969741F977FD07\r\n";
  WriteMaster(first);
  ASSERT_TRUE(AwaitUnread(static_cast<int>(first.size())));
  bool rest_sent = false;
  std::thread modem([&] {
    if (!AwaitUnread(0)) return;
    rest_sent = ::write(master_, rest.data(), rest.size()) == static_cast<ssize_t>(rest.size());
  });
  EXPECT_EQ(port->Read(256), first);
  modem.join();
  ASSERT_TRUE(rest_sent);
  EXPECT_EQ(ReadUpTo(*port, rest.size()), rest);
}

TEST_F(PosixSerialPort, ReadOnASilentLineWaitsForInput) {
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->Read(256), "");
  EXPECT_EQ(port->Read(0), "");
  // Input that arrives while a read waits is returned by that read, not left to the next one
  // (a read that gave up at once on a silent line would make a count of empty reads last no
  // time at all).
  std::thread modem([&] {
    std::this_thread::sleep_for(20ms);
    WriteMaster("\r\nOK\r\n");
  });
  const std::string received = port->Read(256);
  modem.join();
  EXPECT_EQ(received + ReadUpTo(*port, 6 - received.size()), "\r\nOK\r\n");
  EXPECT_FALSE(received.empty());
}

TEST_F(PosixSerialPort, HangUpEndsReadsAtOnce) {
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  HangUp();
  const auto started = steady_clock::now();
  // A hung-up line has nothing to wait for, however much the read asks for.
  EXPECT_EQ(port->Read(60000), "");
  EXPECT_LT(steady_clock::now() - started, 10s);
  EXPECT_FALSE(port->WaitForInput(50ms));
  EXPECT_LT(steady_clock::now() - started, 10s);
  EXPECT_LT(port->Write("AT\r"), 3u);
}

}  // namespace
}  // namespace quorlin
