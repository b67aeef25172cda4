#include "app/brimlet/connect.h"

#include "platform/platform.h"
#include "poll/reader_binding.h"

bool ConnectReader(plain::CDesCard *&slot, ReaderSettings settings, bool closeFirst) {
  if (!ReplaceSession(slot, settings, closeFirst, &plain::CDesCard::CloseReader)) return false;
  int result = slot->OpenReader();
  NoteConnectResult(result, slot->LastFailure(), false);
  if (result != 0) return false;  // the session stays in the slot until replaced
  platform::Sleep(20);
  return true;
}
