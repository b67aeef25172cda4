#include "app/kestrow/texts.h"

namespace {

const char *const kUsageLines[] = {
    "Usage: kestrow [options]\n",
    "Options:\n",
    "  c COM-PORT                 Set port name. c COM1 \n",
    "  b BAUD-RATE                Set baud rate. b 115200 \n",
    "  ka KAR                     Set Kar key.\n",
    "  kb KBR                     Set Kbr key\n",
    "  kagi on/off                Set on when the R/W is Triple DES.\n",
    "                             Set off when the R/W is no encryption.\n",
    "  rt RESPONSE_PACKET_TIMEOUT Set response packet time-out(millisecond).\n",
    "  h                          Print this message and exit.\n",
    "  v                          Print version information and exit.\n",
    nullptr,
};

}  // namespace

const ToolTexts kKestrowTexts = {"kestrow", "Polling for Serial Port --- ver 1.062", kUsageLines};
