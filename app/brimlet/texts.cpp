#include "app/brimlet/texts.h"

namespace {

const char *const kUsageLines[] = {
    "Usage: brimlet [options]\n",
    "Options:\n",
    "  c COM-PORT                 Set port name. c COM1 \n",
    "  rt RESPONSE_PACKET_TIMEOUT Set response packet time-out(millisecond).\n",
    "  h                          Print this message and exit.\n",
    "  v                          Print version information and exit.\n",
    nullptr,
};

}  // namespace

const ToolTexts kBrimletTexts = {"brimlet", "Polling for TQ --- ver 1.062", kUsageLines};
