#include "engine/MidiIntake.h"
#include "engine/RuntimeState.h"
#include "midi/PortControl.h"
#include "support/FakeMidiInput.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

using quindel::drainMidiInput;
using quindel::RuntimeState;
using quindel::test::FakeMidiInput;
using Writes = std::vector<std::string>;

namespace {

// A port that ignores its first close, as a port that still reports open after closing.
struct StickyMidiInput : FakeMidiInput {
    int closesToIgnore = 0;
    void portCommand(int16_t command) override {
        if (command == quindel::kPortClose && closesToIgnore-- > 0)
            return writes.push_back("portCommand 2");
        FakeMidiInput::portCommand(command);
    }
};

long drops(const FakeMidiInput& midi) {
    return std::count(midi.writes.begin(), midi.writes.end(), "portCommand 6");
}

TEST(PortControl, OpenWritesInOrderAndClosesAnOpenPortFirst) {
    const Writes open{"deviceIndex 1", "portCommand 1", "portCommand 4", "statusFilter 254 1",
                      "notifyEnabled 1"};
    for (int sticky : {0, 1}) {
        RuntimeState state;
        state.setInputDevice(2);
        StickyMidiInput midi;
        EXPECT_EQ(quindel::openMidiInput(state, midi), 1);
        EXPECT_EQ(midi.writes, open);
        midi.writes.clear();
        midi.closesToIgnore = sticky;
        EXPECT_EQ(quindel::openMidiInput(state, midi), 1);
        Writes expected{"portCommand 5", "portCommand 2"};
        if (sticky)
            expected.push_back("portCommand 2"); // still open: closed once more
        expected.insert(expected.end(), open.begin(), open.end());
        EXPECT_EQ(midi.writes, expected);
        EXPECT_TRUE(midi.delivering);
    }
}

TEST(PortControl, NoDeviceMissingDeviceAndCloseLeaveThePortClosed) {
    RuntimeState state;
    FakeMidiInput midi;
    quindel::closeMidiInput(midi);
    EXPECT_TRUE(midi.writes.empty()) << "closing a closed port writes nothing";
    midi.state = 1;
    EXPECT_EQ(quindel::openMidiInput(state, midi), 1); // device 0: closes, opens nothing
    EXPECT_EQ(midi.writes, (Writes{"portCommand 5", "portCommand 2"}));
    midi.writes.clear();
    state.setInputDevice(3); // the fake lists two devices
    EXPECT_EQ(quindel::openMidiInput(state, midi), 0);
    EXPECT_EQ(midi.writes,
              (Writes{"deviceIndex 2", "portCommand 1", "portCommand 4", "statusFilter 254 1"}));
    midi.writes.clear();
    midi.state = 1;
    quindel::closeMidiInput(midi);
    EXPECT_EQ(midi.writes, (Writes{"portCommand 5", "portCommand 2"}));
}

TEST(MidiIntake, CodeIsDataByteThenStatusInUpperCaseHex) {
    EXPECT_EQ(quindel::midiCommandCode(0x190, -2), "FE90"); // only the last two hex digits
    RuntimeState state;
    FakeMidiInput midi;
    std::string codes;
    for (int16_t status : {0x80, 0x93, 0xA1, 0xBF, 0xC4, 0xD2, 0xE0}) {
        midi.receive(status, 0x0A, 0x40);
        drainMidiInput(state, midi, {});
        codes += state.lastMidiCommand + " ";
    }
    EXPECT_EQ(codes, "0A80 0A93 0AA1 0ABF 0AC4 0AD2 0AE0 ");
}

TEST(MidiIntake, BurstLeavesTheLastChannelCodeAndSystemMessagesNone) {
    RuntimeState state;
    FakeMidiInput midi;
    midi.receive(0x90, 60, 100);
    midi.receive(0xF0, 0x7E, 0x7F, "F0 7E 7F F7");
    midi.receive(0x80, 62, 0);
    midi.receive(0xF8, 0, 0, "F8");
    midi.receive(0x3C, 0x40, 0); // a stray data byte is removed but makes no code
    drainMidiInput(state, midi, {});
    EXPECT_EQ(state.lastMidiCommand, "3E80");
    EXPECT_TRUE(midi.queue.empty());
    EXPECT_EQ(drops(midi), 5);

    int pumps = 0;
    drainMidiInput(state, midi, [&] { ++pumps; });
    EXPECT_EQ(pumps, 0) << "an empty queue returns at once";
    EXPECT_EQ(drops(midi), 5);
}

TEST(MidiIntake, NestedCallForTheSameControlReturnsAndOtherControlsStillDrain) {
    RuntimeState state;
    FakeMidiInput midi, dialog;
    int delivered = 0;
    // A message arrives during a pause; the control raises its event, which calls the handler
    // again. The capture dialog's control is drained from the same pause.
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
    midi.queue.push_back({0x90, 60, 100, {}});
    dialog.receive(0xB0, 1, 10);
    drainMidiInput(state, midi, pump);
    EXPECT_TRUE(midi.queue.empty() && dialog.queue.empty());
    EXPECT_EQ(drops(midi), 4) << "each message removed exactly once";
    EXPECT_EQ(state.lastMidiCommand, "3F90");
}

TEST(MidiIntake, QueueEmptiedDuringAPauseStopsWithoutRemovingOrDecoding) {
    // Emptied at the pause before the read, between read and removal, or after a message was
    // read and removed, which still gives its code.
    for (auto [emptyAt, reads, dropped, code] :
         {std::tuple{1, 0, 0L, ""}, {2, 1, 0L, ""}, {3, 1, 1L, "3C90"}}) {
        RuntimeState state;
        FakeMidiInput midi;
        midi.receive(0x90, 60, 100);
        midi.receive(0x90, 61, 100);
        int pauses = 0;
        drainMidiInput(state, midi, [&] {
            if (++pauses == emptyAt)
                midi.queue.clear();
        });
        EXPECT_EQ(state.lastMidiCommand, code) << emptyAt;
        EXPECT_EQ(drops(midi), dropped) << emptyAt;
        EXPECT_EQ(midi.reads, reads) << emptyAt;
    }
}

} // namespace
