#include "poll/settings.h"

#include <cstring>

void SetDefaultReaderSettings(ReaderSettings &reader) {
  static const std::uint8_t kDefaultKa[8] = {0x5A, 0x3C, 0x96, 0x0F, 0x71, 0xE2, 0x48, 0xBD};
  static const std::uint8_t kDefaultKb[8] = {0xC3, 0x1E, 0x87, 0x64, 0x2B, 0xD9, 0x50, 0xA6};
  std::memset(&reader, 0, sizeof reader);
  std::strcpy(reader.portPath, "//.//COM1");
  reader.baudRate = 115200;
  std::memcpy(reader.Ka, kDefaultKa, sizeof reader.Ka);
  std::memcpy(reader.Kb, kDefaultKb, sizeof reader.Kb);
  reader.ackTimeoutMs = 50;
  reader.responseTimeoutMs = 50;
  reader.desEnabled = true;
}

void SetDefaultPollSettings(PollSettings &poll) {
  std::memset(&poll, 0, sizeof poll);
  poll.attemptsPerRun = 100;
  poll.repeatRuns = true;
  poll.recordTag = kNoRecordTag;
  poll.failureLimit = 20;
  poll.failureLimitSet = false;
  poll.commaTerminated = true;
  poll.portGiven = false;
  poll.logAllFrames = false;
  poll.runForSeconds = 0;
}
