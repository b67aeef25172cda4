// Linux: termios2 with BOTHER sets any baud rate exactly, the non-standard
// rates of the port search (76800, 153600, 8192, 1048576, ...) included.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "posix_line.h"

namespace platform::posix {
namespace {

static_assert(sizeof(termios2) <= sizeof(LineSnapshot::bytes), "snapshot too small");

bool GetTermios(int fd, termios2 *tio) { return ioctl(fd, TCGETS2, tio) == 0; }
bool SetTermios(int fd, const termios2 &tio) { return ioctl(fd, TCSETS2, &tio) == 0; }

tcflag_t SizeBits(std::uint8_t byteSize) {
  switch (byteSize) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

std::uint8_t ByteSizeOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
  }
}

void MakeRaw(termios2 *tio) {
  tio->c_iflag &=
      ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
  tio->c_oflag &= ~OPOST;
  tio->c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio->c_cc[VMIN] = 1;
  tio->c_cc[VTIME] = 0;
}

// DTR and RTS follow the line record. Devices without modem lines
// (pseudo-terminals) refuse the request; that is no failure there.
bool ApplyModemLines(int fd, std::uint32_t flags) {
  int dtr = TIOCM_DTR;
  int rts = TIOCM_RTS;
  std::uint32_t dtrMode = (flags >> kLineDtrControlShift) & 3u;
  std::uint32_t rtsMode = (flags >> kLineRtsControlShift) & 3u;
  bool ok = ioctl(fd, dtrMode == kLineControlDisable ? TIOCMBIC : TIOCMBIS, &dtr) == 0 &&
            ioctl(fd, rtsMode == kLineControlDisable ? TIOCMBIC : TIOCMBIS, &rts) == 0;
  return ok || errno == ENOTTY || errno == EINVAL;
}

}  // namespace

bool SaveLine(int fd, LineSnapshot *snapshot) {
  termios2 tio;
  if (!GetTermios(fd, &tio)) return false;
  std::memset(snapshot->bytes, 0, sizeof snapshot->bytes);
  std::memcpy(snapshot->bytes, &tio, sizeof tio);
  return true;
}

bool RestoreLine(int fd, const LineSnapshot &snapshot) {
  termios2 tio;
  std::memcpy(&tio, snapshot.bytes, sizeof tio);
  return SetTermios(fd, tio);
}

bool ApplyLine(int fd, const LineState &line) {
  if (line.byteSize < 5 || line.byteSize > 8 || line.baudRate == 0) return false;
  if (line.stopBits != kOneStopBit && line.stopBits != kTwoStopBits) return false;
  if (line.parity > kEvenParity) return false;
  termios2 tio;
  if (!GetTermios(fd, &tio)) return false;
  MakeRaw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | CBAUD | CIBAUD);
  tio.c_cflag |= SizeBits(line.byteSize) | CREAD | CLOCAL | BOTHER;
  if (line.parity != kNoParity) tio.c_cflag |= PARENB;
  if (line.parity == kOddParity) tio.c_cflag |= PARODD;
  if (line.stopBits == kTwoStopBits) tio.c_cflag |= CSTOPB;
  if (line.flags & kLineOutxCtsFlow) tio.c_cflag |= CRTSCTS;
  if (line.flags & kLineOutX) tio.c_iflag |= IXON;
  if (line.flags & kLineInX) tio.c_iflag |= IXOFF;
  tio.c_ispeed = line.baudRate;
  tio.c_ospeed = line.baudRate;
  if (!SetTermios(fd, tio)) return false;
  termios2 check;
  if (!GetTermios(fd, &check) || check.c_ospeed != line.baudRate) return false;
  return ApplyModemLines(fd, line.flags);
}

bool ReadLine(int fd, LineState *line) {
  termios2 tio;
  if (!GetTermios(fd, &tio)) return false;
  line->baudRate = tio.c_ospeed;
  line->byteSize = ByteSizeOf(tio.c_cflag);
  line->parity =
      (tio.c_cflag & PARENB) ? ((tio.c_cflag & PARODD) ? kOddParity : kEvenParity) : kNoParity;
  line->stopBits = (tio.c_cflag & CSTOPB) ? kTwoStopBits : kOneStopBit;
  std::uint32_t flags = kLineBinary;
  if (tio.c_cflag & CRTSCTS) {
    flags |= kLineOutxCtsFlow | (kLineControlHandshake << kLineRtsControlShift);
  }
  if (tio.c_iflag & IXON) flags |= kLineOutX;
  if (tio.c_iflag & IXOFF) flags |= kLineInX;
  int modem = 0;
  if (ioctl(fd, TIOCMGET, &modem) == 0) {
    if (modem & TIOCM_DTR) flags |= kLineControlEnable << kLineDtrControlShift;
    if ((modem & TIOCM_RTS) && !(tio.c_cflag & CRTSCTS)) {
      flags |= kLineControlEnable << kLineRtsControlShift;
    }
  }
  line->flags = flags;
  return true;
}

}  // namespace platform::posix
