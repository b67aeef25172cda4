// The control side of the fuzzing backend (platform_fuzz.cpp), which the fuzz
// targets link in place of a real platform. It has one simulated serial line
// and a virtual millisecond clock: nothing ever really waits. A read that
// finds no byte moves the clock on to the next byte or to the end of its
// time-out; a sleep moves it by its length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace platform {
namespace fuzz {

// Called after every write that put bytes on the line, with those bytes; the
// far end answers from here by calling Arrive.
using WriteHook = std::function<void(const std::uint8_t *bytes, std::size_t count)>;

// Silence after which a read finds the far end gone (when nothing more is on
// its way), so that even a wait without limit ends.
constexpr std::int64_t kDefaultQuietLimitMs = 5000;

// Back to the start: no port open, the clock at `clockMs`, an empty line, no
// hook, no stop request, outside the stoppable section, no key press, opens
// succeed.
void Reset(std::int64_t clockMs);
void SetWriteHook(WriteHook hook);
// Puts bytes on the line `delayMs` from now. The line keeps its order: bytes
// never overtake those scheduled before them.
void Arrive(std::int64_t delayMs, const std::uint8_t *bytes, std::size_t count);
void SetQuietLimit(std::int64_t ms);
// The next `count` writes take no byte and wait out their whole time-out.
void StallWrites(int count);
void SetOpenFails(bool fails);
// A stop request (Ctrl-C) `delayMs` from now. It follows the stop rule of
// every platform: inside the stoppable section (platform::SetStoppable) it
// ends the wait in progress and StopRequested reports it; outside, a real
// program would end at once, which StopEndedProgram then reports.
void RequestStop(std::int64_t delayMs);
bool StopEndedProgram();
void SetKeyPressed(bool pressed);

std::int64_t NowMs();
bool PortIsOpen();
bool LineHungUp();
// Every byte written to the line since the last Reset.
const std::vector<std::uint8_t> &Written();

}  // namespace fuzz
}  // namespace platform
