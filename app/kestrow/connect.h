#pragma once

#include <string>
#include <vector>

#include "poll/reader_binding.h"
#include "poll/settings.h"
#include "secure/des_card.h"

// Replaces the session in `slot` by a new one on the settings' port,
// switches it to plain or DES operation and authenticates. Returns true when
// the slot holds an authenticated session. The attempt is written down in
// `notes`.
bool ConnectReader(SessionSlot<secure::CDesCard> &slot, ReaderSettings settings, bool closeFirst,
                   ConnectionNotes &notes);

// Tries every baud rate of the search list on the platform's search ports
// (COM1 to COM20 on Windows, the serial devices present on Linux), each
// with DES and then without, until one connects. The settings keep the
// combination that worked (or the last one tried); `devices` receives the
// devices the search tried.
bool SearchReader(SessionSlot<secure::CDesCard> &slot, ReaderSettings &settings,
                  std::vector<std::string> *devices, ConnectionNotes &notes);
