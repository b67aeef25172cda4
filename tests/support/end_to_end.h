// What the tests expect of the programs wherever they meet them: the
// banners and the ACK frame. Written out here, not taken from the code under
// test. tests/support/event_fields.h reads an event log back as its events.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline const std::string kKestrowBanner =
    "\n<< Polling for Serial Port --- ver 1.062 >>\n<< (C) 2026 The kestrow authors >>\n\n";
inline const std::string kBrimletBanner =
    "\n<< Polling for TQ --- ver 1.062 >>\n<< (C) 2026 The kestrow authors >>\n\n";

inline const std::vector<std::uint8_t> kAckFrame = {0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00};
