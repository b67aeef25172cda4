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

// The tool's own parser over the words; "" when it takes them all and they
// leave the result file, the log and the port to the station as they must.
std::string CheckToolWords(const std::vector<std::string> &words, std::string *port) {
  RunSettings settings;
  SetDefaultReaderSettings(settings.reader);
  SetDefaultPollSettings(settings.poll);
  std::vector<std::string> copies = words;
  std::vector<char *> argv{const_cast<char *>("tool")};
  for (std::string &word : copies) argv.push_back(&word[0]);
  int argc = static_cast<int>(argv.size());
  if (int bad = FirstRefusedOptionWord(argc, argv.data(), settings.reader, settings.poll)) {
    const std::string &word = words[bad - 1];
    if (bad + 1 >= argc) return "option word " + Quoted(word) + " without its value";
    if (word[0] == 'v') return "option word " + Quoted(word) + " only prints the tool's version";
    return "the tool refuses " + Quoted(word + " " + words[bad]);
  }
  if (settings.poll.resultPath[0] != '\0')
    return "sets the result file (f): the station names it in the session folder";
  if (settings.poll.logPath[0] != '\0')
    return "sets the event log (log): the station names it in the session folder";
  if (!settings.poll.portGiven)
    return "names no port (c PORT): readers of a station do not search for their R/W";
  char device[kPathCapacity + 8];
  if (!platform::DevicePathFor(settings.reader.portPath, device, sizeof device))
    return "port name too long";
  *port = settings.reader.portPath + (sizeof kPortPrefix - 1);
  return platform::CanonicalDevice(device);
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

}  // namespace

bool ReadPlan(const std::vector<PlanLine> &lines, Plan *plan, std::vector<std::string> *errors) {
  std::map<std::string, std::string> deviceAt;
  std::map<std::string, const PlanLine *> nameAt;  // by folded name
  for (const PlanLine &line : lines) {
    std::vector<std::string> words = SplitWords(line.text);
    if (words.empty()) continue;
    std::string error;
    if (words[0] == "require") {
      if (!ReadRequire(words, plan, &error)) errors->push_back(line.where + ": " + error);
      continue;
    }
    PlannedReader reader{words[0], words.size() > 1 ? words[1] : "", {}, "", line.where};
    reader.words.assign(words.begin() + (words.size() > 1 ? 2 : 1), words.end());
    std::string device;
    if (!IsPlainName(reader.name)) {
      error = "reader name " + Quoted(reader.name) +
              ": letters, digits, '-', '_' and '.' only, not first '.', at most 64, "
              "no device name (CON, NUL, COM1...)";
    } else if (nameAt.count(FoldedName(reader.name))) {
      const PlanLine &first = *nameAt[FoldedName(reader.name)];
      std::string firstName = SplitWords(first.text)[0];
      error =
          "reader name " + reader.name + " already used on " + first.where +
          (firstName == reader.name ? "" : " (as " + firstName + ": names differ in case only)");
    } else if (reader.tool != "kestrow" && reader.tool != "brimlet") {
      error = "unknown tool " + Quoted(reader.tool) + " (kestrow or brimlet)";
    } else {
      device = CheckToolWords(reader.words, &reader.port);
      if (reader.port.empty()) {
        error = device;
      } else if (deviceAt.count(device)) {
        error = "port " + reader.port + " already named on " + deviceAt[device];
      }
    }
    if (!error.empty()) {
      errors->push_back(line.where + ": " + error);
      continue;
    }
    nameAt[FoldedName(reader.name)] = &line;
    deviceAt[device] = line.where;
    plan->readers.push_back(reader);
  }
  if (plan->readers.empty() && errors->empty()) errors->push_back("the plan names no reader");
  return errors->empty();
}
