// The serial port and timer against real pseudo-terminals.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "link/comm.h"
#include "platform/platform.h"
#include "tests/support/pty_pair.h"

namespace {

// Exposes the handle so tests can read back what the port was given.
class ProbeComm : public CComm {
 public:
  using CComm::CComm;
  platform::PortHandle Handle() const { return portHandle; }
  platform::CommTimeouts Timeouts() const {
    platform::CommTimeouts t{};
    platform::GetTimeouts(portHandle, &t);
    return t;
  }
  platform::LineState Line() const {
    platform::LineState line{};
    platform::GetLineState(portHandle, &line);
    return line;
  }
};

std::string CatchOpenError(const std::string &path) {
  try {
    ProbeComm comm(path.c_str(), 115200, 8, 0, 0, 1024);
  } catch (char *text) {
    return text;
  }
  return "no error";
}

TEST(CTimerTest, ElapsedUsesSecondsAndMilliseconds) {
  platform::ClockReading start{10, 900};
  platform::ClockReading now{11, 100};
  EXPECT_EQ(CTimer::ElapsedBetween(start, now), 200);
  EXPECT_EQ(CTimer::ElapsedBetween(now, now), 0);
  EXPECT_EQ(CTimer::ElapsedBetween({5, 0}, {7, 999}), 2999);
  CTimer timer;
  EXPECT_TRUE(timer.IsElapsed(0));
  EXPECT_FALSE(timer.IsElapsed(60000));
}

TEST(CCommTest, MissingOrNonSerialPortThrowsOpenErrorText) {
  EXPECT_EQ(CatchOpenError("//.///dev/no-such-port-here"), "ReaderWriter Open Error !! ");
  EXPECT_EQ(CatchOpenError("//.///dev/null"), "ReaderWriter Open Error !! ");
  EXPECT_EQ(std::strlen(kReaderOpenErrorText), 27u);
}

TEST(CCommTest, ConfiguresWorkingTimeoutsAndLine) {
  PtyPair pty;
  ProbeComm comm(pty.PortPath().c_str(), 115200, 8, 0, 0, 1024);
  platform::CommTimeouts t = comm.Timeouts();
  EXPECT_EQ(t.readInterval, platform::kMaxDword);
  EXPECT_EQ(t.readTotalMultiplier, 0u);
  EXPECT_EQ(t.readTotalConstant, 100u);
  EXPECT_EQ(t.writeTotalMultiplier, 0u);
  EXPECT_EQ(t.writeTotalConstant, 1000u);
  platform::LineState line = comm.Line();
  EXPECT_EQ(line.baudRate, 115200u);
  EXPECT_EQ(line.byteSize, 8);
  EXPECT_EQ(line.parity, platform::kNoParity);
  EXPECT_EQ(line.stopBits, platform::kOneStopBit);
  EXPECT_EQ(line.flags & kFlowControlBits, 0u);
}

TEST(CCommTest, SetsNonStandardBaudRatesExactly) {
  PtyPair pty;
  for (std::int32_t rate : {76800, 153600, 8192, 1048576, 7200, 307200, 1228800}) {
    ProbeComm comm(pty.PortPath().c_str(), rate, 8, 0, 0, 1024);
    EXPECT_EQ(comm.Line().baudRate, static_cast<std::uint32_t>(rate));
  }
}

TEST(CCommTest, PortCannotBeOpenedTwice) {
  PtyPair pty;
  ProbeComm first(pty.PortPath().c_str(), 115200, 8, 0, 0, 1024);
  EXPECT_EQ(CatchOpenError(pty.PortPath()), "ReaderWriter Open Error !! ");
  EXPECT_TRUE(first.Close());
  EXPECT_EQ(CatchOpenError(pty.PortPath()), "no error");
}

TEST(CCommTest, OpenOnOpenObjectFailsAndCloseIsOnce) {
  PtyPair pty;
  PtyPair other;
  ProbeComm comm(pty.PortPath().c_str(), 115200, 8, 0, 0, 1024);
  platform::PortHandle before = comm.Handle();
  EXPECT_FALSE(comm.Open(other.PortPath().c_str(), 9600, 8, 0, 0, 1024, 1024));
  EXPECT_EQ(comm.Handle(), before);
  EXPECT_TRUE(comm.Close());
  EXPECT_EQ(comm.Handle(), nullptr);
  EXPECT_FALSE(comm.Close());
}

TEST(CCommTest, CloseRestoresPreviousLineSettings) {
  PtyPair pty;
  int fd = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios cooked;
  tcgetattr(fd, &cooked);
  cooked.c_lflag |= ICANON | ECHO;
  cooked.c_iflag |= ICRNL | IXON;
  cfsetspeed(&cooked, B9600);
  tcsetattr(fd, TCSANOW, &cooked);
  tcgetattr(fd, &cooked);
  {
    ProbeComm comm(pty.PortPath().c_str(), 153600, 8, 0, 0, 1024);
    termios during;
    tcgetattr(fd, &during);
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u);
  }
  termios after;
  tcgetattr(fd, &after);
  EXPECT_EQ(after.c_lflag, cooked.c_lflag);
  EXPECT_EQ(after.c_iflag, cooked.c_iflag);
  EXPECT_EQ(after.c_cflag, cooked.c_cflag);
  EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&cooked));
  close(fd);
}

TEST(DevicePathTest, MapsPortNamesToDevices) {
  char device[64];
  ASSERT_TRUE(platform::DevicePathFor("//.///dev/ttyUSB0", device, sizeof device));
  EXPECT_STREQ(device, "/dev/ttyUSB0");
  ASSERT_TRUE(platform::DevicePathFor("//.//ttyUSB1", device, sizeof device));
  EXPECT_STREQ(device, "/dev/ttyUSB1");
  // A name with a slash is a path, relative ones from the working directory.
  ASSERT_TRUE(platform::DevicePathFor("//.//./rw3", device, sizeof device));
  EXPECT_STREQ(device, "./rw3");
  ASSERT_TRUE(platform::DevicePathFor("//.//ports/COM1", device, sizeof device));
  EXPECT_STREQ(device, "ports/COM1");
  ASSERT_TRUE(platform::DevicePathFor("//.//COM1", device, sizeof device));
  EXPECT_STREQ(device, "/dev/ttyS0");
  ASSERT_TRUE(platform::DevicePathFor("//.//COM20", device, sizeof device));
  EXPECT_STREQ(device, "/dev/ttyS19");
  ASSERT_TRUE(platform::DevicePathFor("//.//COM0", device, sizeof device));
  EXPECT_STREQ(device, "/dev/COM0");
  ASSERT_TRUE(platform::DevicePathFor("//.//COMx", device, sizeof device));
  EXPECT_STREQ(device, "/dev/COMx");
  EXPECT_FALSE(platform::DevicePathFor("//.///a/long/path", device, 8));
}

}  // namespace
