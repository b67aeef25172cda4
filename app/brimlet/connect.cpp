#include "app/brimlet/connect.h"

#include "platform/platform.h"
#include "poll/reader_binding.h"

bool ConnectReader(CDesCard *&slot, ReaderSettings settings, bool closeFirst) {
  if (!ReplaceSession(slot, settings, closeFirst, &CDesCard::CloseReader)) return false;
  if (slot->OpenReader() != 0) return false;  // stays in the slot until replaced
  platform::Sleep(20);
  return true;
}
