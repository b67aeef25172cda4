#include "sim/options.h"

#include <getopt.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "poll/number_text.h"

namespace sim {

namespace {

const char kHelp[] =
    "Usage: rwsim [OPTION]...\n"
    "Simulates a card reader/writer (R/W) on a pseudo-terminal. Prints the\n"
    "terminal's device path on the first line, then serves any number of\n"
    "open/close cycles of the port until it is killed.\n"
    "\n"
    "  --reader=KIND        plain (default): open 62h, close 54h, pass-through\n"
    "                       polling 5Ch; secured: mutual authentication and\n"
    "                       sealed polling and close commands\n"
    "  --des=on|off         secured R/W with (default) or without DES\n"
    "  --card=WHEN          always (default), never, a repeating pattern of 'o'\n"
    "                       (card) and '.' (no card) such as ooo.o, or p=P for a\n"
    "                       card with probability P (see --seed); polling attempts\n"
    "                       are numbered from 1 over the simulator's life\n"
    "  --drift=P1,P2,SECONDS  a card with a probability that moves in a\n"
    "                       straight line from P1 at the start to P2 SECONDS\n"
    "                       later, then stays at P2 (see --seed); in place of\n"
    "                       --card (the later of the two counts)\n"
    "  --seed=N             seed of the card probability (default 1)\n"
    "  --card-id=HEX16      the card's identifier (8 bytes in hexadecimal)\n"
    "  --fault=KIND@LIST    inject a fault; LIST is comma-separated N or N-M\n"
    "                       (polling attempts), cN (N-th connection: open\n"
    "                       command or authentication), xN (N-th close command).\n"
    "                       KIND: no-ack, no-response, bad-checksum, wrong-code,\n"
    "                       short (answer cut to half), ack-delay=MS,\n"
    "                       response-delay=MS, trickle=MS (ACK and response\n"
    "                       one byte at a time, MS apart), babble (no ACK;\n"
    "                       bytes without pause from then on, for ever),\n"
    "                       garbage (noise before the ACK), second-ack (an\n"
    "                       ACK where the response belongs);\n"
    "                       secured only: wrong-mac,\n"
    "                       wrong-counter, wrong-auth. May be repeated.\n"
    "  --flap=EVERY,FOR     the R/W answers no poll (no ACK) during the last FOR\n"
    "                       seconds of every EVERY seconds; the open, close\n"
    "                       and authentication commands are answered\n"
    "  --unplug=AT,FOR      AT seconds after the start the terminal goes away\n"
    "                       as an unplugged adapter does (the port fails for a\n"
    "                       tool that has it open; the path and the link go);\n"
    "                       FOR seconds later a new terminal comes back, under\n"
    "                       the --link path, and its path is printed on a new\n"
    "                       line. Give it again for more absences.\n"
    "  --ka=HEX16, --kb=HEX16  secured R/W's authentication keys\n"
    "  --reader-id=HEX16    secured R/W's identifier\n"
    "  --session-key=HEX16  session key the secured R/W hands out\n"
    "  --baud=N             answer only while the line is set to N baud (the\n"
    "                       speed the tool gave the terminal)\n"
    "  --link=PATH          also make a symbolic link PATH to the terminal\n"
    "                       (removed on exit)\n"
    "  --trace              print every frame received and sent, decoded,\n"
    "                       on standard error\n"
    "  -h, --help           print this help and exit\n"
    "  --version            print the version and exit\n";

constexpr std::uint64_t kLargestUnsigned = std::numeric_limits<std::uint32_t>::max();

ParseOutcome Fail(const std::string &message) {
  std::fprintf(stderr, "rwsim: %s\nTry 'rwsim --help'.\n", message.c_str());
  return ParseOutcome::kRefused;
}

bool ParseHex8(const std::string &text, std::uint8_t *out) {
  return numtext::ParseHexBytes(text, out, 8, nullptr);
}

// An unsigned 32-bit value from `min`; a refusal names the option, the
// value and what the option takes.
bool ParseUnsigned(const char *option, const std::string &value, std::uint64_t min,
                   std::uint32_t *out, std::string *error) {
  std::string why;
  std::optional<std::uint64_t> number =
      numtext::ParseWholeNumber(value, min, kLargestUnsigned, &why);
  if (!number) {
    *error = std::string(option) + "=" + value + ": " + why;
    return false;
  }
  *out = static_cast<std::uint32_t>(*number);
  return true;
}

}  // namespace

ParseOutcome ParseSimOptions(int argc, char **argv, SimOptions &options) {
  enum {
    kReader = 1,
    kDes,
    kCard,
    kSeed,
    kCardId,
    kFault,
    kKa,
    kKb,
    kReaderId,
    kSession,
    kBaud,
    kLink,
    kTrace,
    kDrift,
    kFlap,
    kUnplug,
    kHelpOption,
    kVersionOption
  };
  static const option kLong[] = {{"reader", required_argument, nullptr, kReader},
                                 {"des", required_argument, nullptr, kDes},
                                 {"card", required_argument, nullptr, kCard},
                                 {"seed", required_argument, nullptr, kSeed},
                                 {"card-id", required_argument, nullptr, kCardId},
                                 {"fault", required_argument, nullptr, kFault},
                                 {"ka", required_argument, nullptr, kKa},
                                 {"kb", required_argument, nullptr, kKb},
                                 {"reader-id", required_argument, nullptr, kReaderId},
                                 {"session-key", required_argument, nullptr, kSession},
                                 {"baud", required_argument, nullptr, kBaud},
                                 {"link", required_argument, nullptr, kLink},
                                 {"trace", no_argument, nullptr, kTrace},
                                 {"drift", required_argument, nullptr, kDrift},
                                 {"flap", required_argument, nullptr, kFlap},
                                 {"unplug", required_argument, nullptr, kUnplug},
                                 {"help", no_argument, nullptr, kHelpOption},
                                 {"version", no_argument, nullptr, kVersionOption},
                                 {nullptr, 0, nullptr, 0}};
  opterr = 0;
  int c;
  // -h is the usual short form of --help. The leading ':' tells a missing
  // value apart from an unknown option.
  while ((c = getopt_long(argc, argv, ":h", kLong, nullptr)) != -1) {
    std::string value = optarg ? optarg : "";
    std::string error;
    std::uint32_t seed = 0;
    switch (c) {
      case kReader:
        if (value != "plain" && value != "secured") return Fail("unknown reader kind: " + value);
        options.secured = value == "secured";
        break;
      case kDes:
        if (value != "on" && value != "off") return Fail("--des takes on or off");
        options.desEnabled = value == "on";
        break;
      case kCard:
        if (!options.cards.Parse(value, &error)) return Fail("--card=" + value + ": " + error);
        break;
      case kSeed:
        if (!ParseUnsigned("--seed", value, 0, &seed, &error)) return Fail(error);
        options.cards.Seed(seed);
        break;
      case kCardId:
        if (!ParseHex8(value, options.cardId)) return Fail("--card-id takes 16 hex digits");
        break;
      case kFault:
        error = options.faults.Add(value);
        if (!error.empty()) return Fail(error);
        break;
      case kKa:
      case kKb:
      case kReaderId:
      case kSession: {
        std::uint8_t *target = c == kKa         ? options.ka
                               : c == kKb       ? options.kb
                               : c == kReaderId ? options.readerId
                                                : options.sessionKey;
        if (!ParseHex8(value, target)) return Fail("a key or identifier takes 16 hex digits");
        break;
      }
      case kBaud:
        if (!ParseUnsigned("--baud", value, 1, &options.baudRate, &error)) return Fail(error);
        break;
      case kLink: options.link = value; break;
      case kTrace: options.trace = true; break;
      case kDrift:
        if (!options.cards.ParseDrift(value, &error))
          return Fail("--drift=" + value + ": " + error);
        break;
      case kFlap:
        if (!options.flap.Parse(value, &error)) return Fail("--flap=" + value + ": " + error);
        break;
      case kUnplug:
        if (!options.unplugs.Add(value, &error)) return Fail("--unplug=" + value + ": " + error);
        break;
      case 'h':
      case kHelpOption: return ShowStandardWord(StandardWord::kHelp, "rwsim", kHelp);
      case kVersionOption: return ShowStandardWord(StandardWord::kVersion, "rwsim", kHelp);
      case ':': return Fail(std::string("option ") + argv[optind - 1] + " needs a value");
      default: {
        // A short option's letter may sit inside a longer word (-xv); a long
        // option's code (given a value it does not take) is no letter.
        std::string word =
            optopt > ' ' ? std::string("-") + static_cast<char>(optopt) : argv[optind - 1];
        return Fail("unknown option: " + word);
      }
    }
  }
  if (optind < argc) return Fail(std::string("unexpected argument: ") + argv[optind]);
  return ParseOutcome::kRun;
}

std::unique_ptr<ReaderModel> MakeReaderModel(const SimOptions &options) {
  if (!options.secured)
    return std::make_unique<PlainReader>(options.cardId, options.cardParameters);
  SecuredReaderConfig config{};
  config.desEnabled = options.desEnabled;
  std::memcpy(config.ka, options.ka, 8);
  std::memcpy(config.kb, options.kb, 8);
  std::memcpy(config.readerId, options.readerId, 8);
  std::memcpy(config.sessionKey, options.sessionKey, 8);
  std::memcpy(config.cardId, options.cardId, 8);
  std::memcpy(config.cardParameters, options.cardParameters, 8);
  return std::make_unique<SecuredReader>(config);
}

}  // namespace sim
