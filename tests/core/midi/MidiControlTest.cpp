#include "core/midi/MidiIntake.h"
#include "core/engine/RuntimeState.h"
#include "core/midi/PortControl.h"
#include "core/text/TriggerNames.h"
#include "support/FakeMidiInput.h"
#include "support/FakePlatform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <utility>

using namespace quindel;
using test::FakeMidiInput;
using Writes = std::vector<std::string>;

namespace {

long drops(const FakeMidiInput& midi) {
    return std::count(midi.writes.begin(), midi.writes.end(), "portCommand 6");
}

TEST(PortControl, OpenWritesInOrderAfterClosingAnOpenPortAndNoDeviceLeavesItClosed) {
    const Writes open{"deviceIndex 1", "portCommand 1", "portCommand 4", "statusFilter 254 1",
                      "notifyEnabled 1"};
    const Writes close{"portCommand 5", "portCommand 2"};
    RuntimeState state;
    state.setInputDevice(2);
    FakeMidiInput midi;
    EXPECT_EQ(openMidiInput(state, midi), 1);
    EXPECT_EQ(std::exchange(midi.writes, {}), open);
    EXPECT_EQ(openMidiInput(state, midi), 1); // an open port is closed first
    Writes expected = close;
    expected.insert(expected.end(), open.begin(), open.end());
    EXPECT_EQ(std::exchange(midi.writes, {}), expected);
    state.setInputDevice(0);
    EXPECT_EQ(openMidiInput(state, midi), 1); // no device: closes, opens nothing
    EXPECT_EQ(std::exchange(midi.writes, {}), close);
}

// With a name stored only a device of that name opens, the stored place choosing among equal
// names; without a name the place alone counts. An ALSA port plugged in again under another
// sequencer address is still the stored one, when no port has the exact name.
TEST(PortControl, TheStoredDeviceIsFoundByItsNameAndNoOtherOpens) {
    for (const auto& [name, stored, opened] : {std::tuple{"Keys", 1, 2},
                                               {"", 1, 1},
                                               {"Drums", 1, 0},
                                               {"Pads", 4, 4},
                                               {"Pads", 2, 1},
                                               {"X:X 1 20:0", 1, 6},
                                               {"X:X 1 24:0", 1, 5},
                                               {"X:X 1 24:0 2", 1, 0},
                                               {"Midi-Bridge:X Card:(capture_0) X 1", 6, 6},
                                               {"Café:Café In 130:0", 1, 7},
                                               {"Café:Café In 130:1", 1, 0},
                                               {"Midi-Bridge:Drum:(capture_0) ", 1, 0}}) {
        RuntimeState state;
        state.setInputDevice(static_cast<int16_t>(stored)), state.midiInputName = name;
        FakeMidiInput midi;
        midi.devices = {"Pads",
                        "Keys",
                        "Drum",
                        "Pads",
                        "X:X 1 28:0",
                        "X:X 1 20:0",
                        "Midi-Bridge:Caf--:(capture_0) Caf-- In"};
        const int16_t result = openMidiInput(state, midi);
        EXPECT_EQ(std::pair(result, midi.state ? midi.index + 1 : 0),
                  (std::pair<int16_t, int>(opened ? 1 : 0, opened)))
            << name << stored;
    }
}

// Messages that arrive between two ticks, and the command left waiting for the next one: data
// byte then status in hex. The actions carry note 60 on and note 64 off; controller 64 is "next".
TEST(MidiIntake, BurstLeavesTheLatestCommandThatFiresAndNeverARelease) {
    using Messages = std::vector<MidiMessage>;
    const std::tuple<const char*, Messages, std::string> cases[] = {
        {"tap", {{0x90, 60, 100}, {0x80, 60, 0}}, "3C90"},
        {"tap released by velocity 0", {{0x90, 60, 100}, {0x90, 60, 0}}, "3C90"},
        {"velocity 0 is a note-off", {{0x95, 62, 0}}, "3E85"},
        {"assigned note-off", {{0x90, 64, 100}, {0x80, 64, 0}}, "4080"},
        {"the later of two that fire", {{0x90, 60, 100}, {0xB0, 64, 127}}, "40B0"},
        {"the later of two that fire nothing", {{0x90, 62, 100}, {0xB0, 1, 10}}, "01B0"},
        {"one that fires nothing keeps one that fires", {{0x90, 60, 100}, {0xB1, 2, 9}}, "3C90"},
        {"unassigned tap shows its press", {{0x90, 62, 100}, {0x80, 62, 0}}, "3E90"},
        {"system, stray", {{0x91, 62, 1}, {0xF0, 62, 0}, {0xF8, 62, 0}, {0x3C, 62, 0}}, "3E91"},
        {"pressure, program, bend", {{0xA1, 10, 64}, {0xC4, 10, 0}, {0xD2, 10, 0}}, "0AC4"},
        {"pad with pressure and bend", {{0x90, 62, 100}, {0xD0, 75, 0}, {0xE0, 0, 64}}, "3E90"},
        {"lone button release", {{0xB0, 64, 0}}, ""},
        {"button release after a press", {{0x90, 60, 100}, {0xB0, 64, 0}}, "3C90"},
    };
    for (const auto& [what, messages, expected] : cases) {
        RuntimeState state;
        state.actionTable = {{"", "", 1, "3C90", 2, 0, 0, 0}, {"", "", 2, "4080", 2, 0, 0, 0}};
        state.nextTriggerCode = "40B0";
        FakeMidiInput midi;
        // Half of them before a first drain, the rest in a second one: the rule holds across.
        for (std::size_t i = 0; i < messages.size(); ++i) {
            const MidiMessage& m = messages[i];
            midi.queue.push_back({m.status, m.data1, m.data2});
            if (i + 1 == messages.size() / 2 || i + 1 == messages.size())
                drainMidiInput(state, midi, {});
        }
        EXPECT_EQ(std::tuple(state.lastMidiCommand, midi.queue.size(), drops(midi)),
                  std::tuple(expected, 0u, long(messages.size())))
            << what;
    }
}

// A full queue drops its head whenever a message arrives, even between the reads of one
// message: each message must be read as one, so every code shows a status with its own data.
TEST(MidiIntake, AFullQueueThatDropsItsHeadBetweenReadsNeverMixesTwoMessages) {
    RuntimeState state;
    FakeMidiInput midi;
    midi.fullQueue = true;
    // Note n on channel n - 60: a code's data byte and status always go together.
    for (int16_t n = 60; n < 76; ++n)
        (n < 64 ? midi.queue : midi.arrivals).push_back({int16_t(0x90 + n - 60), n, 100});
    std::vector<std::string> codes;
    drainMidiInput(state, midi, [&] {
        if (codes.empty() || codes.back() != state.lastMidiCommand)
            codes.push_back(state.lastMidiCommand);
    });
    codes.erase(std::remove(codes.begin(), codes.end(), ""), codes.end());
    ASSERT_FALSE(codes.empty());
    for (const std::string& code : codes)
        EXPECT_EQ(std::stoi(code.substr(0, 2), nullptr, 16) - 60,
                  std::stoi(code.substr(3, 1), nullptr, 16))
            << code;
    EXPECT_EQ(midi.reads, long(codes.size())) << "each message is read once";
}

TEST(MidiIntake, NestedCallForTheSameControlReturnsAndOtherControlsStillDrain) {
    RuntimeState state;
    FakeMidiInput midi, dialog;
    int delivered = 0;
    // Messages arriving in pauses call the handler again; the dialog's control drains there too.
    std::function<void()> pump = [&] {
        if (delivered < 3)
            midi.receive(0x90, static_cast<int16_t>(61 + delivered++), 100);
        drainMidiInput(state, dialog, {});
    };
    midi.messagesArrived = [&] {
        const auto before = midi.writes.size();
        drainMidiInput(state, midi, pump);
        EXPECT_EQ(midi.writes.size(), before) << "a nested drain must not touch the queue";
    };
    midi.queue.push_back({0x90, 60, 100});
    dialog.receive(0xB0, 1, 10);
    drainMidiInput(state, midi, pump);
    EXPECT_TRUE(midi.queue.empty() && dialog.queue.empty());
    drainMidiInput(state, midi, [] { ADD_FAILURE() << "an empty queue returns at once"; });
    EXPECT_EQ(std::pair(drops(midi), state.lastMidiCommand), std::pair(4L, std::string("3F90")));
}

TEST(MidiIntake, QueueEmptiedDuringAPauseStopsWithoutRemovingOrDecoding) {
    // Emptied before the read, between read and removal, or after a removal (the code stays).
    for (auto [emptyAt, reads, dropped, code] :
         {std::tuple{1, 0, 0L, ""}, {2, 1, 0L, ""}, {3, 1, 1L, "3C90"}}) {
        RuntimeState state;
        FakeMidiInput midi;
        midi.queue = {{0x90, 60, 100}, {0x90, 61, 100}};
        int pauses = 0;
        drainMidiInput(state, midi, [&] {
            if (++pauses == emptyAt)
                midi.queue.clear();
        });
        EXPECT_EQ(std::tuple(midi.reads, drops(midi), state.lastMidiCommand),
                  std::tuple(reads, dropped, std::string(code)))
            << "emptied at pause " << emptyAt;
    }
}

// Every channel status names its kind, data byte and channel; anything else has no name. A
// trigger shows code and name, the name of a key coming from the platform, "0" reading "none".
TEST(TriggerNames, MidiStatusesAndTriggersAreNamedWhatTheyAre) {
    std::string names, shown;
    for (const char* code : {"3C80", "3C90", "3DA1", "40B0", "05C0", "64DF", "00E0", "0090", "7F9F",
                             "3cb0", "80B0", "00F0", "007F", "3C9", "3C900", "3G90"})
        names += midiCommandName(code) + ";";
    EXPECT_EQ(names, "Note C4 off, ch 1;Note C4 on, ch 1;Key pressure C#4, ch 2;CC 64, ch 1;"
                     "Program 6, ch 1;Channel pressure 100, ch 16;Pitch bend LSB 0, ch 1;"
                     "Note C-1 on, ch 1;Note G9 on, ch 16;CC 60, ch 1;;;;;;;");
    test::FakePlatform keys;
    LanguageTexts texts;
    loadLanguageTexts(texts, kEnglish);
    for (const char* code : {"116", "27", "0", "200", "0116", "1x", "", "3C90"})
        shown += triggerWithName(code, keys, texts) + ";";
    EXPECT_EQ(shown, "116 F5;27 Esc;none;200;0116;1x;;3C90 Note C4 on, ch 1;");
    loadLanguageTexts(texts, kItalian);
    EXPECT_EQ(triggerWithName("0", keys, texts), "nessuno");
}

} // namespace
