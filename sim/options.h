// rwsim's command line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "poll/command_line.h"
#include "sim/reader_model.h"
#include "sim/schedule.h"
#include "sim/soak_plan.h"

namespace sim {

struct SimOptions {
  bool secured = false;
  bool desEnabled = true;
  std::uint8_t cardId[8] = {0x01, 0x2E, 0x4C, 0x7A, 0x9B, 0xC3, 0xD5, 0xE7};
  std::uint8_t cardParameters[8] = {0x03, 0x01, 0x4B, 0x02, 0x4F, 0x49, 0x93, 0xFF};
  std::uint8_t ka[8] = {0x5A, 0x3C, 0x96, 0x0F, 0x71, 0xE2, 0x48, 0xBD};
  std::uint8_t kb[8] = {0xC3, 0x1E, 0x87, 0x64, 0x2B, 0xD9, 0x50, 0xA6};
  std::uint8_t readerId[8] = {0x52, 0x57, 0x53, 0x49, 0x4D, 0x00, 0x00, 0x01};
  std::uint8_t sessionKey[8] = {0x3B, 0x8E, 0x51, 0xD2, 0x6C, 0x07, 0xA9, 0xF4};
  std::uint32_t baudRate = 0;  // 0: answer at any line speed
  std::string link;
  bool trace = false;
  CardSchedule cards;
  FaultPlan faults;
  FlapPlan flap;
  UnplugPlan unplugs;
};

// Parses the command line: kRun, kShown after --help or --version, or
// kRefused after an error (the message on standard error).
ParseOutcome ParseSimOptions(int argc, char **argv, SimOptions &options);

// The R/W the options describe: plain, or secured with its keys, identifier
// and session key.
std::unique_ptr<ReaderModel> MakeReaderModel(const SimOptions &options);

}  // namespace sim
