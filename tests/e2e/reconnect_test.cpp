// Reconnections as the polling loop makes them between runs, against the
// simulator: descriptors and heap memory must not grow with their number.
#include <dirent.h>
#include <malloc.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "plain/des_card.h"
#include "poll/reader_binding.h"
#include "poll/settings.h"
#include "tests/support/sim_process.h"

namespace {

int OpenDescriptors() {
  DIR *dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  int count = 0;
  while (readdir(dir)) ++count;
  closedir(dir);
  return count;
}

std::size_t HeapInUse() { return mallinfo2().uordblks; }

TEST(ReconnectionTest, FiftyReconnectionsLeaveDescriptorsAndMemoryFlat) {
  SimProcess sim({}, false);  // a trace would grow this process's heap
  ReaderSettings settings;
  SetDefaultReaderSettings(settings);
  std::snprintf(settings.portPath, sizeof settings.portPath, "//.//%s", sim.Path().c_str());
  settings.ackTimeoutMs = 2000;
  settings.responseTimeoutMs = 2000;
  SessionSlot<plain::CDesCard> slot;
  ConnectionNotes notes(nullptr);
  std::uint8_t cardId[16] = {};
  auto reconnectAndPoll = [&] {
    return ReplaceSession(slot, settings, true, &plain::CDesCard::CloseReader, notes) &&
           slot->OpenReader() == 0 && slot->PollCard(0, cardId) == 0;
  };
  ASSERT_TRUE(reconnectAndPoll());  // the first connection settles what stays
  int descriptors = OpenDescriptors();
  std::size_t heap = HeapInUse();
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(reconnectAndPoll()) << "reconnection " << i;
  EXPECT_EQ(OpenDescriptors(), descriptors);
  EXPECT_EQ(HeapInUse(), heap);
  EXPECT_EQ(slot->CloseReader(), 0);
}

}  // namespace
