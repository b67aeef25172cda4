// Both reader classes in one program against the simulator: the session
// slot, the polling loop's binding and its poll outcomes, a port that cannot
// be opened, and the event log that the connection writes to. The connect
// steps are those of the tools' own connect routines, without their pause.
#include <cstdio>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>

#include "plain/des_card.h"
#include "poll/reader_binding.h"
#include "secure/des_card.h"
#include "tests/support/end_to_end.h"
#include "tests/support/event_fields.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/sim_process.h"
#include "tests/support/text_files.h"

namespace {

static_assert(!std::is_same_v<plain::CDesCard, secure::CDesCard>, "one reader class per layer");

// Time-outs far beyond any answer's delay on a loaded machine.
constexpr int kGenerousMs = 5000;

// The tools' connect steps: the port opened through the slot, then the
// plain R/W's open command or the secured R/W's authentication.
bool ConnectReader(SessionSlot<plain::CDesCard> &slot, ReaderSettings settings, bool closeFirst,
                   ConnectionNotes &notes) {
  if (!ReplaceSession(slot, settings, closeFirst, &plain::CDesCard::CloseReader, notes))
    return false;
  int result = slot->OpenReader();
  notes.ConnectResult(result, slot->LastFailure(), false);
  return result == 0;
}

bool ConnectReader(SessionSlot<secure::CDesCard> &slot, ReaderSettings settings, bool closeFirst,
                   ConnectionNotes &notes) {
  if (!ReplaceSession(slot, settings, closeFirst, &secure::CDesCard::CloseSession, notes))
    return false;
  slot->SetPlainMode(!settings.desEnabled);
  int result = slot->Authenticate(settings.Ka, settings.Kb);
  notes.ConnectResult(result, slot->LastFailure(), true);
  return result == 0;
}

ReaderSettings SettingsFor(const std::string &device, bool desEnabled = true) {
  ReaderSettings settings;
  SetDefaultReaderSettings(settings);
  std::snprintf(settings.portPath, sizeof settings.portPath, "//.//%s", device.c_str());
  settings.ackTimeoutMs = kGenerousMs;
  settings.responseTimeoutMs = kGenerousMs;
  settings.desEnabled = desEnabled;
  return settings;
}

// Polls twice through the binding (the simulator's cards: "o."), closes,
// and destroys the session.
template <class Session>
void PollTwiceAndClose(SlotBinding<Session> &reader, const SessionSlot<Session> &slot) {
  std::uint8_t cardIdOut[16] = {};
  PollResult card = reader.Poll(0, cardIdOut);
  EXPECT_EQ(card.outcome, PollOutcome::kCard);
  EXPECT_EQ(card.code, 0);
  PollResult none = reader.Poll(0, cardIdOut);
  EXPECT_EQ(none.outcome, PollOutcome::kNoCard);
  EXPECT_EQ(none.code, 2);
  EXPECT_EQ(reader.SendClose(), 0);
  reader.DestroySession();
  EXPECT_FALSE(reader.HasSession());
  EXPECT_EQ(slot, nullptr);
}

TEST(TwoReadersTest, BothReadersConnectPollAndCloseInOneProgram) {
  ConnectionNotes notes(nullptr);
  {
    SimProcess sim({"--card=o."});
    ReaderSettings settings = SettingsFor(sim.Path());
    SessionSlot<plain::CDesCard> slot;
    ASSERT_TRUE(ConnectReader(slot, settings, false, notes));
    ASSERT_NE(slot, nullptr);
    EXPECT_TRUE(notes.Last().opened);
    EXPECT_EQ(notes.Last().result, 0);
    EXPECT_FALSE(notes.Last().authenticates);
    SlotBinding<plain::CDesCard> reader(slot, settings, ConnectReader,
                                        &plain::CDesCard::CloseReader, notes);
    PollTwiceAndClose(reader, slot);
    EXPECT_EQ(CommandSequence(sim.StopAndTrace()), "open,poll,poll,close");
  }
  for (bool des : {true, false}) {
    SimProcess sim({"--reader=secured", des ? "--des=on" : "--des=off", "--card=o."});
    ReaderSettings settings = SettingsFor(sim.Path(), des);
    SessionSlot<secure::CDesCard> slot;
    ASSERT_TRUE(ConnectReader(slot, settings, false, notes)) << des;
    EXPECT_EQ(slot->IsPlainMode(), !des);
    EXPECT_EQ(notes.Last().result, 0);
    EXPECT_TRUE(notes.Last().authenticates);
    EXPECT_EQ(notes.Last().desEnabled, des);
    SlotBinding<secure::CDesCard> reader(slot, settings, ConnectReader,
                                         &secure::CDesCard::CloseSession, notes);
    PollTwiceAndClose(reader, slot);
  }
}

TEST(TwoReadersTest, ReconnectionClosesTheOldSessionAndOpensANewOne) {
  SimProcess sim({});
  ReaderSettings settings = SettingsFor(sim.Path());
  ConnectionNotes notes(nullptr);
  SessionSlot<plain::CDesCard> slot;
  ASSERT_TRUE(ConnectReader(slot, settings, false, notes));
  SlotBinding<plain::CDesCard> reader(slot, settings, ConnectReader, &plain::CDesCard::CloseReader,
                                      notes);
  ASSERT_TRUE(reader.Reconnect());
  EXPECT_TRUE(reader.HasSession());
  reader.DestroySession();  // without the close command
  EXPECT_EQ(CommandSequence(sim.StopAndTrace()), "open,close,open");
}

// The reader's constructor throws when the port cannot be opened; the
// slot's replacement hands that back as false, an empty slot and the reason.
TEST(TwoReadersTest, PortThatCannotOpenIsAResultNotAnException) {
  ScratchDir dir;
  SimProcess sim({});
  ConnectionNotes notes(nullptr);
  SessionSlot<plain::CDesCard> plainSlot;
  ASSERT_TRUE(ConnectReader(plainSlot, SettingsFor(sim.Path()), false, notes));
  ReaderSettings missing = SettingsFor(dir / "no-such-port");
  bool connected = true;
  EXPECT_NO_THROW(connected = ConnectReader(plainSlot, missing, true, notes));
  EXPECT_FALSE(connected);
  EXPECT_EQ(plainSlot, nullptr);
  EXPECT_FALSE(notes.Last().opened);
  EXPECT_FALSE(notes.Last().openError.empty());
  EXPECT_NE(notes.Last().device.find("no-such-port"), std::string::npos);
  // The old session heard its close command before it went.
  EXPECT_EQ(CommandSequence(sim.StopAndTrace()), "open,close");

  SessionSlot<secure::CDesCard> securedSlot;
  EXPECT_NO_THROW(connected = ConnectReader(securedSlot, missing, false, notes));
  EXPECT_FALSE(connected);
  EXPECT_EQ(securedSlot, nullptr);
  EXPECT_FALSE(notes.Last().opened);
}

// The log that the notes carry reaches the session: its frames, its connect
// step and the connection's outcome go to the one file.
TEST(TwoReadersTest, TheConnectionWritesToTheLogItIsGiven) {
  ScratchDir dir;
  SimProcess sim({});
  std::string path = dir / "events.jsonl";
  {
    eventlog::Log log;
    ASSERT_TRUE(log.Open(path.c_str()));
    ConnectionNotes notes(&log);
    SessionSlot<plain::CDesCard> slot;
    ASSERT_TRUE(ConnectReader(slot, SettingsFor(sim.Path()), false, notes));
    EXPECT_EQ(slot->EventLog(), &log);
  }
  std::string kinds;
  for (EventFields &event : EventsIn(ReadFile(path))) {
    kinds += event["ev"] + ",";
    if (event["ev"] == "open") {
      EXPECT_EQ(event["ok"], "true");
    }
    if (event["ev"] == "connect") {
      EXPECT_EQ(event["failure"], "none");
    }
  }
  EXPECT_EQ(kinds, "open,tx,rx,rx,auth,connect,");
}

TEST(PollResultTest, OnlyZeroIsACardAndOnlyTwoIsNoCard) {
  const struct {
    int code;
    PollOutcome outcome;
  } kCases[] = {{0, PollOutcome::kCard},   {2, PollOutcome::kNoCard},   {1, PollOutcome::kFailed},
                {3, PollOutcome::kFailed}, {255, PollOutcome::kFailed}, {-1, PollOutcome::kFailed}};
  for (const auto &c : kCases) {
    PollResult result = PollResultOf(c.code);
    EXPECT_EQ(result.outcome, c.outcome) << c.code;
    EXPECT_EQ(result.code, c.code);
  }
}

}  // namespace
