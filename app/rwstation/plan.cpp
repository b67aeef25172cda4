#include "app/rwstation/plan.h"

#include <cctype>
#include <map>
#include <sstream>

#include "platform/platform.h"
#include "platform/process.h"
#include "poll/number_text.h"
#include "poll/options.h"

namespace {

std::vector<std::string> SplitWords(const std::string &text) {
  std::string line = text.substr(0, text.find('#'));
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// Windows opens a device for these names, whatever the extension.
bool IsDeviceName(const std::string &name) {
  std::string stem = name.substr(0, name.find('.'));
  for (char &c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") return true;
  return stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
         stem[3] >= '1' && stem[3] <= '9';
}

// Names become file names in the session folder and labels in the report;
// a plan is good on every platform.
bool IsPlainName(const std::string &name) {
  if (name.empty() || name[0] == '.' || name.size() > 64 || IsDeviceName(name)) return false;
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
      return false;
  }
  return true;
}

std::string Quoted(const std::string &text) { return "\"" + text + "\""; }

// What the tool's own parser makes of a reader's words.
struct ToolWords {
  std::string error;  // "" when the station can run them
  std::string port;
  std::string device;
  bool singleRun = false;
};

// The tool's own parser over the words; no error when it takes them all and
// they leave the result file, the log and the port to the station as they
// must.
ToolWords CheckToolWords(const std::vector<std::string> &words) {
  RunSettings settings;
  SetDefaultReaderSettings(settings.reader);
  SetDefaultPollSettings(settings.poll);
  std::vector<std::string> copies = words;
  std::vector<char *> argv{const_cast<char *>("tool")};
  for (std::string &word : copies) argv.push_back(&word[0]);
  int argc = static_cast<int>(argv.size());
  ToolWords checked;
  if (int bad = FirstRefusedOptionWord(argc, argv.data(), settings.reader, settings.poll)) {
    const std::string &word = words[bad - 1];
    if (bad + 1 >= argc) {
      checked.error = "option word " + Quoted(word) + " without its value";
    } else if (word[0] == 'v') {
      checked.error = "option word " + Quoted(word) + " only prints the tool's version";
    } else {
      checked.error = "the tool refuses " + Quoted(word + " " + words[bad]);
    }
    return checked;
  }
  char device[kPathCapacity + 8];
  if (settings.poll.resultPath[0] != '\0') {
    checked.error = "sets the result file (f): the station names it in the session folder";
  } else if (settings.poll.logPath[0] != '\0') {
    checked.error = "sets the event log (log): the station names it in the session folder";
  } else if (!settings.poll.portGiven) {
    checked.error = "names no port (c PORT): readers of a station do not search for their R/W";
  } else if (!platform::DevicePathFor(settings.reader.portPath, device, sizeof device)) {
    checked.error = "port name too long";
  } else {
    checked.port = settings.reader.portPath + (sizeof kPortPrefix - 1);
    checked.device = device;
    checked.singleRun = !settings.poll.repeatRuns;
  }
  return checked;
}

// A line that cannot be read as words: "" when it can.
std::string LineProblem(const std::string &text) {
  if (text.size() > kLongestPlanLine)
    return "a line of " + std::to_string(text.size()) + " characters (at most " +
           std::to_string(kLongestPlanLine) + ")";
  std::size_t nul = text.find('\0');
  if (nul != std::string::npos)
    return "a NUL byte after " + std::to_string(nul) + " characters: not a word of a command line";
  return "";
}

bool ReadRequire(const std::vector<std::string> &words, Plan *plan, std::string *error) {
  std::string why;
  if (words.size() != 2) {
    *error = "require takes one rate in percent";
  } else if (!numtext::ParseRequiredRate(words[1], &why)) {
    *error = "require " + words[1] + ": " + why;
  } else if (!plan->requireRate.empty()) {
    *error = "require given twice";
  } else {
    plan->requireRate = words[1];
    return true;
  }
  return false;
}

}  // namespace

std::vector<PlanLine> PlanFileLines(const std::string &text) {
  std::vector<PlanLine> lines;
  std::istringstream in(text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(PlanLine{line, "line " + std::to_string(++number)});
  }
  return lines;
}

namespace {

// A reader's name names its files: names that differ only in case are one
// file on Windows and macOS.
std::string FoldedName(std::string name) {
  for (char &c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

// The error of a reader line, "" when it is good; fills `reader` and the
// key of its device.
std::string CheckReader(const std::map<std::string, const PlanLine *> &nameAt,
                        const std::map<std::string, std::string> &deviceAt, PlannedReader *reader,
                        std::string *deviceKey) {
  if (!IsPlainName(reader->name)) {
    return "reader name " + Quoted(reader->name) +
           ": letters, digits, '-', '_' and '.' only, not first '.', at most 64, "
           "no device name (CON, NUL, COM1...)";
  }
  auto named = nameAt.find(FoldedName(reader->name));
  if (named != nameAt.end()) {
    std::string firstName = SplitWords(named->second->text)[0];
    return "reader name " + reader->name + " already used on " + named->second->where +
           (firstName == reader->name ? "" : " (as " + firstName + ": names differ in case only)");
  }
  if (reader->tool != "kestrow" && reader->tool != "brimlet")
    return "unknown tool " + Quoted(reader->tool) + " (kestrow or brimlet)";
  ToolWords checked = CheckToolWords(reader->words);
  if (!checked.error.empty()) return checked.error;
  reader->port = checked.port;
  reader->device = checked.device;
  reader->singleRun = checked.singleRun;
  *deviceKey = platform::DeviceKey(checked.device);
  auto taken = deviceAt.find(*deviceKey);
  if (taken != deviceAt.end()) return "port " + reader->port + " already named on " + taken->second;
  return "";
}

}  // namespace

bool ReadPlan(const std::vector<PlanLine> &lines, Plan *plan, std::vector<std::string> *errors) {
  std::map<std::string, std::string> deviceAt;     // by device key
  std::map<std::string, const PlanLine *> nameAt;  // by folded name
  for (const PlanLine &line : lines) {
    std::string problem = LineProblem(line.text);
    if (!problem.empty()) {
      errors->push_back(line.where + ": " + problem);
      continue;
    }
    std::vector<std::string> words = SplitWords(line.text);
    if (words.empty()) continue;
    std::string error;
    if (words[0] == "require") {
      if (!ReadRequire(words, plan, &error)) errors->push_back(line.where + ": " + error);
      continue;
    }
    PlannedReader reader{words[0], words.size() > 1 ? words[1] : "", {}, "", line.where};
    reader.words.assign(words.begin() + (words.size() > 1 ? 2 : 1), words.end());
    std::string deviceKey;
    error = CheckReader(nameAt, deviceAt, &reader, &deviceKey);
    if (!error.empty()) {
      errors->push_back(line.where + ": " + error);
      continue;
    }
    nameAt[FoldedName(reader.name)] = &line;
    deviceAt[deviceKey] = line.where;
    plan->readers.push_back(reader);
  }
  if (plan->readers.empty() && errors->empty()) errors->push_back("the plan names no reader");
  return errors->empty();
}

std::optional<double> RequiredPercent(const std::string &requireRate) {
  std::string why;
  if (requireRate.empty()) return std::nullopt;
  return numtext::ParseRequiredRate(requireRate, &why);
}
