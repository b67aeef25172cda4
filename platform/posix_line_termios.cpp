// POSIX systems other than Linux: termios for the standard rates; on macOS
// the IOSSIOSPEED request sets any other rate. Elsewhere a rate that termios
// cannot express is refused, so the port fails to open rather than running
// at a wrong speed.
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstring>

#if defined(__APPLE__)
#include <IOKit/serial/ioss.h>
#endif

#include "posix_line.h"

namespace platform::posix {
namespace {

static_assert(sizeof(termios) <= sizeof(LineSnapshot::bytes), "snapshot too small");

struct RateCode {
  std::uint32_t rate;
  speed_t code;
};

const RateCode kRates[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

bool StandardCode(std::uint32_t rate, speed_t *code) {
  for (const RateCode &entry : kRates) {
    if (entry.rate == rate) {
      *code = entry.code;
      return true;
    }
  }
  return false;
}

bool SetSpeed(int fd, termios *tio, std::uint32_t rate) {
  speed_t code;
  if (StandardCode(rate, &code)) {
    cfsetispeed(tio, code);
    cfsetospeed(tio, code);
    return tcsetattr(fd, TCSANOW, tio) == 0;
  }
#if defined(__APPLE__)
  cfsetispeed(tio, B9600);
  cfsetospeed(tio, B9600);
  if (tcsetattr(fd, TCSANOW, tio) != 0) return false;
  speed_t speed = rate;
  return ioctl(fd, IOSSIOSPEED, &speed) == 0;
#else
  return false;
#endif
}

}  // namespace

bool SaveLine(int fd, LineSnapshot *snapshot) {
  termios tio;
  if (tcgetattr(fd, &tio) != 0) return false;
  std::memset(snapshot->bytes, 0, sizeof snapshot->bytes);
  std::memcpy(snapshot->bytes, &tio, sizeof tio);
  return true;
}

bool RestoreLine(int fd, const LineSnapshot &snapshot) {
  termios tio;
  std::memcpy(&tio, snapshot.bytes, sizeof tio);
  return tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool ApplyLine(int fd, const LineState &line) {
  if (line.byteSize < 5 || line.byteSize > 8 || line.baudRate == 0) return false;
  if (line.stopBits != kOneStopBit && line.stopBits != kTwoStopBits) return false;
  if (line.parity > kEvenParity) return false;
  termios tio;
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  tio.c_cflag |= sizes[line.byteSize - 5] | CREAD | CLOCAL;
  if (line.parity != kNoParity) tio.c_cflag |= PARENB;
  if (line.parity == kOddParity) tio.c_cflag |= PARODD;
  if (line.stopBits == kTwoStopBits) tio.c_cflag |= CSTOPB;
  if (line.flags & kLineOutxCtsFlow) tio.c_cflag |= CRTSCTS;
  if (line.flags & kLineOutX) tio.c_iflag |= IXON;
  if (line.flags & kLineInX) tio.c_iflag |= IXOFF;
  if (!SetSpeed(fd, &tio, line.baudRate)) return false;
  int dtr = TIOCM_DTR;
  int rts = TIOCM_RTS;
  bool dtrOn = ((line.flags >> kLineDtrControlShift) & 3u) != kLineControlDisable;
  bool rtsOn = ((line.flags >> kLineRtsControlShift) & 3u) != kLineControlDisable;
  bool ok = ioctl(fd, dtrOn ? TIOCMBIS : TIOCMBIC, &dtr) == 0 &&
            ioctl(fd, rtsOn ? TIOCMBIS : TIOCMBIC, &rts) == 0;
  return ok || errno == ENOTTY || errno == EINVAL;
}

bool ReadLine(int fd, LineState *line) {
  termios tio;
  if (tcgetattr(fd, &tio) != 0) return false;
  line->baudRate = 0;
  speed_t code = cfgetospeed(&tio);
  for (const RateCode &entry : kRates) {
    if (entry.code == code) line->baudRate = entry.rate;
  }
  const std::uint8_t sizes[] = {5, 6, 7, 8};
  tcflag_t size = tio.c_cflag & CSIZE;
  line->byteSize = size == CS5   ? sizes[0]
                   : size == CS6 ? sizes[1]
                   : size == CS7 ? sizes[2]
                                 : sizes[3];
  line->parity =
      (tio.c_cflag & PARENB) ? ((tio.c_cflag & PARODD) ? kOddParity : kEvenParity) : kNoParity;
  line->stopBits = (tio.c_cflag & CSTOPB) ? kTwoStopBits : kOneStopBit;
  std::uint32_t flags = kLineBinary;
  if (tio.c_cflag & CRTSCTS)
    flags |= kLineOutxCtsFlow | (kLineControlHandshake << kLineRtsControlShift);
  if (tio.c_iflag & IXON) flags |= kLineOutX;
  if (tio.c_iflag & IXOFF) flags |= kLineInX;
  line->flags = flags;
  return true;
}

}  // namespace platform::posix
