#include "engine/MidiIntake.h"
#include "engine/RuntimeState.h"
#include "support/FakeMidiInput.h"

#include <gtest/gtest.h>

#include <algorithm>

using quindel::drainMidiInput;
using quindel::RuntimeState;
using quindel::test::FakeMidiInput;

namespace {

long drops(const FakeMidiInput& midi) {
    return std::count(midi.writes.begin(), midi.writes.end(), "portCommand 6");
}

TEST(MidiIntake, CodeIsDataByteThenStatusInUpperCaseHex) {
    EXPECT_EQ(quindel::midiCommandCode(0x90, 60), "3C90");
    EXPECT_EQ(quindel::midiCommandCode(0xB0, 7), "07B0");
    EXPECT_EQ(quindel::midiCommandCode(0x9F, 127), "7F9F");
    EXPECT_EQ(quindel::midiCommandCode(0x190, -2), "FE90"); // only the last two hex digits
    for (int16_t status : {0x80, 0x93, 0xA1, 0xBF, 0xC4, 0xD2, 0xE0}) {
        RuntimeState state;
        FakeMidiInput midi;
        midi.receive(status, 0x0A, 0x40);
        drainMidiInput(state, midi, {});
        EXPECT_EQ(state.lastMidiCommand, quindel::midiCommandCode(status, 0x0A));
        EXPECT_EQ(state.lastMidiCommand.substr(0, 2), "0A");
    }
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
    EXPECT_EQ(state.lastMidiCommand, "3E80");
}

TEST(MidiIntake, NestedCallForTheSameControlReturnsAndTheRunningOneDrains) {
    RuntimeState state;
    FakeMidiInput midi;
    int delivered = 0;
    std::function<void()> pump = [&] {
        // A message arrives during a pause; the control raises its event, which calls the
        // handler again.
        if (delivered < 3)
            midi.receive(0x90, static_cast<int16_t>(61 + delivered++), 100);
    };
    midi.messagesArrived = [&] {
        const auto before = midi.writes.size();
        drainMidiInput(state, midi, pump);
        EXPECT_EQ(midi.writes.size(), before) << "a nested drain must not touch the queue";
    };
    midi.queue.push_back({0x90, 60, 100, {}});
    drainMidiInput(state, midi, pump);
    EXPECT_TRUE(midi.queue.empty());
    EXPECT_EQ(drops(midi), 4) << "each message removed exactly once";
    EXPECT_EQ(state.lastMidiCommand, "3F90");
}

TEST(MidiIntake, TwoControlsDrainThroughNestedPumping) {
    RuntimeState state;
    FakeMidiInput mainWindow;
    FakeMidiInput dialog;
    mainWindow.receive(0x90, 60, 100);
    dialog.receive(0xB0, 1, 10);
    drainMidiInput(state, mainWindow, [&] { drainMidiInput(state, dialog, {}); });
    EXPECT_TRUE(dialog.queue.empty());
    EXPECT_EQ(state.lastMidiCommand, "3C90");
    // Both guards are released: later events drain again.
    mainWindow.receive(0x80, 60, 0);
    drainMidiInput(state, mainWindow, {});
    EXPECT_EQ(state.lastMidiCommand, "3C80");
}

TEST(MidiIntake, QueueEmptiedDuringAPauseStopsWithoutRemovingOrDecoding) {
    // Emptied at the pause before the read, then at the one between read and removal.
    for (int emptyAt : {1, 2}) {
        RuntimeState state;
        FakeMidiInput midi;
        midi.receive(0x90, 60, 100);
        int pauses = 0;
        drainMidiInput(state, midi, [&] {
            if (++pauses == emptyAt)
                midi.queue.clear();
        });
        EXPECT_EQ(state.lastMidiCommand, "") << emptyAt;
        EXPECT_EQ(drops(midi), 0) << emptyAt;
        EXPECT_EQ(midi.reads, emptyAt - 1) << emptyAt;
    }
    // A message already read and removed still gives its code.
    RuntimeState state;
    FakeMidiInput midi;
    midi.receive(0x90, 60, 100);
    midi.receive(0x90, 61, 100);
    int pauses = 0;
    drainMidiInput(state, midi, [&] {
        if (++pauses == 3)
            midi.queue.clear();
    });
    EXPECT_EQ(state.lastMidiCommand, "3C90");
    EXPECT_EQ(drops(midi), 1);
}

} // namespace
