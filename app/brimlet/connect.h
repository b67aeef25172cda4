#pragma once

#include "plain/des_card.h"
#include "poll/reader_binding.h"
#include "poll/settings.h"

// Replaces the session in `slot` by a new one on the settings' port and opens
// the R/W. Returns true when the R/W answered the open command. The attempt
// is written down in `notes`.
bool ConnectReader(SessionSlot<plain::CDesCard> &slot, ReaderSettings settings, bool closeFirst,
                   ConnectionNotes &notes);
