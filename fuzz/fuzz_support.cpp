#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>

#include "link/frame.h"
#include "platform/platform_fuzz.h"

namespace fuzzsupport {

void Expect(bool ok, const char *what) {
  if (ok) return;
  std::fprintf(stderr, "broken promise: %s\n", what);
  std::abort();
}

bool IsExchangeResult(int result) {
  return result == kExchangeOk || result == kExchangeGotAck || result == kExchangeTimeout ||
         result == kExchangeNoAck || result == kExchangeBadFrame;
}

Bytes InputReader::Take(std::size_t count) {
  Bytes out;
  while (count-- > 0) out.push_back(Byte());
  return out;
}

void RecordingFarEnd::Attach() {
  platform::fuzz::SetWriteHook([this](const std::uint8_t *bytes, std::size_t count) {
    writer_.NextReply();
    std::int64_t delay = 0;
    for (const sim::Output &output : simulator_.OnInput(bytes, count)) {
      writer_.Pause(output.delayMs);
      writer_.Sent(output.bytes);
      delay += output.delayMs;
      platform::fuzz::Arrive(delay, output.bytes.data(), output.bytes.size());
    }
  });
}

void RecordingFarEnd::Stale(const Bytes &bytes) {
  writer_.Raw(bytes);
  platform::fuzz::Arrive(0, bytes.data(), bytes.size());
}

const char *SeedFolder() { return std::getenv("FUZZ_SEED_DIR"); }

void WriteSeedsIfAsked(void (*writeSeeds)(const char *folder)) {
  if (const char *folder = SeedFolder()) {
    writeSeeds(folder);
    std::exit(0);
  }
}

void ExpectSeedResults(const std::string &name, const std::vector<int> &results,
                       const std::vector<int> &expected) {
  if (results == expected) return;
  std::fprintf(stderr, "seed %s gives", name.c_str());
  for (int result : results) std::fprintf(stderr, " %d", result);
  std::fprintf(stderr, "; meant");
  for (int result : expected) std::fprintf(stderr, " %d", result);
  std::fprintf(stderr, "\n");
  std::abort();
}

void WriteSeed(const char *folder, const std::string &name, const Bytes &input) {
  std::string path = std::string(folder) + "/" + name;
  std::FILE *file = std::fopen(path.c_str(), "wb");
  Expect(file != nullptr, "seed file can be created");
  Expect(std::fwrite(input.data(), 1, input.size(), file) == input.size(), "seed file written");
  Expect(std::fclose(file) == 0, "seed file closed");
}

SeedRw::SeedRw(std::unique_ptr<sim::ReaderModel> reader, const std::string &cardPattern,
               const std::vector<std::string> &faults)
    : reader_(std::move(reader)), simulator_(*reader_, cards_, plan_, nullptr) {
  Expect(cards_.Parse(cardPattern), "a card pattern");
  for (const std::string &fault : faults) Expect(plan_.Add(fault).empty(), "a known fault");
}

}  // namespace fuzzsupport
