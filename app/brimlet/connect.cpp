#include "app/brimlet/connect.h"

#include "platform/platform.h"
#include "poll/reader_binding.h"

bool ConnectReader(SessionSlot<plain::CDesCard> &slot, ReaderSettings settings, bool closeFirst,
                   ConnectionNotes &notes) {
  if (!ReplaceSession(slot, settings, closeFirst, &plain::CDesCard::CloseReader, notes)) {
    return false;
  }
  int result = slot->OpenReader();
  notes.ConnectResult(result, slot->LastFailure(), false);
  if (result != 0) return false;  // the session stays in the slot until replaced
  platform::Sleep(20);
  return true;
}
