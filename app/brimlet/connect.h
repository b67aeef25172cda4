#pragma once

#include "plain/des_card.h"
#include "poll/settings.h"

// Replaces the session in `slot` by a new one on the settings' port and opens
// the R/W. Returns true when the R/W answered the open command.
bool ConnectReader(plain::CDesCard *&slot, ReaderSettings settings, bool closeFirst);
